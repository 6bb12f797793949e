#pragma once
// frmSignInWait: the small window that stays, owned by the composition
// window, while the user signs in to a provider in the browser: what goes on,
// and Cancel. Closing it cancels too.

#include <memory>
#include <string>

#include "controls/form.h"
#include "controls/push_button.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/sockets/delivery_progress.h"

namespace kt {

class frmSignInWait : public Form {
public:
    frmSignInWait();

    bool cancelled() const noexcept { return cancelled_; }

    FormControl& lbInfo() const { return control(kLbInfo); }
    KT_CB& KT_CB_Cancel() const { return control<KT_CB>(kKT_CB_Cancel); }

    // Rows of the design table, in tab order.
    enum Row : std::size_t { kKT_CB_Cancel, kLbInfo };

private:
    const wchar_t* handlerName() const override { return L"frmSignInWait"; }

    void Form_Load() override;
    void Form_Unload() override;
    void KT_CB_Cancel_Click();

    bool cancelled_ = false;
    Subscription cancelEvents_;
};

// The wait as the sign-in sees it: the window above, shown while this
// lives; the delivery's Stop cancels it too.
class BrowserSignInWait final : public SignInWait {
public:
    BrowserSignInWait(HWND owner, const std::wstring& host, std::shared_ptr<const DeliveryProgress> delivery);
    ~BrowserSignInWait() override;
    bool stopRequested() const override { return form_->cancelled() || delivery_->stopRequested(); }

private:
    std::shared_ptr<frmSignInWait> form_;
    std::shared_ptr<const DeliveryProgress> delivery_;
};

}  // namespace kt
