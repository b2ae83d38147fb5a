#include <gtest/gtest.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLFactoryLoader.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

// clang-format off
constexpr GUID CLSID_Unregistered = {0x1A6CA1BF, 0x3B85, 0x4987, {0x94, 0x0A, 0xF0, 0x5E, 0xAF, 0x89, 0xA7, 0x2A}};
constexpr GUID CLSID_FailingThing = {0x58D33514, 0x9892, 0x4DB0, {0x9B, 0x10, 0x55, 0xC2, 0x73, 0x30, 0xB0, 0x81}};
constexpr GUID CLSID_TestHooked = {0x5D542C46, 0xC0FB, 0x4386, {0x9A, 0x81, 0x7D, 0xB5, 0xFB, 0x8E, 0x24, 0x26}};
constexpr GUID CLSID_Temporary = {0x5FBD19D5, 0x9BAE, 0x42BE, {0x82, 0x9E, 0x31, 0xA3, 0x5D, 0x77, 0x60, 0x06}};
// clang-format on

void* g_lastArgument = nullptr;

HRESULT FailingCreator(REFIID, void* argument, void** object) {
    g_lastArgument = argument;
    *object = nullptr;
    // The creator's own failure is recorded first; the caller appends to it.
    PLRecordErrorMessage("Core", "Creator", "Create", E_OUTOFMEMORY, 0, u"creator ran out", 1);
    return E_OUTOFMEMORY;
}

HRESULT OtherCreator(REFIID, void*, void**) {
    return E_NOTIMPL;
}

// A module-like object that offers the factory loader.
class LoaderObject : public CPLComObject<CPLReleaseModel>, public CPLFactoryLoader {
    PL_BEGIN_INTERFACE_MAP(LoaderObject, IPLFactoryLoader)
    PL_INTERFACE_ENTRY(IPLFactoryLoader)
    PL_END_INTERFACE_MAP()
protected:
    ~LoaderObject() override = default;
};
PL_UNREGISTERED_CLASS(LoaderObject)

using kdtest::ErrorLines;
// The messages of the thread's errors, handed over.
ErrorLines TakeMessages() {
    ErrorLines messages;
    for (const auto& e : kdtest::TakeThreadErrors()) messages.push_back(e.message);
    return messages;
}

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override { PLClearThreadErrors(); }
};

TEST_F(FactoryTest, UnknownClassesAndFailingCreatorsFailAndSaySo) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_HR(PLCreateInstance(CLSID_Unregistered, IID_IUnknown, &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(kdtest::TakeThreadErrors().size(), 1u);
    EXPECT_HR(PLCreateInstanceEx(CLSID_Unregistered, IID_IUnknown, nullptr, &object), E_FAIL);
    EXPECT_EQ(TakeMessages(),
              ErrorLines{u"Could not find class factory for class with GUID '1A6CA1BF-3B85-4987-940A-F05EAF89A72A'."});

    // A failing creator gets the argument; the failure is appended to the creator's own.
    ASSERT_HR(RegisterClassFactory(CLSID_FailingThing, &FailingCreator), S_OK);
    int argument = 0;
    EXPECT_HR(PLCreateInstanceEx(CLSID_FailingThing, IID_IUnknown, &argument, &object), E_OUTOFMEMORY);
    EXPECT_EQ(g_lastArgument, &argument);
    EXPECT_EQ(TakeMessages(), (ErrorLines{u"creator ran out",
                                          u"Could not create object with GUID "
                                          u"'58D33514-9892-4DB0-9B10-55C27330B081'."}));
}

TEST_F(FactoryTest, LoaderCreatesAndUnregistersAndCopiesKeepTheTargetsEntries) {
    PLComPtr<IPLFactoryLoader> loader;
    ASSERT_HR(PLCreateObject<LoaderObject>(IID_IPLFactoryLoader, nullptr, loader.PutVoid()), S_OK);
    PLComPtr<IPLErrorInfo> list;
    EXPECT_HR(loader->CreateInstance(CLSID_PLErrorInfo, IID_IPLErrorInfo, list.PutVoid()), S_OK);
    void* object = nullptr;
    EXPECT_HR(loader->CreateInstance(CLSID_PLErrorInfo, IID_IPLErrorItem, &object), E_NOINTERFACE);
    EXPECT_EQ(kdtest::TakeThreadErrors().size(), 1u);
    EXPECT_HR(loader->CreateInstance(CLSID_PLErrorInfo, IID_IPLErrorInfo, nullptr), E_POINTER);

    EXPECT_HR(loader->CreateInstanceEx(CLSID_Unregistered, IID_IUnknown, nullptr, &object), E_FAIL);
    EXPECT_EQ(kdtest::TakeThreadErrors().size(), 2u);

    PLCreatorFunction creator = nullptr;
    EXPECT_HR(loader->GetClassFactory(CLSID_PLErrorInfo, &creator), S_OK);
    EXPECT_NE(creator, nullptr);

    EXPECT_HR(loader->RegisterClassFactory(CLSID_Temporary, &OtherCreator), S_OK);
    EXPECT_HR(loader->UnregisterClassFactory(CLSID_Temporary), S_OK);
    EXPECT_HR(loader->UnregisterClassFactory(CLSID_Temporary), E_FAIL);  // gone

    // A copy keeps the target's own entries.
    CPLClassFactoryMap source, target;
    source.RegisterClassFactory(CLSID_Temporary, &OtherCreator);
    source.RegisterClassFactory(CLSID_FailingThing, &OtherCreator);
    target.RegisterClassFactory(CLSID_FailingThing, &FailingCreator);
    EXPECT_HR(CopyClassFactories(&source, &target), S_OK);
    EXPECT_EQ(target.FindClassFactory(CLSID_FailingThing), &FailingCreator);
    EXPECT_EQ(target.FindClassFactory(CLSID_Temporary), &OtherCreator);
}

TEST_F(FactoryTest, HookPullsInAnotherLibrarysClasses) {
    EXPECT_HR(HookClassFactories(u"/nonexistent/dir/nothing.dll"), E_FAIL);
    EXPECT_EQ(TakeMessages(), ErrorLines{u"Failed to load library [/nonexistent/dir/nothing.dll]"});
    EXPECT_HR(HookClassFactories(u"libm.so.6"), E_FAIL);
    EXPECT_EQ(TakeMessages(), ErrorLines{u"Class factory register function not found for library [libm.so.6]"});

    const PLCreatorFunction ownCreator = PLFindClassFactory(CLSID_PLErrorInfo);
    const std::u16string path = KDTRACE_TEST_LIB_DIR_U "/libkdtesthook.so";
    ASSERT_HR(HookClassFactories(path.c_str()), S_OK);
    PLComPtr<IUnknown> hooked;
    EXPECT_HR(PLCreateInstance(CLSID_TestHooked, IID_IUnknown, hooked.PutVoid()), S_OK);
    // The library's registration for an identifier already taken leaves the first creator.
    EXPECT_EQ(PLFindClassFactory(CLSID_PLErrorInfo), ownCreator);
}

}  // namespace
