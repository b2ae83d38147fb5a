// A host built with -fnon-call-exceptions (as the kdtrace::fault_unwinding target of the CMake
// package builds one): a fault in its listener unwinds the listener's frame, so its destructors
// run, and FireMessage still ends with the fault.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "HostObjects.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

std::atomic<int> g_destroyed{0};
struct Counted {
    std::string text = std::string(40, 'x');
    ~Counted() { ++g_destroyed; }
};

struct Listener final : IPLTraceListener {
    std::atomic<int> refs{1};
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != IID_IPLTraceListener) return E_NOINTERFACE;
        *object = static_cast<IPLTraceListener*>(this);
        ++refs;
        return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override {
        const int n = --refs;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT OnTraceMessage(LONG first, LONG) override {
        Counted local;
        return *static_cast<volatile LONG*>(nullptr) + first + static_cast<LONG>(local.text.size());
    }
};

TEST(FaultUnwindHostTest, AFaultInAListenerRunsItsDestructorsAndEndsFireMessageWithTheFault) {
    kdhost::ModuleApi api;
    std::string error;
    ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
    api.PLClearThreadErrors();
    IPLTraceContext* context = nullptr;
    ASSERT_HR(api.PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContext, reinterpret_cast<void**>(&context)),
              S_OK);
    auto* listener = new Listener();
    void* cookie = nullptr;
    ASSERT_HR(context->AddListener(listener, &cookie), S_OK);
    for (int round = 1; round <= 3; ++round) {
        EXPECT_HR(context->FireMessage(1, 2), E_UNEXPECTED);
        EXPECT_EQ(g_destroyed, round);
        const auto items = kdtest::ReadThreadErrors(api.GetThreadError);
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0].method, u"FireMessage");
        EXPECT_EQ(kdhost::Narrow(items[0].message.c_str()).rfind("ACCESS_VIOLATION encountered. @CALL_STACK: 0x", 0),
                  0u);
    }
    EXPECT_EQ(listener->refs, 1);
    EXPECT_HR(context->RemoveListener(cookie), S_OK);
    listener->Release();
    context->Release();
}

}  // namespace
