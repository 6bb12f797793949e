#pragma once
// What all instances and windows on one thread share: the text of the
// information label for the next window, and whether a delivery is under
// way. One set exists for each thread that uses the component.

#include <string>

namespace kt {

struct SharedMessageSettings {
    std::wstring g_sInfoLabel;
    // A window's delivery lets the thread's messages through while it waits;
    // another window's Send must not start a delivery inside it.
    bool deliveryUnderway = false;

    // The set of the calling thread.
    static SharedMessageSettings& forThisThread();
};

}  // namespace kt
