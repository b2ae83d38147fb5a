#include "platform/CurrencyFormat.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/LocaleInfo.h"

namespace kd::platform {
namespace {

// "N" the number, "$" the symbol, "-" the minus sign; everything else is written as it stands.
constexpr std::array<std::u16string_view, 4> kPositiveOrders = {u"$N", u"N$", u"$ N", u"N $"};
constexpr std::array<std::u16string_view, 16> kNegativeOrders = {u"($N)", u"-$N",  u"$-N",   u"$N-",  u"(N$)", u"-N$",
                                                                 u"N-$",  u"N$-",  u"-N $",  u"-$ N", u"N $-", u"$ N-",
                                                                 u"$ -N", u"N- $", u"($ N)", u"(N $)"};

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Adds one unit in the last place of a digit string; true when it carried out of the first digit.
bool Increment(std::u16string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != u'9') {
            ++digits[i];
            return false;
        }
        digits[i] = u'0';
    }
    return true;
}

// The whole digits with separators, the groups taken from the right.
std::u16string Grouped(std::u16string_view whole, std::uint32_t grouping, std::u16string_view separator) {
    std::array<std::uint32_t, 10> sizes{};
    std::size_t count = 0;
    for (std::uint32_t g = grouping; g != 0; g /= 10) sizes[count++] = g % 10;
    // Most significant decimal digit first: the group next to the decimal separator.
    for (std::size_t i = 0; i < count / 2; ++i) std::swap(sizes[i], sizes[count - 1 - i]);
    std::vector<std::size_t> cuts;  // where separators go, counted from the left, rightmost first
    std::size_t remaining = whole.size();
    for (std::size_t i = 0;;) {
        // A zero group (so also the end of a list ending in 0) leaves the rest ungrouped;
        // otherwise the last group repeats.
        const std::uint32_t size = i < count ? sizes[i] : (count > 0 ? sizes[count - 1] : 0);
        if (size == 0 || remaining <= size) break;
        remaining -= size;
        cuts.push_back(remaining);
        if (i < count) ++i;
    }
    std::u16string out;
    out.reserve(whole.size() + cuts.size() * separator.size());
    std::size_t from = 0;
    for (std::size_t c = cuts.size(); c-- > 0;) {
        out.append(whole.substr(from, cuts[c] - from));
        out.append(separator);
        from = cuts[c];
    }
    out.append(whole.substr(from));
    return out;
}

}  // namespace

CurrencyFormatStatus FormatCurrency(std::u16string_view number, const CurrencyFormat& format, std::u16string& out) {
    out.clear();
    if (format.digits > 9 || format.leadingZero > 1 || format.positiveOrder >= kPositiveOrders.size() ||
        format.negativeOrder >= kNegativeOrders.size()) {
        return CurrencyFormatStatus::kInvalidFormat;
    }

    // Sign, whole digits, fraction digits.
    bool negative = false;
    std::size_t i = 0;
    if (i < number.size() && number[i] == u'-') {
        negative = true;
        ++i;
    }
    const std::size_t wholeStart = i;
    while (i < number.size() && IsDigit(number[i])) ++i;
    std::u16string_view wholeText = number.substr(wholeStart, i - wholeStart);
    std::u16string_view fractionText;
    if (i < number.size() && number[i] == u'.') {
        const std::size_t fractionStart = ++i;
        while (i < number.size() && IsDigit(number[i])) ++i;
        fractionText = number.substr(fractionStart, i - fractionStart);
    }
    if (i != number.size() || (wholeText.empty() && fractionText.empty())) return CurrencyFormatStatus::kInvalidNumber;

    while (!wholeText.empty() && wholeText.front() == u'0') wholeText.remove_prefix(1);

    // Round half away from zero to the decimal places, on the digits themselves.
    std::u16string digits(wholeText);
    const std::size_t wholeLength = digits.size();
    digits.append(fractionText.substr(0, format.digits));
    digits.append(format.digits - std::min<std::size_t>(fractionText.size(), format.digits), u'0');
    std::size_t wholeDigits = wholeLength;
    if (fractionText.size() > format.digits && fractionText[format.digits] >= u'5') {
        if (Increment(digits)) {
            digits.insert(digits.begin(), u'1');
            ++wholeDigits;
        }
    }
    const std::u16string_view whole = std::u16string_view(digits).substr(0, wholeDigits);
    const std::u16string_view fraction = std::u16string_view(digits).substr(wholeDigits);
    if (digits.find_first_not_of(u'0') == std::u16string::npos) negative = false;

    std::u16string amount;
    if (whole.empty()) {
        if (format.leadingZero != 0 || format.digits == 0) amount = u"0";
    } else {
        amount = Grouped(whole, format.grouping, format.thousandSeparator);
    }
    if (format.digits > 0) {
        amount += format.decimalSeparator;
        amount += fraction;
    }

    const std::u16string_view shape =
        negative ? kNegativeOrders[format.negativeOrder] : kPositiveOrders[format.positiveOrder];
    for (const char16_t c : shape) {
        switch (c) {
            case u'N':
                out += amount;
                break;
            case u'$':
                out += format.currencySymbol;
                break;
            case u'-':
                out += format.negativeSign;
                break;
            default:
                out += c;
        }
    }
    return CurrencyFormatStatus::kOk;
}

std::uint32_t GroupingFromText(std::u16string_view text) {
    std::uint32_t value = 0;
    std::size_t count = 0;
    bool endsInZero = false;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') continue;
        endsInZero = c == u'0';
        if (count < 9) {
            value = value * 10 + static_cast<std::uint32_t>(c - u'0');
            ++count;
        }
    }
    // Text and number say repetition the other way round: a final "0" in the text repeats the
    // last group, which the number says by having no final 0.
    if (endsInZero) return value / 10;
    return count < 9 ? value * 10 : value;
}

std::optional<CurrencyFormat> LocaleCurrencyFormat(std::uint32_t languageId) {
    const std::uint32_t id = ResolveLocaleId(languageId);
    if (!IsKnownLocale(id)) return std::nullopt;
    CurrencyFormat format;
    format.digits = static_cast<std::uint32_t>(LocaleNumber(id, LocaleItem::CurrencyDigits).value_or(2));
    format.leadingZero = static_cast<std::uint32_t>(LocaleNumber(id, LocaleItem::LeadingZero).value_or(1));
    format.grouping = GroupingFromText(LocaleText(id, LocaleItem::MonetaryGrouping).value_or(u"3;0"));
    format.decimalSeparator = LocaleText(id, LocaleItem::MonetaryDecimalSeparator).value_or(u".");
    format.thousandSeparator = LocaleText(id, LocaleItem::MonetaryThousandSeparator).value_or(u",");
    format.negativeOrder = static_cast<std::uint32_t>(LocaleNumber(id, LocaleItem::NegativeCurrencyOrder).value_or(1));
    format.positiveOrder = static_cast<std::uint32_t>(LocaleNumber(id, LocaleItem::PositiveCurrencyOrder).value_or(0));
    format.currencySymbol = LocaleText(id, LocaleItem::CurrencySymbol).value_or(u"");
    format.negativeSign = LocaleText(id, LocaleItem::NegativeSign).value_or(u"-");
    return format;
}

}  // namespace kd::platform
