#include <gtest/gtest.h>

#include <thread>

#include "module_base/PLError.h"
#include "module_base/PLThreadErrorStore.h"
#include "platform/Thread.h"
#include "support/ErrorList.h"

namespace {

HRESULT FailOnce(const char* message) {
    return PLGuard("Core", "Test", "FailOnce", [&](HRESULT& hr) { PL_THROW_ERROR(hr = E_FAIL, message, 0); });
}

LONG Count(IPLErrorInfo* list) {
    LONG n = -1;
    list->GetCount(&n);
    return n;
}

// Without an external error module the fallback store serves every thread.
TEST(ThreadErrorsTest, TheThreadKeepsOneListUntilItIsHandedOver) {
    PLClearThreadErrors();
    IPLErrorInfo* first = nullptr;
    IPLErrorInfo* second = nullptr;
    ASSERT_EQ(GetThreadError(&first), S_OK);
    ASSERT_EQ(GetThreadError(&second), S_OK);
    EXPECT_EQ(first, second);
    FailOnce("one");
    EXPECT_EQ(Count(first), 1);

    IPLErrorInfo* handed = nullptr;
    ASSERT_EQ(PLGetLastError(&handed), S_OK);
    EXPECT_EQ(handed, first);
    IPLErrorInfo* fresh = nullptr;
    ASSERT_EQ(GetThreadError(&fresh), S_OK);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(Count(fresh), 0);
    EXPECT_EQ(Count(handed), 1);  // the handed-over list keeps its items
    for (IPLErrorInfo* l : {first, second, handed, fresh}) l->Release();
    EXPECT_EQ(GetThreadError(nullptr), E_POINTER);
    EXPECT_EQ(PLGetLastError(nullptr), E_POINTER);
}

TEST(ThreadErrorsTest, SuspensionStateStartsFalseOnANewThread) {
    std::thread([] {
        BOOL state = TRUE;
        EXPECT_EQ(GetThreadErrorSuspensionState(&state), S_FALSE);
        EXPECT_FALSE(state);
        EXPECT_EQ(GetThreadErrorSuspensionState(&state), S_OK);
        EXPECT_EQ(SetThreadErrorSuspensionState(TRUE), S_OK);
        EXPECT_EQ(GetThreadErrorSuspensionState(&state), S_OK);
        EXPECT_TRUE(state);
        EXPECT_EQ(GetThreadErrorSuspensionState(nullptr), E_POINTER);
    }).join();
}

TEST(ThreadErrorsTest, AnEndedThreadLeavesNothingBehind) {
    CPLThreadErrorStore& store = CPLThreadErrorStore::Instance();
    const std::size_t before = store.ThreadCountForTesting();
    std::thread([] { FailOnce("gone soon"); }).join();
    // The thread's identifier may be reused; its list must not be handed to a later thread.
    EXPECT_EQ(store.ThreadCountForTesting(), before);
}

TEST(ThreadErrorsTest, StoreCallbackReachesListsCreatedLater) {
    static int calls = 0;
    CPLThreadErrorStore& store = CPLThreadErrorStore::Instance();
    store.SetErrorEventCallback(42, [](uintptr_t context, IPLErrorItem* item) {
        EXPECT_EQ(context, 42u);
        EXPECT_NE(item, nullptr);
        ++calls;
    });
    std::thread([] { FailOnce("with callback"); }).join();
    store.SetErrorEventCallback(0, nullptr);
    EXPECT_EQ(calls, 1);
}

}  // namespace
