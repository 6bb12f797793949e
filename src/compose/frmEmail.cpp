#include "compose/frmEmail.h"

#include "compose/delivery_display.h"
#include "compose/frmEmail_resources.h"
#include "compose/recipient_suggestions.h"
#include "compose/recipient_typing.h"
#include "compose/frmSignInWait.h"
#include "compose/shared_message_settings.h"
#include "compose/layout.h"
#include "compose/message_body.h"
#include "compose/page_in_background.h"
#include "delivery/page/picture_fetch.h"
#include "controls/handler_boundary.h"
#include "controls/html_help.h"
#include "foundation/message_box.h"
#include "controls/message_loop.h"
#include "foundation/module.h"
#include "controls/window_input.h"
#include "delivery/components/mail_components.h"
#include "foundation/scope_exit.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

constexpr FontDesign kSansSerif78{L"MS Sans Serif", 7.8f, 400};
constexpr FontDesign kSansSerif66{L"MS Sans Serif", 6.6f, 400};

const wchar_t kBccHint[] =
    L"Blind Carbon Copy address to send e-mail to.  The recipients do not see blind Carbon Copy addresses";

const ControlDesign kDesign[] = {
    {L"tbTo", ControlKind::TextField, L"", L"Address to Send E-Mail To", {600, 240, 4452, 288}},
    {L"tbcc", ControlKind::TextField, L"", L"Carbon Copy Address to send E-Mail to", {600, 600, 4452, 288}},
    {L"tbBcc", ControlKind::TextField, L"", kBccHint, {600, 960, 4452, 288}},
    {L"tbSubject", ControlKind::TextField, L"", L"Subject Text", {960, 1800, 4092, 288}},
    {L"KT_CB_Bcc", ControlKind::PushButton, L"Bcc",
     L"Select Bcc Addresses, Blind Carbon Copy address to send e-mail to.  The recipients do not see blind Carbon "
     L"Copy addresses",
     {120, 960, 372, 252}, kSansSerif78},
    {L"Label4", ControlKind::Label, L"Subject:", nullptr, {120, 1800, 732, 252}},
    {L"KT_CB_CC", ControlKind::PushButton, L"cc", nullptr, {120, 600, 372, 252}, kSansSerif78},
    {L"KT_CB_To", ControlKind::PushButton, L"To", nullptr, {120, 240, 372, 252}, kSansSerif78},
    {L"tbBody", ControlKind::MultiLineTextField, L"", L"Body Text", {120, 2760, 4932, 1692}},
    {L"lbInfo", ControlKind::Label, L"Type in any message you want to appear before the web page.", nullptr,
     {120, 2280, 4932, 492}},
    {L"KT_CB_Send", ControlKind::PushButton, L"Send", L"Send the E-Mail Message", {4200, 4440, 852, 372},
     kSansSerif66},
    {L"KT_CB_Cancel", ControlKind::PushButton, L"Cancel", L"Cancel and Close", {3120, 4440, 852, 372},
     kSansSerif66},
    {L"Label11", ControlKind::Label, L"Separate Multiple Addresses with a semi-colon (;)", nullptr,
     {120, 1452, 5052, 240}, kSansSerif66},
    {L"KT_CB_Help", ControlKind::PushButton, L"Help", L"Help for Mail", {360, 4560, 852, 372}, kSansSerif66},
    {L"Label1", ControlKind::Label, L"Address Format: address, name.  i.e. ann@example.com, Ann Lee", nullptr,
     {120, 1248, 5052, 204}, kSansSerif66},
};

const FormDesign kForm{L"Ardwyn E-Mail Message", 5172, 4956, IDI_EMAIL_FORM, true, kDesign, std::size(kDesign)};

}  // namespace

frmEmail::frmEmail() : Form(kForm) {}

frmEmail::~frmEmail() = default;

void frmEmail::Form_Load() {
    m_oTimerUnloadAddressForm = std::make_unique<SSubTimer>();
    m_oTimerUnloadAddressFormEvents_ =
        m_oTimerUnloadAddressForm->ThatTime.subscribe([this] { m_oTimerUnloadAddressForm_ThatTime(); });
    m_oTimerUnloadAddressForm->Interval(0);
    subscriptions_.push_back(KT_CB_Cancel().Click.subscribe([this] { KT_CB_Cancel_Click(); }));
    subscriptions_.push_back(KT_CB_Help().Click.subscribe([this] { KT_CB_Help_Click(); }));
    subscriptions_.push_back(KT_CB_Send().Click.subscribe([this] { KT_CB_Send_Click(); }));
    subscriptions_.push_back(KT_CB_To().Click.subscribe([this] { KT_CB_To_Click(); }));
    subscriptions_.push_back(KT_CB_CC().Click.subscribe([this] { KT_CB_CC_Click(); }));
    subscriptions_.push_back(KT_CB_Bcc().Click.subscribe([this] { KT_CB_Bcc_Click(); }));
    suggestions_ = std::make_unique<RecipientSuggestions>(hwnd(), SharedMessageSettings::forThisThread().addressBook);
    for (const FormControl* field : {&tbTo(), &tbcc(), &tbBcc()}) suggestions_->watch(*field);
    subscriptions_.push_back(tbTo().Change.subscribe([this] { tbTo_Change(); }));
    subscriptions_.push_back(tbcc().Change.subscribe([this] { tbcc_Change(); }));
    subscriptions_.push_back(tbBcc().Change.subscribe([this] { tbBcc_Change(); }));
}

void frmEmail::tbTo_Change() { recipientChanged(tbTo()); }
void frmEmail::tbcc_Change() { recipientChanged(tbcc()); }
void frmEmail::tbBcc_Change() { recipientChanged(tbBcc()); }

void frmEmail::recipientChanged(const FormControl& field) {
    if (suggestions_) suggestions_->fieldChanged(field);
}

void frmEmail::Form_Move() {
    if (suggestions_) suggestions_->place();
}

void frmEmail::Form_Deactivate() {
    if (suggestions_) suggestions_->close();
}

// Closed during a delivery, the window stops it, and closes when it has ended.
bool frmEmail::Form_QueryUnload() {
    if (!progress_) return true;
    progress_->stop();
    closeWhenDelivered_ = true;
    return false;
}

void frmEmail::Form_Unload() {
    if (progress_) progress_->stop();  // its owner unloads it: the delivery has nowhere to report
    ignoreFailure([&] { suggestions_.reset(); });
    ignoreFailure([&] { Pointer(MousePointer::Default); });
    ignoreFailure([&] {
        m_oTimerUnloadAddressFormEvents_.reset();
        m_oTimerUnloadAddressForm.reset();
    });
    ignoreFailure([&] {
        if (m_oAddressPicker) m_oAddressPicker->Unload();
    });
    ignoreFailure([&] {
        m_oAddressPickerEvents_.reset();
        m_oAddressPicker.reset();
    });
}

void frmEmail::Form_Resize() {
    // A correction of the size runs the handler again inside this run; should
    // the system not take the correction, this ends it.
    if (resizeDepth_ > 2) return;
    ++resizeDepth_;
    const ScopeExit leave([this] { --resizeDepth_; });
    layOut();
}

void frmEmail::layOut() {
    int mark = 0;
    try {
        mark = 1001;
        const FrameMetrics metrics =
            frameMetrics(GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME),
                         twipsPerPixelX(), twipsPerPixelY());
        mark = 1020;
        if (Width() < kEmailFormMinimumWidth) Width(kEmailFormMinimumWidth);
        if (Height() < kEmailFormMinimumHeight) Height(kEmailFormMinimumHeight);

        const auto geometry = [](const FormControl& c) { return TwipsRect{c.Left(), c.Top(), c.Width(), c.Height()}; };
        const EmailFormLayout layout = layoutEmailForm(
            Width(), Height(), metrics,
            {geometry(tbTo()), geometry(tbSubject()), geometry(tbBody()), geometry(lbInfo()), geometry(Label1()),
             geometry(Label11()), geometry(KT_CB_Send()), geometry(KT_CB_Cancel())});
        mark = 1040;
        tbTo().Width(layout.tbToWidth);
        tbcc().Width(tbTo().Width());
        tbBcc().Width(tbTo().Width());
        tbSubject().Width(layout.tbSubjectWidth);
        tbBody().Width(layout.tbBodyWidth);
        lbInfo().Width(layout.lbInfoWidth);
        Label1().Width(layout.label1Width);
        Label11().Width(layout.label11Width);
        KT_CB_Send().Left(layout.sendLeft);
        KT_CB_Cancel().Left(layout.cancelLeft);
        mark = 1200;
        KT_CB_Send().Top(layout.buttonTop);
        mark = 1210;
        KT_CB_Cancel().Top(KT_CB_Send().Top());
        KT_CB_Help().Top(KT_CB_Send().Top());
        mark = 1220;
        tbBody().Height(layout.tbBodyHeight);
        if (display_) display_->place();
        if (suggestions_) suggestions_->place();
    } catch (...) {
        ShowErrorWithTime(
            failureReport(L"Error in Email Form Resize Function.", currentError(), StepMark{L"Debug code : ", mark}));
    }
}

void frmEmail::KT_CB_To_Click() { pickRecipients(kTbTo); }
void frmEmail::KT_CB_CC_Click() { pickRecipients(kTbcc); }
void frmEmail::KT_CB_Bcc_Click() { pickRecipients(kTbBcc); }

void frmEmail::pickRecipients(Row field) {
    const auto keepAlive = shared_from_this();  // the modal loop runs inside this handler
    m_oAddressPickerEvents_.reset();
    m_oAddressPicker = std::make_shared<frmAddressPicker>(SharedMessageSettings::forThisThread().addressBook);
    // The answer goes to the field whose button asked, whatever happens to
    // the window meanwhile (moved, resized, minimized).
    m_oAddressPickerEvents_ = m_oAddressPicker->AddressList.subscribe(
        [this, field](const std::wstring& list) { m_oAddressPicker_AddressList(field, list); });
    const auto picker = m_oAddressPicker;
    picker->Load(hwnd());
    picker->Show();
    runModal(picker->hwnd());
}

void frmEmail::m_oAddressPicker_AddressList(Row field, const std::wstring& sList) {
    const std::wstring text = control(field).Text();
    control(field).Text(withRecipientsAdded(text, sList));
    m_oTimerUnloadAddressForm->Interval(25);
}

void frmEmail::m_oTimerUnloadAddressForm_ThatTime() {
    m_oTimerUnloadAddressForm->Interval(0);
    if (m_oAddressPicker) m_oAddressPicker->Unload();
    m_oAddressPickerEvents_.reset();
    m_oAddressPicker.reset();
}

// While the message goes, the button reads "Stop".
void frmEmail::KT_CB_Cancel_Click() {
    if (progress_)
        progress_->stop();
    else
        askToClose();
}

void frmEmail::askToClose() {
    if (!Unloading.raise()) closeItself();
}

void frmEmail::closeItself() {
    if (closeTimer_) return;
    // As an owner would: from a timer, 25 ms later, never inside an event.
    // The tick ends this object, and the timer with it, inside the timer's
    // own handler: the timer touches nothing of itself after raising ThatTime.
    closeTimer_ = std::make_unique<SSubTimer>();
    closeTimerEvents_ = closeTimer_->ThatTime.subscribe([this] {
        closeTimer_->Interval(0);
        Unload();
    });
    closeTimer_->Interval(25);
}

void frmEmail::KT_CB_Send_Click() {
    if (delivered_) return askToClose();
    const auto keepAlive = shared_from_this();  // the delivery lets messages through
    const std::wstring to = tbTo().Text();
    const std::wstring cc = tbcc().Text();
    const std::wstring bcc = tbBcc().Text();
    if (to.empty() && cc.empty() && bcc.empty()) {
        showMessageBox(L"No Addresses have been entered, Please enter an e-mail address", L"Error",
                       MB_OK | MB_ICONINFORMATION);
        return;
    }

    auto& shared = SharedMessageSettings::forThisThread();
    if (shared.deliveryUnderway) {
        showMessageBox(L"Another message is being sent. Please press Send again when it has gone.", L"Error",
                       MB_OK | MB_ICONINFORMATION);
        return;
    }
    shared.deliveryUnderway = true;
    const ScopeExit deliveryOver([&shared] { shared.deliveryUnderway = false; });
    const bool stopped = deliver(to, cc, bcc);
    // Closed during the delivery, the window goes once it is over, unless a
    // failure after the message's end was reported: the message stays then.
    const bool closing = std::exchange(closeWhenDelivered_, false);
    if (IsLoaded() && (delivered_ || (closing && stopped))) askToClose();
}

bool frmEmail::deliver(const std::wstring& to, const std::wstring& cc, const std::wstring& bcc) {
    // One delivery at a time: the window takes no input but Stop until it is
    // over, and none at all while the mail program has the message.
    const bool handOff = mailRouteFor(delivery_.smtpServer) == MailRoute::MailProgram;
    const ScopedControlsDisabled busy(hwnd(), handOff ? nullptr : KT_CB_Cancel().hwnd());
    Pointer(MousePointer::ArrowHourglass);
    const ScopeExit resetPointer([this] { Pointer(MousePointer::Default); });
    progress_ = std::make_shared<DeliveryProgress>([this](const DeliveryProgress& progress) {
        ignoreFailure([&] {
            if (progress.finished()) return display_.reset();
            if (!display_) display_ = std::make_unique<DeliveryDisplay>(*this);
            display_->show(progress);
        });
    });
    const ScopeExit over([this] {
        display_.reset();
        progress_.reset();
    });

    // The page was made ready while the user wrote, as a rule to the end;
    // what is left of it is waited for as the delivery's first steps, with Stop.
    if (page_ && !waitForThePage()) return true;
    // The mail program takes the note as the text and the page as its
    // attachment; the SMTP client the page after the body.
    const std::wstring note = tbBody().Text();
    std::wstring body = handOff ? note : composeMessageBody(note, delivery_.html);
    delivered_ = DeliverMail(std::move(body), tbSubject().Text(), to, cc, bcc, delivery_.smtpServer, delivery_.fromAddress,
                             delivery_.showError, delivery_.html, mailComponent());
    return progress_->stopRequested();
}

bool frmEmail::waitForThePage() {
    if (!page_->ready()) {
        progress_->enter(DeliveryStep::Preparing);
        if (!page_->wait(*progress_)) return false;
    }
    // Pictures that are not in by the fetch's end stay on the web.
    constexpr std::chrono::milliseconds kCountShownEvery{100};
    if (const PictureFetch* fetch = page_->pictureFetch())
        while (!fetch->done()) {
            progress_->fetchingPictures(fetch->finished(), fetch->total());
            if (fetch->wait(progress_.get(), kCountShownEvery) == WaitEnd::Stopped) return false;
        }
    return true;
}

void frmEmail::Delivery(DeliverySettings settings) {
    delivery_ = std::move(settings);
    page_.reset();
    // The mail program packs the page's pictures its own way.
    if (delivery_.html)
        page_ = std::make_unique<PageInBackground>(delivery_.htmlPage, delivery_.pageAddress,
                                                   mailRouteFor(delivery_.smtpServer) == MailRoute::Smtp);
}

MailComponentFactory frmEmail::mailComponent() {
    SmtpComponentParts parts;
    parts.signInOwner = hwnd();
    parts.tokens = SharedMessageSettings::forThisThread().accessTokens;
    parts.wait = [this, progress = progress_](const std::wstring& host) {
        return std::make_unique<BrowserSignInWait>(hwnd(), host, progress);
    };
    parts.progress = progress_;
    parts.showError = delivery_.showError;
    if (connect_) parts.connect = connect_;
    if (page_) {
        parts.pageText = page_->text();
        parts.pictures = page_->pictures();
    }
    return mailComponentFor(delivery_.smtpServer, std::move(parts), page_ ? page_->page() : delivery_.htmlPage);
}

void frmEmail::KT_CB_Help_Click() {
    displayHelpTopic(hwnd(), thisModuleDirectory() + L"\\Ardwyn.chm::/EMailWebPage.htm>main");
}

}  // namespace kt
