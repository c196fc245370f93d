#pragma once

namespace util {

// A run of consecutive indices [begin, end): of an array, of a mesh's
// triangles, of the boxes a subtree covers.
struct index_range {
    int begin = 0;
    int end = 0;

    int size() const { return end - begin; }
};

// The k-th of `count` consecutive pieces that `whole` is cut into, from
// begin + size·k/count (rounded down) to the next such point: in order,
// covering `whole` exactly, lengths differing by at most one.
inline index_range piece(index_range whole, int k, int count) {
    const long long n = whole.size();
    return {whole.begin + static_cast<int>(n * k / count), whole.begin + static_cast<int>(n * (k + 1) / count)};
}

}  // namespace util
