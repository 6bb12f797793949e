#pragma once
// The shared error message box of the layout, the address book and the
// registry functions: the message framed with a heading and the time of day.

#include <string>

namespace kt {

// "ERROR - " + message + two line breaks + "Time of Error:" + the local time
// in the user's regional format; critical icon, OK only, titled "Error".
void ShowErrorWithTime(const std::wstring& message);

}  // namespace kt
