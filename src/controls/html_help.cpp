#include "controls/html_help.h"

namespace kt {
namespace {

constexpr UINT kHH_DISPLAY_TOPIC = 0;
using HtmlHelpWFunction = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

}  // namespace

void displayHelpTopic(HWND caller, const std::wstring& topicPath) {
    // Loaded once and never freed: the help window it opens outlives this call
    // and runs on the viewer's code.
    HMODULE viewer = GetModuleHandleW(L"hhctrl.ocx");
    if (!viewer) viewer = LoadLibraryW(L"hhctrl.ocx");
    if (!viewer) return;
    // The wide call: the component's folder may have a name the ANSI code page cannot write.
    const auto htmlHelpW = reinterpret_cast<HtmlHelpWFunction>(
        reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpW")));
    if (htmlHelpW) htmlHelpW(caller, topicPath.c_str(), kHH_DISPLAY_TOPIC, 0);
}

}  // namespace kt
