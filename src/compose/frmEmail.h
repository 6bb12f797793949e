#pragma once
// frmEmail, the composition window: recipients, subject, the note or body,
// and the Send, Cancel and Help buttons. It asks to be closed by raising
// Unloading; its owner unloads it.

#include <memory>
#include <vector>

#include "addressbook/frmAddressPicker.h"
#include "controls/event.h"
#include "controls/form.h"
#include "controls/push_button.h"
#include "controls/timer.h"
#include "delivery/mEmail.h"
#include "delivery/sockets/delivery_progress.h"
#include "delivery/sockets/transport.h"

namespace kt {

// What Send delivers with besides what the user edits: the values of the
// SendEMail call that opened the window, kept by the window itself so that
// windows open side by side each send their own page from their own sender.
struct DeliverySettings {
    std::wstring smtpServer;
    std::wstring fromAddress;
    // The page the note is put before, in HTML mode.
    std::shared_ptr<const std::wstring> htmlPage = std::make_shared<const std::wstring>();
    // The page's own address, as the host gave it; empty for none.
    std::wstring pageAddress;
    bool showError = true;
    bool html = false;
};

class DeliveryDisplay;
class PageInBackground;
class RecipientSuggestions;

class frmEmail : public Form {
public:
    frmEmail();
    ~frmEmail() override;

    // Asks the owner to close the window. When no owner listens any more (it
    // was released, or opened a newer window), the window closes itself.
    Event<> Unloading;

    // Sets what Send delivers with; a page's text is made from now on.
    void Delivery(DeliverySettings settings);
    // How Send reaches servers: the system's sockets unless given another way.
    void Network(TransportFactory connect) { connect_ = std::move(connect); }

    // Closes the window 25 ms from now, from its own timer: for a window whose
    // owner let go of it while it was asking to be closed.
    void closeItself();

    FormControl& tbTo() const { return control(kTbTo); }
    FormControl& tbcc() const { return control(kTbcc); }
    FormControl& tbBcc() const { return control(kTbBcc); }
    FormControl& tbSubject() const { return control(kTbSubject); }
    FormControl& tbBody() const { return control(kTbBody); }
    FormControl& lbInfo() const { return control(kLbInfo); }
    FormControl& Label1() const { return control(kLabel1); }
    FormControl& Label4() const { return control(kLabel4); }
    FormControl& Label11() const { return control(kLabel11); }
    KT_CB& KT_CB_To() const { return control<KT_CB>(kKT_CB_To); }
    KT_CB& KT_CB_CC() const { return control<KT_CB>(kKT_CB_CC); }
    KT_CB& KT_CB_Bcc() const { return control<KT_CB>(kKT_CB_Bcc); }
    KT_CB& KT_CB_Send() const { return control<KT_CB>(kKT_CB_Send); }
    KT_CB& KT_CB_Cancel() const { return control<KT_CB>(kKT_CB_Cancel); }
    KT_CB& KT_CB_Help() const { return control<KT_CB>(kKT_CB_Help); }

    // Rows of the design table, in tab order.
    enum Row : std::size_t {
        kTbTo, kTbcc, kTbBcc, kTbSubject, kKT_CB_Bcc, kLabel4, kKT_CB_CC, kKT_CB_To, kTbBody, kLbInfo,
        kKT_CB_Send, kKT_CB_Cancel, kLabel11, kKT_CB_Help, kLabel1,
    };

private:
    const wchar_t* handlerName() const override { return L"frmEmail"; }

    void Form_Load() override;
    bool Form_QueryUnload() override;
    void Form_Unload() override;
    void Form_Resize() override;
    void Form_Move() override;
    void Form_Deactivate() override;
    void tbTo_Change();
    void tbcc_Change();
    void tbBcc_Change();
    void recipientChanged(const FormControl& field);
    void KT_CB_Cancel_Click();
    void KT_CB_Help_Click();
    void KT_CB_Send_Click();
    void KT_CB_To_Click();
    void KT_CB_CC_Click();
    void KT_CB_Bcc_Click();
    // The picker's answer goes to the field (a row of the design) whose button opened it.
    void pickRecipients(Row field);
    void m_oAddressPicker_AddressList(Row field, const std::wstring& sList);
    void m_oTimerUnloadAddressForm_ThatTime();
    void layOut();
    void askToClose();
    // Sends the message, showing how it goes; true when the user stopped it.
    bool deliver(const std::wstring& to, const std::wstring& cc, const std::wstring& bcc);
    // What is left of the page's preparation, shown with Stop; false when stopped.
    bool waitForThePage();
    // The mail component this window's Send goes through.
    MailComponentFactory mailComponent();

    DeliverySettings delivery_;
    std::unique_ptr<PageInBackground> page_;
    TransportFactory connect_;
    bool delivered_ = false;  // the message went: Send sends nothing more
    // While the message goes: how far it got, and what the window shows of it.
    std::shared_ptr<DeliveryProgress> progress_;
    std::unique_ptr<DeliveryDisplay> display_;
    std::unique_ptr<RecipientSuggestions> suggestions_;
    bool closeWhenDelivered_ = false;  // the user closed the window meanwhile
    std::unique_ptr<SSubTimer> closeTimer_;  // closes a window no owner listens to
    Subscription closeTimerEvents_;

    std::shared_ptr<frmAddressPicker> m_oAddressPicker;
    Subscription m_oAddressPickerEvents_;
    std::unique_ptr<SSubTimer> m_oTimerUnloadAddressForm;
    Subscription m_oTimerUnloadAddressFormEvents_;
    std::vector<Subscription> subscriptions_;
    int resizeDepth_ = 0;
};

}  // namespace kt
