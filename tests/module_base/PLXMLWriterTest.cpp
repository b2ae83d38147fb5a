// The XML writer.
#include "module_base/PLXMLWriter.h"

#include <gtest/gtest.h>

#include <kdtrace/stream.h>

#include "module_base/PLError.h"
#include "tests/support/ErrorList.h"
#include "tests/support/HResult.h"

namespace {

PLComPtr<IPLXMLWriter> NewWriter() {
    PLComPtr<IPLXMLWriter> writer;
    EXPECT_HR(PLCreateInstance(CLSID_PLXMLWriter, writer), S_OK);
    return writer;
}

}  // namespace

TEST(PLXMLWriter, AccumulatesAndHandsOutCopies) {
    PLComPtr<IPLXMLWriter> writer = NewWriter();
    ASSERT_HR(writer->Write(u"ab"), S_OK);
    ASSERT_HR(writer->Write(u"\u00E9"), S_OK);
    LONG size = 0;
    const WCHAR* buffer = nullptr;
    EXPECT_HR(writer->GetSize(&size), S_OK);
    EXPECT_EQ(size, 3);
    EXPECT_HR(writer->GetBuffer(&buffer), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"ab\u00E9");
    BSTR xml = nullptr;
    ASSERT_HR(writer->GetXML(&xml), S_OK);
    EXPECT_EQ(std::u16string(xml, SysStringLen(xml)), u"ab\u00E9");
    SysFreeString(xml);

    // The stream is an independent copy of the UTF-16 bytes.
    PLComPtr<IPLStream> stream;
    ASSERT_HR(writer->GetStream(stream.Put()), S_OK);
    ASSERT_HR(writer->Write(u"more"), S_OK);
    LONG bytes = 0, read = 0;
    EXPECT_HR(stream->GetSize(&bytes), S_OK);
    EXPECT_EQ(bytes, 6);
    WCHAR back[4] = {};
    EXPECT_HR(stream->Read(reinterpret_cast<BYTE*>(back), 8, &read), S_OK);
    EXPECT_EQ(read, 6);
    EXPECT_EQ(std::u16string(back, 3), u"ab\u00E9");

    // An empty writer gives an empty stream; a missing text is refused and recorded.
    PLComPtr<IPLStream> empty;
    ASSERT_HR(NewWriter()->GetStream(empty.Put()), S_OK);
    EXPECT_HR(empty->GetSize(&bytes), S_OK);
    EXPECT_EQ(bytes, 0);
    PLClearThreadErrors();
    EXPECT_HR(writer->Write(nullptr), E_POINTER);
    const auto lines = kdtest::LinesOf(kdtest::TakeThreadErrors());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], u"Core Services|Utility Functions|CPLXMLWriter::Write|Invalid string pointer");
    EXPECT_HR(writer->GetSize(nullptr), E_POINTER);
}
