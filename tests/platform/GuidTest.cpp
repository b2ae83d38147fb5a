#include "platform/Guid.h"

#include <gtest/gtest.h>

namespace {

using namespace kd::platform;

constexpr GUID kSample = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

TEST(GuidTest, TextFormIsWrittenUpperCaseWithoutBracesAndReadAndCreatedGuidsAreVersion4) {
    EXPECT_EQ(GuidToString(kSample), u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(GuidToNarrowString(kSample), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    char16_t buffer[37];
    EXPECT_TRUE(GuidToText(kSample, buffer, 37));
    EXPECT_EQ(std::u16string(buffer), GuidToString(kSample));
    char16_t small[36] = {u'x'};
    EXPECT_FALSE(GuidToText(kSample, small, 36));
    EXPECT_EQ(small[0], 0);
    // Read in both cases, with or without braces.
    GUID g{};
    ASSERT_TRUE(GuidFromText(u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &g));
    EXPECT_EQ(g, kSample);
    ASSERT_TRUE(GuidFromText(u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", &g));
    EXPECT_EQ(g, kSample);
    for (const char16_t* bad : {u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F", u"0A1B2C3D_4E5F-6071-8293-A4B5C6D7E8F9",
                                u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
                                u"!A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8g9"})
        EXPECT_FALSE(GuidFromText(bad, &g)) << ::testing::PrintToString(bad);
    EXPECT_FALSE(GuidToText(kSample, nullptr, 37) || GuidToText(kSample, buffer, 0) || GuidFromText(u"", nullptr));
    // Created identifiers are of version 4 and differ.
    EXPECT_EQ(CreateGuid().Data3 >> 12, 4);  // version nibble, in host order
    EXPECT_NE(GuidToString(CreateGuid()), GuidToString(CreateGuid()));
}

}  // namespace
