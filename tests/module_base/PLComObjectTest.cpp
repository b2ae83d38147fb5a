#include <gtest/gtest.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "tests/module_base/StreamTestSupport.h"

// clang-format off
constexpr GUID IID_ITestFirst = {0x1D7C3FCB, 0x9582, 0x46A9, {0x88, 0x0D, 0xF5, 0x8D, 0xC1, 0xD1, 0x69, 0x34}};
constexpr GUID IID_ITestSecond = {0xBFCFE630, 0x5AE2, 0x4AF0, {0xB3, 0xAF, 0x71, 0x17, 0xBD, 0xB5, 0xA4, 0xD4}};
// clang-format on

struct ITestFirst : IUnknown {
    virtual int First() = 0;
};
struct ITestSecond : IUnknown {
    virtual int Second() = 0;
};
PL_DECLARE_INTERFACE_ID(ITestFirst, IID_ITestFirst);
PL_DECLARE_INTERFACE_ID(ITestSecond, IID_ITestSecond);

namespace {

int g_destroyed = 0;

class TwoFaced : public CPLComObject<CPLReleaseModel>, public ITestFirst, public ITestSecond {
    PL_BEGIN_INTERFACE_MAP(TwoFaced, ITestFirst)
    PL_INTERFACE_ENTRY(ITestFirst)
    PL_INTERFACE_ENTRY(ITestSecond)
    PL_END_INTERFACE_MAP()
public:
    int First() override { return 1; }
    int Second() override { return 2; }

protected:
    ~TwoFaced() override { ++g_destroyed; }
};
PL_UNREGISTERED_CLASS(TwoFaced)

// Creation gives one reference, every sub-object shares one count, a smart pointer owns exactly
// one reference, and the last release destroys.
TEST(ComObjectTest, ReferencesAreCountedOnceForTheWholeObjectAndQueryInterfaceFollowsTheMap) {
    g_destroyed = 0;
    {
        PLComPtr<ITestFirst> first;
        ASSERT_HR(PLCreateObject<TwoFaced>(IID_ITestFirst, nullptr, first.PutVoid()), S_OK);
        PLComPtr<ITestFirst> copy(first);
        PLComPtr<ITestFirst> moved(std::move(copy));
        EXPECT_FALSE(copy);  // NOLINT: moved from
        const auto second = kdtest::As<ITestSecond>(moved);
        EXPECT_EQ(second->Second(), 2);
        EXPECT_EQ(second->AddRef(), 4u);  // first, moved, second and this one
        EXPECT_EQ(second->Release(), 3u);
        // QueryInterface follows the map; IUnknown is the main interface, never IPLComObject.
        EXPECT_EQ(static_cast<void*>(kdtest::As<IUnknown>(first).Get()), static_cast<void*>(first.Get()));
        void* untouched = reinterpret_cast<void*>(0x5);
        EXPECT_HR(first->QueryInterface(IID_IPLEventSource, &untouched), E_NOINTERFACE);
        EXPECT_EQ(untouched, reinterpret_cast<void*>(0x5));
        EXPECT_HR(first->QueryInterface(IID_ITestSecond, nullptr), E_POINTER);
    }
    EXPECT_EQ(g_destroyed, 1);
    // A creator whose query fails destroys the object at once.
    void* none = nullptr;
    EXPECT_HR(PLCreateObject<TwoFaced>(IID_IPLEventSource, nullptr, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(g_destroyed, 2);

    // The object part: its interface and class identifiers (S_FALSE for a class registered
    // without one) and an empty text, each refusing a missing place for it.
    PLComPtr<IPLComObject> object;
    ASSERT_HR(PLCreateObject<TwoFaced>(IID_IPLComObject, nullptr, object.PutVoid()), S_OK);
    GUID id{};
    EXPECT_HR(object->GetInterfaceID(&id), S_OK);
    EXPECT_EQ(id, IID_ITestFirst);
    EXPECT_HR(object->GetClassID(&id), S_FALSE);
    EXPECT_EQ(id, GUID_NULL);
    WCHAR text[2] = {u'x', u'x'};
    EXPECT_HR(object->GetObjectText(text, 2), S_OK);
    EXPECT_EQ(text[0], 0);
    EXPECT_HR(object->GetObjectText(text, 0), E_INVALIDARG);
    for (const HRESULT hr :
         {object->GetInterfaceID(nullptr), object->GetClassID(nullptr), object->GetObjectText(nullptr, 2),
          PLCreateObject<TwoFaced>(IID_ITestFirst, nullptr, nullptr)})
        EXPECT_HR(hr, E_POINTER);
}

TEST(ComObjectTest, RichErrorInfoHandsOverTheThreadsErrors) {
    PLClearThreadErrors();
    PLRecordErrorMessage("G", "C", "M", E_FAIL, 0, u"for the caller", 1);
    PLComPtr<IPLSupportRichErrorInfo> rich;
    ASSERT_HR(PLCreateObject<TwoFaced>(IID_IPLSupportRichErrorInfo, nullptr, rich.PutVoid()), S_OK);
    // Handed over: the second call finds the new list the thread started.
    for (const std::size_t expected : {1u, 0u}) {
        PLComPtr<IPLErrorInfo> errors;
        ASSERT_HR(rich->GetErrorInfo(errors.Put()), S_OK);
        EXPECT_EQ(kdtest::ReadList(errors.Get()).size(), expected);
    }
}

}  // namespace
