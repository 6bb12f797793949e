#pragma once
// The one error type of the component: a number, a source and a description,
// thrown as an exception inside the component and stopped at its boundaries.

#include <exception>
#include <string>

namespace kt {

// Number of an error raised for a failed system call: the base plus the code.
constexpr long kApiErrorBase = -2147192504L;  // 0x80040000 + 29000

// Source of errors the component raises about its own work.
inline constexpr const wchar_t* kComponentName = L"KT_EMailer";

// Numbers of the component's own failures that are not system errors.
enum ComponentErrorNumber : long {
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrSubscriptOutOfRange = 9,
    kErrInternal = 51,
    kErrInvalidPropertyValue = 380,
};

class ComponentError : public std::exception {
public:
    ComponentError(long number, std::wstring source, std::wstring description);

    long number() const noexcept { return number_; }
    const std::wstring& source() const noexcept { return source_; }
    const std::wstring& description() const noexcept { return description_; }
    const char* what() const noexcept override;

private:
    long number_;
    std::wstring source_;
    std::wstring description_;
};

ComponentError overflowError();
ComponentError subscriptOutOfRangeError();

// The error that is in flight; call only inside a catch block. Failures that
// are not component errors (out of memory, a library exception) get the
// component's own numbers.
ComponentError currentError();

}  // namespace kt
