// A new property bag holding the given names and values, for tests of objects configured from a
// bag.
#ifndef KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H
#define KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H

#include <initializer_list>
#include <utility>
#include <variant>

#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBagFunctions.h"

namespace kdtest {

using BagValue = std::variant<LONG, bool, const WCHAR*>;

inline PLComPtr<IPLPropertyBag> BagOf(std::initializer_list<std::pair<const WCHAR*, BagValue>> entries) {
    PLComPtr<IPLPropertyBag> bag;
    PLCreateInstance(CLSID_PLPropertyBag, IID_IPLPropertyBag, bag.PutVoid());
    for (const auto& [name, value] : entries) {
        if (const auto* v = std::get_if<LONG>(&value)) AddLongToPropertyBag(bag.Get(), name, *v);
        if (const auto* v = std::get_if<bool>(&value)) AddBoolToPropertyBag(bag.Get(), name, *v);
        if (const auto* v = std::get_if<const WCHAR*>(&value)) AddStringToPropertyBag(bag.Get(), name, *v);
    }
    return bag;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_PROPERTY_BAG_OF_H
