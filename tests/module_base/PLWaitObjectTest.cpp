#include <gtest/gtest.h>

#include "module_base/PLWaitObject.h"
#include "support/HResult.h"

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
        EXPECT_HR(wait.Lock(), S_OK);
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
        EXPECT_HR(wait.Lock(), E_FAIL);
    }
    EXPECT_EQ(failing.unlocks, 0);
    NotLockable plain;
    CWaitObject none(&plain);
    EXPECT_HR(none.Lock(), E_FAIL);
    CWaitObject null(nullptr);
    EXPECT_HR(null.Lock(), E_FAIL);
}

}  // namespace
