#include <gtest/gtest.h>

#include <kdtrace/kdtrace.h>

#include "dll_kdtrace/PLTraceModule.h"
#include "host_objects.h"
#include "inc_module_base/pl_helper_classes.h"
#include "inc_module_base/plmodule.h"
#include "support/error_list.h"

namespace {

PLComPtr<IPLModule> GetModule(const GUID& id = GUID_NULL) {
    PLComPtr<IPLModule> module;
    EXPECT_EQ(GetPLModule(id, module.Put()), S_OK);
    return module;
}

std::u16string Text(IPLModule* module, HRESULT (IPLModule::*getter)(WCHAR*, LONG), LONG size = 255,
                    HRESULT* result = nullptr) {
    WCHAR buffer[256] = {u'?'};
    const HRESULT hr = (module->*getter)(buffer, size);
    if (result) *result = hr;
    return hr < 0 ? u"<failed>" : std::u16string(buffer);
}

TEST(ModuleObjectTest, GettersWaitForInitialisation) {
    auto module = GetModule();
    WCHAR buffer[32];
    EXPECT_EQ(module->GetModuleName(buffer, 32), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_EQ(module->GetAPIVersion(buffer, 32), PL_E_MODULE_NOT_INITIALIZED);
    GUID id{};
    EXPECT_EQ(module->GetModuleID(&id), PL_E_MODULE_NOT_INITIALIZED);
    EXPECT_EQ(module->ReservedA(nullptr, nullptr), PL_E_MODULE_NOT_INITIALIZED);
    // Argument checks come first.
    EXPECT_EQ(module->GetModuleName(nullptr, 32), E_POINTER);
    EXPECT_EQ(module->GetModuleName(buffer, 0), E_INVALIDARG);
    EXPECT_EQ(module->ReservedB(nullptr, nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(module->ReservedC(nullptr, nullptr), E_NOTIMPL);

    ASSERT_EQ(module->InitModule(), S_OK);
    ASSERT_EQ(module->Initialize(nullptr), S_OK);  // runs again, same values
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetModuleName), u"Pellum.TraceServices");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetObjectName), u"kdtrace");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetFriendlyName), u"Pellum Trace Services Module");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetAPIVersion), u"4.0.0-001");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetVersion), u"4.0.0-001");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetCoreAPIVersion), u"0.0.0-100");
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetDBVersion), u"");
    EXPECT_EQ(module->GetModuleID(&id), S_OK);
    EXPECT_EQ(id, MODULEID_PLTraceServices);
    IUnknown* object = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(module->GetModuleObject(&object), S_OK);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module->ReservedA(nullptr, nullptr), E_NOTIMPL);
    void* out = nullptr;
    EXPECT_EQ(module->ReservedB(nullptr, nullptr, nullptr, nullptr, &out), E_NOTIMPL);
}

TEST(ModuleObjectTest, BuffersAreCutButNeverOverrun) {
    auto module = GetModule();
    module->InitModule();
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetAPIVersion, 5, &hr), u"4.0.");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Text(module.Get(), &IPLModule::GetModuleName, 1, &hr), u"");
    EXPECT_EQ(hr, S_OK);
    // The object name is given whole or not at all.
    WCHAR buffer[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(module->GetObjectName(buffer, 7), E_INVALIDARG);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'x');
    EXPECT_EQ(module->GetObjectName(buffer, 8), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"kdtrace");
    // The three getters the original contract left unchecked check their buffer too.
    EXPECT_EQ(module->GetAPIVersion(nullptr, 5), E_POINTER);
    EXPECT_EQ(module->GetDBVersion(buffer, 0), E_INVALIDARG);
    EXPECT_EQ(module->GetVersion(buffer, -3), E_INVALIDARG);
}

TEST(ModuleObjectTest, IdentityAndInterfaces) {
    auto a = GetModule();
    auto b = GetModule(MODULEID_PLTraceServices);
    EXPECT_NE(a.Get(), b.Get());  // a new module object per request
    IPLModule* untouched = reinterpret_cast<IPLModule*>(0x1);
    EXPECT_EQ(GetPLModule(CLSID_PLTraceModule, &untouched), E_FAIL);
    EXPECT_EQ(untouched, reinterpret_cast<IPLModule*>(0x1));
    PLComPtr<IPLComObject> object;
    ASSERT_EQ(a->QueryInterface(IID_IPLComObject, object.PutVoid()), S_OK);
    GUID clsid{};
    EXPECT_EQ(object->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PLTraceModule);
    void* loader = nullptr;
    EXPECT_EQ(a->QueryInterface(IID_IPLFactoryLoader, &loader), E_NOINTERFACE);
}

TEST(ModuleObjectTest, SwitchesAreProcessWide) {
    auto module = GetModule();
    EXPECT_EQ(module->SetMemoryTracking(1), S_OK);
    EXPECT_TRUE(PLGetMemoryTracking());
    EXPECT_EQ(module->SetMemoryTracking(2), S_OK);
    EXPECT_FALSE(PLGetMemoryTracking());
    EXPECT_EQ(module->SetTwoDigitYearPivot(25), S_OK);
    EXPECT_EQ(PLGetTwoDigitYearPivot(), 25);
    module->SetTwoDigitYearPivot(10);
}

// A module class without its own properties.
class BareModule : public CPLComObject<CPLReleaseModel>, public CPLModule {
    PL_BEGIN_INTERFACE_MAP(BareModule, IPLModule)
    PL_INTERFACE_ENTRY(IPLModule)
    PL_END_INTERFACE_MAP()
public:
    HRESULT GetInterfaceID(GUID* iid) override {
        *iid = IID_IPLModule;
        return S_OK;
    }
};

TEST(ModuleObjectTest, AModuleWithoutPropertiesSaysSo) {
    PLClearThreadErrors();
    PLComPtr<IPLModule> bare;
    ASSERT_EQ(PLCreateObject<BareModule>(IID_IPLModule, nullptr, bare.PutVoid()), S_OK);
    EXPECT_EQ(bare->InitModule(), PL_E_NO_MODULE_PROPERTY_MAP);
    WCHAR buffer[8];
    EXPECT_EQ(bare->GetModuleName(buffer, 8), PL_E_MODULE_NOT_INITIALIZED);
    IPLErrorInfo* list = nullptr;
    PLGetLastError(&list);
    const auto errors = kdtest::ReadList(list);
    list->Release();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, u"No module property map defined.");
    EXPECT_EQ(errors[0].className, u"CPLModule");
    EXPECT_EQ(errors[0].method, u"__Init");
}

// clang-format off
constexpr GUID MODULEID_Shared = {0xF2AFB304, 0xE6B9, 0x453C, {0x96, 0x3F, 0x24, 0xC6, 0x65, 0x7C, 0xF2, 0xB4}};
// clang-format on
IPLModule* g_sharedSlot = nullptr;
IPLModule** SharedSlot() {
    return &g_sharedSlot;
}

TEST(ModuleObjectTest, InstanceAccessorSharesOneModuleObject) {
    const PLModuleTableRow table[] = {
        {&MODULEID_PLTraceServices, &CLSID_PLTraceModule, nullptr},
        {&MODULEID_Shared, &CLSID_PLTraceModule, &SharedSlot},
    };
    PLComPtr<IPLModule> first, second, plain;
    ASSERT_EQ(PLGetModuleFromTable(table, 2, MODULEID_Shared, first.Put()), S_OK);
    ASSERT_EQ(PLGetModuleFromTable(table, 2, MODULEID_Shared, second.Put()), S_OK);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(first.Get(), g_sharedSlot);
    ASSERT_EQ(PLGetModuleFromTable(table, 2, GUID_NULL, plain.Put()), S_OK);  // the first row
    EXPECT_NE(plain.Get(), first.Get());
    g_sharedSlot->Release();
    g_sharedSlot = nullptr;
}

TEST(ModuleObjectTest, ImplementedModulesFillTheHostsCollection) {
    auto* factory = new kdhost::ModuleInfoFactory();
    IPLModuleInfoCollection* collection = nullptr;
    ASSERT_EQ(GetImplementedModules(factory, &collection), S_OK);
    auto* list = static_cast<kdhost::ModuleInfoCollection*>(collection);
    ASSERT_EQ(list->items.size(), 1u);
    auto* info = static_cast<kdhost::ModuleInfo*>(list->items[0]);
    EXPECT_EQ(info->fields[0], u"Pellum.TraceServices");
    EXPECT_EQ(info->fields[1], u"kdtrace");
    EXPECT_EQ(info->fields[2], u"Pellum Trace Services Module");
    EXPECT_EQ(info->fields[3], u"14499BE2-1A69-4DCE-9F74-1F53B069D50E");
    EXPECT_EQ(info->fields[4], u"4.0.0-001");
    EXPECT_EQ(info->fields[5], u"");
    EXPECT_EQ(info->fields[6], u"0.0.0-100");
    collection->Release();

    // A host that cannot make a collection gets its status back and nothing written.
    factory->failCollection = true;
    collection = reinterpret_cast<IPLModuleInfoCollection*>(0x1);
    EXPECT_EQ(GetImplementedModules(factory, &collection), E_OUTOFMEMORY);
    EXPECT_EQ(collection, reinterpret_cast<IPLModuleInfoCollection*>(0x1));
    // A host that cannot make items gets an empty collection and that status.
    factory->failCollection = false;
    factory->failInfo = true;
    ASSERT_EQ(GetImplementedModules(factory, &collection), E_OUTOFMEMORY);
    EXPECT_TRUE(static_cast<kdhost::ModuleInfoCollection*>(collection)->items.empty());
    collection->Release();
    factory->Release();
    EXPECT_EQ(GetImplementedModules(nullptr, &collection), E_POINTER);
}

}  // namespace
