#pragma once
// Small owning types for Windows handles, COM strings and COM pointers, so that
// no path through the code has to remember to release anything.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "foundation/unique_handle.h"

namespace kt {

inline void releaseScreenDc(HDC dc) noexcept { ReleaseDC(nullptr, dc); }
inline void freeLocalMemory(void* memory) noexcept { LocalFree(memory); }
// Ends a registered wait, after a callback under way has returned.
inline void unregisterWait(HANDLE wait) noexcept { UnregisterWaitEx(wait, INVALID_HANDLE_VALUE); }

using UniqueRegKey = UniqueHandle<HandleTraits<HKEY, &RegCloseKey>>;
using UniqueFont = UniqueHandle<HandleTraits<HFONT, &DeleteObject>>;
using UniqueMenu = UniqueHandle<HandleTraits<HMENU, &DestroyMenu>>;
using UniqueKernelHandle = UniqueHandle<HandleTraits<HANDLE, &CloseHandle>>;
using UniqueWait = UniqueHandle<HandleTraits<HANDLE, &unregisterWait>>;
using ScreenDc = UniqueHandle<HandleTraits<HDC, &releaseScreenDc>>;
// A file's handle, whose empty value is not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) noexcept { CloseHandle(handle); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueLocalMemory = UniqueHandle<HandleTraits<void*, &freeLocalMemory>>;  // what a system call allocated for us

// A COM string (BSTR) that frees itself.
class Bstr : public UniqueHandle<HandleTraits<BSTR, &SysFreeString>> {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text);

    // A BSTR as text; a null BSTR is the empty string, as COM defines it.
    static std::wstring toString(BSTR value);
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

// A string value (REG_SZ) of a key, or of its subkey when one is named;
// empty when there is none. The default value has no name (nullptr).
std::wstring registryString(HKEY key, const wchar_t* subkey, const wchar_t* name);

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
