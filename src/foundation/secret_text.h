#pragma once
// Text that holds a secret (a password, a token, a line that carries one):
// every byte of memory it gives back is overwritten first, however the text
// grew, was copied or moved, and the room inside the string object itself
// (where a short text lives) when it ends.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kt {

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}  // NOLINT: allocators convert implicitly

    T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* memory, std::size_t count) noexcept {
        wipeBytes(memory, count * sizeof(T));
        std::allocator<T>().deallocate(memory, count);
    }
    static void wipeBytes(void* memory, std::size_t size) noexcept {
        volatile auto* bytes = static_cast<volatile unsigned char*>(memory);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
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

template <class Char>
class BasicSecretText : public std::basic_string<Char, std::char_traits<Char>, WipingAllocator<Char>> {
    using Text = std::basic_string<Char, std::char_traits<Char>, WipingAllocator<Char>>;

public:
    using Text::Text;
    BasicSecretText() = default;
    BasicSecretText(const Text& text) : Text(text) {}  // NOLINT: as a string converts
    BasicSecretText(Text&& text) noexcept : Text(std::move(text)) {}  // NOLINT
    BasicSecretText(const BasicSecretText&) = default;
    BasicSecretText(BasicSecretText&&) noexcept = default;
    BasicSecretText& operator=(const BasicSecretText&) = default;
    BasicSecretText& operator=(BasicSecretText&&) noexcept = default;
    ~BasicSecretText() { WipingAllocator<Char>::wipeBytes(this->data(), (this->capacity() + 1) * sizeof(Char)); }

    std::basic_string_view<Char> view() const noexcept { return {this->data(), this->size()}; }
};

using SecretText = BasicSecretText<char>;
using WideSecretText = BasicSecretText<wchar_t>;

}  // namespace kt
