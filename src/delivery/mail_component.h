#pragma once
// The operations through which the delivery drives a mail component: one
// message per instance, set up in a fixed order and sent by Send. Every
// operation reports failure by throwing a ComponentError with the
// component's own number and description.

#include <optional>
#include <string>
#include <vector>

namespace kt {

class MailComponent {
public:
    virtual ~MailComponent() = default;

    virtual void Server(const std::wstring& server) = 0;
    virtual void Port(long port) = 0;
    virtual void IsHTML(bool html) = 0;
    virtual void FromAddress(const std::wstring& address) = 0;
    virtual void FromName(const std::wstring& name) = 0;
    virtual void AddTo(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) = 0;
    virtual void AddCc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) = 0;
    virtual void AddBcc(const std::wstring& address, const std::optional<std::wstring>& name = std::nullopt) = 0;
    virtual void Subject(const std::wstring& subject) = 0;
    virtual void Body(std::wstring body) = 0;
    // Returns when the message was accepted by the server, or throws.
    virtual void Send() = 0;
    // Once the message went: what went wrong beside it, each to follow
    // "The message was sent, but " (a sign-in that could not be kept).
    virtual std::vector<std::wstring> notices() const { return {}; }
};

}  // namespace kt
