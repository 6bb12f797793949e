#include "controls/html_help.h"

namespace kt {
namespace {

constexpr UINT kHH_DISPLAY_TOPIC = 0;
using HtmlHelpAFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

}  // namespace

void displayHelpTopic(HWND caller, const std::string& topicPath) {
    // Loaded once and never freed: the help window it opens outlives this call
    // and runs on the viewer's code.
    HMODULE viewer = GetModuleHandleW(L"hhctrl.ocx");
    if (!viewer) viewer = LoadLibraryW(L"hhctrl.ocx");
    if (!viewer) return;
    const auto htmlHelpA = reinterpret_cast<HtmlHelpAFunction>(
        reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpA")));
    if (htmlHelpA) htmlHelpA(caller, topicPath.c_str(), kHH_DISPLAY_TOPIC, 0);
}

}  // namespace kt
