#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "module_base/PLMemoryMarker.h"

// A tracked value class (at namespace scope, so its name is plain).
class TrackedThing : public CMemoryMarker<TrackedThing> {
public:
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
    const std::time_t before = std::time(nullptr);
    auto* tracked = new TrackedThing();
    PLSetMemoryTracking(false);
    const PLMemoryMarkerBlock& block = tracked->GetMarkerBlock();
    EXPECT_EQ(block.owner, reinterpret_cast<uintptr_t>(static_cast<CMemoryMarker<TrackedThing>*>(tracked)));
    EXPECT_GE(block.creationTime, before);
    EXPECT_EQ(block.objectSize, sizeof(TrackedThing));
    EXPECT_STREQ(block.typeName, "TrackedThing");
    EXPECT_NE(block.callStack[0], 0u);
    delete tracked;
}

}  // namespace
