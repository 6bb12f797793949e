// An event reaches its listener for as long as that listener's own
// subscription lives, whatever becomes of earlier ones.

#include "controls/event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kt {

TEST(Event, OnlyItsOwnSubscriptionDisconnectsAListener) {
    Event<int> event;
    std::vector<std::string> heard;
    Subscription older = event.subscribe([&](int n) { heard.push_back("older " + std::to_string(n)); });
    Subscription newer = event.subscribe([&](int n) { heard.push_back("newer " + std::to_string(n)); });
    older.reset();  // as a window does when it lets go of a picker it replaced
    EXPECT_TRUE(event.raise(1));
    newer.reset();
    EXPECT_FALSE(event.raise(2));
    EXPECT_EQ(heard, std::vector<std::string>{"newer 1"});
}

}  // namespace kt
