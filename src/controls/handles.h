#pragma once
// Small owning types for Windows handles, COM strings and COM pointers, so that
// no path through the code has to remember to release anything.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace kt {

template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }
    void reset(Handle handle = Traits::invalid()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For APIs that return a handle through an out parameter.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::invalid();
};

// The traits of a handle type: its empty value and the call that releases it.
template <class H, auto Close, H Invalid = H()>
struct HandleTraits {
    using Handle = H;
    static Handle invalid() noexcept { return Invalid; }
    static void close(Handle handle) noexcept { Close(handle); }
};

inline void releaseScreenDc(HDC dc) noexcept { ReleaseDC(nullptr, dc); }

using UniqueRegKey = UniqueHandle<HandleTraits<HKEY, &RegCloseKey>>;
using UniqueFont = UniqueHandle<HandleTraits<HFONT, &DeleteObject>>;
using UniqueMenu = UniqueHandle<HandleTraits<HMENU, &DestroyMenu>>;
using UniqueKernelHandle = UniqueHandle<HandleTraits<HANDLE, &CloseHandle>>;
using ScreenDc = UniqueHandle<HandleTraits<HDC, &releaseScreenDc>>;

// A COM string (BSTR) that frees itself.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text);
    Bstr(Bstr&& other) noexcept : value_(other.release()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { reset(); }

    BSTR get() const noexcept { return value_; }
    BSTR release() noexcept { return std::exchange(value_, nullptr); }
    void reset(BSTR value = nullptr) noexcept;
    BSTR* put() noexcept {
        reset();
        return &value_;
    }

    // A BSTR as text; a null BSTR is the empty string, as COM defines it.
    static std::wstring toString(BSTR value);

private:
    BSTR value_ = nullptr;
};

// A counted reference to a COM object.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* object) noexcept : object_(object) {  // NOLINT: adopts like a raw COM assignment
        if (object_) object_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.object_) {}
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void reset() noexcept {
        if (T* old = std::exchange(object_, nullptr)) old->Release();
    }
    T** put() noexcept {
        reset();
        return &object_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* object_ = nullptr;
};

// Holds CoInitialize for the lifetime of a scope on the calling thread.
class ComApartment {
public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

}  // namespace kt
