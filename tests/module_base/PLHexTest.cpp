// Hex conversion: digits, buffer bounds, and text that is not hex.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "module_base/PLHex.h"
#include "support/HResult.h"

namespace {

TEST(PLHexTest, DataToHexWritesTwoUpperCaseDigitsPerByteAndNeedsRoomForTheTerminator) {
    std::vector<BYTE> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
    std::vector<WCHAR> text(513, u'#');
    ASSERT_HR(PLConvertDataToHex(all.data(), 256, text.data(), 513), S_OK);
    EXPECT_EQ(std::u16string(text.data(), 6), u"000102");
    EXPECT_EQ(std::u16string(text.data() + 510, 3), std::u16string(u"FF\0", 3));

    const BYTE two[] = {0x00, 0xAB};
    WCHAR small[5] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_HR(PLConvertDataToHex(two, 2, small, 4), E_FAIL);
    EXPECT_EQ(small[0], u'#');  // nothing written (the host's export test gives it the room it needs)

    // Bad arguments; a count whose doubled size does not fit 32 bits is not taken for a small one.
    EXPECT_HR(PLConvertDataToHex(nullptr, 2, small, 5), E_POINTER);
    EXPECT_HR(PLConvertDataToHex(two, -1, small, 5), E_INVALIDARG);
    EXPECT_HR(PLConvertDataToHex(two, 0x40000000, small, 5), E_FAIL);
}

TEST(PLHexTest, HexToDataDecodesEitherCaseAndRefusesBadTextWithoutWriting) {
    // Text, room, result, bytes written on success.
    const std::tuple<const char16_t*, LONG, HRESULT, std::vector<BYTE>> cases[] = {
        {u"", 4, S_OK, {}},
        {u"00aBFf7e", 4, S_OK, {0x00, 0xAB, 0xFF, 0x7E}},
        {u"0102", 8, S_OK, {0x01, 0x02}},
        {u"ABC", 4, E_INVALIDARG, {}},
        {u"0g", 4, E_INVALIDARG, {}},
        {u"010203", 2, E_INVALIDARG, {}}};
    for (const auto& [hex, room, hr, bytes] : cases) {
        SCOPED_TRACE(testing::PrintToString(hex));
        std::vector<BYTE> out(8, 0xEE), expected = bytes;
        expected.resize(8, 0xEE);  // nothing written beyond the bytes, nothing at all on failure
        LONG count = room;
        ASSERT_HR(PLConvertHexToData(hex, out.data(), &count), hr);
        EXPECT_EQ(std::pair(out, count), std::pair(expected, hr == S_OK ? static_cast<LONG>(bytes.size()) : room));
    }
}

}  // namespace
