#include <gtest/gtest.h>

#include <thread>

#include "module_base/PLError.h"
#include "module_base/PLThreadErrorStore.h"
#include "platform/Thread.h"
#include "support/HResult.h"
#include "support/Process.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

HRESULT FailOnce(const char* message) {
    return PLGuardNamed("Core", "Test", "FailOnce", [&](HRESULT& hr) { PL_THROW_ERROR(hr = E_FAIL, message, 0); });
}

const auto Count = [](IPLErrorInfo* list) { return kdtest::LongOf(list, &IPLErrorInfo::GetCount); };

// Without an external error module the fallback store serves every thread.
TEST(ThreadErrorsTest, TheThreadKeepsOneListUntilItIsHandedOverAndTheCallbackReachesNewLists) {
    PLClearThreadErrors();
    IPLErrorInfo *first = nullptr, *handed = nullptr, *fresh = nullptr;
    ASSERT_HR(GetThreadError(&first), S_OK);
    FailOnce("one");
    EXPECT_EQ(Count(first), 1);  // the list read before the failure is the one that records it

    ASSERT_HR(PLGetLastError(&handed), S_OK);
    ASSERT_HR(GetThreadError(&fresh), S_OK);
    EXPECT_EQ(Count(fresh), 0);
    EXPECT_EQ(Count(handed), 1);  // the handed-over list keeps its items
    for (IPLErrorInfo* l : {first, handed, fresh}) l->Release();

    // The store's callback reaches lists created later.
    static int calls = 0;  // items handed to the callback
    CPLThreadErrorStore::Instance().SetErrorEventCallback(
        42, [](uintptr_t, IPLErrorItem* item) { calls += item != nullptr; });
    std::thread([] { FailOnce("with callback"); }).join();
    CPLThreadErrorStore::Instance().SetErrorEventCallback(0, nullptr);
    EXPECT_EQ(calls, 1);
}

// A host's thread_local object made before the thread first recorded is destroyed after the
// library's own thread-end work; an error it records then must not reach a later thread that the
// system gives the same identifier (chosen here in a namespace of the test's own).
struct LateFailure {
    bool armed = false;
    ~LateFailure() {
        if (armed) FailOnce("late");
    }
};
thread_local LateFailure t_lateFailure;

TEST(ThreadErrorsTest, ErrorsRecordedAsAThreadEndsDoNotReachALaterThread) {
    const int result = kdtest::InOwnPidNamespace([] {
        DWORD first = 0;
        std::thread([&] {
            first = kdtest::Gettid();
            t_lateFailure.armed = true;
            FailOnce("early");
        }).join();
        return kdtest::OnThreadWithId(first, [] {
            IPLErrorInfo* list = nullptr;
            const int wrong = GetThreadError(&list) != S_OK || Count(list) != 0;
            if (list != nullptr) list->Release();
            return wrong;
        });
    });
    if (result == kdtest::kUnsupported) GTEST_SKIP() << "no process-identifier namespace for this user";
    EXPECT_EQ(result, 0);
}

}  // namespace
