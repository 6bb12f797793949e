#include "delivery/mEmail.h"

#include <optional>
#include <utility>

#include "foundation/message_box.h"
#include "foundation/message_pump.h"
#include "delivery/recipient_list.h"
#include "delivery/mail_error.h"
#include "foundation/component_error.h"
#include "settings/error_with_time.h"

namespace kt {
namespace {

using AddRecipient = void (MailComponent::*)(const std::wstring&, const std::optional<std::wstring>&);

// The step marks of one recipient list.
struct RecipientSteps {
    int split;
    int count;
    int entry;
    int messageLoop;
    AddRecipient add;
};

constexpr RecipientSteps kToSteps{1031, 1031, 1032, 1033, &MailComponent::AddTo};
constexpr RecipientSteps kCcSteps{1034, 1035, 1036, 1037, &MailComponent::AddCc};
constexpr RecipientSteps kBccSteps{1038, 1039, 1040, 1041, &MailComponent::AddBcc};

void letMessageLoopRunTwice() {
    pumpWaitingMessages();
    pumpWaitingMessages();
}

void addRecipients(MailComponent& mail, const std::wstring& list, const RecipientSteps& steps, int& mark) {
    mark = steps.split;
    const auto entries = splitRecipientList(list);
    mark = steps.count;
    checkEntryCount16(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::wstring& entry = entries[i];
        // The one blank that an accepted suggestion leaves after its ";" is no entry.
        if (!entry.empty() && !(i > 0 && entry == L" ")) {
            mark = steps.entry;
            const AddressAndName recipient = splitRecipientEntry(entry);
            (mail.*steps.add)(recipient.address, recipient.name);
        }
        mark = steps.messageLoop;
        letMessageLoopRunTwice();
    }
}

void showDeliveryReport(const ComponentError& failure, int mark, const std::wstring& sender, const std::wstring& toList,
                        const std::wstring& ccList, const std::wstring& bccList, const std::wstring& server) {
    const std::wstring report = failureReport(L"Sending EMail Error in Ardwyn E-Mailer", failure,
                                              StepMark{L"Debug Code: ", mark}) +
                                L"\r\n"
                                L"\r\n"
                                L"From Address: " + sender + L"\r\n"
                                L"To: " + toList + L"\r\n"
                                L"cc: " + ccList + L"\r\n"
                                L"Bcc: " + bccList + L"\r\n"
                                L"SMTP Server: " + server;
    showMessageBox(report, L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace

bool DeliverMail(std::wstring body, const std::wstring& subject, const std::wstring& toList,
                 const std::wstring& ccList, const std::wstring& bccList, const std::wstring& server,
                 const std::wstring& sender, bool showError, bool html,
                 const MailComponentFactory& createMailComponent) {
    int mark = 0;
    std::unique_ptr<MailComponent> mail;
    std::optional<ComponentError> failure;
    try {
        mark = 1000;
        mail = createMailComponent();
        mark = 1011;
        mail->Server(server);
        mark = 1012;
        mail->Port(25);
        mark = 1013;
        mail->IsHTML(html);
        mark = 1014;
        const long openingBracket = findPosition16(sender, L'<');
        if (openingBracket != 0) {
            mark = 1018;
            if (findPosition16(sender, L'>', openingBracket) == 0) {
                mark = 1025;
                showMessageBox(L"Missing the Closing \">\" in the e-mail address!", L"Error", MB_OK | MB_ICONERROR);
                failure = ComponentError(0, L"", L"");
            } else {
                mark = 1020;
                const std::wstring name = sender.substr(0, static_cast<std::size_t>(openingBracket - 1));
                mark = 1021;
                const std::wstring address = sender.substr(
                    static_cast<std::size_t>(openingBracket),
                    sender.size() - static_cast<std::size_t>(openingBracket) - 1);
                mark = 1022;
                mail->FromAddress(address);
                mark = 1023;
                mail->FromName(name);
            }
        } else {
            mark = 1030;
            mail->FromAddress(sender);
        }
        if (!failure) {
            addRecipients(*mail, toList, kToSteps, mark);
            addRecipients(*mail, ccList, kCcSteps, mark);
            addRecipients(*mail, bccList, kBccSteps, mark);
            mark = 1042;
            mail->Subject(subject);
            mark = 1043;
            mail->Body(std::move(body));  // a page's body is the largest thing held: never twice
            mark = 1044;
            mail->Send();
            mark = 1045;
            letMessageLoopRunTwice();
            if (showError)
                for (const auto& notice : mail->notices()) ShowErrorWithTime(L"The message was sent, but " + notice);
            mail.reset();
            return true;
        }
    } catch (...) {
        failure = currentError();
    }
    const bool stopped = failure->number() == kMailErrorBase + static_cast<long>(MailFailure::Stopped);
    if (showError && !stopped) showDeliveryReport(*failure, mark, sender, toList, ccList, bccList, server);
    mail.reset();
    return false;
}

}  // namespace kt
