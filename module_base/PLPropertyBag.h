// CPLPropertyBag: the one template behind every property bag, over a constraint policy (which
// names are allowed) and an accessor (the entry storage).
//
//   CPLPropertyBag<CPLUnconstrainedPropertyBag, CPLPropertyAccessor>   every name is allowed;
//       its concrete class is CPLUnconstrainedPropertyBagImpl, the general-purpose bag.
//   CPLPropertyBag<CPLConstrainedPropertyBag, CPLPropertyAccessorEx>   only the names the
//       concrete class allows in InitPropertyBag (AddAllowedProperty); the base of objects that
//       expose a fixed set of fields as a bag.
//
// Names compare code unit by code unit with A to Z folded to a to z (no other letter folds), up
// to and including the terminator, so "Width" and "WIDTH" are one key and "Width" and "Widths"
// are two. Entries are kept in that order. Values are copied in (SetProperty) and out
// (GetProperty); GetProperties hands out the stored objects themselves.
//
// The first operation that needs the bag runs InitPropertyBag once, under the object's lock;
// nothing else is synchronised: callers that share a bag between threads serialise their own
// access to its entries.
#ifndef KD_PLPROPERTYBAG_H
#define KD_PLPROPERTYBAG_H

#include <atomic>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>
#include <kdtrace/xmlwriter.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLMemoryMarker.h"
#include "module_base/PLVariant.h"
#include "platform/Mutex.h"

// <0, 0, >0 as `a` sorts before, with or after `b` under the bag's name comparison.
int PLComparePropertyNames(std::u16string_view a, std::u16string_view b) noexcept;

// The characters of a zero-terminated name up to its terminator. The name is a caller's: read
// inside a guarded region, so that an unreadable one arrives at the edge as a translated fault.
std::u16string_view PLPropertyNameView(const WCHAR* name);

struct PLPropertyNameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
        return PLComparePropertyNames(a, b) < 0;
    }
};

// Hash and equality under the bag's name comparison (A to Z folded), for the lookup index.
struct PLPropertyNameHash {
    std::size_t operator()(std::u16string_view name) const noexcept;
};
struct PLPropertyNameEqual {
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept;
};

// ---- accessors: the entry storage ----

// Entries in name order (the order every enumeration and writer shows), and, once a bag holds
// enough of them for a search of the ordered map to cost more than a hash, an index from name to
// entry for the lookups by name. The index views the keys the map owns (a map's nodes never
// move) and changes only with the map.
class CPLPropertyAccessor {
public:
    using Map = std::map<std::u16string, PLComPtr<IPLVariant>, PLPropertyNameLess>;

    const Map& Entries() const noexcept { return m_entries; }
    bool Empty() const noexcept { return m_entries.empty(); }

    // The entry of `name`, or End().
    Map::iterator Find(std::u16string_view name) {
        if (m_index.empty()) return m_entries.find(name);
        const auto found = m_index.find(name);
        return found == m_index.end() ? m_entries.end() : found->second;
    }
    Map::iterator End() noexcept { return m_entries.end(); }

    // Adds an entry for a name not yet present. Throws std::bad_alloc with the bag unchanged.
    void Insert(std::u16string_view name, PLComPtr<IPLVariant>&& value) {
        // Names often arrive in order (a bag read back from its XML form, say): a name after the
        // last one is appended without a search.
        auto at = m_entries.end();
        if (!m_entries.empty() && PLComparePropertyNames(std::prev(at)->first, name) >= 0)
            at = m_entries.lower_bound(name);
        const auto made = m_entries.emplace_hint(at, std::u16string(name), PLComPtr<IPLVariant>());
        try {
            if (!m_index.empty()) {
                m_index.emplace(std::u16string_view(made->first), made);
            } else if (m_entries.size() >= kIndexedSize) {
                for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry)
                    m_index.emplace(std::u16string_view(entry->first), entry);
            }
        } catch (const std::bad_alloc&) {
            m_index.clear();
            m_entries.erase(made);
            throw;
        }
        made->second = std::move(value);
    }

    // Takes the entry out of the map and the index; its value is handed back to go last (its end
    // may reach this bag).
    PLComPtr<IPLVariant> Erase(Map::iterator entry) {
        if (!m_index.empty()) m_index.erase(std::u16string_view(entry->first));
        PLComPtr<IPLVariant> value = std::move(entry->second);
        m_entries.erase(entry);
        return value;
    }

private:
    // From this many entries on, lookups go through the index.
    static constexpr std::size_t kIndexedSize = 16;

    Map m_entries;
    std::unordered_map<std::u16string_view, Map::iterator, PLPropertyNameHash, PLPropertyNameEqual> m_index;
};

// The storage of constrained bags. Names bound to fields of the owning object would live in a
// second map; no binding is ever registered, so every entry lives in the ordinary one.
class CPLPropertyAccessorEx : public CPLPropertyAccessor {};

// ---- constraint policies ----

class CPLUnconstrainedPropertyBag {
public:
    HRESULT ValidateProperty(std::u16string_view) const noexcept { return S_OK; }
    // Reading entries from another bag: the general-purpose bag does not.
    static constexpr HRESULT kLoadResult = E_NOTIMPL;
};

class CPLConstrainedPropertyBag {
public:
    // Adds `name` to the allowed set (once).
    HRESULT AddAllowedProperty(const WCHAR* name);
    // S_OK for an allowed name; otherwise records "Property '...' is not allowed in this
    // constrained property bag" and returns E_FAIL.
    HRESULT ValidateProperty(std::u16string_view name) const;
    // Only bound names are read from another bag, and there are none.
    static constexpr HRESULT kLoadResult = S_OK;

private:
    std::set<std::u16string, PLPropertyNameLess> m_allowed;
};

// ---- the template ----

template <class Constraint, class Accessor>
class CPLPropertyBag : public IPLPropertyBag,
                       public IPLPersistPropertyBag,
                       public IPLSerializeXML,
                       public CMemoryMarker<CPLPropertyBag<Constraint, Accessor>> {
public:
    // IPLPropertyBag
    HRESULT SetProperty(const WCHAR* name, IPLVariant* value) override {
        if (name == nullptr || value == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT& hr) { hr = StoreProperty(name, value); });
    }

    HRESULT GetProperty(const WCHAR* name, IPLVariant** value) override {
        if (name == nullptr || value == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT& hr) {
            EnsureInitialized();
            const std::u16string_view key = PLPropertyNameView(name);
            hr = m_constraint.ValidateProperty(key);
            PL_THROW_IF_FAILED(hr);
            const auto found = m_accessor.Find(key);
            if (found == m_accessor.End()) {
                hr = S_FALSE;
                return;
            }
            PLComPtr<IPLVariant> copy =
                CopyValue(found->second.Get(), key, "Failed to copy property '%s' from property bag");
            *value = copy.Get();  // before the reference passes: an unwritable `value` leaks none
            copy.Detach();
        });
    }

    HRESULT GetProperties(IPLPropertyCollection** collection) override {
        if (collection == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT&) {
            EnsureInitialized();
            PLComPtr<IPLPropertyCollection> made = MakePropertyCollection();
            *collection = made.Get();
            made.Detach();
        });
    }

    HRESULT ContainsKey(const WCHAR* name, BOOL* contains) override {
        if (name == nullptr || contains == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT& hr) {
            EnsureInitialized();
            const bool found = m_accessor.Find(PLPropertyNameView(name)) != m_accessor.End();
            *contains = found ? TRUE : FALSE;
            hr = found ? S_OK : S_FALSE;
        });
    }

    // Constrained bags remove nothing.
    HRESULT DeleteProperty(const WCHAR*) override { return S_FALSE; }

    // IPLPersistPropertyBag
    HRESULT Save(IPLPropertyBag* bag) override {
        if (bag == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT&) {
            EnsureInitialized();
            // A copy of the entries: `bag` may be this bag, or change it from a listener.
            const std::vector<std::pair<std::u16string, PLComPtr<IPLVariant>>> entries(m_accessor.Entries().begin(),
                                                                                       m_accessor.Entries().end());
            for (const auto& [name, value] : entries) bag->SetProperty(name.c_str(), value.Get());
        });
    }

    HRESULT Load(IPLPropertyBag* bag) override {
        if (bag == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT& hr) {
            EnsureInitialized();
            hr = Constraint::kLoadResult;
        });
    }

    // IPLSerializeXML: each entry's compact element, in name order; bit 0 of `flags` encloses
    // them in <PropertyBag>...</PropertyBag>.
    HRESULT WriteXML(IPLXMLWriter* writer, LONG flags) override {
        if (writer == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE(kPLPropertyBagGroup), [&](HRESULT& hr) {
            EnsureInitialized();
            if (flags & 1) {
                hr = writer->Write(u"<PropertyBag>");
                PL_THROW_ERROR(hr, "Failed to write xml.", 0);
            }
            PLComPtr<IPLPropertyCollection> properties;
            hr = GetProperties(properties.Put());
            PL_THROW_ERROR(hr, "Failed to get property collection.", 0);
            const LONG count = properties->GetCount();
            for (LONG i = 0; i < count; ++i) {
                PLComPtr<IPLProperty> property;
                hr = properties->GetAt(i, property.Put());
                PL_THROW_ERROR(hr, "Failed to get property at index.", 0);
                PLComPtr<IPLSerializeXML> serialize;
                hr = property.As(serialize);
                if (hr >= 0) hr = serialize->WriteXML(writer, flags);
                PL_THROW_ERROR(hr, "Failed to write xml.", 0);
            }
            if (flags & 1) {
                hr = writer->Write(u"</PropertyBag>");
                PL_THROW_ERROR(hr, "Failed to write xml.", 0);
            }
        });
    }

    // Every entry in name order with the stored value object itself, as GetProperties hands
    // them out, but without a property object per entry: for the library's own writers.
    // `visit(name, value)` may throw; the name is whole, not cut as a property's is, and is a view
    // of the stored key, so zero-terminated.
    template <class Visit>
    void ForEachEntry(Visit&& visit) {
        EnsureInitialized();
        for (const auto& [name, value] : m_accessor.Entries()) visit(std::u16string_view(name), value.Get());
    }

protected:
    CPLPropertyBag() = default;
    ~CPLPropertyBag() = default;

    // The concrete class's first-use initialisation (a constrained bag adds its allowed names).
    // S_FALSE asks to run it again on the next call.
    virtual HRESULT InitPropertyBag() = 0;
    Accessor& GetAccessor() noexcept { return m_accessor; }
    Constraint& GetConstraint() noexcept { return m_constraint; }

    // Runs InitPropertyBag once, under the object's lock. A failure is reported (thrown) by the
    // call that ran it only; later calls proceed without it.
    void EnsureInitialized() {
        if (m_initResult.load(std::memory_order_acquire) != S_FALSE) return;
        HRESULT result = S_OK;
        {
            kd::platform::LockGuard guard(m_initLock);
            if (m_initResult.load(std::memory_order_relaxed) != S_FALSE) return;
            result = InitPropertyBag();
            m_initResult.store(result, std::memory_order_release);
        }
        PL_THROW_ERROR(result, "Property bag not properly initialized.", 1);
    }

    // Validates, copies and stores; the bag is unchanged when any step fails. S_OK.
    HRESULT StoreProperty(const WCHAR* name, IPLVariant* value) {
        EnsureInitialized();
        const std::u16string_view key = PLPropertyNameView(name);
        HRESULT hr = m_constraint.ValidateProperty(key);
        PL_THROW_ERROR_FORMAT(hr, 0, "Failed to validate property '%s' on property bag", key);
        return PutCopy(key, value);
    }

    // StoreProperty for a value that nobody else holds (one the caller has just made): stored
    // as it is instead of copied. A value without a kind is refused as a copy of it would be.
    HRESULT AdoptProperty(const WCHAR* name, PLComPtr<IPLVariant> value) {
        LONG kind = PLVariantUndefined;
        if (value->GetType(&kind) < 0 || kind == PLVariantUndefined) return StoreProperty(name, value.Get());
        EnsureInitialized();
        const std::u16string_view key = PLPropertyNameView(name);
        const HRESULT hr = m_constraint.ValidateProperty(key);
        PL_THROW_ERROR_FORMAT(hr, 0, "Failed to validate property '%s' on property bag", key);
        return PutEntry(key, std::move(value));
    }

    // Stores `copy` under `key`, in place of an entry of that name. S_OK.
    HRESULT PutEntry(std::u16string_view key, PLComPtr<IPLVariant> copy) {
        const auto found = m_accessor.Find(key);
        if (found != m_accessor.End()) {
            // The old value goes after the new one is in place (its end may reach this bag).
            PLComPtr<IPLVariant> old = std::exchange(found->second, std::move(copy));
            return S_OK;
        }
        try {
            m_accessor.Insert(key, std::move(copy));
        } catch (const std::bad_alloc&) {
            const HRESULT hr = E_OUTOFMEMORY;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to set property '%s' on property bag", key);
        }
        return S_OK;
    }

    // Stores a copy of `value` under `key`. A stored value that nobody else holds (no property
    // handed out by GetProperties shares it) takes the copy in place, as a new variant would
    // hold it; otherwise a new variant replaces it. S_OK.
    HRESULT PutCopy(std::u16string_view key, IPLVariant* value) {
        const auto found = m_accessor.Find(key);
        if (found != m_accessor.End()) {
            HRESULT hr = S_OK;
            if (PLCopyIntoSoleVariant(found->second.Get(), value, hr)) {
                PL_THROW_ERROR_FORMAT(hr, 0, "Failed to set property '%s' on property bag", key);
                return S_OK;
            }
        }
        return PutEntry(key, CopyValue(value, key, "Failed to set property '%s' on property bag"));
    }

    // A new variant holding a copy of `value`. A copy that fails (an Undefined source, say) is
    // thrown with `message`, after the variant's own record.
    static PLComPtr<IPLVariant> CopyValue(IPLVariant* value, std::u16string_view name, const char* message) {
        PLComPtr<IPLVariant> copy;
        HRESULT hr = ::PLCreateVariant(copy.Put());
        PL_THROW_ERROR(hr, "Failed to create variant", 1);
        hr = copy->SetValueVariant(value);
        PL_THROW_ERROR_FORMAT(hr, 0, message, name);
        return copy;
    }

    // A new collection of properties sharing the stored value objects, in name order.
    PLComPtr<IPLPropertyCollection> MakePropertyCollection() {
        PLComPtr<IPLPropertyCollection> collection;
        HRESULT hr = ::PLCreateInstance(CLSID_PLPropertyCollection, collection);
        PL_THROW_ERROR(hr, "Failed to create property collection.", 1);
        for (const auto& [name, value] : m_accessor.Entries()) {
            PLComPtr<IPLProperty> property;
            hr = ::PLCreateInstance(CLSID_PLProperty, property);
            PL_THROW_ERROR(hr, "Failed to create property.", 1);
            hr = property->Initialize(name.c_str(), value.Get());
            if (hr >= 0) hr = collection->Insert(property.Get());
            PL_THROW_ERROR(hr, "Failed to insert property into collection.", 0);
        }
        return collection;
    }

    static constexpr const char* kPLPropertyBagGroup = "Core Services";

private:
    Constraint m_constraint;
    Accessor m_accessor;
    std::atomic<HRESULT> m_initResult{S_FALSE};
    kd::platform::Mutex m_initLock;
};

using CPLUnconstrainedPropertyBagBase = CPLPropertyBag<CPLUnconstrainedPropertyBag, CPLPropertyAccessor>;
using CPLConstrainedPropertyBagBase = CPLPropertyBag<CPLConstrainedPropertyBag, CPLPropertyAccessorEx>;

#endif  // KD_PLPROPERTYBAG_H
