#include <gtest/gtest.h>

#include <cstring>

#include "module_base/PLMemoryMarker.h"

// A tracked value class (at namespace scope, so its name is plain).
struct TrackedThing : CMemoryMarker<TrackedThing> {
    int payload[4] = {};
};

namespace {

TEST(MemoryMarkerTest, BlockIsZeroWithoutTrackingAndFilledWithIt) {
    PLSetMemoryTracking(false);
    auto* quiet = new TrackedThing();
    const PLMemoryMarkerBlock zero{};
    EXPECT_EQ(std::memcmp(&quiet->GetMarkerBlock(), &zero, sizeof zero), 0);
    delete quiet;

    PLSetMemoryTracking(true);
    auto* tracked = new TrackedThing();
    PLSetMemoryTracking(false);
    EXPECT_STREQ(tracked->GetMarkerBlock().typeName, "TrackedThing");
    delete tracked;
}

}  // namespace
