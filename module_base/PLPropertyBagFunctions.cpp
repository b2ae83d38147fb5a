#include "module_base/PLPropertyBagFunctions.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "module_base/PLDateTime.h"
#include "module_base/PLError.h"
#include "module_base/PLPropertyBag.h"
#include "module_base/PLPropertyNames.h"
#include "module_base/PLVariant.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";
// Collections inside collections (and arrays inside arrays) converted before giving up.
constexpr int kMaxConversionDepth = 64;

using kd::platform::Variant;

#define PL_BAG_FUNCTION_SITE PL_GUARD_SITE_AS(kGroup, kClass)

PLComPtr<IPLVariant> NewVariant() {
    PLComPtr<IPLVariant> variant;
    const HRESULT hr = ::PLCreateVariant(variant.Put());
    PL_THROW_ERROR(hr, "Failed to create variant", 1);
    return variant;
}

// Wraps the value and stores it under `name`.
template <class T>
void AddToBag(IPLPropertyBag* bag, const WCHAR* name, T value) {
    CSPVariant wrapped(value);
    const HRESULT hr = bag->SetProperty(name, wrapped.Get());
    PL_THROW_ERROR_FORMAT(hr, 0, "Failed to set property '%s' on property bag", name);
}

// The copy the bag holds under `name`, or null when it holds none.
PLComPtr<IPLVariant> FetchFromBag(IPLPropertyBag* bag, const WCHAR* name) {
    BOOL contains = FALSE;
    HRESULT hr = bag->ContainsKey(name, &contains);
    PL_THROW_IF_FAILED(hr);
    if (!contains) return nullptr;
    PLComPtr<IPLVariant> value;
    hr = bag->GetProperty(name, value.Put());
    PL_THROW_ERROR_FORMAT(hr, 0, "Failed to obtain property '%s' from property bag", name);
    return value;  // null when it went between the two calls
}

void ReadText(IPLVariant* variant, PLString& text) {
    LONG length = 0;
    HRESULT hr = variant->GetValueStringLength(&length);
    PL_THROW_ERROR(hr, "Failed to obtain string length from variant", 0);
    if (length < 1) length = 1;
    std::vector<WCHAR> buffer(static_cast<std::size_t>(length) + 1, 0);
    hr = variant->GetValueString(buffer.data(), length);
    PL_THROW_ERROR(hr, "Failed to obtain string value from variant", 0);
    buffer[static_cast<std::size_t>(length)] = 0;
    text = buffer.data();
}

void ToOle(IPLVariant* variant, Variant& ole, int depth);
void FromOle(const Variant& ole, IPLVariant* variant, int depth);

void ThrowTooDeep() {
    PL_THROW_ERROR_FORMAT(E_FAIL, 1, "Values are nested more than %d levels deep.", kMaxConversionDepth);
}

void ToOle(IPLVariant* variant, Variant& ole, int depth) {
    if (depth > kMaxConversionDepth) ThrowTooDeep();
    LONG type = PLVariantUndefined;
    HRESULT hr = variant->GetType(&type);
    PL_THROW_ERROR(hr, "Failed to obtain type from variant", 0);
    Variant out;
    kd::platform::InitVariant(out);
    switch (type) {
        case PLVariantEmpty:
            break;
        case PLVariantUndefined:
            out.vt = kd::platform::kVarNull;
            break;
        case PLVariantString: {
            PLString text;
            ReadText(variant, text);
            out.bstrVal = SysAllocStringLen(text.c_str(), static_cast<uint32_t>(text.GetLength()));
            if (out.bstrVal == nullptr) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to allocate string.", 1);
            out.vt = kd::platform::kVarBstr;
            break;
        }
        case PLVariantLong:
            hr = variant->GetValueLong(&out.lVal);
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            out.vt = kd::platform::kVarI4;
            break;
        case PLVariantLongLong:
            hr = variant->GetValueLongLong(&out.llVal);
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            out.vt = kd::platform::kVarI8;
            break;
        case PLVariantDouble:
            hr = variant->GetValueDouble(&out.dblVal);
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            out.vt = kd::platform::kVarR8;
            break;
        case PLVariantBoolean: {
            bool value = false;
            hr = variant->GetValueBoolean(&value);
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            out.boolVal = value ? kd::platform::kVariantTrue : kd::platform::kVariantFalse;
            out.vt = kd::platform::kVarBool;
            break;
        }
        case PLVariantDateTime:
        case PLVariantDateTimeOfDay: {
            PLComPtr<IPLDateTime> date;
            hr = variant->GetValueDateTime(date.Put());
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            PLComPtr<IPLDateTimePriv> priv;
            hr = date.As(priv);
            if (hr >= 0) hr = priv->GetOleDateTime(&out.date);
            PL_THROW_ERROR(hr, "Failed to convert date.", 0);
            out.vt = kd::platform::kVarDate;
            break;
        }
        case PLVariantIUnknown:
            hr = variant->GetValueIUnknown(&out.punkVal);
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            out.vt = kd::platform::kVarUnknown;
            break;
        case PLVariantCollection: {
            PLComPtr<IPLVariantCollection> items;
            hr = variant->GetValueCollection(items.Put());
            PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
            const LONG count = items->GetCount();
            kd::platform::SafeArray* array =
                kd::platform::CreateVector(kd::platform::kVarVariant, static_cast<ULONG>(count < 0 ? 0 : count));
            if (array == nullptr) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to create safe array.", 1);
            out.vt = kd::platform::kVarArray | kd::platform::kVarVariant;
            out.parray = array;
            try {
                auto* elements = static_cast<Variant*>(array->data);
                for (LONG i = 0; i < count; ++i) {
                    PLComPtr<IPLVariant> item;
                    hr = items->GetAt(i, item.Put());
                    PL_THROW_ERROR(hr, "Failed to obtain variant from collection", 0);
                    ToOle(item.Get(), elements[i], depth + 1);
                }
            } catch (...) {
                kd::platform::ClearVariant(out);
                throw;
            }
            break;
        }
        default:
            PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Variant of type %d cannot be converted.", type);
    }
    kd::platform::ClearVariant(ole);
    ole = out;
}

void FromOle(const Variant& ole, IPLVariant* variant, int depth) {
    if (depth > kMaxConversionDepth) ThrowTooDeep();
    using namespace kd::platform;
    HRESULT hr = S_OK;
    switch (ole.vt) {
        case kVarEmpty:
            hr = variant->SetEmpty();
            break;
        case kVarNull:
            return;  // a new variant is Undefined already; an existing one keeps its value
        case kVarI1:
            hr = variant->SetValueLong(ole.cVal);
            break;
        case kVarUI1:
            hr = variant->SetValueLong(ole.bVal);
            break;
        case kVarI2:
            hr = variant->SetValueLong(ole.iVal);
            break;
        case kVarI4:
            hr = variant->SetValueLong(ole.lVal);
            break;
        case kVarI8:
            hr = variant->SetValueLongLong(ole.llVal);
            break;
        case kVarR8:
            hr = variant->SetValueDouble(ole.dblVal);
            break;
        case kVarBool:
            hr = variant->SetValueBoolean(ole.boolVal != 0);
            break;
        case kVarBstr: {
            // A BSTR knows its length; the text may be null for the empty one.
            const PLString text(ole.bstrVal != nullptr ? ole.bstrVal : u"",
                                static_cast<int32_t>(SysStringLen(ole.bstrVal)));
            hr = variant->SetValueString(text.c_str());
            break;
        }
        case kVarDate: {
            PLComPtr<IPLDateTime> date;
            hr = PLCreateDateTime(0x0400, date.Put());
            PL_THROW_ERROR(hr, "Failed to create date time object", 0);
            hr = date->InitializeFromOleDateTime(ole.date);
            PL_THROW_ERROR(hr, "Failed to initialize date time object", 0);
            const bool hasTime = ole.date != std::trunc(ole.date);
            hr = hasTime ? variant->SetValueDateTimeOfDay(date.Get()) : variant->SetValueDateTime(date.Get());
            break;
        }
        case kVarUnknown:
        case kVarDispatch:
            if (ole.punkVal == nullptr) PL_THROW_ERROR(E_POINTER, "Variant holds no object.", 1);
            hr = variant->SetValueIUnknown(ole.punkVal);
            break;
        case kVarArray | kVarVariant: {
            if (ole.parray == nullptr || ole.parray->dimensions != 1 || ole.parray->elementType != kVarVariant)
                PL_THROW_ERROR(E_INVALIDARG, "Variant does not contain an array of values.", 1);
            PLComPtr<IPLVariantCollection> items;
            hr = ::PLCreateInstance(CLSID_PLVariantCollection, items);
            PL_THROW_ERROR(hr, "Failed to create collection", 0);
            const auto* elements = static_cast<const Variant*>(ole.parray->data);
            for (ULONG i = 0; i < ole.parray->bounds[0].elements; ++i) {
                PLComPtr<IPLVariant> item = NewVariant();
                FromOle(elements[i], item.Get(), depth + 1);
                hr = items->Insert(item.Get());
                PL_THROW_ERROR(hr, "Failed to insert variant into collection", 0);
            }
            hr = variant->SetValueCollection(items.Get());
            break;
        }
        default:
            PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Variant of type 0x%04x cannot be converted.", ole.vt);
    }
    PL_THROW_ERROR(hr, "Failed to set variant value", 0);
}

}  // namespace

// ---- setters ----

HRESULT AddLongToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONG value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}
HRESULT AddPLLongToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONGLONG value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}
HRESULT AddBoolToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, bool value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}
HRESULT AddStringToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, const WCHAR* value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}
HRESULT AddIUnknownToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IUnknown* value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}
HRESULT AddDateTimeToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IPLDateTime* value) {
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { AddToBag(bag, name, value); });
}

// ---- getters ----

HRESULT GetLongFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONG* value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueLong(value);
            PL_THROW_ERROR(hr, "Failed to obtain long value from variant", 0);
        }
    });
}
HRESULT GetPLLongFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONGLONG* value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueLongLong(value);
            PL_THROW_ERROR(hr, "Failed to obtain long long value from variant", 0);
        }
    });
}
HRESULT GetBoolFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, bool* value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueBoolean(value);
            PL_THROW_ERROR(hr, "Failed to obtain boolean value from variant", 0);
        }
    });
}
HRESULT GetStringFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, WCHAR* buffer, LONG size) {
    if (bag == nullptr || name == nullptr || buffer == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueString(buffer, size);
            PL_THROW_ERROR(hr, "Failed to obtain string value from variant", 0);
        }
    });
}
HRESULT GetPLStringFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, PLString* value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = GetPLStringFromVariant(v.Get(), value);
            PL_THROW_ERROR(hr, "Failed to obtain string value from variant", 0);
        }
    });
}
HRESULT GetIUnknownFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IUnknown** value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueIUnknown(value);
            PL_THROW_ERROR(hr, "Failed to obtain IUnknown value from variant", 0);
        }
    });
}
HRESULT GetDateTimeFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IPLDateTime** value) {
    if (bag == nullptr || name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        if (PLComPtr<IPLVariant> v = FetchFromBag(bag, name)) {
            hr = v->GetValueDateTime(value);
            PL_THROW_ERROR(hr, "Failed to obtain DateTime value from variant", 0);
        }
    });
}

HRESULT CopyVariantBetweenPropertyBags(IPLPropertyBag* destination, const WCHAR* destinationName,
                                       IPLPropertyBag* source, const WCHAR* sourceName) {
    if (destination == nullptr || destinationName == nullptr || source == nullptr) return E_POINTER;
    if (sourceName == nullptr) sourceName = destinationName;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        BOOL contains = FALSE;
        hr = source->ContainsKey(sourceName, &contains);
        PL_THROW_IF_FAILED(hr);
        if (!contains) {
            hr = S_OK;
            return;
        }
        PLComPtr<IPLVariant> value;
        hr = source->GetProperty(sourceName, value.Put());
        PL_THROW_ERROR_FORMAT(hr, 0, "Failed to obtain property '%s' from property bag", sourceName);
        if (value) {
            hr = destination->SetProperty(destinationName, value.Get());
            PL_THROW_ERROR_FORMAT(hr, 0, "Failed to set property '%s' from property bag", destinationName);
        }
        hr = S_OK;
    });
}

void PLCheckRequiredProperty(BOOL missing, const char* name, ULONG line, const char* function, const char* file) {
    if (missing)
        PLThrowErrorFormat(E_FAIL, 1, line, function, file, "Failed to find the required property '%hs'.", name);
}

void PLCheckRequiredProperty(BOOL missing, const WCHAR* name, ULONG line, const char* function, const char* file) {
    if (missing)
        PLThrowErrorFormat(E_FAIL, 1, line, function, file, "Failed to find the required property '%ls'.", name);
}

HRESULT GetPLStringFromVariant(IPLVariant* variant, PLString* text) {
    if (text == nullptr) return E_POINTER;
    if (variant == nullptr) return S_OK;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { ReadText(variant, *text); });
}

// ---- CSPVariant ----

void CSPVariant::Create() {
    m_variant = NewVariant();
}
CSPVariant::CSPVariant(LONG value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueLong(value), "Failed to set variant 'long' value.", 0);
}
CSPVariant::CSPVariant(LONGLONG value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueLongLong(value), "Failed to set variant 'long long' value.", 0);
}
CSPVariant::CSPVariant(bool value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueBoolean(value), "Failed to set variant 'boolean' value.", 0);
}
CSPVariant::CSPVariant(const WCHAR* value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueString(value), "Failed to set variant 'string' value.", 0);
}
CSPVariant::CSPVariant(IPLDateTime* value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueDateTime(value), "Failed to set variant 'datetime' value.", 0);
}
CSPVariant::CSPVariant(IUnknown* value) {
    Create();
    PL_THROW_ERROR(m_variant->SetValueIUnknown(value), "Failed to set variant 'IUnknown' value.", 0);
}

// ---- automation values ----

HRESULT ByteArrayFromSafeArray(const Variant* variant, BYTE** bytes, LONG* count) {
    if (variant == nullptr || bytes == nullptr || count == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        kd::platform::SafeArray* array = variant->parray;
        // Exactly an array of bytes: not by reference (whose pointer is no array), not of wider
        // integers that happen to share the flag bits.
        if (variant->vt != (kd::platform::kVarArray | kd::platform::kVarUI1) || array == nullptr ||
            array->elementSize != 1 || array->bounds[0].elements > 0x7FFFFFFF) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain byte array.", 1);
        }
        void* data = nullptr;
        if (!kd::platform::AccessArrayData(array, &data)) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to access safe array data.", 1);
        }
        const ULONG size = array->bounds[0].elements;
        void* block = kd::platform::TaskMemAlloc(size);
        if (block != nullptr) std::memcpy(block, data, size);
        if (!kd::platform::UnaccessArrayData(array)) {
            kd::platform::TaskMemFree(block);
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to unaccess safe array data.", 1);
        }
        if (block == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to allocate task memory.", 1);
        }
        *bytes = static_cast<BYTE*>(block);
        *count = static_cast<LONG>(size);
    });
}

HRESULT GetPageSectionExtentsFromPropertyBag(IPLPropertyBag* bag, PLPageSectionExtents* extents) {
    if (bag == nullptr || extents == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT& hr) {
        struct Field {
            std::size_t name;
            LONG PLPageSectionExtents::*field;
            const char* message;
        };
        static constexpr Field kFields[] = {
            {kPLPropertyXPos, &PLPageSectionExtents::x, "Failed to get 'xPos' property from property bag."},
            {kPLPropertyYPos, &PLPageSectionExtents::y, "Failed to get 'yPos' property from property bag."},
            {kPLPropertyWidth, &PLPageSectionExtents::width, "Failed to get 'width' property from property bag."},
            {kPLPropertyHeight, &PLPageSectionExtents::height, "Failed to get 'height' property from property bag."},
        };
        PLPageSectionExtents read{};
        for (const Field& f : kFields) {
            PLComPtr<IPLVariant> value;
            hr = bag->GetProperty(g_plWellKnownPropertyNames[f.name], value.Put());
            // An absent name (S_FALSE) gives no value to read.
            if (hr == S_FALSE || (hr >= 0 && !value)) hr = E_FAIL;
            PL_THROW_ERROR(hr, f.message, 0);
            hr = value->GetValueLong(&(read.*f.field));
            PL_THROW_ERROR(hr, "Failed to get string value from variant.", 0);
        }
        *extents = read;
    });
}

HRESULT KDVariantToOleVariant(IPLVariant* variant, Variant* ole) {
    if (variant == nullptr || ole == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { ToOle(variant, *ole, 0); });
}

HRESULT OleVariantToKDVariant(const Variant* ole, IPLVariant* variant) {
    if (ole == nullptr || variant == nullptr) return E_POINTER;
    return ::PLGuard(PL_BAG_FUNCTION_SITE, [&](HRESULT&) { FromOle(*ole, variant, 0); });
}
