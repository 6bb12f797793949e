#include "component/automation.h"

#include <new>
#include <vector>

#include "foundation/module.h"

namespace kt {

HRESULT hresultFor(long errorNumber) noexcept {
    if (errorNumber < 0) return static_cast<HRESULT>(errorNumber);
    // Errors numbered like the automation runtime's own (6, 9, ...).
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, errorNumber & 0xFFFF);
}

HRESULT returnError(const ComponentError& error, REFIID interfaceId) noexcept {
    ComPtr<ICreateErrorInfo> created;
    if (SUCCEEDED(CreateErrorInfo(created.put()))) {
        created->SetGUID(interfaceId);
        created->SetSource(const_cast<LPOLESTR>(error.source().c_str()));
        created->SetDescription(const_cast<LPOLESTR>(error.description().c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, info.putVoid()))) SetErrorInfo(0, info.get());
    }
    return hresultFor(error.number());
}

ComPtr<ITypeInfo> loadTypeInfo(REFGUID interfaceId) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(thisModulePath().c_str(), REGKIND_NONE, library.put());
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(interfaceId, info.put());
    if (FAILED(hr))
        throw ComponentError(static_cast<long>(hr), kComponentName,
                             L"The type library of the component could not be loaded.");
    return info;
}

HRESULT invokeThroughTypeInfo(ITypeInfo* typeInfo, void* object, DISPID member, WORD flags,
                              DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    // What a careless caller hands in is checked before anything of it is read.
    if (!parameters || (parameters->cArgs > 0 && !parameters->rgvarg) ||
        parameters->cNamedArgs > parameters->cArgs || (parameters->cNamedArgs > 0 && !parameters->rgdispidNamedArgs))
        return E_INVALIDARG;
    std::vector<VARIANTARG> arguments;
    try {
        arguments.assign(parameters->rgvarg, parameters->rgvarg + parameters->cArgs);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (VARIANTARG& argument : arguments)
        if (V_VT(&argument) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&argument))
            argument = *V_VARIANTREF(&argument);
    DISPPARAMS unwrapped = *parameters;
    unwrapped.rgvarg = arguments.empty() ? nullptr : arguments.data();
    return typeInfo->Invoke(object, member, flags, &unwrapped, result, exception, argumentError);
}

}  // namespace kt
