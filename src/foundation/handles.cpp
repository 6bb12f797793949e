#include "foundation/handles.h"

#include <new>

namespace kt {

Bstr::Bstr(const std::wstring& text)
    : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!value_) throw std::bad_alloc();
}

void Bstr::reset(BSTR value) noexcept {
    const BSTR old = std::exchange(value_, value);
    if (old) SysFreeString(old);
}

std::wstring Bstr::toString(BSTR value) {
    return value ? std::wstring(value, SysStringLen(value)) : std::wstring();
}

}  // namespace kt
