// CPLDataCollection: the one template behind every typed collection of the library.
//
// An instantiation keeps reference-counted item pointers in insertion order and implements a
// collection interface over them: insertion, positional insertion, removal, indexed access,
// searches by identifier and by name, duplicate detection and purging, a stable sort driven by
// the caller's comparison function, a read-only switch, and a notification of each added item
// to IPLCollectionListener listeners. It is parameterised by
//   ItemI        the item interface (derived from IUnknown);
//   CollectionI  the collection interface it implements. Collection interfaces differ in slot
//                order, so the template implements operations by name: GetCount, GetAt,
//                RemoveAll, Insert, InsertAt, FindByID, CheckExistsByID, FindByName, Remove,
//                Sort, SetReadOnly, GetReadOnly, FindDuplicates, PurgeDuplicates,
//                FindAllDuplicates, CheckExistsByName, and six reserved slots, ReservedA (which
//                answers E_NOTIMPL) and ReservedB to ReservedF (which answer S_OK);
//   ItemClsid    the item class (informational: no operation reads it);
//   Storage      the container policy (PLVectorStorage);
//   Accessor     the item accessor policy: StdAccessor<ItemI> (identifiers through the item's
//                GetID) or NoImplAccessor<ItemI> (no identifier, name or comparison).
//
// A concrete class derives from CPLComObject<CPLReleaseModel> first and from the instantiation
// second, and supplies the interface map and the identifiers.
//
// The collection is not synchronised: one collection is used from one thread at a time.
// Callbacks into other objects (listeners, accessors, sort functions) may call back into the
// collection: every walk holds references on the items it is looking at and re-checks its
// bounds, so such a call can change the results but never touches a released item.
#ifndef KD_PLDATACOLLECTION_H
#define KD_PLDATACOLLECTION_H

#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <kdtrace/collection.h>
#include <kdtrace/exports.h>
#include <kdtrace/types.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLEventSource.h"

// The storage policy: a growable array.
struct PLVectorStorage {
    template <class T>
    using Container = std::vector<T>;
};

// The accessor of items that offer nothing: every operation answers E_NOTIMPL.
template <class I>
class NoImplAccessor {
public:
    // The item's identifier.
    virtual HRESULT AccessorGetID(I* /*item*/, ULONG* /*id*/) { return E_NOTIMPL; }
    // The item's name, cut to size - 1 characters.
    virtual HRESULT AccessorGetName(I* /*item*/, WCHAR* /*buffer*/, LONG /*size*/) { return E_NOTIMPL; }
    // 0 when equal, -1 when a sorts before b, any other value otherwise.
    virtual HRESULT AccessorCompare(I* /*a*/, I* /*b*/, LONG* /*result*/) { return E_NOTIMPL; }
    // Drops a reference on the item.
    virtual HRESULT AccessorRelease(I* /*item*/) { return E_NOTIMPL; }

protected:
    ~NoImplAccessor() = default;
};

// The accessor of items whose interface has GetID in slot 3.
template <class I>
class StdAccessor : public NoImplAccessor<I> {
public:
    HRESULT AccessorGetID(I* item, ULONG* id) override { return item->GetID(id); }
    HRESULT AccessorRelease(I* item) override {
        item->Release();
        return S_OK;
    }

protected:
    ~StdAccessor() = default;
};

// ---- helpers shared by every instantiation ----

// The text of the one template argument in a compiler's __PRETTY_FUNCTION__ of a function
// template ("... [with T = X]" or "... [T = X]"); a pointer argument is written "&name".
std::string PLTemplateArgumentText(const char* prettyFunction);
template <class T>
const char* PLPrettyTypeFunction() noexcept {
    return __PRETTY_FUNCTION__;
}
template <const GUID* P>
const char* PLPrettyGuidFunction() noexcept {
    return __PRETTY_FUNCTION__;
}
// Equal when the texts differ at most in the case of the letters A to Z.
//
// Helpers that read or write a caller's memory (texts, arrays) are not noexcept: an unreadable
// pointer must reach the method's edge as a translated fault, not end the process.
bool PLEqualIgnoringAsciiCase(const WCHAR* a, const WCHAR* b);
// Makes room for `extra` more items in a caller's array (C heap). E_INVALIDARG for an array
// whose fields do not describe a block, E_OUTOFMEMORY when it cannot grow; nothing changes then.
HRESULT PLItemArrayReserve(void** items, LONG* count, LONG* capacity, std::size_t extra, std::size_t itemSize);

template <class ItemI, class CollectionI, const CLSID* ItemClsid, class Storage, class Accessor>
class CPLDataCollection : public CollectionI, public Accessor, public CPLEventSource {
public:
    using CompareFunction = HRESULT (*)(ItemI*, ItemI*, LONG*);
    using ItemArray = PLItemArray<ItemI>;

    CPLDataCollection() noexcept : m_accessor(static_cast<Accessor*>(this)) {}
    ~CPLDataCollection() override { ReleaseAll(); }

    LONG GetCount() override { return static_cast<LONG>(m_items.size()); }

    HRESULT GetAt(LONG index, ItemI** item) override {
        if (item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) {
                hr = E_INVALIDARG;
                ThrowFormat(hr, 1, __LINE__, "GetAt", "Invalid index specified (%li)", index);
            }
            ItemI* found = m_items[static_cast<std::size_t>(index)];
            if (found == nullptr) {
                hr = E_FAIL;
                Throw(hr, "Failed to obtain object from collection container", 1, __LINE__, "GetAt");
            }
            found->AddRef();
            *item = found;
        });
    }

    HRESULT RemoveAll() override {
        ReleaseAll();
        return S_OK;
    }

    HRESULT ReservedA(void*) override { return E_NOTIMPL; }
    HRESULT ReservedB(void*) override { return S_OK; }
    HRESULT ReservedC(void*) override { return S_OK; }
    HRESULT ReservedD(void*) override { return S_OK; }
    HRESULT ReservedE(void*) override { return S_OK; }
    HRESULT ReservedF(void*) override { return S_OK; }

    HRESULT Insert(ItemI* item) override {
        if (item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            if (m_readOnly) {
                hr = E_FAIL;
                Throw(hr, "Cannot insert into collection.  This collection is read only.", 1, __LINE__, "Insert");
            }
            hr = Place(item, m_items.size());
            Throw(hr, "Failed to insert object into collection container", 1, __LINE__, "Insert");
            fireItemAdded(item);
        });
    }

    HRESULT InsertAt(ItemI* item, LONG position, LONG index) override {
        if (item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            const std::size_t count = m_items.size();
            const bool indexValid = index >= 0 && static_cast<std::size_t>(index) < count;
            std::size_t at = count;
            hr = S_OK;
            switch (position) {
                case PL_INSERT_AT_END:
                    at = count;
                    break;
                case PL_INSERT_AT_FRONT:
                    at = 0;
                    break;
                case PL_INSERT_BEFORE:
                    at = static_cast<std::size_t>(index);
                    break;
                case PL_INSERT_AFTER:
                    at = static_cast<std::size_t>(index) + 1;
                    break;
                default:
                    hr = E_INVALIDARG;
                    break;
            }
            if ((position == PL_INSERT_BEFORE || position == PL_INSERT_AFTER) && !indexValid) hr = E_INVALIDARG;
            if (hr >= 0) hr = Place(item, at);
            Throw(hr, "Failed to insert object into collection container", 1, __LINE__, "InsertAt");
            fireItemAdded(item);
        });
    }

    HRESULT FindByID(ULONG id, ItemI** item) override {
        if (item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            PLComPtr<ItemI> found = WalkByID(id);
            hr = Found(found, item);
        });
    }

    HRESULT CheckExistsByID(ULONG id, BOOL* exists) override {
        if (exists == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT&) { *exists = WalkByID(id) ? TRUE : FALSE; });
    }

    HRESULT FindByName(const WCHAR* name, ItemI** item) override {
        if (name == nullptr || item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            PLComPtr<ItemI> found = WalkByName(name);
            hr = Found(found, item);
        });
    }

    HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) override {
        if (name == nullptr || exists == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT&) { *exists = WalkByName(name) ? TRUE : FALSE; });
    }

    HRESULT Remove(ItemI* item) override {
        if (item == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            if (m_readOnly) {
                hr = E_FAIL;
                Throw(hr, "Cannot remove from collection.  Collection is read only.", 1, __LINE__, "Remove");
            }
            std::size_t i = 0;
            while (i < m_items.size() && m_items[i] != item) ++i;
            if (i == m_items.size()) {
                hr = E_FAIL;
                Throw(hr, "Failed to remove object from collection container", 1, __LINE__, "Remove");
            }
            m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
            ++m_generation;
            item->Release();
        });
    }

    HRESULT Sort(CompareFunction compare) override {
        if (compare == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            const unsigned generation = m_generation;
            // The items keep a reference of the sort's own while the caller's function runs.
            std::vector<PLComPtr<ItemI>> held = Snapshot();
            std::vector<ItemI*> placed;
            placed.reserve(held.size());
            for (const PLComPtr<ItemI>& entry : held) {
                ItemI* next = entry.Get();
                if (next == nullptr) {
                    hr = E_FAIL;
                    Throw(hr, "Failed to obtain object from collection container", 1, __LINE__, "Sort");
                }
                std::size_t at = placed.size();
                for (std::size_t k = 0; k < placed.size(); ++k) {
                    LONG result = 0;
                    PLCallOut([&] { hr = compare(placed[k], next, &result); });
                    Throw(hr, "Failed to execute sort function", 0, __LINE__, "Sort");
                    if (result > 0) {
                        at = k;
                        break;
                    }
                }
                placed.insert(placed.begin() + static_cast<std::ptrdiff_t>(at), next);
            }
            // A sort function that changed the collection leaves an order that no longer
            // describes it: keep the collection as the function left it.
            if (m_generation != generation) {
                hr = E_FAIL;
                Throw(hr, "The collection changed while it was being sorted", 1, __LINE__, "Sort");
            }
            for (std::size_t k = 0; k < placed.size(); ++k) m_items[k] = placed[k];
            hr = S_OK;
        });
    }

    HRESULT SetReadOnly(BOOL readOnly) override {
        return ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT&) { m_readOnly = readOnly; });
    }

    HRESULT GetReadOnly(BOOL* readOnly) override {
        if (readOnly == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT&) { *readOnly = m_readOnly; });
    }

    HRESULT FindDuplicates(ItemI* item, ItemArray* duplicates, LONG start) override {
        if (item == nullptr || duplicates == nullptr) return E_POINTER;
        if (start < 0 || static_cast<std::size_t>(start) > m_items.size()) return E_INVALIDARG;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            if (!IsValidArray(duplicates)) {
                hr = E_INVALIDARG;
                return;
            }
            std::vector<PLComPtr<ItemI>> held = Snapshot();
            std::vector<PLComPtr<ItemI>> found;
            bool seenItself = false;
            for (std::size_t i = static_cast<std::size_t>(start); i < held.size(); ++i) {
                ItemI* entry = held[i].Get();
                if (entry == nullptr) continue;
                if (entry == item) {
                    // The item's own first entry is not its duplicate; later ones are.
                    if (seenItself) found.push_back(held[i]);
                    seenItself = true;
                    continue;
                }
                LONG result = 1;
                if (m_accessor->AccessorCompare(item, entry, &result) < 0) {
                    hr = NotFound();
                    return;
                }
                if (result == 0) found.push_back(held[i]);
            }
            hr = Append(duplicates, found);
            Throw(hr, "Failed to return the duplicates", 1, __LINE__, "FindDuplicates");
        });
    }

    HRESULT PurgeDuplicates() override {
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT&) {
            for (std::size_t i = 0; i < m_items.size(); ++i) {
                PLComPtr<ItemI> kept(m_items[i]);
                if (!kept) continue;
                for (std::size_t j = i + 1; j < m_items.size(); ++j) {
                    PLComPtr<ItemI> other(m_items[j]);
                    if (!other) continue;
                    LONG result = 1;
                    const HRESULT compared = m_accessor->AccessorCompare(kept.Get(), other.Get(), &result);
                    if (compared < 0) {
                        PLRecordErrorMessage("Core", "CompareRelease", CompareReleaseLabel().c_str(), compared, 0,
                                             u"Failed to verify object equality", 0);
                        continue;
                    }
                    // (The comparison may have changed the collection: the entry must still be
                    // the one compared.)
                    if (result == 0 && j < m_items.size() && m_items[j] == other.Get()) {
                        m_items[j] = nullptr;
                        ++m_generation;
                        other->Release();  // the collection's reference
                    }
                }
            }
            std::erase(m_items, nullptr);
        });
    }

    HRESULT FindAllDuplicates(ItemArray* duplicates, BYTE sorted) override {
        if (duplicates == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            if (!IsValidArray(duplicates)) {
                hr = E_INVALIDARG;
                return;
            }
            std::vector<PLComPtr<ItemI>> held = Snapshot();
            std::vector<bool> marked(held.size(), false);
            std::vector<PLComPtr<ItemI>> found;
            for (std::size_t i = 0; i < held.size(); ++i) {
                ItemI* first = held[i].Get();
                if (marked[i] || first == nullptr) continue;
                for (std::size_t j = i + 1; j < held.size(); ++j) {
                    ItemI* second = held[j].Get();
                    if (marked[j] || second == nullptr) continue;
                    LONG result = 1;
                    if (second != first) {
                        if (m_accessor->AccessorCompare(first, second, &result) < 0) {
                            hr = NotFound();
                            return;
                        }
                    } else {
                        result = 0;
                    }
                    if (result == 0) {
                        marked[j] = true;
                        found.push_back(held[j]);
                    } else if (result == -1 && sorted != 0) {
                        break;
                    }
                }
            }
            hr = Append(duplicates, found);
            Throw(hr, "Failed to return the duplicates", 1, __LINE__, "FindAllDuplicates");
        });
    }

    // The event-source part: only IPLCollectionListener may be registered.
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override {
        if (iid != IID_IPLCollectionListener) return E_NOINTERFACE;
        if (object == nullptr || cookie == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {
            IUnknown* listener = nullptr;
            hr = object->QueryInterface(IID_IPLCollectionListener, reinterpret_cast<void**>(&listener));
            if (hr >= 0 && listener == nullptr) hr = E_NOINTERFACE;
            Throw(hr, "Object does not support listener interface", 1, __LINE__, "AddListener");
            struct Release {
                IUnknown* listener;
                ~Release() { listener->Release(); }
            } release{listener};
            *cookie = listener;  // before the registration: a fault here leaves none behind
            AppendListenerRecord(listener, object, iid);
        });
    }

    // Tells every collection listener, in registration order, of an added item.
    void fireItemAdded(ItemI* item) {
        FireEvent<IPLCollectionListener>(IID_IPLCollectionListener, [item](IPLCollectionListener* listener) {
            listener->ItemAdded(static_cast<IUnknown*>(item));
        });
    }

    // "CPLDataCollection<Item, Collection, &ItemClsid, Storage, Accessor>": the location that
    // thrown errors carry, followed by "::" and the operation.
    static const std::string& TemplateLabel() {
        static const std::string label = "CPLDataCollection<" + PLTemplateArgumentText(PLPrettyTypeFunction<ItemI>()) +
                                         ", " + PLTemplateArgumentText(PLPrettyTypeFunction<CollectionI>()) + ", " +
                                         PLTemplateArgumentText(PLPrettyGuidFunction<ItemClsid>()) + ", " +
                                         PLTemplateArgumentText(PLPrettyTypeFunction<Storage>()) + ", " +
                                         PLTemplateArgumentText(PLPrettyTypeFunction<Accessor>()) + ">";
        return label;
    }
    // The method under which PurgeDuplicates records a comparison it could not make.
    static const std::string& CompareReleaseLabel() {
        static const std::string label =
            "CompareRelease<struct " + PLTemplateArgumentText(PLPrettyTypeFunction<ItemI>()) + " *>::operator ()";
        return label;
    }

protected:
    // Inserts at a position with the collection's reference. The reference is taken before the
    // listeners hear of the item, so that a listener that removes it again cannot release a
    // reference the collection never took. The item is the caller's: a fault in reaching it
    // leaves the collection as it was and travels on to the method's edge.
    HRESULT Place(ItemI* item, std::size_t at) {
        const auto where = m_items.begin() + static_cast<std::ptrdiff_t>(at);
        try {
            m_items.insert(where, item);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        try {
            PLCallOut([item] { item->AddRef(); });
        } catch (...) {
            m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(at));
            throw;
        }
        ++m_generation;
        return S_OK;
    }

    void ReleaseAll() noexcept {
        // Releasing may run an item's destructor, which may reach this collection: empty it
        // first.
        auto items = std::move(m_items);
        m_items.clear();
        ++m_generation;
        for (ItemI* item : items)
            if (item != nullptr) item->Release();
    }

    std::vector<PLComPtr<ItemI>> Snapshot() const {
        std::vector<PLComPtr<ItemI>> held;
        held.reserve(m_items.size());
        for (ItemI* item : m_items) held.emplace_back(item);
        return held;
    }

    // The first item whose identifier equals `id`; a failing accessor ends the walk.
    PLComPtr<ItemI> WalkByID(ULONG id) {
        const std::vector<PLComPtr<ItemI>> held = Snapshot();
        ItemI* found = nullptr;
        // The items may be the caller's objects: their code runs under a recovery point.
        PLCallOut([&] {
            for (const PLComPtr<ItemI>& entry : held) {
                if (!entry) continue;
                ULONG itemId = 0;
                if (m_accessor->AccessorGetID(entry.Get(), &itemId) < 0) break;
                if (itemId == id) {
                    found = entry.Get();
                    break;
                }
            }
        });
        return PLComPtr<ItemI>(found);
    }

    // The first item whose name equals `name` but for the case of A to Z; a failing accessor
    // ends the walk.
    PLComPtr<ItemI> WalkByName(const WCHAR* name) {
        for (const PLComPtr<ItemI>& entry : Snapshot()) {
            if (!entry) continue;
            WCHAR buffer[255] = {};
            if (m_accessor->AccessorGetName(entry.Get(), buffer, 255) < 0) break;
            buffer[254] = 0;
            if (PLEqualIgnoringAsciiCase(buffer, name)) return entry;
        }
        return nullptr;
    }

    // Hands out a found item, or reports a miss: null, the thread's error list emptied, E_FAIL.
    static HRESULT Found(PLComPtr<ItemI>& found, ItemI** out) {
        if (found) {
            *out = found.Detach();
            return S_OK;
        }
        *out = nullptr;
        return NotFound();
    }
    static HRESULT NotFound() {
        PLClearThreadErrors();
        return E_FAIL;
    }

    static bool IsValidArray(const ItemArray* array) {
        return array->count >= 0 && array->capacity >= array->count &&
               (array->capacity == 0 || array->items != nullptr);
    }

    // Appends the items to the caller's array, each with a reference for the caller; all or
    // nothing.
    static HRESULT Append(ItemArray* array, std::vector<PLComPtr<ItemI>>& items) {
        void* block = array->items;
        const HRESULT hr = PLItemArrayReserve(&block, &array->count, &array->capacity, items.size(), sizeof(ItemI*));
        if (hr < 0) return hr;
        array->items = static_cast<ItemI**>(block);
        for (PLComPtr<ItemI>& item : items) array->items[array->count++] = item.Detach();
        return S_OK;
    }

    static void Throw(HRESULT hr, const char* message, ULONG flag, ULONG line, const char* operation) {
        if (hr >= 0) return;
        const std::string where = TemplateLabel() + "::" + operation;
        PLThrowError(hr, message, flag, line, where.c_str(), __FILE__);
    }
    template <class... A>
    static void ThrowFormat(HRESULT hr, ULONG flag, ULONG line, const char* operation, const char* format,
                            const A&... args) {
        if (hr >= 0) return;
        const std::string where = TemplateLabel() + "::" + operation;
        PLThrowErrorFormat(hr, flag, line, where.c_str(), __FILE__, format, args...);
    }

    BOOL m_readOnly = FALSE;
    typename Storage::template Container<ItemI*> m_items;
    NoImplAccessor<ItemI>* m_accessor;
    // Counts changes of the item list, so a walk that calls out can tell it was changed.
    unsigned m_generation = 0;
};

#endif  // KD_PLDATACOLLECTION_H
