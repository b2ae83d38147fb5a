#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "inc_module_base/pl_helper_classes.h"

// A tracked value class (at namespace scope, so its name is plain).
class TrackedThing : public CMemoryMarker<TrackedThing> {
public:
    int payload[4] = {};
};

namespace {

struct Lockable : IPLLockable {
    int locks = 0, unlocks = 0;
    HRESULT lockResult = S_OK;
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IPLLockable) return E_NOINTERFACE;
        *out = static_cast<IPLLockable*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Lock() override {
        ++locks;
        return lockResult;
    }
    HRESULT Unlock() override {
        ++unlocks;
        return S_OK;
    }
};

struct NotLockable : IUnknown {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
};

TEST(WaitObjectTest, LocksOnceAndReleasesOnce) {
    Lockable object;
    {
        CWaitObject wait(&object);
        EXPECT_EQ(wait.GetLockCount(), 1);
        EXPECT_EQ(wait.Lock(), S_OK);
        EXPECT_EQ(wait.GetLockCount(), 2);
        EXPECT_EQ(object.locks, 1);
    }
    // Destroyed with two locks counted: the lock is released once (and a warning is written).
    EXPECT_EQ(object.unlocks, 1);
}

TEST(WaitObjectTest, FailuresLeaveNothingToRelease) {
    Lockable failing;
    failing.lockResult = E_FAIL;
    {
        CWaitObject wait(&failing);
        EXPECT_EQ(wait.GetLockCount(), 0);
        EXPECT_EQ(wait.Lock(), E_FAIL);
    }
    EXPECT_EQ(failing.unlocks, 0);
    NotLockable plain;
    CWaitObject none(&plain);
    EXPECT_EQ(none.Lock(), E_FAIL);
    CWaitObject null(nullptr);
    EXPECT_EQ(null.Lock(), E_FAIL);
}

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
    const uint8_t signature[8] = {0x35, 0x37, 0x39, 0xFF, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(block.signature, signature, 8), 0);
    EXPECT_EQ(block.owner, reinterpret_cast<uintptr_t>(static_cast<CMemoryMarker<TrackedThing>*>(tracked)));
    EXPECT_GE(block.creationTime, before);
    EXPECT_EQ(block.objectSize, sizeof(TrackedThing));
    EXPECT_STREQ(block.typeName, "TrackedThing");
    EXPECT_NE(block.callStack[0], 0u);
    EXPECT_EQ(block.reserved1, 0u);
    delete tracked;
}

TEST(ProcessSwitchesTest, PivotAndTracking) {
    EXPECT_EQ(PLGetTwoDigitYearPivot(), 10);
    PLSetTwoDigitYearPivot(30);
    EXPECT_EQ(PLGetTwoDigitYearPivot(), 30);
    PLSetTwoDigitYearPivot(10);
}

}  // namespace
