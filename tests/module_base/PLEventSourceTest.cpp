#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLEventSource.h"
#include "support/HResult.h"
#include "support/TraceFakes.h"

// clang-format off
constexpr GUID IID_ITestListener = {0x1F757290, 0xED5A, 0x4786, {0x84, 0x91, 0xAF, 0x01, 0x1C, 0x4B, 0xC7, 0xED}};
// clang-format on

struct ITestListener : IUnknown {
    virtual void OnEvent(int value) = 0;
};

namespace {

// A source that notifies ITestListener registrations.
class Source : public CPLComObject<CPLReleaseModel>, public CPLEventSource {
    PL_BEGIN_INTERFACE_MAP(Source, IPLEventSource)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()
public:
    // Registers the object itself (the classes that notify check the identifier and query first).
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override {
        AppendListenerRecord(object, object, iid);
        *cookie = object;
        return S_OK;
    }
    HRESULT Fire(int value) {
        return FireEvent<ITestListener>(IID_ITestListener, [value](ITestListener* l) { l->OnEvent(value); });
    }

protected:
    ~Source() override = default;
};
PL_UNREGISTERED_CLASS(Source)

// A listener that logs tag * 100 + value for each event it hears.
struct Listener final : kdtest::Fake<ITestListener> {
    explicit Listener(std::vector<int>* heard = nullptr, int id = 0) : Fake(IID_ITestListener), log(heard), tag(id) {}
    std::vector<int>* log;
    int tag;
    std::function<void()> during;
    void OnEvent(int value) override {
        if (log) log->push_back(tag * 100 + value);
        if (during) during();
    }
};

// What the listeners heard of one event (the log is emptied first).
std::vector<int> Heard(Source* source, std::vector<int>& log, int value, HRESULT expected = S_OK) {
    log.clear();
    EXPECT_HR(source->Fire(value), expected);
    return log;
}

TEST(EventSourceTest, DeliversInRegistrationOrderRemovesByCookieAndListenersMayChangeTheList) {
    IPLEventSource* raw = nullptr;
    ASSERT_HR(PLCreateObject<Source>(IID_IPLEventSource, nullptr, reinterpret_cast<void**>(&raw)), S_OK);
    const auto source = PLComPtr<Source>::Adopt(static_cast<Source*>(raw));
    EXPECT_HR(source->Fire(0), S_OK);  // no listeners
    std::vector<int> log;
    Listener a(&log, 1), b(&log, 2);
    void *cookieA = nullptr, *cookieB = nullptr, *cookieA2 = nullptr;
    ASSERT_HR(source->AddListener(IID_ITestListener, &a, &cookieA), S_OK);
    ASSERT_HR(source->AddListener(IID_ITestListener, &b, &cookieB), S_OK);
    ASSERT_HR(source->AddListener(IID_ITestListener, &a, &cookieA2), S_OK);  // a second record
    EXPECT_EQ(Heard(source.Get(), log, 7), (std::vector<int>{107, 207, 107}));

    EXPECT_HR(source->RemoveListener(cookieA), S_OK);  // the first record of a only
    EXPECT_EQ(Heard(source.Get(), log, 1), (std::vector<int>{201, 101}));
    EXPECT_HR(source->RemoveListener(cookieA2), S_OK);
    EXPECT_HR(source->RemoveListener(cookieA2), E_FAIL);
    // Only b is left. The status is the last query's; an object that stopped answering is skipped.
    b.answers = false;
    EXPECT_TRUE(Heard(source.Get(), log, 3, E_NOINTERFACE).empty());
    EXPECT_HR(source->RemoveListener(cookieB), S_OK);

    // Listeners may change the list while being called.
    Listener self(&log, 1), other(&log, 2), added(&log, 3);
    void *selfCookie = nullptr, *otherCookie = nullptr, *addedCookie = nullptr;
    source->AddListener(IID_ITestListener, &self, &selfCookie);
    source->AddListener(IID_ITestListener, &other, &otherCookie);
    self.during = [&] {
        source->RemoveListener(selfCookie);
        source->AddListener(IID_ITestListener, &added, &addedCookie);
        self.during = nullptr;
    };
    // The first event goes to the snapshot taken before the first call.
    EXPECT_EQ(Heard(source.Get(), log, 1), (std::vector<int>{101, 201}));
    EXPECT_EQ(Heard(source.Get(), log, 2), (std::vector<int>{202, 302}));
}

}  // namespace
