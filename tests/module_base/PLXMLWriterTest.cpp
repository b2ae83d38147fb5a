// The XML writer.
#include "module_base/PLXMLWriter.h"

#include <gtest/gtest.h>

#include <kdtrace/stream.h>

#include "tests/module_base/StreamTestSupport.h"

TEST(PLXMLWriter, AccumulatesAndHandsOutCopies) {
    auto writer = kdtest::New<IPLXMLWriter>(CLSID_PLXMLWriter);
    for (const WCHAR* text : {u"ab", u"\u00E9"}) ASSERT_HR(writer->Write(text), S_OK);
    EXPECT_EQ(kdtest::LongOf(writer.Get(), &IPLXMLWriter::GetSize), 3);
    const WCHAR* buffer = nullptr;
    EXPECT_HR(writer->GetBuffer(&buffer), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"ab\u00E9");
    BSTR xml = nullptr;
    ASSERT_HR(writer->GetXML(&xml), S_OK);
    EXPECT_EQ(std::u16string(xml, SysStringLen(xml)), u"ab\u00E9");
    SysFreeString(xml);

    // The stream is an independent copy of the UTF-16 bytes.
    PLComPtr<IPLStream> stream, empty;
    ASSERT_HR(writer->GetStream(stream.Put()), S_OK);
    ASSERT_HR(writer->Write(u"more"), S_OK);
    EXPECT_EQ(kdtest::LongOf(stream.Get(), &IPLStream::GetSize), 6);
    const auto bytes = kdtest::ReadBytes(stream.Get(), 8);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2), u"ab\u00E9");

    // An empty writer gives an empty stream; a missing text is refused.
    ASSERT_HR(kdtest::New<IPLXMLWriter>(CLSID_PLXMLWriter)->GetStream(empty.Put()), S_OK);
    EXPECT_EQ(kdtest::LongOf(empty.Get(), &IPLStream::GetSize), 0);
    EXPECT_HR(writer->Write(nullptr), E_POINTER);
    EXPECT_HR(writer->GetSize(nullptr), E_POINTER);  // the shared store-out guard refuses a null pointer
}
