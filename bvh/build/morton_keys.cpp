#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "bvh/build/corners.h"
#include "bvh/build/grid.h"
#include "bvh/build/stages.h"
#include "util/parallel_for.h"

// The keys in three passes: every triangle's Morton code, in mesh order,
// counted by its top bits; the keys written straight into the runs of
// those top bits (a counting sort); each run then sorted on its own, in
// cache, on its remaining bits. Within a run the keys arrive in index
// order, and a key holds its index, so the order is the same whatever the
// threads.

namespace bvh_build {

namespace {

using code_grid = morton_grid<config::morton_axis_bits>;
constexpr int code_bits = 3 * config::morton_axis_bits;

// How many of the codes' top bits the first sort takes: morton_bucket_bits,
// fewer for a small mesh, about four triangles a run.
int bucket_bits_for(int triangles) {
    int bits = 0;
    while (bits < config::morton_bucket_bits && (4 << bits) < triangles) ++bits;
    return bits;
}

// The code of a triangle that can never be hit: above every real code.
constexpr std::uint32_t no_code = ~std::uint32_t{0};

// How far ahead of the triangle it reads a pass fetches corners.
constexpr int prefetch_distance = 16;

// Every doubled corner-box centre lies in the doubled box of the vertices.
vbox centre_bounds(const mesh& m, const config& c) {
    const util::index_range all{0, std::max(m.vertex_count, 0)};
    const int chunks = c.chunks_for(all.size());
    std::vector<vbox> parts(static_cast<std::size_t>(chunks));
    util::parallel_for(all, chunks, chunks, [&](int chunk, util::index_range run) {
        vbox b;
        for (int i = run.begin; i < run.end; ++i)
            b.grow(_mm_setr_ps(m.vertices[i].x, m.vertices[i].y, m.vertices[i].z, 0.0f));
        parts[static_cast<std::size_t>(chunk)] = b;
    });
    vbox whole;
    for (const vbox& b : parts) whole.grow(b);
    whole.lo = _mm_add_ps(whole.lo, whole.lo);
    whole.hi = _mm_add_ps(whole.hi, whole.hi);
    return whole;
}

// Runs up to this long are radix sorted through a scratch array on the
// stack; longer ones (rare: most runs hold a few thousand) by std::sort.
constexpr int max_radix_run = 8192;

// Sorts a run of keys that share their top code bits and arrive in index
// order: a stable radix sort on the code bits below those, `digit_bits` at
// a time; short runs by insertion. Keys are distinct, so any sort gives the
// same order.
void sort_run(std::uint64_t* keys, int count, int bucket_shift) {
    if (count > max_radix_run) {
        std::sort(keys, keys + count);
        return;
    }
    if (count < 64) {
        for (int i = 1; i < count; ++i) {
            const std::uint64_t key = keys[i];
            int j = i;
            for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
            keys[j] = key;
        }
        return;
    }
    constexpr int digit_bits = (code_bits - config::morton_bucket_bits + 1) / 2;
    constexpr int digits = 1 << digit_bits;
    std::uint64_t scratch[max_radix_run];
    std::uint64_t* from = keys;
    std::uint64_t* to = scratch;
    for (int shift = 32; shift < 32 + bucket_shift; shift += digit_bits) {
        int at[digits] = {};
        for (int i = 0; i < count; ++i) ++at[(from[i] >> shift) & (digits - 1)];
        int sum = 0;
        for (int& n : at) {
            const int here = n;
            n = sum;
            sum += here;
        }
        for (int i = 0; i < count; ++i) to[at[(from[i] >> shift) & (digits - 1)]++] = from[i];
        std::swap(from, to);
    }
    if (from != keys) std::memcpy(keys, from, sizeof(std::uint64_t) * static_cast<std::size_t>(count));
}

}  // namespace

util::big_array<std::uint64_t> morton_keys(const mesh& m, const config& c) {
    const util::index_range faces{0, std::max(m.face_count, 0)};
    const code_grid grid(centre_bounds(m, c));
    const int chunks = c.chunks_for(faces.size());
    const int bucket_bits = bucket_bits_for(faces.size());
    const int bucket_shift = code_bits - bucket_bits;
    const int bucket_count = 1 << bucket_bits;

    // 1. The codes, and each chunk's count of each run.
    util::big_array<std::uint32_t> codes(static_cast<std::size_t>(faces.size()));
    std::vector<std::vector<int>> at(static_cast<std::size_t>(chunks), std::vector<int>(static_cast<std::size_t>(bucket_count), 0));
    util::parallel_for(faces, chunks, c.threads, [&](int chunk, util::index_range run) {
        std::vector<int>& count = at[static_cast<std::size_t>(chunk)];
        for (int k = run.begin; k < run.end; ++k) {
            if (k + prefetch_distance < run.end) prefetch_corners(m, k + prefetch_distance);
            const corners t(m, k);
            std::uint32_t code = no_code;
            if (t.can_be_hit()) {
                code = grid.cell(t.centre());
                ++count[code >> bucket_shift];
            }
            codes[static_cast<std::size_t>(k)] = code;
        }
    });

    // 2. Where each chunk's share of each run starts; the keys, into place.
    std::vector<int> run_start(static_cast<std::size_t>(bucket_count) + 1, 0);
    int total = 0;
    for (int b = 0; b < bucket_count; ++b) {
        run_start[static_cast<std::size_t>(b)] = total;
        for (std::vector<int>& count : at) {
            const int n = count[static_cast<std::size_t>(b)];
            count[static_cast<std::size_t>(b)] = total;
            total += n;
        }
    }
    run_start[static_cast<std::size_t>(bucket_count)] = total;
    util::big_array<std::uint64_t> keys(static_cast<std::size_t>(total));
    util::parallel_for(faces, chunks, c.threads, [&](int chunk, util::index_range run) {
        std::vector<int>& to = at[static_cast<std::size_t>(chunk)];
        for (int k = run.begin; k < run.end; ++k) {
            const std::uint32_t code = codes[static_cast<std::size_t>(k)];
            if (code == no_code) continue;
            keys[static_cast<std::size_t>(to[code >> bucket_shift]++)] = std::uint64_t{code} << 32 | static_cast<std::uint32_t>(k);
        }
    });
    codes.release();

    // 3. Each run sorted on its own; a small mesh's on the calling thread.
    const int sorting_threads = c.chunks_for(total) > 1 ? c.threads : 1;
    util::parallel_for({0, bucket_count}, bucket_count, sorting_threads, [&](int b, util::index_range) {
        const int begin = run_start[static_cast<std::size_t>(b)];
        sort_run(keys.data() + begin, run_start[static_cast<std::size_t>(b) + 1] - begin, bucket_shift);
    });
    assert(std::is_sorted(keys.data(), keys.data() + keys.size()) && "Morton keys out of order");
    return keys;
}

}  // namespace bvh_build
