#include "foundation/component_error.h"

#include <new>
#include <utility>

namespace kt {

ComponentError::ComponentError(long number, std::wstring source, std::wstring description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {}

const char* ComponentError::what() const noexcept { return "KT_EMailer component error"; }

ComponentError overflowError() { return {kErrOverflow, kComponentName, L"Overflow"}; }

ComponentError outOfMemoryError() { return {kErrOutOfMemory, kComponentName, L"Out of memory"}; }

ComponentError subscriptOutOfRangeError() {
    return {kErrSubscriptOutOfRange, kComponentName, L"Subscript out of range"};
}

ComponentError invalidPropertyValueError() {
    return {kErrInvalidPropertyValue, kComponentName, L"Invalid property value"};
}

ComponentError systemCallError(long code, std::wstring source, const std::wstring& systemText,
                               const std::wstring& doing) {
    if (doing.empty()) return {kApiErrorBase + code, std::move(source), systemText};
    std::wstring text = systemText;
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    return {kApiErrorBase + code, std::move(source), text.empty() ? doing : doing + L": " + text};
}

ComponentError currentError() {
    try {
        throw;
    } catch (const ComponentError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return outOfMemoryError();
    } catch (const std::exception& error) {
        std::wstring description = L"Internal error: ";
        for (const char* p = error.what(); *p; ++p) description += static_cast<unsigned char>(*p);
        return {kErrInternal, kComponentName, description};
    } catch (...) {
        return {kErrInternal, kComponentName, L"Internal error"};
    }
}

std::wstring failureReport(const std::wstring& task, const ComponentError& error, std::optional<StepMark> step,
                           const wchar_t* numberLead, const wchar_t* descriptionLead) {
    std::wstring report = task + numberLead + std::to_wstring(error.number()) + descriptionLead + error.description();
    if (step) report += L"\r\n\r\n" + std::wstring(step->label) + std::to_wstring(step->mark);
    return report;
}

}  // namespace kt
