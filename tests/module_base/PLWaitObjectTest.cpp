#include <gtest/gtest.h>

#include "module_base/PLWaitObject.h"
#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

// A lockable object that counts its calls.
struct Lockable : kdtest::Fake<IPLLockable> {
    Lockable() : Fake(IID_IPLLockable) {}
    int locks = 0, unlocks = 0;
    HRESULT lockResult = S_OK;
    HRESULT Lock() override {
        ++locks;
        return lockResult;
    }
    HRESULT Unlock() override {
        ++unlocks;
        return S_OK;
    }
};

TEST(WaitObjectTest, LocksOnceAndReleasesOnce) {
    Lockable object;
    {
        CWaitObject wait(&object);
        EXPECT_HR(wait.Lock(), S_OK);
        EXPECT_EQ(object.locks, 1);
    }
    // Destroyed with two locks counted: the lock is released once (and a warning is written).
    EXPECT_EQ(object.unlocks, 1);
}

TEST(WaitObjectTest, AFailedLockLeavesNothingToRelease) {
    Lockable failing;
    failing.lockResult = E_FAIL;
    {
        CWaitObject wait(&failing);
        EXPECT_HR(wait.Lock(), E_FAIL);
    }
    EXPECT_EQ(failing.unlocks, 0);
}

}  // namespace
