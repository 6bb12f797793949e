#include "component/cEmail.h"

#include "component/automation.h"
#include "controls/handler_boundary.h"
#include "compose/shared_message_settings.h"

namespace kt {

HRESULT cEmail::createInstance(REFIID interfaceId, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    cEmail* instance = nullptr;
    const HRESULT created = comMethod(IID__cEmail, [&] { instance = new cEmail(); });
    if (FAILED(created)) return created;
    const HRESULT hr = instance->QueryInterface(interfaceId, object);
    instance->Release();
    return hr;
}

cEmail::cEmail() : typeInfo_(loadTypeInfo(IID__cEmail)), oTimer(std::make_unique<SSubTimer>()) {
    oTimerEvents_ = oTimer->ThatTime.subscribe([this] { oTimer_ThatTime(); });
    oTimer->Interval(0);
    SharedMessageSettings::forThisThread().g_sInfoLabel.clear();
}

// The window in ofrmEmail is released with the instance but stays open,
// unless it had asked to be closed and the tick was still to come.
cEmail::~cEmail() {
    ignoreFailure([&] { letGoOfWindow(); });
    oTimer.reset();
}

void cEmail::letGoOfWindow() {
    if (!ofrmEmail || oTimer->Interval() == 0) return;
    // The close it asked for is left to the window itself.
    oTimer->Interval(0);
    ofrmEmail->closeItself();
}

HRESULT cEmail::QueryInterface(REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(interfaceId, IID_IUnknown) || IsEqualIID(interfaceId, IID_IDispatch) ||
        IsEqualIID(interfaceId, IID__cEmail)) {
        *object = static_cast<_cEmail*>(this);
    } else if (IsEqualIID(interfaceId, IID_ISupportErrorInfo)) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG cEmail::AddRef() { return InterlockedIncrement(&references_); }

ULONG cEmail::Release() {
    const ULONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) delete this;
    return remaining;
}

HRESULT cEmail::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT cEmail::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    typeInfo_->AddRef();
    *info = typeInfo_.get();
    return S_OK;
}

HRESULT cEmail::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
}

HRESULT cEmail::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                       EXCEPINFO* exception, UINT* argumentError) {
    return invokeThroughTypeInfo(typeInfo_.get(), static_cast<_cEmail*>(this), member, flags, parameters, result,
                                 exception, argumentError);
}

HRESULT cEmail::SendEMail(BSTR sBody, BSTR sSubject, BSTR sToAddress, BSTR sSMTPServer, BSTR sFromAddress,
                          VARIANT_BOOL bShowError, VARIANT_BOOL bHTML) {
    return comMethod(IID__cEmail, [&] {
        const std::wstring subject = Bstr::toString(sSubject);
        const std::wstring toAddress = Bstr::toString(sToAddress);
        const std::wstring smtpServer = Bstr::toString(sSMTPServer);
        const std::wstring fromAddress = Bstr::toString(sFromAddress);
        auto& settings = SharedMessageSettings::forThisThread();
        const bool html = bHTML != VARIANT_FALSE;
        // Made before the window, so that no failure leaves one half opened.
        // The body is taken from the host once: a page may be the largest thing in the process.
        auto body = std::make_shared<const std::wstring>(Bstr::toString(sBody));
        DeliverySettings delivery{smtpServer, fromAddress, html ? body : std::make_shared<const std::wstring>(),
                                  pageURL_, bShowError != VARIANT_FALSE, html};

        letGoOfWindow();
        ofrmEmailEvents_.reset();
        ofrmEmail = std::make_shared<frmEmail>();
        ofrmEmailEvents_ = ofrmEmail->Unloading.subscribe([this] { ofrmEmail_Unloading(); });
        // Before the window is built, so that the page is made ready meanwhile.
        ofrmEmail->Delivery(std::move(delivery));
        ofrmEmail->Load();
        ofrmEmail->tbTo().Text(toAddress);
        ofrmEmail->tbSubject().Text(subject);
        if (!settings.g_sInfoLabel.empty()) ofrmEmail->lbInfo().Text(settings.g_sInfoLabel);
        // Set while the window is hidden: a field on screen takes its text several times slower.
        if (!html) ofrmEmail->tbBody().Text(*body);
        ofrmEmail->Show();
    });
}

HRESULT cEmail::get_InfoLabel(BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    return comMethod(IID__cEmail,
                     [&] { *value = Bstr(SharedMessageSettings::forThisThread().g_sInfoLabel).release(); });
}

HRESULT cEmail::put_InfoLabel(BSTR* sValue) {
    return comMethod(IID__cEmail, [&] {
        SharedMessageSettings::forThisThread().g_sInfoLabel = sValue ? Bstr::toString(*sValue) : std::wstring();
    });
}

HRESULT cEmail::get_PageURL(BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    return comMethod(IID__cEmail, [&] { *value = Bstr(pageURL_).release(); });
}

HRESULT cEmail::put_PageURL(BSTR sValue) {
    return comMethod(IID__cEmail, [&] { pageURL_ = Bstr::toString(sValue); });
}

HRESULT cEmail::InterfaceSupportsErrorInfo(REFIID interfaceId) {
    return IsEqualIID(interfaceId, IID__cEmail) ? S_OK : S_FALSE;
}

void cEmail::ofrmEmail_Unloading() { oTimer->Interval(25); }

void cEmail::oTimer_ThatTime() {
    oTimer->Interval(0);
    if (ofrmEmail) ofrmEmail->Unload();
    ofrmEmailEvents_.reset();
    ofrmEmail.reset();
}

}  // namespace kt
