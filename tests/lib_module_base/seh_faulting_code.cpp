// Code that faults on purpose. Built without the sanitizers, so that the processor faults.
#include <atomic>

#include "tests/lib_module_base/seh_test_support.h"

namespace {

volatile int* volatile g_null = nullptr;
volatile int g_recursionLimit = 0x7FFFFFFF;

class FaultListener final : public ITestFaultListener {
public:
    explicit FaultListener(int* calls) : m_calls(calls) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IUnknown || iid == IID_ITestFaultListener)) return E_NOINTERFACE;
        *object = static_cast<ITestFaultListener*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT OnEvent(LONG kind) override {
        ++*m_calls;
        if (kind == kEventNullRead) return ReadThroughNull();
        if (kind == kEventDivideByZero) return DivideBy(0);
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refs{1};
    int* m_calls;
};

}  // namespace

__attribute__((noinline)) int ReadThroughNull() {
    return *g_null;
}

std::uintptr_t ReadThroughNullAddress() {
    return reinterpret_cast<std::uintptr_t>(&ReadThroughNull);
}

__attribute__((noinline)) int DivideBy(int divisor) {
    volatile int dividend = 1000;
    volatile int d = divisor;
    return dividend / d;
}

__attribute__((noinline)) int OverflowStack(int depth) {
    volatile char pad[2048];
    pad[0] = static_cast<char>(depth);
    if (depth == g_recursionLimit) return pad[0];
    return OverflowStack(depth + 1) + pad[0];
}

ITestFaultListener* NewFaultListener(int* calls) {
    return new FaultListener(calls);
}
