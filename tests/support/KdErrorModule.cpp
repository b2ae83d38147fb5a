// A stand-in for the external error module: keeps each thread's list itself and counts the
// module's requests to clear one, so a test can see that the module is used when present. With
// KDERROR_TEST_FAIL set in the environment its GetPLModule fails.
#include <kdtrace/kdtrace.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "HeapObject.h"

namespace {

std::atomic<int> g_clears{0};

// A list that only counts its messages.
struct TestErrorInfo : kdtest::HeapObject<IPLErrorInfo, IID_IPLErrorInfo> {
    std::atomic<LONG> count{0};
    HRESULT AddError(const WCHAR*, const WCHAR*, const WCHAR*, HRESULT, LONG, const WCHAR*, ULONG flag, const WCHAR*,
                     ULONG) override {
        count = flag != 0 ? 1 : count + 1;  // a flagged error starts the list again
        return S_OK;
    }
    HRESULT GetCount(LONG* out) override { return *out = count, S_OK; }
    HRESULT GetItem(LONG, IPLErrorItem**) override { return E_NOTIMPL; }
    HRESULT Clear() override { return count = 0, S_OK; }
    HRESULT RegisterErrorEvent(uintptr_t, PLErrorEventCallback) override { return S_OK; }
    HRESULT SaveToXML(IPLVariant**) override { return E_NOTIMPL; }
    HRESULT LoadFromXML(const WCHAR*) override { return E_NOTIMPL; }
};

std::mutex g_lock;
std::map<DWORD, TestErrorInfo*> g_lists;
std::map<DWORD, BOOL> g_suspension;

// The lists are the module's until it goes.
struct ListsRelease {
    ~ListsRelease() {
        for (auto& entry : g_lists) entry.second->Release();
    }
} g_listsRelease;

struct TestErrorModule : kdtest::HeapObject<IPLErrorModule, IID_IPLErrorModule> {
    HRESULT GetThreadError(DWORD thread, IPLErrorInfo** out) override {
        std::lock_guard<std::mutex> guard(g_lock);
        TestErrorInfo*& list = g_lists[thread];
        if (list == nullptr) list = new TestErrorInfo();
        list->AddRef();
        return *out = list, S_OK;
    }
    HRESULT ClearThreadErrors(DWORD thread) override {
        std::lock_guard<std::mutex> guard(g_lock);
        ++g_clears;
        // The thread keeps its (now empty) list.
        if (auto it = g_lists.find(thread); it != g_lists.end()) it->second->Clear();
        return S_OK;
    }
    HRESULT GetThreadErrorSuspensionState(DWORD thread, BOOL* state) override {
        std::lock_guard<std::mutex> guard(g_lock);
        return *state = g_suspension[thread], S_OK;
    }
    HRESULT SetThreadErrorSuspensionState(DWORD thread, BOOL state) override {
        std::lock_guard<std::mutex> guard(g_lock);
        return g_suspension[thread] = state, S_OK;
    }
};

}  // namespace

#define KDERROR_EXPORT extern "C" __attribute__((visibility("default")))

KDERROR_EXPORT HRESULT GetPLModule(REFGUID moduleId, IPLModule** module) {
    // KDERROR_TEST_FAIL: a present but broken error module, for the fallback paths.
    if (moduleId != MODULEID_PLErrorServices || std::getenv("KDERROR_TEST_FAIL") != nullptr) return E_FAIL;
    // The error module answers IPLErrorModule; a host asks for it with QueryInterface.
    *module = reinterpret_cast<IPLModule*>(static_cast<IPLErrorModule*>(new TestErrorModule()));
    return S_OK;
}

// Test access: how often the module asked to clear a thread's errors.
KDERROR_EXPORT int KdErrorTestClears() {
    return g_clears;
}
