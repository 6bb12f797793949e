#pragma once
// HTML Help, the system's help viewer.

#include <windows.h>

#include <string>

namespace kt {

// Shows a topic given as "file.chm::/topic.htm>window". The viewer reports a
// missing file or topic itself, if at all.
void displayHelpTopic(HWND caller, const std::wstring& topicPath);

}  // namespace kt
