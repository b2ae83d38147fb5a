#include "companions/kdlocale/MessageFormat.h"

#include "platform/Format.h"

namespace kdlocale {
namespace {

constexpr std::uint32_t kEnglish = 0x0409;
constexpr std::uint32_t kPrimaryMask = 0x3FF;

kd::platform::FormatArg ToFormatArg(const PLMessageArgument& argument) {
    switch (argument.kind) {
        case PLMSGARG_WIDE:
            return kd::platform::FormatArg(argument.value.wide);
        case PLMSGARG_NARROW:
            return kd::platform::FormatArg(argument.value.narrow);
        case PLMSGARG_SIGNED:
            return kd::platform::FormatArg(argument.value.i);
        case PLMSGARG_UNSIGNED:
            return kd::platform::FormatArg(argument.value.u);
        case PLMSGARG_DOUBLE:
            return kd::platform::FormatArg(argument.value.d);
        default:
            return kd::platform::FormatArg(nullptr);
    }
}

// The conversion an insert without one gets: text as text, numbers in full.
const char16_t* DefaultConversion(const PLMessageArgument& argument) {
    switch (argument.kind) {
        case PLMSGARG_SIGNED:
            return u"%lld";
        case PLMSGARG_UNSIGNED:
            return u"%llu";
        case PLMSGARG_DOUBLE:
            return u"%g";
        default:
            return u"%s";
    }
}

// A printf conversion of one argument: flags, width, precision, size, and one conversion letter.
bool IsSingleConversion(std::u16string_view conversionText) {
    std::size_t i = 0;
    while (i < conversionText.size() &&
           std::u16string_view(u"-+ #0").find(conversionText[i]) != std::u16string_view::npos)
        ++i;
    while (i < conversionText.size() && conversionText[i] >= u'0' && conversionText[i] <= u'9') ++i;
    if (i < conversionText.size() && conversionText[i] == u'.') {
        ++i;
        while (i < conversionText.size() && conversionText[i] >= u'0' && conversionText[i] <= u'9') ++i;
    }
    while (i < conversionText.size() &&
           std::u16string_view(u"hlLjztIw").find(conversionText[i]) != std::u16string_view::npos) {
        if (conversionText[i] == u'I' && conversionText.substr(i, 3) == u"I64") i += 2;
        ++i;
    }
    if (i + 1 != conversionText.size()) return false;
    return std::u16string_view(u"diuxXoeEfFgGaAcCsS").find(conversionText[i]) != std::u16string_view::npos;
}

}  // namespace

const MessageText* FindText(const MessageText* table, std::size_t count, std::uint32_t id, std::uint32_t language,
                            HRESULT& failure) noexcept {
    if (language == 0) language = kEnglish;
    // Binary search for the first text of the identifier.
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (table[mid].id < id)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == count || table[low].id != id) {
        failure = PL_E_MESSAGE_NOT_FOUND;
        return nullptr;
    }
    const MessageText* primary = nullptr;
    for (std::size_t i = low; i < count && table[i].id == id; ++i) {
        if (table[i].language == language) return &table[i];
        if (primary == nullptr && (table[i].language & kPrimaryMask) == (language & kPrimaryMask)) primary = &table[i];
    }
    if (primary == nullptr) failure = PL_E_LANGUAGE_NOT_FOUND;
    return primary;
}

HRESULT ExpandInserts(std::u16string_view text, const PLMessageArgument* arguments, std::size_t count,
                      std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c != u'%' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char16_t next = text[++i];
        if (next >= u'1' && next <= u'9') {
            std::size_t number = next - u'0';
            if (i + 1 < text.size() && text[i + 1] >= u'0' && text[i + 1] <= u'9')
                number = number * 10 + (text[++i] - u'0');
            if (arguments == nullptr || number > count) return E_INVALIDARG;
            const PLMessageArgument& argument = arguments[number - 1];
            std::u16string conversion = DefaultConversion(argument);
            if (i + 1 < text.size() && text[i + 1] == u'!') {
                const std::size_t close = text.find(u'!', i + 2);
                if (close == std::u16string_view::npos) return E_INVALIDARG;
                const std::u16string_view conversionText = text.substr(i + 2, close - (i + 2));
                if (!IsSingleConversion(conversionText)) return E_INVALIDARG;
                conversion.clear();
                conversion.push_back(u'%');
                conversion.append(conversionText);
                i = close;
            }
            const kd::platform::FormatArg arg = ToFormatArg(argument);
            kd::platform::FormatAppend(out, std::u16string_view(conversion), {&arg, 1});
            continue;
        }
        switch (next) {
            case u'0':
                return S_OK;  // the end, without the closing line break
            case u'n':
                out += u"\r\n";
                break;
            case u'r':
                out += u'\r';
                break;
            case u't':
                out += u'\t';
                break;
            default:
                out += next;
                break;  // %% %! %. %space: the character itself
        }
    }
    return S_OK;
}

}  // namespace kdlocale
