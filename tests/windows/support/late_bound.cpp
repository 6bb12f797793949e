#include "support/late_bound.h"

#include "foundation/handles.h"

namespace kt::test {

DISPID dispidOf(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, const std::vector<Argument>& arguments,
               std::wstring* result) {
    std::vector<VARIANT> raw(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        VARIANT& value = raw[arguments.size() - 1 - i];  // IDispatch takes them last first
        VariantInit(&value);
        V_VT(&value) = arguments[i].isFlag ? VT_BOOL : VT_BSTR;
        if (arguments[i].isFlag)
            V_BOOL(&value) = arguments[i].flag ? VARIANT_TRUE : VARIANT_FALSE;
        else
            V_BSTR(&value) = Bstr(arguments[i].text).release();
    }
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS parameters{raw.data(), isPut ? &put : nullptr, static_cast<UINT>(raw.size()), isPut ? 1u : 0u};
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = object->Invoke(dispidOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                                      isPut ? nullptr : &out, nullptr, nullptr);
    if (result && V_VT(&out) == VT_BSTR) *result = Bstr::toString(V_BSTR(&out));
    VariantClear(&out);
    for (auto& value : raw) VariantClear(&value);
    return hr;
}

}  // namespace kt::test
