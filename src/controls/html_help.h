#pragma once
// HTML Help, the system's help viewer.

#include <windows.h>

#include <string>

namespace kt {

// Shows a topic given as "file.chm::/topic.htm>window" (ANSI text). The
// viewer reports a missing file or topic itself, if at all.
void displayHelpTopic(HWND caller, const std::string& topicPath);

}  // namespace kt
