#include "controls/push_button.h"

namespace kt {

void KT_CB::onCommand(WORD notification) {
    if (notification == BN_CLICKED) Click.raise();
}

}  // namespace kt
