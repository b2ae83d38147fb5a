#include "module_base/PLProperty.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/Text.h"

PL_REGISTER_CLASS(CPLProperty, CLSID_PLProperty);

namespace {

constexpr const char* kGroup = "Core Services";
// Room for a value's text form, terminator included.
constexpr LONG kValueTextSize = 255;
// Objects written inside objects: a bag that holds itself, directly or through others, stops
// here instead of recursing without end.
constexpr int kMaxNesting = 64;
thread_local int t_nesting = 0;

struct NestingScope {
    NestingScope() noexcept { ++t_nesting; }
    ~NestingScope() { --t_nesting; }
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;
};

bool IsNameStart(char16_t c) noexcept {
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u':') return true;
    if (c < 0x80) return false;
    // The ranges XML 1.0 (fifth edition) allows to start a name; surrogates stand for the
    // supplementary planes, which it allows too.
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xDFFF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
}

bool IsNameChar(char16_t c) noexcept {
    return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

std::u16string_view NameView(const WCHAR* name) {
    std::size_t length = 0;
    while (name[length] != 0) ++length;
    return {name, length};
}

}  // namespace

bool PLIsXMLName(const WCHAR* name) {
    if (name == nullptr || !IsNameStart(name[0])) return false;
    if (kd::platform::FindUnpairedSurrogate(NameView(name)) != std::u16string_view::npos) return false;
    for (const WCHAR* p = name + 1; *p != 0; ++p)
        if (!IsNameChar(*p)) return false;
    return true;
}

bool PLAppendCData(std::u16string& out, std::u16string_view text) {
    if (kd::platform::FindUnpairedSurrogate(text) != std::u16string_view::npos) return false;
    out += u"<![CDATA[";
    std::size_t from = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char16_t c = text[at];
        if (c == u'>' && at >= 2 && text[at - 1] == u']' && text[at - 2] == u']') {
            // "]]>" cannot stand inside a section: end it after "]]" and start a new one for ">".
            out.append(text.substr(from, at - from));
            out += u"]]><![CDATA[";
            from = at;
        } else if (c < 0x20 ? c != 0x9 && c != 0xA : c == 0xFFFE || c == 0xFFFF) {
            // Between sections as a reference: a carriage return, which a section would not keep
            // (readers turn it into a line feed), and the characters XML cannot hold.
            out.append(text.substr(from, at - from));
            char reference[32];
            std::snprintf(reference, sizeof reference, "]]>&#x%X;<![CDATA[", static_cast<unsigned>(c));
            for (const char* r = reference; *r != 0; ++r) out += static_cast<char16_t>(*r);
            from = at + 1;
        }
    }
    out.append(text.substr(from));
    out += u"]]>";
    return true;
}

const char16_t* PLNonFiniteDoubleText(double value) noexcept {
    if (std::isnan(value)) return u"NaN";
    if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
    return nullptr;
}

bool PLParseNonFiniteDouble(std::u16string_view text, double& value) noexcept {
    if (text == u"NaN") {
        value = std::numeric_limits<double>::quiet_NaN();
    } else if (text == u"INF" || text == u"-INF") {
        value = text[0] == u'-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else {
        return false;
    }
    return true;
}

HRESULT CPLProperty::Initialize(const WCHAR* name, IPLVariant* value) {
    if (name == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        PLCopyTextToBuffer(m_name, kNameSize - 1, name, static_cast<int32_t>(NameView(name).size()),
                           PLTruncation::Silent);
        m_name[kNameSize - 1] = 0;
        m_value = PLComPtr<IPLVariant>(value);
    });
}

HRESULT CPLProperty::GetName(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        PLCopyTextToBuffer(buffer, size, m_name, static_cast<int32_t>(NameView(m_name).size()), PLTruncation::Silent);
    });
}

HRESULT CPLProperty::GetValue(IPLVariant** value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *value = m_value.Get();
        if (m_value) m_value->AddRef();
    });
}

HRESULT CPLProperty::WriteXML(IPLXMLWriter* writer, LONG /*flags*/) {
    if (writer == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (!PLIsXMLName(m_name)) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR_FORMAT(hr, 1, "Property name '%s' is not a valid XML name.", m_name);
        }
        const std::u16string_view name = NameView(m_name);
        std::u16string text;
        text.reserve(2 * name.size() + 32);
        text += u'<';
        text += name;
        text += u'>';

        LONG type = PLVariantUndefined;
        hr = m_value ? m_value->GetType(&type) : E_FAIL;
        PL_THROW_ERROR(hr, "Failed to get variant type.", 1);
        switch (type) {
            case PLVariantString:
            case PLVariantLong:
            case PLVariantDouble:
            case PLVariantBoolean:
            case PLVariantDateTime:
            case PLVariantDateTimeOfDay: {
                WCHAR value[kValueTextSize] = {};
                double number = 0;
                const char16_t* nonFinite = nullptr;
                if (type == PLVariantDouble && m_value->GetValueDouble(&number) >= 0)
                    nonFinite = PLNonFiniteDoubleText(number);
                hr = nonFinite != nullptr ? S_OK : m_value->GetValueString(value, kValueTextSize);
                PL_THROW_ERROR(hr, "Failed to get string value.", 0);
                value[kValueTextSize - 1] = 0;
                if (!PLAppendCData(text, nonFinite != nullptr ? std::u16string_view(nonFinite) : NameView(value))) {
                    hr = E_INVALIDARG;
                    PL_THROW_ERROR_FORMAT(hr, 1, "Property '%s' holds an unpaired surrogate, which XML cannot carry",
                                          m_name);
                }
                break;
            }
            case PLVariantIUnknown: {
                hr = writer->Write(text.c_str());
                PL_THROW_ERROR(hr, "Failed to write xml to xml writer.", 0);
                text.clear();
                PLComPtr<IUnknown> object;
                hr = m_value->GetValueIUnknown(object.Put());
                if (hr >= 0 && !object) hr = E_POINTER;
                PL_THROW_ERROR(hr, "Failed to get IUnknown value.", 0);
                PLComPtr<IPLSerializeXML> serialize;
                hr = object.As(serialize);
                PL_THROW_ERROR(hr, "Interface does not support serialization.", 1);
                if (t_nesting >= kMaxNesting) {
                    hr = E_FAIL;
                    PL_THROW_ERROR_FORMAT(hr, 1, "Objects are nested more than %d levels deep.", kMaxNesting);
                }
                {
                    const NestingScope scope;
                    hr = serialize->WriteXML(writer, 1);
                }
                PL_THROW_ERROR(hr, "Failed to write xml.", 0);
                break;
            }
            default:
                break;  // no text form: an empty element
        }
        text += u"</";
        text += name;
        text += u'>';
        hr = writer->Write(text.c_str());
        PL_THROW_ERROR(hr, "Failed to write xml to xml writer.", 0);
    });
}
