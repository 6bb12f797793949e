#pragma once
// Calls through IDispatch by name, the way a late-bound automation client
// (a script, a VB-style client) makes them.

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace kt::test {

class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant& other) : Variant() { VariantCopy(&value_, const_cast<VARIANT*>(&other.value_)); }
    Variant& operator=(const Variant& other) {
        if (this != &other) VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));
        return *this;
    }
    ~Variant() { VariantClear(&value_); }

    static Variant text(const std::wstring& value);
    static Variant boolean(bool value);
    // A reference to another variant, as VBScript passes its variables.
    static Variant referenceTo(Variant& target);

    VARIANT* get() { return &value_; }
    const VARIANT* get() const { return &value_; }
    std::wstring asText() const;

private:
    VARIANT value_;
};

DISPID dispidOf(IDispatch* object, const wchar_t* name);

// Arguments in the order a caller writes them.
HRESULT callMethod(IDispatch* object, const wchar_t* name, std::vector<Variant> arguments,
                   EXCEPINFO* exception = nullptr);
HRESULT getProperty(IDispatch* object, const wchar_t* name, Variant& result);
HRESULT putProperty(IDispatch* object, const wchar_t* name, Variant value);

}  // namespace kt::test
