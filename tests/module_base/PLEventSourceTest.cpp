#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLEventSource.h"
#include "support/HResult.h"

// clang-format off
constexpr GUID IID_ITestListener = {0x1F757290, 0xED5A, 0x4786, {0x84, 0x91, 0xAF, 0x01, 0x1C, 0x4B, 0xC7, 0xED}};
// clang-format on

struct ITestListener : IUnknown {
    virtual void OnEvent(int value) = 0;
};

namespace {

// A source that accepts ITestListener registrations.
class Source : public CPLComObject<CPLReleaseModel>, public CPLEventSource {
    PL_BEGIN_INTERFACE_MAP(Source, IPLEventSource)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()
public:
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override {
        if (iid != IID_ITestListener) return E_NOINTERFACE;
        IUnknown* listener = nullptr;
        if (object->QueryInterface(iid, reinterpret_cast<void**>(&listener)) < 0) return E_INVALIDARG;
        AppendListenerRecord(listener, object, iid);
        *cookie = listener;
        listener->Release();
        return S_OK;
    }
    HRESULT Fire(int value) {
        return FireEvent<ITestListener>(IID_ITestListener, [value](ITestListener* l) { l->OnEvent(value); });
    }

protected:
    ~Source() override = default;
};
PL_UNREGISTERED_CLASS(Source)

// A listener that logs what it hears and counts its references.
struct Listener final : ITestListener {
    std::atomic<int> refs{1};
    std::vector<int>* log = nullptr;
    int tag = 0;
    bool answers = true;
    std::function<void()> during;
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!answers || (iid != IID_ITestListener && iid != IID_IUnknown)) return E_NOINTERFACE;
        *out = static_cast<ITestListener*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    void OnEvent(int value) override {
        if (log) log->push_back(tag * 100 + value);
        if (during) during();
    }
};

PLComPtr<Source> NewSource() {
    IPLEventSource* raw = nullptr;
    EXPECT_HR(PLCreateObject<Source>(IID_IPLEventSource, nullptr, reinterpret_cast<void**>(&raw)), S_OK);
    return PLComPtr<Source>::Adopt(static_cast<Source*>(raw));
}

TEST(EventSourceTest, DeliversInRegistrationOrderAndRemovesByCookie) {
    auto source = NewSource();
    EXPECT_HR(source->Fire(0), S_OK);  // no listeners
    std::vector<int> log;
    Listener a, b;
    a.log = b.log = &log;
    a.tag = 1;
    b.tag = 2;
    void *cookieA = nullptr, *cookieB = nullptr, *cookieA2 = nullptr;
    ASSERT_HR(source->AddListener(IID_ITestListener, &a, &cookieA), S_OK);
    ASSERT_HR(source->AddListener(IID_ITestListener, &b, &cookieB), S_OK);
    ASSERT_HR(source->AddListener(IID_ITestListener, &a, &cookieA2), S_OK);  // a second record
    EXPECT_HR(source->Fire(7), S_OK);
    EXPECT_EQ(log, (std::vector<int>{107, 207, 107}));
    EXPECT_EQ(a.refs, 1);  // the list keeps no reference, the delivery took and gave back its own

    EXPECT_HR(source->RemoveListener(cookieA), S_OK);  // the first record of a only
    log.clear();
    source->Fire(1);
    EXPECT_EQ(log, (std::vector<int>{201, 101}));
    EXPECT_HR(source->RemoveListener(cookieA2), S_OK);
    EXPECT_HR(source->RemoveListener(cookieA2), E_FAIL);
    void* unused = nullptr;
    EXPECT_HR(source->AddListener(IID_IPLEventSource, &a, &unused), E_NOINTERFACE);
    EXPECT_EQ(source->GetListenerRecords().size(), 1u);

    // The status is the last query's; an object that stopped answering is skipped.
    b.answers = false;
    log.clear();
    EXPECT_HR(source->Fire(3), E_NOINTERFACE);
    EXPECT_TRUE(log.empty());
}

TEST(EventSourceTest, ListenersMayChangeTheListWhileBeingCalled) {
    auto source = NewSource();
    std::vector<int> log;
    Listener self, other, added;
    self.log = other.log = added.log = &log;
    self.tag = 1;
    other.tag = 2;
    added.tag = 3;
    void* selfCookie = nullptr;
    void* otherCookie = nullptr;
    void* addedCookie = nullptr;
    source->AddListener(IID_ITestListener, &self, &selfCookie);
    source->AddListener(IID_ITestListener, &other, &otherCookie);
    self.during = [&] {
        source->RemoveListener(selfCookie);
        source->AddListener(IID_ITestListener, &added, &addedCookie);
        self.during = nullptr;
    };
    source->Fire(1);  // works on the snapshot taken before the first call
    EXPECT_EQ(log, (std::vector<int>{101, 201}));
    log.clear();
    source->Fire(2);
    EXPECT_EQ(log, (std::vector<int>{202, 302}));
}

TEST(EventSourceTest, ManyListenersMoveTheSnapshotToTheHeap) {
    auto source = NewSource();
    std::vector<int> log;
    std::vector<Listener> listeners(20);
    void* cookie = nullptr;
    for (int i = 0; i < 20; ++i) {
        listeners[i].log = &log;
        listeners[i].tag = i;
        source->AddListener(IID_ITestListener, &listeners[i], &cookie);
    }
    source->Fire(0);
    ASSERT_EQ(log.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(log[i], i * 100);
}

}  // namespace
