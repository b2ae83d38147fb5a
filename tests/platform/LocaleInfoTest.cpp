#include "platform/LocaleInfo.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "platform/Text.h"

namespace {

using namespace kd::platform;

constexpr std::array<std::uint32_t, 6> kLocales = {0x0409, 0x0407, 0x040C, 0x0416, 0x0411, 0x041E};

// The settings read from the table locales (en-US, de-DE, fr-FR, pt-BR, ja-JP, th-TH) that only
// this test reads there, as this system's ICU data gives them (where Windows gives something else,
// the comment says so). The currency settings are checked through the locale currency formats,
// the date and time ones through the date-time object's locale masks, in these locales too.
const std::pair<LocaleItem, std::array<const char16_t*, 6>> kTable[] = {
    // en-US  de-DE  fr-FR  pt-BR  ja-JP  th-TH
    {LocaleItem::DecimalSeparator, {u".", u",", u",", u",", u".", u"."}},
    // CLDR's "M/d/yy", "dd.MM.yy" and "d/M/yy" widened to four-digit years, as Windows has them.
    {LocaleItem::ShortDatePattern,
     {u"M/d/yyyy", u"dd.MM.yyyy", u"dd/MM/yyyy", u"dd/MM/yyyy", u"yyyy/MM/dd", u"d/M/yyyy"}},
    // th-TH: Windows writes "H:mm:ss" (no leading zero) where CLDR has "HH:mm:ss".
    {LocaleItem::TimePattern, {u"h:mm:ss tt", u"HH:mm:ss", u"HH:mm:ss", u"HH:mm:ss", u"H:mm:ss", u"HH:mm:ss"}},
    {LocaleItem::HourLeadingZero, {u"0", u"1", u"1", u"1", u"0", u"1"}},
    // Thai: the Buddhist calendar (7), as Windows' default for th-TH.
    {LocaleItem::CalendarType, {u"1", u"1", u"1", u"1", u"1", u"7"}}};

TEST(LocaleInfoTest, SettingsOfTheTableLocales) {
    for (const auto& [item, values] : kTable)
        for (std::size_t i = 0; i < kLocales.size(); ++i) {
            SCOPED_TRACE(testing::Message()
                         << std::hex << "locale 0x" << kLocales[i] << " item 0x" << static_cast<std::uint32_t>(item));
            EXPECT_EQ(Utf16ToUtf8(LocaleText(kLocales[i], item).value_or(u"<none>")), Utf16ToUtf8(values[i]));
            // The numeric items read as numbers too, and only those.
            const std::optional<std::int32_t> number = LocaleNumber(kLocales[i], item);
            const bool numeric =
                std::u16string_view(values[i]).find_first_not_of(u"0123456789") == std::u16string_view::npos;
            EXPECT_EQ(number ? std::to_string(*number) : "<none>", numeric ? Utf16ToUtf8(values[i]) : "<none>");
        }
}

// Threads race to compute locales not yet cached, and read ones that are: every reader must see
// the complete settings.
TEST(LocaleInfoTest, ConcurrentFirstLookupsAgree) {
    const std::uint32_t ids[] = {0x0410, 0x0419, 0x0415, 0x0405, 0x0409};
    std::vector<std::thread> threads;
    std::vector<std::u16string> seen(8 * std::size(ids));
    for (std::size_t t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < std::size(ids); ++k) {
                const std::uint32_t id = ids[(k + t) % std::size(ids)];
                seen[t * std::size(ids) + (k + t) % std::size(ids)] =
                    LocaleText(id, LocaleItem::ShortDatePattern).value_or(u"") +
                    LocaleText(id, LocaleItem::CurrencySymbol).value_or(u"");
            }
        });
    for (std::thread& thread : threads) thread.join();
    // Every reader saw what the first did, and that is not empty.
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % std::size(ids)]) << i;
    for (std::size_t i = 0; i < std::size(ids); ++i) EXPECT_FALSE(seen[i].empty()) << i;
}

}  // namespace
