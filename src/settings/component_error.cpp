#include "settings/component_error.h"

#include <new>
#include <utility>

namespace kt {

ComponentError::ComponentError(long number, std::wstring source, std::wstring description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {}

const char* ComponentError::what() const noexcept { return "KT_EMailer component error"; }

ComponentError overflowError() { return {kErrOverflow, kComponentName, L"Overflow"}; }

ComponentError subscriptOutOfRangeError() {
    return {kErrSubscriptOutOfRange, kComponentName, L"Subscript out of range"};
}

ComponentError currentError() {
    try {
        throw;
    } catch (const ComponentError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return {kErrOutOfMemory, kComponentName, L"Out of memory"};
    } catch (const std::exception& error) {
        std::wstring description = L"Internal error: ";
        for (const char* p = error.what(); *p; ++p) description += static_cast<unsigned char>(*p);
        return {kErrInternal, kComponentName, description};
    } catch (...) {
        return {kErrInternal, kComponentName, L"Internal error"};
    }
}

}  // namespace kt
