#include <gtest/gtest.h>

#include "inc_module_base/PLComObject.h"
#include "inc_module_base/PLErrorInfo.h"
#include "inc_module_base/PLString.h"
#include "platform/thread.h"

namespace {

PLComPtr<IPLErrorInfo> NewList() {
    PLComPtr<IPLErrorInfo> list;
    EXPECT_EQ(PLCreateInstance(CLSID_PLErrorInfo, IID_IPLErrorInfo, list.PutVoid()), S_OK);
    return list;
}

PLString MessageOf(IPLErrorItem* item) {
    WCHAR buffer[64];
    item->GetMessage(buffer, 64);
    return PLString(buffer);
}

HRESULT Add(IPLErrorInfo* list, const WCHAR* message, ULONG flag) {
    return list->AddError(u"Core Services", u"Cls", u"Meth", E_FAIL, 0, message, flag, u"/f.cpp", 9);
}

TEST(ErrorInfoTest, NewestItemComesFirst) {
    auto list = NewList();
    Add(list.Get(), u"first", 0);
    Add(list.Get(), u"second", 0);
    Add(list.Get(), u"third", 0);
    LONG count = 0;
    EXPECT_EQ(list->GetCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    PLComPtr<IPLErrorItem> item;
    ASSERT_EQ(list->GetItem(0, item.Put()), S_OK);
    EXPECT_EQ(MessageOf(item.Get()), PLString(u"third"));
    ASSERT_EQ(list->GetItem(2, item.Put()), S_OK);
    EXPECT_EQ(MessageOf(item.Get()), PLString(u"first"));
    EXPECT_EQ(list->GetItem(3, item.Put()), E_INVALIDARG);
    EXPECT_EQ(list->GetItem(-1, item.Put()), E_INVALIDARG);
    EXPECT_EQ(list->GetItem(0, nullptr), E_POINTER);
    EXPECT_EQ(list->GetCount(nullptr), E_POINTER);

    Add(list.Get(), u"chain", 1);
    list->GetCount(&count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list->Clear(), S_OK);
    list->GetCount(&count);
    EXPECT_EQ(count, 0);
}

TEST(ErrorInfoTest, ItemsRememberEverythingAndCutTheirText) {
    auto list = NewList();
    ASSERT_EQ(Add(list.Get(), u"message", 0), S_OK);
    PLComPtr<IPLErrorItem> item;
    ASSERT_EQ(list->GetItem(0, item.Put()), S_OK);
    WCHAR buffer[4];
    EXPECT_EQ(item->GetModuleName(buffer, 4), S_FALSE);
    EXPECT_EQ(PLString(buffer), PLString(u"Cor"));
    WCHAR exact[14];
    EXPECT_EQ(item->GetModuleName(exact, 14), S_OK);
    EXPECT_EQ(PLString(exact), PLString(u"Core Services"));
    EXPECT_EQ(item->GetModuleName(buffer, 0), E_INVALIDARG);
    EXPECT_EQ(item->GetClassName(nullptr, 4), E_POINTER);
    WCHAR one[1] = {u'x'};
    EXPECT_EQ(item->GetSourceFile(one, 1), S_FALSE);
    EXPECT_EQ(one[0], 0);
    HRESULT hr = 0;
    LONG type = -1;
    DWORD thread = 0;
    ULONG line = 0;
    EXPECT_EQ(item->GetHRESULT(&hr), S_OK);
    EXPECT_EQ(item->GetMessageType(&type), S_OK);
    EXPECT_EQ(item->GetThreadID(&thread), S_OK);
    EXPECT_EQ(item->GetSourceLine(&line), S_OK);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(thread, kd::platform::CurrentThreadId());
    EXPECT_EQ(line, 9u);
    EXPECT_EQ(item->GetHRESULT(nullptr), E_POINTER);
    EXPECT_EQ(item->GetThreadID(nullptr), E_POINTER);

    PLComPtr<IKDXErrorItemCore> core;
    ASSERT_EQ(item->GetKDXErrorItemCore(core.Put()), S_OK);
    BSTR member = nullptr;
    ASSERT_EQ(core->get_Member(&member), S_OK);
    EXPECT_EQ(PLString(member), PLString(u"Meth"));
    SysFreeString(member);
    BSTR file = nullptr;
    ASSERT_EQ(core->get_SourceFile(&file), S_OK);
    EXPECT_EQ(PLString(file), PLString(u"/f.cpp"));
    SysFreeString(file);
    HRESULT number = 0;
    ULONG coreLine = 0;
    core->get_Number(&number);
    core->get_SourceLine(&coreLine);
    EXPECT_EQ(number, E_FAIL);
    EXPECT_EQ(coreLine, 9u);
    EXPECT_EQ(core->get_Message(nullptr), E_POINTER);
    // The view answers its own interface and the object base's.
    PLComPtr<IPLComObject> base;
    EXPECT_EQ(core->QueryInterface(IID_IPLComObject, base.PutVoid()), S_OK);
    GUID iid{};
    EXPECT_EQ(base->GetInterfaceID(&iid), S_OK);
    EXPECT_EQ(iid, IID_IKDXErrorItemCore);
}

TEST(ErrorInfoTest, InitializeRejectsMissingNames) {
    PLComPtr<IPLErrorItem> item;
    ASSERT_EQ(PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, item.PutVoid()), S_OK);
    HRESULT initial = 0;
    item->GetHRESULT(&initial);
    EXPECT_EQ(initial, E_FAIL);
    EXPECT_EQ(item->Initialize(nullptr, u"c", u"m", S_OK, 0, u"x", 1, nullptr, 0), E_POINTER);
    EXPECT_EQ(item->Initialize(u"g", u"c", u"m", S_OK, 0, nullptr, 1, nullptr, 0), E_POINTER);
    EXPECT_EQ(item->Initialize(u"g", u"c", u"m", S_OK, 2, u"x", 1, nullptr, 0), S_OK);
    // A list refuses to add an item it cannot initialise, and keeps nothing.
    auto list = NewList();
    EXPECT_EQ(list->AddError(u"g", nullptr, u"m", E_FAIL, 0, u"x", 0, nullptr, 0), E_POINTER);
    LONG count = -1;
    list->GetCount(&count);
    EXPECT_EQ(count, 0);
}

TEST(ErrorInfoTest, CallbackSeesEachNewItem) {
    auto list = NewList();
    static std::vector<uintptr_t> seen;
    seen.clear();
    EXPECT_EQ(list->RegisterErrorEvent(7,
                                       [](uintptr_t context, IPLErrorItem* item) {
                                           EXPECT_NE(item, nullptr);
                                           seen.push_back(context);
                                       }),
              S_OK);
    Add(list.Get(), u"a", 0);
    Add(list.Get(), u"b", 1);
    EXPECT_EQ(seen, (std::vector<uintptr_t>{7, 7}));
}

TEST(ErrorInfoTest, ClonesAreEmptyAndInterfacesAreAnsweredInOrder) {
    auto list = NewList();
    Add(list.Get(), u"a", 0);
    PLComPtr<IPLCloneable> cloneable;
    ASSERT_EQ(list->QueryInterface(IID_IPLCloneable, cloneable.PutVoid()), S_OK);
    PLComPtr<IPLErrorInfo> clone;
    ASSERT_EQ(cloneable->Clone(IID_IPLErrorInfo, clone.PutVoid()), S_OK);
    LONG count = -1;
    clone->GetCount(&count);
    EXPECT_EQ(count, 0);
    EXPECT_NE(clone.Get(), list.Get());

    PLComPtr<IUnknown> unknown;
    ASSERT_EQ(list->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(list.Get()));
    PLComPtr<IPLComObject> object;
    EXPECT_EQ(list->QueryInterface(IID_IPLComObject, object.PutVoid()), S_OK);
    GUID clsid{};
    EXPECT_EQ(object->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PLErrorInfo);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(list->QueryInterface(IID_IPLErrorItem, &out), E_NOINTERFACE);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
    // XML forms come with the property bags: until then they say so.
    EXPECT_EQ(list->SaveToXML(nullptr), E_POINTER);
    EXPECT_EQ(list->LoadFromXML(u"<ErrorInfo/>"), E_NOTIMPL);
}

}  // namespace
