#pragma once
// The values SendEMail hands to the Send command without showing them, and
// the picker state of recipient picking. One set exists for each thread that
// uses the component, shared by all instances and windows on that thread.

#include <string>

namespace kt {

struct SharedMessageSettings {
    std::wstring g_sInfoLabel;
    std::wstring g_sHTMLBody;
    std::wstring g_sSMTPServer;
    std::wstring g_sFromAddress;
    bool g_bHTML = false;
    bool g_bShowError = false;
    short g_iPickerState = 0;

    // The set of the calling thread.
    static SharedMessageSettings& forThisThread();
};

}  // namespace kt
