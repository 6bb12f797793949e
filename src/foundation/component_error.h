#pragma once
// The one error type of the component: a number, a source and a description,
// thrown as an exception inside the component and stopped at its boundaries.

#include <exception>
#include <optional>
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
ComponentError outOfMemoryError();
ComponentError subscriptOutOfRangeError();
ComponentError invalidPropertyValueError();

// A failed system call: the base plus the system's code, the system's text
// for it as the description, or "<doing>: <text>" when `doing` says what the
// call was for (the text's closing line break then goes).
ComponentError systemCallError(long code, std::wstring source, const std::wstring& systemText,
                               const std::wstring& doing);

// The error that is in flight; call only inside a catch block. Failures that
// are not component errors (out of memory, a library exception) get the
// component's own numbers.
ComponentError currentError();

// The step a failure report names: "Debug Code: 1032".
struct StepMark {
    const wchar_t* label;
    int mark;
};

// A failure as the user reads it: the task, the error's number after
// `numberLead`, its description after `descriptionLead`, and the step mark
// after an empty line when there is one.
std::wstring failureReport(const std::wstring& task, const ComponentError& error,
                           std::optional<StepMark> step = std::nullopt,
                           const wchar_t* numberLead = L"\r\nError Number: ", const wchar_t* descriptionLead = L"\r\n");

}  // namespace kt
