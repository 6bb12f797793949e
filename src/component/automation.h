#pragma once
// The COM side of the component's errors and of IDispatch: a method's failure
// leaves as an HRESULT with IErrorInfo, and late-bound calls are served by
// the type library.

#include <windows.h>
#include <oaidl.h>

#include "foundation/handles.h"
#include "foundation/component_error.h"

namespace kt {

// The HRESULT an automation client sees for a component error number.
HRESULT hresultFor(long errorNumber) noexcept;

// Sets the thread's error information from the error and returns its HRESULT.
HRESULT returnError(const ComponentError& error, REFIID interfaceId) noexcept;

// Runs a COM method's body; a failure becomes the call's COM error.
template <class Body>
HRESULT comMethod(REFIID interfaceId, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (...) {
        try {
            return returnError(currentError(), interfaceId);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
}

// The type information of an interface, from the type library in this module.
ComPtr<ITypeInfo> loadTypeInfo(REFGUID interfaceId);

// IDispatch::Invoke through the type information. Arguments passed as a
// reference to a variant (as VBScript passes variables) are unwrapped one
// level first, so that they reach typed parameters.
HRESULT invokeThroughTypeInfo(ITypeInfo* typeInfo, void* object, DISPID member, WORD flags,
                              DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

}  // namespace kt
