#pragma once

#include <new>
#include <type_traits>

namespace util {

// Room for up to `count` plain values, left unwritten: the per-packet arrays
// of rays, vectors and hit records the tracer keeps on the stack, whose
// types zero themselves when made and so would cost a pass of zeros over
// every slot, used or not, each step of every packet. A slot is made by
// put() and read or changed through [] after that.
template <typename T, int count>
class slots {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "plain values only: nothing is destroyed");

public:
    slots() {}  // leaves the bytes as they are

    T& put(int k, const T& value) { return *::new (static_cast<void*>(bytes_ + k * sizeof(T))) T(value); }
    T& operator[](int k) { return *std::launder(reinterpret_cast<T*>(bytes_ + k * sizeof(T))); }
    const T& operator[](int k) const { return *std::launder(reinterpret_cast<const T*>(bytes_ + k * sizeof(T))); }
    // For handing the slots to a function that puts values into some of
    // them and reads only those.
    T* data() { return std::launder(reinterpret_cast<T*>(bytes_)); }

private:
    alignas(T) unsigned char bytes_[count * sizeof(T)];
};

}  // namespace util
