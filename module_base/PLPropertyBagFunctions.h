// Free functions over property bags and variants: typed values into a bag and back, a property
// copied between bags, required-property checks, a variant's whole text as a PLString, a value
// wrapped in a new variant (CSPVariant), bytes out of an automation array, page-section extents,
// and conversion between the library's variant and the automation VARIANT.
//
// Each returns an HRESULT and records its failures under "Core Services", "Utility Functions"
// and its own name.
#ifndef KD_PLPROPERTYBAGFUNCTIONS_H
#define KD_PLPROPERTYBAGFUNCTIONS_H

#include <kdtrace/datetime.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLString.h"
#include "platform/OleVariant.h"

// Setters: wrap the value in a new variant and SetProperty it under `name`.
HRESULT AddLongToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONG value);
HRESULT AddPLLongToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONGLONG value);
HRESULT AddBoolToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, bool value);
HRESULT AddStringToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, const WCHAR* value);
HRESULT AddIUnknownToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IUnknown* value);
HRESULT AddDateTimeToPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IPLDateTime* value);

// Getters: S_OK with the value left as it was when the bag does not hold `name`.
HRESULT GetLongFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONG* value);
HRESULT GetPLLongFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, LONGLONG* value);
HRESULT GetBoolFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, bool* value);
// The text into the caller's buffer of `size` characters; too small a buffer fails.
HRESULT GetStringFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, WCHAR* buffer, LONG size);
HRESULT GetPLStringFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, PLString* value);
HRESULT GetIUnknownFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IUnknown** value);
// The date object the stored copy holds (a reference for the caller).
HRESULT GetDateTimeFromPropertyBag(IPLPropertyBag* bag, const WCHAR* name, IPLDateTime** value);

// Copies `sourceName` (null: `destinationName`) of `source`, when it is there, to
// `destinationName` of `destination`.
HRESULT CopyVariantBetweenPropertyBags(IPLPropertyBag* destination, const WCHAR* destinationName,
                                       IPLPropertyBag* source, const WCHAR* sourceName);

// Throw E_FAIL with "Failed to find the required property '...'." (a new chain) when `missing`.
void PLCheckRequiredProperty(BOOL missing, const char* name, ULONG line, const char* function, const char* file);
void PLCheckRequiredProperty(BOOL missing, const WCHAR* name, ULONG line, const char* function, const char* file);
#define PL_CHECK_REQUIRED_PROPERTY(missing, name) \
    ::PLCheckRequiredProperty((missing), (name), __LINE__, PL_FUNCTION_LABEL, __FILE__)

// The variant's whole text form; nothing happens for a null variant.
HRESULT GetPLStringFromVariant(IPLVariant* variant, PLString* text);

// A new variant holding one value, released with the holder. A value that cannot be set is
// thrown (error flag 0) with the set operation's code.
class CSPVariant {
public:
    explicit CSPVariant(LONG value);
    explicit CSPVariant(LONGLONG value);
    explicit CSPVariant(bool value);
    explicit CSPVariant(const WCHAR* value);
    explicit CSPVariant(IPLDateTime* value);
    explicit CSPVariant(IUnknown* value);

    IPLVariant* Get() const noexcept { return m_variant.Get(); }
    IPLVariant* operator->() const noexcept { return m_variant.Get(); }

private:
    void Create();
    PLComPtr<IPLVariant> m_variant;
};

// Copies the bytes of an automation array of bytes (and nothing else) into a new block of task
// memory, which the caller frees with kd::platform::TaskMemFree.
HRESULT ByteArrayFromSafeArray(const kd::platform::Variant* variant, BYTE** bytes, LONG* count);

struct PLPageSectionExtents {
    LONG x;
    LONG y;
    LONG width;
    LONG height;
};
// Reads "xPos", "yPos", "width" and "height"; a bag without one of them fails.
HRESULT GetPageSectionExtentsFromPropertyBag(IPLPropertyBag* bag, PLPageSectionExtents* extents);

// Between the library's variant and the automation VARIANT:
//   Empty <-> empty, Undefined <-> null, String <-> BSTR, Long <-> I4 (I1, I2, UI1 read as Long),
//   LongLong <-> I8, Double <-> R8, Boolean <-> BOOL, DateTime and DateTimeOfDay -> DATE (read
//   back as DateTimeOfDay when it has a time of day, else DateTime), IUnknown <-> UNKNOWN
//   (DISPATCH read as IUnknown), Collection <-> array of VARIANT.
// `ole` is cleared first and receives a value it owns; `variant` receives a copy.
HRESULT KDVariantToOleVariant(IPLVariant* variant, kd::platform::Variant* ole);
HRESULT OleVariantToKDVariant(const kd::platform::Variant* ole, IPLVariant* variant);

#endif  // KD_PLPROPERTYBAGFUNCTIONS_H
