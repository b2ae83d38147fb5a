// Hex conversion: digits, buffer bounds, and text that is not hex.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_base/PLHex.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

std::u16string LastMessage() {
    const auto errors = kdtest::TakeThreadErrors();
    return errors.empty() ? std::u16string() : errors.back().message;
}

TEST(PLHexTest, DataToHexWritesTwoUpperCaseDigitsPerByteAndNeedsRoomForTheTerminator) {
    std::vector<BYTE> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
    std::vector<WCHAR> text(513, u'#');
    ASSERT_HR(PLConvertDataToHex(all.data(), 256, text.data(), 513), S_OK);
    EXPECT_EQ(std::u16string(text.data(), 6), u"000102");
    EXPECT_EQ(std::u16string(text.data() + 2 * 0xAB, 2), u"AB");
    EXPECT_EQ(std::u16string(text.data() + 510, 3), std::u16string(u"FF\0", 3));

    const BYTE two[] = {0x00, 0xAB};
    WCHAR small[5] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_HR(PLConvertDataToHex(two, 2, small, 4), E_FAIL);
    EXPECT_EQ(LastMessage(), u"Insufficent buffer size passed for hex string.");
    EXPECT_EQ(small[0], u'#');
    EXPECT_HR(PLConvertDataToHex(two, 2, small, 5), S_OK);
    EXPECT_EQ(std::u16string(small), u"00AB");

    EXPECT_HR(PLConvertDataToHex(nullptr, 2, small, 5), E_POINTER);
    EXPECT_HR(PLConvertDataToHex(two, 2, nullptr, 5), E_POINTER);
    EXPECT_HR(PLConvertDataToHex(two, 0, small, 5), E_INVALIDARG);
    EXPECT_HR(PLConvertDataToHex(two, -1, small, 5), E_INVALIDARG);
    EXPECT_HR(PLConvertDataToHex(two, 2, small, 0), E_INVALIDARG);
    // A count whose doubled size does not fit 32 bits is not taken for a small one.
    EXPECT_HR(PLConvertDataToHex(two, 0x40000000, small, 5), E_FAIL);
}

TEST(PLHexTest, HexToDataDecodesEitherCaseAndRefusesBadTextWithoutWriting) {
    struct Case {
        const char16_t* hex;
        LONG room;
        HRESULT hr;
        std::vector<BYTE> bytes;  // written on success
        const char16_t* message;  // recorded on failure
    };
    const Case cases[] = {
        {u"", 4, S_OK, {}, nullptr},
        {u"00aBFf7e", 4, S_OK, {0x00, 0xAB, 0xFF, 0x7E}, nullptr},
        {u"0102", 8, S_OK, {0x01, 0x02}, nullptr},
        {u"ABC", 4, E_INVALIDARG, {}, u"The hex string must contain an even number of bytes."},
        {u"zz", 4, E_INVALIDARG, {}, u"The hex string contains a character that is not a hex digit."},
        {u"0g", 4, E_INVALIDARG, {}, u"The hex string contains a character that is not a hex digit."},
        {u"12 4", 4, E_INVALIDARG, {}, u"The hex string contains a character that is not a hex digit."},
        {u"010203", 2, E_INVALIDARG, {}, u"The buffer isn't large enough to receive the result."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hex, c.hex + std::char_traits<char16_t>::length(c.hex)));
        std::vector<BYTE> out(8, 0xEE);
        LONG count = c.room;
        ASSERT_HR(PLConvertHexToData(c.hex, out.data(), &count), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(count, static_cast<LONG>(c.bytes.size()));
            EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + count), c.bytes);
            EXPECT_EQ(out[c.bytes.size()], 0xEE);
        } else {
            EXPECT_EQ(LastMessage(), c.message);
            EXPECT_EQ(count, c.room);
            EXPECT_EQ(out, std::vector<BYTE>(8, 0xEE));
        }
    }
    BYTE b = 0;
    LONG n = 1;
    EXPECT_HR(PLConvertHexToData(nullptr, &b, &n), E_POINTER);
    EXPECT_HR(PLConvertHexToData(u"00", nullptr, &n), E_POINTER);
    EXPECT_HR(PLConvertHexToData(u"00", &b, nullptr), E_POINTER);
}

}  // namespace
