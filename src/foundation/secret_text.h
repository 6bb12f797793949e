#pragma once
// Text that holds a secret (a token): every byte of memory it gives back is
// overwritten first, however the string grew or was copied. (A text short
// enough to live inside the string object itself is not allocated at all;
// tokens never are that short.)

#include <cstddef>
#include <memory>
#include <string>

namespace kt {

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}  // NOLINT: allocators convert implicitly

    T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* memory, std::size_t count) noexcept {
        volatile auto* bytes = reinterpret_cast<volatile unsigned char*>(memory);
        for (std::size_t i = 0; i < count * sizeof(T); ++i) bytes[i] = 0;
        std::allocator<T>().deallocate(memory, count);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const WipingAllocator<U>&) const noexcept {
        return false;
    }
};

using SecretText = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

}  // namespace kt
