#include "support/late_bound.h"

#include <algorithm>

#include "foundation/handles.h"

namespace kt::test {

Variant Variant::text(const std::wstring& value) {
    Variant v;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = Bstr(value).release();
    return v;
}

Variant Variant::boolean(bool value) {
    Variant v;
    V_VT(v.get()) = VT_BOOL;
    V_BOOL(v.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::referenceTo(Variant& target) {
    Variant v;
    V_VT(v.get()) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(v.get()) = target.get();
    return v;
}

std::wstring Variant::asText() const {
    return V_VT(&value_) == VT_BSTR ? Bstr::toString(V_BSTR(&value_)) : std::wstring();
}

DISPID dispidOf(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

HRESULT callMethod(IDispatch* object, const wchar_t* name, std::vector<Variant> arguments, EXCEPINFO* exception) {
    std::reverse(arguments.begin(), arguments.end());  // IDispatch takes them last first
    std::vector<VARIANTARG> raw;
    for (auto& argument : arguments) raw.push_back(*argument.get());
    DISPPARAMS parameters{raw.empty() ? nullptr : raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
    Variant result;
    UINT argumentError = 0;
    return object->Invoke(dispidOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                          result.get(), exception, &argumentError);
}

HRESULT getProperty(IDispatch* object, const wchar_t* name, Variant& result) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return object->Invoke(dispidOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                          result.get(), nullptr, nullptr);
}

HRESULT putProperty(IDispatch* object, const wchar_t* name, Variant value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{value.get(), &named, 1, 1};
    return object->Invoke(dispidOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters,
                          nullptr, nullptr, nullptr);
}

}  // namespace kt::test
