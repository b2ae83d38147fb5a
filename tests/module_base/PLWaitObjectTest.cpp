#include <gtest/gtest.h>

#include "module_base/PLWaitObject.h"
#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

// A lockable object that counts its calls; one that does not answer for IPLLockable is a plain
// IUnknown.
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
        EXPECT_EQ(wait.GetLockCount(), 1);
        EXPECT_HR(wait.Lock(), S_OK);
        EXPECT_EQ(wait.GetLockCount(), 2);
        EXPECT_EQ(object.locks, 1);
    }
    // Destroyed with two locks counted: the lock is released once (and a warning is written).
    EXPECT_EQ(object.unlocks, 1);
}

// An object whose lock fails, one that is not lockable, and none.
TEST(WaitObjectTest, FailuresLeaveNothingToRelease) {
    Lockable failing, plain;
    failing.lockResult = E_FAIL;
    plain.answers = false;
    const std::pair<const char*, IUnknown*> objects[] = {{"failing", &failing}, {"plain", &plain}, {"null", nullptr}};
    for (const auto& [name, object] : objects) {
        SCOPED_TRACE(name);
        CWaitObject wait(object);
        EXPECT_EQ(wait.GetLockCount(), 0);
        EXPECT_HR(wait.Lock(), E_FAIL);
    }
    EXPECT_EQ(failing.unlocks, 0);
    EXPECT_EQ(plain.locks, 0);
}

}  // namespace
