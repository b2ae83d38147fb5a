// New variants and property bags holding given values, for tests of bags and of objects
// configured from a bag.
#ifndef KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H
#define KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H

#include <initializer_list>
#include <utility>
#include <variant>

#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBagFunctions.h"

namespace kdtest {

// A long, a boolean, a string, a 64-bit long, a double, an object, or (monostate) nothing: an
// undefined variant.
using BagValue = std::variant<std::monostate, LONG, bool, const WCHAR*, LONGLONG, double, IUnknown*>;

inline PLComPtr<IPLVariant> VariantOf(const BagValue& value = {}) {
    PLComPtr<IPLVariant> v;
    PLCreateInstance(CLSID_PLVariant, IID_IPLVariant, v.PutVoid());
    if (const auto* x = std::get_if<LONG>(&value)) v->SetValueLong(*x);
    if (const auto* x = std::get_if<bool>(&value)) v->SetValueBoolean(*x);
    if (const auto* x = std::get_if<const WCHAR*>(&value)) v->SetValueString(*x);
    if (const auto* x = std::get_if<LONGLONG>(&value)) v->SetValueLongLong(*x);
    if (const auto* x = std::get_if<double>(&value)) v->SetValueDouble(*x);
    if (const auto* x = std::get_if<IUnknown*>(&value)) v->SetValueIUnknown(*x);
    return v;
}

inline PLComPtr<IPLPropertyBag> BagOf(std::initializer_list<std::pair<const WCHAR*, BagValue>> entries) {
    PLComPtr<IPLPropertyBag> bag;
    PLCreateInstance(CLSID_PLPropertyBag, IID_IPLPropertyBag, bag.PutVoid());
    for (const auto& [name, value] : entries) bag->SetProperty(name, VariantOf(value).Get());
    return bag;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H
