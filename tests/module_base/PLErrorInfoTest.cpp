#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>
#include <utility>

#include "module_base/KDXErrorItemCore.h"
#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLString.h"
#include "platform/Thread.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

PLComPtr<IPLErrorInfo> NewList() {
    return kdtest::New<IPLErrorInfo>(CLSID_PLErrorInfo);
}

HRESULT Add(IPLErrorInfo* list, const WCHAR* message, ULONG flag) {
    return list->AddError(u"Core Services", u"Cls", u"Meth", E_FAIL, 0, message, flag, u"/f.cpp", 9);
}

TEST(ErrorInfoTest, NewestItemComesFirstFlagOneStartsAgainNamesAreRequiredAndGettersCut) {
    auto list = NewList();
    for (const WCHAR* m : {u"first", u"second", u"third"}) Add(list.Get(), m, 0);
    const auto items = kdtest::ReadList(list.Get());  // from the last index back to 0
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].message, u"first");
    EXPECT_EQ(items[0].threadId, kd::platform::CurrentThreadId());
    PLComPtr<IPLErrorItem> item;
    for (const LONG index : {3, -1}) EXPECT_HR(list->GetItem(index, item.Put()), E_INVALIDARG);
    Add(list.Get(), u"chain", 1);
    EXPECT_EQ(kdtest::ReadList(list.Get()).size(), 1u);
    list->Clear();
    EXPECT_TRUE(kdtest::ReadList(list.Get()).empty());
    // A missing name is refused, and nothing is added; a missing source file is not needed.
    EXPECT_HR(list->AddError(u"g", nullptr, u"m", E_FAIL, 0, u"x", 0, nullptr, 0), E_POINTER);
    EXPECT_TRUE(kdtest::ReadList(list.Get()).empty());
    EXPECT_HR(list->AddError(u"g", u"c", u"m", S_OK, 2, u"x", 0, nullptr, 0), S_OK);

    // Item getters cut their text, and the item's view copies it.
    Add(list.Get(), u"message", 1);
    ASSERT_HR(list->GetItem(0, item.Put()), S_OK);
    WCHAR buffer[4];
    EXPECT_HR(item->GetModuleName(buffer, 4), S_FALSE);
    EXPECT_EQ(std::u16string(buffer), u"Cor");

    PLComPtr<IKDXErrorItemCore> core;
    ASSERT_HR(item->GetKDXErrorItemCore(core.Put()), S_OK);
    BSTR member = nullptr;
    ASSERT_HR(core->get_Member(&member), S_OK);
    EXPECT_EQ(std::u16string(member), u"Meth");
    SysFreeString(member);

    // Missing texts and places for results are refused by the item, its view and the list.
    const auto persist = kdtest::As<IPLPersistPropertyBag>(item);
    for (const HRESULT hr :
         {item->Initialize(u"m", u"c", u"m", E_FAIL, 0, nullptr, 0, u"", 0),
          item->Initialize(nullptr, u"c", u"m", E_FAIL, 0, u"x", 0, u"", 0), item->GetMessage(nullptr, 4),
          item->GetKDXErrorItemCore(nullptr), persist->Save(nullptr), persist->Load(nullptr), core->get_Member(nullptr),
          list->GetItem(0, nullptr), list->SaveToXML(nullptr), list->LoadFromXML(nullptr),
          kdtest::As<IPLCloneable>(list)->Clone(IID_IPLErrorInfo, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(item->GetMessage(buffer, 0), E_INVALIDARG);
    EXPECT_EQ(kdtest::ReadList(list.Get()).size(), 1u);
    // A clone is a new, empty list.
    EXPECT_TRUE(kdtest::ReadList(kdtest::Clone(list).Get()).empty());
}

TEST(ErrorInfoTest, LoadFromXMLReadsWholeItemsAndFailsWithoutTouchingTheList) {
    auto list = NewList();
    // An item as SaveToXML writes it (the saved lists' round trip checks its fields), with a long
    // message, in a list read with its names in other cases and a comment.
    const std::u16string longMessage(3000, u'm'),
        item =
            u"<ErrorItem><PROPERTY DATATYPE=\"String\" NAME=\"Class\">C</PROPERTY>"
            u"<PROPERTY DATATYPE=\"String\" NAME=\"Method\">M</PROPERTY>"
            u"<PROPERTY DATATYPE=\"String\" NAME=\"Module\">G</PROPERTY>"
            u"<PROPERTY DATATYPE=\"Long\" NAME=\"Result\">-2147024809</PROPERTY>"
            u"<PROPERTY DATATYPE=\"Long\" NAME=\"Type\">3</PROPERTY>"
            u"<PROPERTY DATATYPE=\"String\" NAME=\"Message\">" +
            longMessage + u"</PROPERTY></ErrorItem>";
    PLString text((u"<errorinfo>\n  <!-- saved -->\n  " + item + u"</errorinfo>").c_str());
    text.Replace(u"ErrorItem", u"ERRORITEM");
    ASSERT_HR(list->LoadFromXML(text.c_str()), S_OK);
    ASSERT_EQ(kdtest::ReadList(list.Get()).size(), 1u);
    PLComPtr<IPLErrorItem> loaded;
    ASSERT_HR(list->GetItem(0, loaded.Put()), S_OK);
    std::u16string message(4000, u'\0');
    EXPECT_HR(loaded->GetMessage(message.data(), 4000), S_OK);
    EXPECT_EQ(message.c_str(), longMessage);  // not cut to a fixed buffer
    EXPECT_EQ(kdtest::LongOf(loaded.Get(), &IPLErrorItem::GetMessageType), 3);

    // A text that fails, at the parser or at a later item, leaves the items as they were.
    for (const std::u16string& bad :
         {std::u16string(u"<ErrorInfo><ErrorItem>"),
          u"<ErrorInfo>" + item + u"<ErrorItem><PROPERTY NAME='Result'>12x</PROPERTY></ErrorItem></ErrorInfo>",
          std::u16string(u"<ErrorInfo><ErrorItem><PROPERTY>1</PROPERTY></ErrorItem></ErrorInfo>")}) {
        EXPECT_HR(list->LoadFromXML(bad.c_str()), E_FAIL);
        EXPECT_EQ(kdtest::ReadList(list.Get()).size(), 1u);
    }
    // Other elements are skipped; an empty list element empties the list.
    ASSERT_HR(list->LoadFromXML(u"<Other/>"), S_OK);
    EXPECT_EQ(kdtest::ReadList(list.Get()).size(), 0u);
}

// Messages quote what failed, awkward characters included: the list reads back whole, each
// character XML cannot hold dropped (the reader's retry removes the reference it is written as).
TEST(ErrorInfoTest, SavedListsLoadBackAndAreWellFormed) {
    auto list = NewList();
    const std::u16string longMessage = u"Parsing error <&> \"]]>\" \u00E9" + std::u16string(600, u'x');
    const std::pair<std::u16string, std::u16string> messages[] = {
        {longMessage, longMessage}, {u"", u""}, {u"a\u0001\u001F\uFFFE\uFFFF\r\n\tb", u"a\r\n\tb"}};
    for (const auto& [message, back] : messages)
        list->AddError(u"Core Services", u"C1", u"M1", E_POINTER, 2, message.c_str(), 0, u"/a.cpp", 1);
    PLComPtr<IPLVariant> xml;
    ASSERT_HR(list->SaveToXML(xml.Put()), S_OK);
    PLString saved;
    ASSERT_HR(GetPLStringFromVariant(xml.Get(), &saved), S_OK);
    auto loaded = NewList();
    ASSERT_HR(loaded->LoadFromXML(saved.c_str()), S_OK);
    const auto before = kdtest::ReadList(list.Get()), after = kdtest::ReadList(loaded.Get());
    ASSERT_EQ(after.size(), std::size(messages));
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(std::tuple(after[i].message, after[i].method, after[i].result),
                  std::tuple(messages[i].second.substr(0, 1023), before[i].method, before[i].result));
    // A message XML has no form for is refused, not changed.
    list->AddError(u"Core Services", u"C1", u"M1", E_POINTER, 2, u"\xDBFF", 0, u"/a.cpp", 1);
    EXPECT_HR(list->SaveToXML(xml.Put()), E_INVALIDARG);
    // An empty list saves as an empty list element.
    ASSERT_HR(NewList()->SaveToXML(xml.Put()), S_OK);
    ASSERT_HR(GetPLStringFromVariant(xml.Get(), &saved), S_OK);
    EXPECT_EQ(saved.view(), u"<ErrorInfo/>");
}

}  // namespace
