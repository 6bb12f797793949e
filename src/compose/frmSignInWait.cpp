#include "compose/frmSignInWait.h"

#include "compose/frmEmail_resources.h"
#include "controls/handler_boundary.h"

namespace kt {
namespace {

constexpr FontDesign kSansSerif78{L"MS Sans Serif", 7.8f, 400};

const ControlDesign kDesign[] = {
    {L"KT_CB_Cancel", ControlKind::PushButton, L"Cancel", L"Stop the sign-in; nothing is sent", {3600, 1020, 1092, 336},
     kSansSerif78},
    {L"lbInfo", ControlKind::Label, L"", nullptr, {120, 120, 4572, 780}},
};

const FormDesign kForm{L"Ardwyn E-Mail Sign-in", 4812, 1476, IDI_EMAIL_FORM, false, kDesign, std::size(kDesign)};

}  // namespace

frmSignInWait::frmSignInWait() : Form(kForm) {}

void frmSignInWait::Form_Load() {
    cancelEvents_ = KT_CB_Cancel().Click.subscribe([this] { KT_CB_Cancel_Click(); });
}

// Closed with its frame's close command, it cancels as Cancel does.
void frmSignInWait::Form_Unload() { cancelled_ = true; }

void frmSignInWait::KT_CB_Cancel_Click() { cancelled_ = true; }

BrowserSignInWait::BrowserSignInWait(HWND owner, const std::wstring& host,
                                     std::shared_ptr<const DeliveryProgress> delivery)
    : form_(std::make_shared<frmSignInWait>()), delivery_(std::move(delivery)) {
    form_->Load(owner);
    form_->lbInfo().Text(L"Sign in to send the message through " + host +
                         L" in the browser window that opened. The message goes as soon as you have signed in.");
    form_->Show();
}

BrowserSignInWait::~BrowserSignInWait() {
    ignoreFailure([&] { form_->Unload(); });
}

}  // namespace kt
