// The property form of property bags over the DOM.
#include "module_base/PLXMLFunctions.h"

#include <kdtrace/datetime.h>
#include <kdtrace/exports.h>

#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLInterfaceId.h"
#include "module_base/PLOwnObject.h"
#include "module_base/PLProperty.h"
#include "module_base/PLUnconstrainedPropertyBagImpl.h"
#include "module_base/PLVariant.h"
#include "platform/Text.h"

using kd::platform::XmlDocument;
using kd::platform::XmlNode;
using kd::platform::XmlNodeKind;

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "CoreXMLFunctions";
#define PL_XML_SITE PL_GUARD_SITE_AS(kGroup, kClass)
#define PL_LIBRARY_SITE PL_GUARD_SITE_AS("Library Functions", "XML Functions")

constexpr char16_t kDateMask[] = u"%m-%d-%y";
constexpr char16_t kDateTimeMask[] = u"%m-%d-%y %h:%M:%S %p";

// Names compare as the bag's keys do: the letters A to Z without regard to case, nothing else.
bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
    return kd::platform::CompareFoldingAsciiLetters(a, b) == 0;
}

// The first of the attribute's three spellings that the element carries.
bool FindAttribute(XmlNode element, const char16_t* const (&names)[3], std::u16string& value) {
    for (const char16_t* name : names)
        if (element.GetAttribute(name, value)) return true;
    return false;
}
constexpr const char16_t* kNameAttribute[3] = {u"NAME", u"N", u"name"};
constexpr const char16_t* kTypeAttribute[3] = {u"DATATYPE", u"D", u"datatype"};
constexpr const char16_t* kFormatAttribute[3] = {u"FORMAT", u"F", u"format"};

// Type names by kind; null where the kind is not written as a typed element.
const char16_t* TypeName(LONG kind) noexcept {
    switch (kind) {
        case PLVariantUndefined:
            return u"Undefined";
        case PLVariantString:
            return u"String";
        case PLVariantLong:
        case PLVariantLongLong:
            return u"Long";
        case PLVariantDouble:
            return u"Double";
        case PLVariantBoolean:
            return u"Boolean";
        case PLVariantDateTime:
            return u"DateTime";
        case PLVariantDateTimeOfDay:
            return u"DateTimeOfDay";
        default:
            return nullptr;
    }
}

bool IsDateKind(LONG kind) noexcept {
    return kind == PLVariantDateTime || kind == PLVariantDateTimeOfDay;
}

PLComPtr<IPLVariant> NewVariant() {
    return PLNewVariant();
}

// The value's whole text form; `kind` is its kind.
PLString TextOf(IPLVariant* value, LONG kind, const char* message) {
    HRESULT hr = S_OK;
    if (kind == PLVariantDouble) {
        double number = 0;
        hr = value->GetValueDouble(&number);
        PL_THROW_ERROR(hr, message, 0);
        if (const char16_t* text = PLNonFiniteDoubleText(number)) return PLString(text);
    }
    if (kind != PLVariantString) {
        // Every other kind's text fits a fixed buffer: formed once.
        WCHAR buffer[kPLVariantTextFormCapacity];
        hr = value->GetValueString(buffer, kPLVariantTextFormCapacity);
        PL_THROW_ERROR(hr, message, 0);
        return PLString(buffer);
    }
    LONG length = 0;
    hr = value->GetValueStringLength(&length);
    PL_THROW_ERROR(hr, message, 0);
    if (length < 1) length = 1;
    std::u16string buffer(static_cast<std::size_t>(length), u'\0');
    hr = value->GetValueString(buffer.data(), length);
    PL_THROW_ERROR(hr, message, 0);
    return PLString(buffer.c_str());
}

// Refuses text that XML cannot carry unchanged: an unpaired surrogate has no form in it.
// (Characters XML forbids are written as references, which reading drops; see XmlNode.)
void CheckCarriable(std::u16string_view text, std::u16string_view name) {
    if (kd::platform::FindUnpairedSurrogate(text) != std::u16string_view::npos)
        PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Property '%s' holds an unpaired surrogate, which XML cannot carry",
                              name);
}

XmlNode NewElement(XmlDocument& document, const char16_t* name) {
    XmlNode node = document.CreateElement(name);
    if (!node) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to create XML node", 1);
    return node;
}

void SetAttribute(XmlNode node, const char16_t* name, std::u16string_view value) {
    if (!node.SetAttribute(name, value)) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to set named item on node", 1);
}

void Append(XmlNode parent, XmlNode child) {
    if (!parent.AppendChild(child)) PL_THROW_ERROR(E_FAIL, "Failed to append child node", 1);
}

// Nesting of property collections written on this thread (through IUnknown handlers).
thread_local int t_writeNesting = 0;
struct NestingScope {
    NestingScope() {
        if (t_writeNesting >= kPLXMLMaxNesting)
            PL_THROW_ERROR(E_FAIL, "Property bags nested more than 64 levels deep cannot be written", 1);
        ++t_writeNesting;
    }
    ~NestingScope() { --t_writeNesting; }
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;
};

// ---- reading values ----

// A signed integer in decimal, optionally surrounded by white space; false when the text is no
// such number or does not fit 64 bits.
bool ParseInteger(std::u16string_view text, LONGLONG& value) {
    std::size_t first = 0, last = text.size();
    while (first < last && kd::platform::IsSpace(text[first])) ++first;
    while (last > first && kd::platform::IsSpace(text[last - 1])) --last;
    std::string narrow;
    for (std::size_t i = first; i < last; ++i) {
        if (text[i] > 0x7F) return false;
        narrow += static_cast<char>(text[i]);
    }
    const char* begin = narrow.c_str();
    if (!narrow.empty() && narrow[0] == '+') ++begin;
    const char* end = narrow.c_str() + narrow.size();
    if (begin == end) return false;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end;
}

// Sets `value` to a date of `text` with `mask`, of the given kind, keeping the mask.
// Sets `value` to a date of `text` with `mask`, of the given kind, keeping the mask; returns the
// text the value writes.
std::u16string DateInto(IPLVariant* value, const std::u16string& text, const PLString& mask, bool ofDay) {
    PLComPtr<IPLDateTime> date;
    HRESULT hr = PLCreateInstance(CLSID_PLDateTime, date);
    PL_THROW_ERROR(hr, "Failed to create date time", 1);
    hr = date->InitializeFromString(text.c_str(), mask.c_str());
    PL_THROW_ERROR(hr, "Failed to initialize date time", 0);
    hr = ofDay ? value->SetValueDateTimeOfDay(date.Get()) : value->SetValueDateTime(date.Get());
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
    hr = value->SetDateTimeFormatString(mask.c_str());
    PL_THROW_ERROR(hr, "Failed to set date time format string on variant", 0);
    WCHAR written[kPLVariantTextFormCapacity];
    hr = value->GetValueString(written, kPLVariantTextFormCapacity);
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
    return written;
}

// DateInto, for a mask that reads back what it writes. One that reads the text but cannot write
// the date back (it ends inside a code after the text has ended), or reads its own text as
// another date (codes the parser and the formatter take differently), would make the bag
// unwritable or change the date on every round trip: refused here.
void SetDate(IPLVariant* value, const std::u16string& text, const PLString& mask, bool ofDay) {
    const std::u16string written = DateInto(value, text, mask, ofDay);
    if (DateInto(NewVariant().Get(), written, mask, ofDay) != written)
        PL_THROW_ERROR(E_FAIL, "Failed to initialize date time", 1);
}

void SetDouble(IPLVariant* value, const std::u16string& text) {
    // Through the variant's own conversion, the inverse of the text form it wrote; the values
    // without one have the forms PLNonFiniteDoubleText gives them.
    double number = 0;
    if (PLParseNonFiniteDouble(text, number)) {
        PL_THROW_ERROR(value->SetValueDouble(number), "Failed to set variant value", 0);
        return;
    }
    HRESULT hr = value->SetValueString(text.c_str());
    if (hr >= 0) hr = value->Convert(PLVariantDouble);
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
}

// What an element holds: elements, text (or CDATA), references to entities the document
// declares (which are never expanded).
struct Content {
    bool elements = false;
    bool text = false;
    bool references = false;
};
Content ContentOf(XmlNode element) {
    Content content;
    for (XmlNode child = element.FirstChild(); child; child = child.NextSibling()) {
        const XmlNodeKind kind = child.Kind();
        content.elements |= kind == XmlNodeKind::Element;
        content.text |= kind == XmlNodeKind::Text || kind == XmlNodeKind::CData;
        content.references |= kind == XmlNodeKind::EntityReference;
    }
    return content;
}

// The typed value of a property element's text.
void ReadTypedValue(XmlNode element, const std::u16string& text, IPLVariant* value) {
    std::u16string type;
    if (!FindAttribute(element, kTypeAttribute, type)) PL_THROW_ERROR(E_FAIL, "Failed to retrieve named item", 1);
    HRESULT hr = S_OK;
    if (SameName(type, u"Long") || SameName(type, u"L")) {
        LONGLONG number = 0;
        if (!ParseInteger(text, number)) PL_THROW_ERROR(E_FAIL, "Failed to set variant value", 1);
        hr = value->SetValueLongLong(number);
    } else if (SameName(type, u"String") || SameName(type, u"S")) {
        hr = value->SetValueString(text.c_str());
    } else if (SameName(type, u"Boolean") || SameName(type, u"B")) {
        hr = value->SetValueBoolean(SameName(text, u"true") || SameName(text, u"t"));
    } else if (SameName(type, u"DateTime") || SameName(type, u"DateTimeOfDay") || SameName(type, u"DT")) {
        const bool ofDay = SameName(type, u"DateTimeOfDay");
        std::u16string format;
        const PLString mask = FindAttribute(element, kFormatAttribute, format) ? PLString(format)
                              : ofDay                                          ? PLString(kDateTimeMask)
                                                                               : PLString(kDateMask);
        SetDate(value, text, mask, ofDay);
    } else if (SameName(type, u"Double")) {
        SetDouble(value, text);
    } else {
        hr = E_FAIL;  // an unknown type leaves the value undefined, which no bag stores
    }
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
}

// The typed value of one collection item.
void ReadItem(XmlNode item, IPLVariant* value) {
    const std::u16string text = item.Value();  // an empty item is the empty string
    std::u16string type;
    if (!item.GetAttribute(u"DATATYPE", type)) PL_THROW_ERROR(E_FAIL, "Failed to retrieve named item", 1);
    HRESULT hr = S_OK;
    if (SameName(type, u"Long")) {
        LONGLONG number = 0;
        if (!ParseInteger(text, number)) PL_THROW_ERROR(E_FAIL, "Failed to set variant value", 1);
        // 32-bit values stay Long; wider ones were written from LongLong members.
        if (number >= std::numeric_limits<LONG>::min() && number <= std::numeric_limits<LONG>::max())
            hr = value->SetValueLong(static_cast<LONG>(number));
        else
            hr = value->SetValueLongLong(number);
    } else if (SameName(type, u"String")) {
        hr = value->SetValueString(text.c_str());
    } else if (SameName(type, u"Boolean")) {
        hr = value->SetValueBoolean(SameName(text, u"true"));
    } else if (SameName(type, u"DateTime") || SameName(type, u"DateTimeOfDay")) {
        const bool ofDay = SameName(type, u"DateTimeOfDay");
        std::u16string format;
        const PLString mask = item.GetAttribute(u"FORMAT", format) ? PLString(format)
                              : ofDay                              ? PLString(kDateTimeMask)
                                                                   : PLString(kDateMask);
        SetDate(value, text, mask, ofDay);
    } else if (SameName(type, u"Double")) {
        SetDouble(value, text);
    }
    // Any other name leaves the item undefined.
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
}

// Sets `name` to `value`, a variant made for this and not used again: a general-purpose bag of
// our own keeps it instead of a copy.
void SetInBag(IPLPropertyBag* bag, const WCHAR* name, PLComPtr<IPLVariant> value) {
    const PLComPtr<CPLUnconstrainedPropertyBagImpl> own = PLAsOwnObject<CPLUnconstrainedPropertyBagImpl>(bag);
    const HRESULT hr = own ? own->SetPropertyAdopting(name, std::move(value)) : bag->SetProperty(name, value.Get());
    PL_THROW_ERROR_FORMAT(hr, 0, "Failed to set property '%s'", name);
}

// The children walk shared by both readers; `nameOf` gives a child's property name.
template <class NameOf>
void ReadChildren(XmlNode element, IPLPropertyBag* bag, PLXMLUnknownReader handler, NameOf&& nameOf) {
    for (XmlNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.Kind() != XmlNodeKind::Element) continue;  // indentation, comments
        const std::u16string name = nameOf(child);
        const HRESULT hr =
            addValueFromDOMToPropertyBag(child, reinterpret_cast<const WCHAR*>(name.c_str()), bag, handler);
        PL_THROW_ERROR(hr, "Failed to add values from DOM to property bag", 0);
    }
}

}  // namespace

// ---- loading ----

PLString PLRemoveForbiddenCharacterReferences(const PLString& text) {
    const std::u16string_view in = text.view();
    std::u16string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        if (in[i] == u'&' && i + 2 < in.size() && in[i + 1] == u'#') {
            std::size_t end = i + 2;
            const bool hex = in[end] == u'x';
            if (hex) ++end;
            const std::size_t digits = end;
            char32_t code = 0;
            bool tooBig = false;
            for (; end < in.size(); ++end) {
                const char16_t c = in[end];
                int d = -1;
                if (c >= u'0' && c <= u'9') d = c - u'0';
                if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
                if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
                if (d < 0) break;
                code = code * (hex ? 16 : 10) + static_cast<char32_t>(d);
                if (code > 0x10FFFF) tooBig = true, code = 0x110000;
            }
            if (end > digits && end < in.size() && in[end] == u';' && (tooBig || !kd::platform::IsXmlChar(code))) {
                i = end + 1;  // a reference to a character no document may hold
                continue;
            }
        }
        out += in[i++];
    }
    return PLString(std::u16string_view(out));
}

HRESULT LoadDOMFromXMLBSTR(BSTR text, XmlDocument& document) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        kd::platform::XmlParseError error;
        if (document.Parse(std::u16string_view(text, SysStringLen(text)), error)) return;
        PLString source(text, static_cast<int32_t>(SysStringLen(text)));
        const PLString cleaned = PLRemoveForbiddenCharacterReferences(source);
        if (cleaned.GetLength() != source.GetLength()) {
            source = cleaned;
            if (document.Parse(source.view(), error)) return;
        }
        PLString message;
        message.Format(u"Parsing error (0x%x) on line %d at %d.\n\nReason:\n", error.code, error.line, error.position);
        message += PLString(std::u16string_view(error.reason));
        message += u"\nSource Text:\n";
        message += PLString(std::u16string_view(error.sourceLine));
        message += u"XML String:\n";
        message += source;
        hr = E_FAIL;
        PL_THROW_ERROR_W(hr, message.c_str(), 1);
    });
}

HRESULT LoadDOMFromXMLString(const WCHAR* text, XmlDocument& document) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        // Read where it stands; only a text that does not load goes the long way, for the retry
        // and the report.
        kd::platform::XmlParseError error;
        if (document.Parse(std::u16string_view(text, kd::platform::Utf16Length(text)), error)) return;
        PLBStr copy(text);
        if (copy.Get() == nullptr) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to load DOM from BSTR", 1);
        hr = LoadDOMFromXMLBSTR(copy.Get(), document);
        PL_THROW_ERROR(hr, "Failed to load DOM from BSTR", 0);
    });
}

// ---- writing ----

namespace {

// A PROPERTY (or ITEM) element with its attributes in the written order and its text.
XmlNode TypedElement(XmlDocument& document, const char16_t* element, const char16_t* type, const PLString* mask,
                     std::u16string_view name, const PLString& text) {
    XmlNode node = NewElement(document, element);
    SetAttribute(node, u"DATATYPE", type);
    if (mask != nullptr) SetAttribute(node, u"FORMAT", mask->view());
    SetAttribute(node, u"NAME", name);
    if (!node.SetText(text.view())) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to set text on XML node", 1);
    return node;
}

}  // namespace

HRESULT AppendPropertyToXMLDOM(XmlDocument& document, XmlNode parent, const WCHAR* name, IPLVariant* value,
                               PLXMLUnknownWriter handler) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        LONG kind = PLVariantUndefined;
        hr = value->GetType(&kind);
        PL_THROW_ERROR(hr, "Failed to obtain type from variant", 0);
        if (kind == PLVariantCollection) {
            PLComPtr<IPLVariantCollection> items;
            hr = value->GetValueCollection(items.Put());
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            hr = GenerateVariantCollectionXML(items.Get(), document, parent, name);
            PL_THROW_ERROR(hr, "Failed to generate variant collection XML", 0);
            return;
        }
        const char16_t* type = TypeName(kind);
        if (type == nullptr) {
            if (handler == nullptr) return;
            PLComPtr<IUnknown> object;
            hr = value->GetValueIUnknown(object.Put());
            PL_THROW_ERROR(hr, "Failed to obtain IUnknown value from variant", 0);
            hr = handler(object.Get(), document, parent, PLString(name));
            PL_THROW_ERROR(hr, "Failed to handle IUnknown node from property bag", 0);
            return;
        }
        const std::u16string_view nameText(name, kd::platform::Utf16Length(name));
        const PLString mask = IsDateKind(kind) ? PLDateTimeFormatOf(value) : PLString();
        const PLString text = TextOf(value, kind, "Failed to obtain value from variant");
        for (const std::u16string_view part : {nameText, mask.view(), text.view()}) CheckCarriable(part, nameText);
        Append(parent, TypedElement(document, u"PROPERTY", type, IsDateKind(kind) ? &mask : nullptr, nameText, text));
    });
}

HRESULT AppendPropertyCollectionToXMLDOM(XmlDocument& document, XmlNode parent, IPLPropertyCollection* properties,
                                         PLXMLUnknownWriter handler) {
    if (properties == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        const NestingScope nesting;
        const LONG count = properties->GetCount();
        for (LONG i = 0; i < count; ++i) {
            PLComPtr<IPLProperty> property;
            hr = properties->GetAt(i, property.Put());
            PL_THROW_ERROR(hr, "Failed to obtain name from property", 0);
            WCHAR name[256] = {};
            hr = property->GetName(name, 256);
            PL_THROW_ERROR(hr, "Failed to obtain name from property", 0);
            PLComPtr<IPLVariant> value;
            hr = property->GetValue(value.Put());
            if (hr >= 0 && !value) hr = E_POINTER;
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            hr = AppendPropertyToXMLDOM(document, parent, name, value.Get(), handler);
            PL_THROW_ERROR(hr, "Failed to append property to DOM", 0);
        }
    });
}

namespace {

// AppendPropertyCollectionToXMLDOM for the general-purpose bag of our own, read in place: the
// same elements and records as through the bag's property collection, without making (and
// freeing) a property object per entry. Many of those freed at once make the allocator return
// their pages to the system, to be faulted in afresh on the next call. Names are written whole,
// not cut as a property holds them: two long names alike in their first 254 characters would
// otherwise read back as one property.
HRESULT AppendPropertyCollectionToXMLDOM(XmlDocument& document, XmlNode parent, CPLUnconstrainedPropertyBagImpl* bag) {
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        const NestingScope nesting;
        bag->ForEachEntry([&](std::u16string_view key, IPLVariant* value) {
            // The view is of the stored key itself, a zero-terminated string.
            hr = AppendPropertyToXMLDOM(document, parent, key.data(), value, nullptr);
            PL_THROW_ERROR(hr, "Failed to append property to DOM", 0);
        });
    });
}

}  // namespace

HRESULT GenerateVariantCollectionXML(IPLVariantCollection* collection, XmlDocument& document, XmlNode parent,
                                     const WCHAR* name) {
    if (collection == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        const std::u16string_view nameText(name, kd::platform::Utf16Length(name));
        CheckCarriable(nameText, nameText);
        XmlNode property = NewElement(document, u"PROPERTY");
        SetAttribute(property, u"DATATYPE", u"VariantCollection");
        SetAttribute(property, u"NAME", nameText);
        const LONG count = collection->GetCount();
        for (LONG i = 0; i < count; ++i) {
            PLComPtr<IPLVariant> member;
            hr = collection->GetAt(i, member.Put());
            PL_THROW_ERROR(hr, "Failed to get variant type.", 0);
            LONG kind = PLVariantUndefined;
            hr = member->GetType(&kind);
            PL_THROW_ERROR(hr, "Failed to get variant type.", 0);
            if (kind == PLVariantCollection || kind == PLVariantIUnknown || kind == PLVariantEmpty) continue;
            // The member is read, never converted: writing leaves the collection as it was.
            const PLString mask = IsDateKind(kind) ? PLDateTimeFormatOf(member.Get()) : PLString();
            const PLString text = TextOf(member.Get(), kind, "Failed to convert variant to string.");
            for (const std::u16string_view part : {mask.view(), text.view()}) CheckCarriable(part, nameText);
            const char16_t* type = TypeName(kind);
            Append(property, TypedElement(document, u"ITEM", type != nullptr ? type : u"",
                                          IsDateKind(kind) ? &mask : nullptr, u"VariantCollectionItem", text));
        }
        Append(parent, property);
    });
}

// ---- reading ----

HRESULT GetPropertyBagValuesFromXMLDOM(XmlNode element, IPLPropertyBag* bag, PLXMLUnknownReader handler) {
    if (!element || bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT&) {
        ReadChildren(element, bag, handler, [](XmlNode child) {
            std::u16string name;
            if (!FindAttribute(child, kNameAttribute, name))
                PL_THROW_ERROR(E_FAIL, "Failed to get 'NAME' attribute from element.", 1);
            return name;
        });
    });
}

HRESULT GetPropertyBagValuesFromLightXMLDOM(XmlNode element, IPLPropertyBag* bag, PLXMLUnknownReader handler) {
    if (!element || bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT&) {
        ReadChildren(element, bag, handler, [](XmlNode child) { return child.Name(); });
    });
}

HRESULT addValueFromDOMToPropertyBag(XmlNode element, const WCHAR* name, IPLPropertyBag* bag,
                                     PLXMLUnknownReader handler) {
    if (!element || bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        const Content content = ContentOf(element);
        // A value that depends on a declared entity is not read: such references are never
        // expanded, and a value without its part would be another value.
        if (content.references) return;
        PLComPtr<IPLVariant> value = NewVariant();
        std::u16string type;
        if (content.elements) {
            hr = handler != nullptr ? handler(element, value.Get()) : E_FAIL;
            if (hr < 0) hr = VariantCollectionNodeResolution(element, value.Get());
            PL_THROW_ERROR(hr, "Failed to resolve variant collection node", 0);
        } else if (FindAttribute(element, kTypeAttribute, type) && SameName(type, u"VariantCollection")) {
            // A collection without items (white space and comments aside) is an empty collection.
            hr = VariantCollectionNodeResolution(element, value.Get());
            PL_THROW_ERROR(hr, "Failed to resolve variant collection node", 0);
        } else if (!content.text) {
            hr = value->SetValueString(u"");
            PL_THROW_ERROR(hr, "Failed to set variant value", 0);
        } else {
            ReadTypedValue(element, element.Value(), value.Get());
        }
        SetInBag(bag, name, std::move(value));
    });
}

HRESULT VariantCollectionNodeResolution(XmlNode element, IPLVariant* value) {
    if (!element || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_LIBRARY_SITE, [&](HRESULT& hr) {
        PLComPtr<IPLVariantCollection> items;
        hr = PLCreateInstance(CLSID_PLVariantCollection, items);
        PL_THROW_ERROR(hr, "Failed to create variant collection", 1);
        for (XmlNode item = element.FirstChild(); item; item = item.NextSibling()) {
            if (item.Kind() != XmlNodeKind::Element || ContentOf(item).references) continue;
            PLComPtr<IPLVariant> member = NewVariant();
            ReadItem(item, member.Get());
            hr = items->Insert(member.Get());
            PL_THROW_ERROR(hr, "Failed to add item to variant collection", 0);
        }
        hr = value->SetValueCollection(items.Get());
        PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
    });
}

HRESULT GetPropertyFromXMLNode(XmlNode node, const WCHAR* query, IPLVariant* value) {
    if (!node || query == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_LIBRARY_SITE, [&](HRESULT& hr) {
        bool failed = false;
        const XmlNode found = node.SelectSingle(std::u16string_view(query, kd::platform::Utf16Length(query)), failed);
        if (failed || !found) PL_THROW_ERROR(E_FAIL, "Failed to retrieve node", 1);
        hr = value->SetValueString(PLString(std::u16string_view(found.Value())).c_str());
        PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
    });
}

// ---- the round trip, exported ----

HRESULT CreateXMLFromPropertyBag(IPLPropertyBag* bag, IPLVariant** result, const WCHAR* rootName) {
    if (bag == nullptr || result == nullptr || rootName == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        *result = nullptr;
        const std::u16string_view root(rootName, kd::platform::Utf16Length(rootName));
        if (!kd::platform::IsXmlName(root)) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR_FORMAT(hr, 1, "'%s' is not a valid XML element name", rootName);
        }
        XmlDocument document;
        if (!document.IsValid()) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to load MSXMLDOM.", 1);
        XmlNode element = NewElement(document, root.data());
        if (!document.SetRoot(element)) PL_THROW_ERROR(E_FAIL, "Failed to append child node to root node", 1);
        if (const PLComPtr<CPLUnconstrainedPropertyBagImpl> own = PLAsOwnObject<CPLUnconstrainedPropertyBagImpl>(bag)) {
            hr = AppendPropertyCollectionToXMLDOM(document, element, own.Get());
        } else {
            PLComPtr<IPLPropertyCollection> properties;
            hr = bag->GetProperties(properties.Put());
            if (hr >= 0 && !properties) hr = E_POINTER;
            PL_THROW_ERROR(hr, "Failed to get property collection from property bag.", 0);
            hr = AppendPropertyCollectionToXMLDOM(document, element, properties.Get(), nullptr);
        }
        PL_THROW_ERROR(hr, "Failed to append property collection to DOM.", 0);
        const std::u16string text = document.Serialize();
        PLComPtr<IPLVariant> value = NewVariant();
        hr = value->SetValueString(reinterpret_cast<const WCHAR*>(text.c_str()));
        PL_THROW_ERROR(hr, "Failed to get xml from root node", 0);
        *result = value.Detach();
    });
}

HRESULT RestorePropertyBagFromXML(const WCHAR* text, IPLPropertyBag** result) {
    if (text == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_XML_SITE, [&](HRESULT& hr) {
        *result = nullptr;
        PLComPtr<IPLPropertyBag> bag;
        hr = PLCreateInstance(CLSID_PLPropertyBag, bag);
        PL_THROW_ERROR(hr, "Failed to create property bag", 1);
        XmlDocument document;
        hr = LoadDOMFromXMLString(text, document);
        PL_THROW_ERROR(hr, "Failed to parse XML", 0);
        // The first element holds the properties; a document without one gives an empty bag.
        if (const XmlNode root = document.Root()) {
            hr = GetPropertyBagValuesFromXMLDOM(root, bag.Get(), nullptr);
            PL_THROW_ERROR(hr, "Failed to fill property bag from DOM", 0);
        }
        *result = bag.Detach();
    });
}
