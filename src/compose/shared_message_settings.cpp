#include "compose/shared_message_settings.h"

namespace kt {

SharedMessageSettings& SharedMessageSettings::forThisThread() {
    thread_local SharedMessageSettings settings;
    return settings;
}

}  // namespace kt
