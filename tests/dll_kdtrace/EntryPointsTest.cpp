// The module object and the module-table entry points, linked directly. (The host's view through
// dlopen is in tests/host/ModuleHostTest.cpp.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "HostObjects.h"
#include "module_base/PLModule.h"
#include "support/HResult.h"

namespace {

TEST(ModuleObjectTest, MethodsWaitForInitialisationAndGettersCheckTheirBuffers) {
    PLComPtr<IPLModule> module;  // a new object of the table's first module
    ASSERT_HR(GetPLModule(GUID_NULL, module.Put()), S_OK);
    WCHAR buffer[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
    // Every getter checks its buffer or out-pointer first (the original contract let three of
    // them write through a null pointer), then answers the initialisation status.
    using Getter = HRESULT (IPLModule::*)(WCHAR*, LONG);
    for (const Getter get :
         {&IPLModule::GetAPIVersion, &IPLModule::GetDBVersion, &IPLModule::GetVersion, &IPLModule::GetModuleName,
          &IPLModule::GetObjectName, &IPLModule::GetFriendlyName, &IPLModule::GetCoreAPIVersion}) {
        EXPECT_HR((module.Get()->*get)(nullptr, 5), E_POINTER);
        EXPECT_HR((module.Get()->*get)(buffer, 0), E_INVALIDARG);
        EXPECT_HR((module.Get()->*get)(buffer, -3), E_INVALIDARG);
        EXPECT_HR((module.Get()->*get)(buffer, 1), PL_E_MODULE_NOT_INITIALIZED);
    }
    GUID id{};
    IUnknown* object = nullptr;
    void* out = nullptr;
    EXPECT_HR(module->GetModuleID(nullptr), E_POINTER);
    EXPECT_HR(module->GetModuleObject(nullptr), E_POINTER);
    EXPECT_HR(module->ReservedB(nullptr, nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_HR(module->GetModuleID(&id), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_HR(module->GetModuleObject(&object), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_HR(module->ReservedA(nullptr, nullptr), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_HR(module->ReservedB(nullptr, nullptr, nullptr, nullptr, &out), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_HR(GetPLModule(GUID_NULL, nullptr), E_POINTER);
    ASSERT_HR(module->Initialize(nullptr), S_OK);
    EXPECT_HR(module->ReservedB(nullptr, nullptr, nullptr, nullptr, &out), E_NOTIMPL);
    ASSERT_HR(module->InitModule(), S_OK);  // runs again, same values
    EXPECT_HR(module->ReservedA(nullptr, nullptr), E_NOTIMPL);
    // The object name is given whole or not at all.
    EXPECT_HR(module->GetObjectName(buffer, 7), E_INVALIDARG);
    EXPECT_EQ(std::u16string(buffer, 2), std::u16string(u"\0x", 2));
    // Other texts are cut to fit, and nothing is written past the buffer.
    EXPECT_HR(module->GetFriendlyName(buffer, 7), S_OK);
    EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"Pellum\0x", 8));
}

// Threads initialise one module object again and again while others read it (ThreadSanitizer
// reports a write of the fields that races with the reads).
TEST(ModuleObjectTest, InitialisationRacesWithGettersSafely) {
    PLComPtr<IPLModule> module;
    ASSERT_HR(GetPLModule(GUID_NULL, module.Put()), S_OK);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t % 2 == 0 || i == 0) wrong += module->InitModule() != S_OK;
                WCHAR name[32] = {}, version[10] = {};
                GUID id{};
                wrong += module->GetModuleName(name, 32) != S_OK || std::u16string(name) != u"Pellum.TraceServices";
                wrong += module->GetAPIVersion(version, 10) != S_OK || std::u16string(version) != u"4.0.0-001";
                wrong += module->GetModuleID(&id) != S_OK || id != MODULEID_PLTraceServices;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(ModuleObjectTest, ImplementedModulesReportTheHostsFailures) {
    auto* factory = new kdhost::ModuleInfoFactory();
    IPLModuleInfoCollection* none = nullptr;
    EXPECT_HR(GetImplementedModules(nullptr, &none), E_POINTER);
    EXPECT_HR(GetImplementedModules(factory, nullptr), E_POINTER);
    // A host that cannot make a collection gets its status back and nothing written.
    factory->failCollection = true;
    IPLModuleInfoCollection* collection = reinterpret_cast<IPLModuleInfoCollection*>(0x1);
    EXPECT_HR(GetImplementedModules(factory, &collection), E_OUTOFMEMORY);
    EXPECT_EQ(collection, reinterpret_cast<IPLModuleInfoCollection*>(0x1));
    // A host that cannot make items gets an empty collection and that status.
    factory->failCollection = false;
    factory->failInfo = true;
    ASSERT_HR(GetImplementedModules(factory, &collection), E_OUTOFMEMORY);
    EXPECT_TRUE(static_cast<kdhost::ModuleInfoCollection*>(collection)->items.empty());
    collection->Release();
    factory->Release();
}

}  // namespace
