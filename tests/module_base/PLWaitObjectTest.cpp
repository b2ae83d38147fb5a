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

// A lock taken once is released once, even when Lock was called again (a warning is written);
// one that failed is not released.
TEST(WaitObjectTest, ReleasesOnlyALockItTook) {
    Lockable object, failing;
    failing.lockResult = E_FAIL;
    {
        CWaitObject wait(&object), refused(&failing);
        EXPECT_HR(wait.Lock(), S_OK);
        EXPECT_HR(refused.Lock(), E_FAIL);
        EXPECT_EQ(object.locks, 1);
    }
    EXPECT_EQ(std::pair(object.unlocks, failing.unlocks), std::pair(1, 0));
}

}  // namespace
