#pragma once
// cEmail, the component's one creatable class: SendEMail opens the
// composition window filled in and returns at once; when the window asks to
// be closed, the instance unloads it a moment later from its timer.

#include <windows.h>

#include <memory>

#include "KT_EMailer.h"
#include "compose/frmEmail.h"
#include "controls/event.h"
#include "foundation/handles.h"
#include "foundation/module.h"
#include "controls/timer.h"

namespace kt {

class cEmail final : public _cEmail, public ISupportErrorInfo {
public:
    // Creates an instance and returns the requested interface of it.
    static HRESULT createInstance(REFIID interfaceId, void** object) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, served from the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // _cEmail
    HRESULT STDMETHODCALLTYPE SendEMail(BSTR sBody, BSTR sSubject, BSTR sToAddress, BSTR sSMTPServer,
                                        BSTR sFromAddress, VARIANT_BOOL bShowError, VARIANT_BOOL bHTML) override;
    HRESULT STDMETHODCALLTYPE get_InfoLabel(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_InfoLabel(BSTR* sValue) override;
    HRESULT STDMETHODCALLTYPE get_PageURL(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_PageURL(BSTR sValue) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID interfaceId) override;

private:
    cEmail();   // Class_Initialize
    ~cEmail();  // Class_Terminate

    void ofrmEmail_Unloading();
    void oTimer_ThatTime();
    // Lets go of the window in ofrmEmail, which closes itself if it had asked to be closed.
    void letGoOfWindow();

    ULONG references_ = 1;
    ModuleLock moduleLock_;
    ComPtr<ITypeInfo> typeInfo_;
    std::wstring pageURL_;  // this instance's, unlike the thread's InfoLabel
    std::shared_ptr<frmEmail> ofrmEmail;
    Subscription ofrmEmailEvents_;
    std::unique_ptr<SSubTimer> oTimer;
    Subscription oTimerEvents_;
};

}  // namespace kt
