// A host built with -fnon-call-exceptions (as the kdtrace::fault_unwinding target of the CMake
// package builds one): a fault in its listener unwinds the listener's frame, so its destructors
// run, and FireMessage still ends with the fault.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "HostObjects.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/TraceFakes.h"

namespace {

std::atomic<int> g_destroyed{0};
struct Counted {
    std::string text = std::string(40, 'x');
    ~Counted() { ++g_destroyed; }
};

struct Listener final : kdtest::HeapTraceListener {
    HRESULT OnTraceMessage(LONG first, LONG) override {
        Counted local;
        return *static_cast<volatile LONG*>(nullptr) + first + static_cast<LONG>(local.text.size());
    }
};

using FaultUnwindHostTest = kdtest::HostModuleTest;

TEST_F(FaultUnwindHostTest, AFaultInAListenerRunsItsDestructorsAndEndsFireMessageWithTheFault) {
    auto* context = Create<IPLTraceContext>(CLSID_PLTraceContext, IID_IPLTraceContext);
    ASSERT_NE(context, nullptr);
    auto* listener = new Listener();
    void* cookie = nullptr;
    ASSERT_HR(context->AddListener(listener, &cookie), S_OK);
    for (int round = 1; round <= 3; ++round) {
        EXPECT_HR(context->FireMessage(1, 2), E_UNEXPECTED);
        EXPECT_EQ(g_destroyed, round);
        const auto newest = kdtest::ReadThreadErrors(api.GetThreadError).at(0);
        EXPECT_EQ(newest.method, u"FireMessage");
        EXPECT_EQ(kdhost::Narrow(newest.message.c_str()).rfind("ACCESS_VIOLATION encountered. @CALL_STACK: 0x", 0), 0u);
    }
    EXPECT_EQ(listener->refs, 1u);
    EXPECT_HR(context->RemoveListener(cookie), S_OK);
    listener->Release();
    context->Release();
}

}  // namespace
