#pragma once
// What all instances and windows on one thread share: the text of the
// information label for the next window, and which recipient field asked for
// the address picker. One set exists for each thread that uses the component.

#include <string>

namespace kt {

struct SharedMessageSettings {
    std::wstring g_sInfoLabel;
    short g_iPickerState = 0;

    // The set of the calling thread.
    static SharedMessageSettings& forThisThread();
};

}  // namespace kt
