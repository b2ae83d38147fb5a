#include "module_base/PLDataCollection.h"

#include <gtest/gtest.h>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

// An item with an identifier and a name (only those two operations are used).
struct Item : kdtest::Fake<IPLTraceContext> {
    Item(ULONG id, std::u16string name = u"") : Fake(IID_IPLTraceContext), id(id), name(name) {}
    HRESULT GetID(ULONG* out) override { return *out = id, S_OK; }
    HRESULT GetName(WCHAR* buffer, LONG size) override {
        buffer[name.copy(buffer, static_cast<std::size_t>(size - 1))] = 0;
        return S_OK;
    }
    HRESULT GetProperties(IPLPropertyBag**) override { return E_NOTIMPL; }
    HRESULT SetProperties(IPLPropertyBag*) override { return E_NOTIMPL; }
    HRESULT FireMessage(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT AddListener(IUnknown*, void**) override { return E_NOTIMPL; }
    HRESULT RemoveListener(void*) override { return E_NOTIMPL; }
    ULONG id;
    std::u16string name;
};
using Items = std::vector<IPLTraceContext*>;

// The item a successful lookup handed out, its reference given back (null after a failure).
IPLTraceContext* Found(HRESULT hr, IPLTraceContext* const* out) {
    EXPECT_HR(hr, S_OK);
    return hr == S_OK ? ((*out)->Release(), *out) : nullptr;
}

HRESULT ById(IPLTraceContext* a, IPLTraceContext* b, LONG* result) {
    const ULONG x = static_cast<Item*>(a)->id, y = static_cast<Item*>(b)->id;
    return *result = x == y ? 0 : x < y ? -1 : 1, S_OK;
}

// Names, and comparison by identifier, so that searches and duplicates have something to use.
struct ValueAccessor : StdAccessor<IPLTraceContext> {
    HRESULT AccessorGetName(IPLTraceContext* item, WCHAR* buffer, LONG size) override {
        return item->GetName(buffer, size);
    }
    HRESULT AccessorCompare(IPLTraceContext* a, IPLTraceContext* b, LONG* result) override {
        return ById(a, b, result);
    }
};

template <class Accessor>
class Collection : public CPLComObject<CPLReleaseModel>,
                   public CPLDataCollection<IPLTraceContext, IPLTraceContextCollection, &CLSID_PLTraceContext,
                                            PLVectorStorage, Accessor> {
    PL_BEGIN_INTERFACE_MAP(Collection, IPLTraceContextCollection)
    PL_INTERFACE_ENTRY(IPLTraceContextCollection)
    PL_END_INTERFACE_MAP()
    // Public, as the map leaves its members.
    Items Contents() const { return Items(this->m_items.begin(), this->m_items.end()); }
};
template <class Accessor>
const CLSID& Collection<Accessor>::PLClassID() noexcept {
    return GUID_NULL;
}
using StdCollection = Collection<StdAccessor<IPLTraceContext>>;
using NoImplCollection = Collection<NoImplAccessor<IPLTraceContext>>;
using ValueCollection = Collection<ValueAccessor>;

TEST(DataCollection, IndexedAccessPlacementAndReadOnly) {
    Item a(1), b(2), d(3), e(4);
    StdCollection c;
    IPLTraceContext* out = &a;
    EXPECT_HR(c.GetAt(0, &out), E_INVALIDARG);
    EXPECT_EQ(out, &a);
    const auto errors = kdtest::ThreadErrors(&GetThreadError);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), u"Core|CPLDataCollection|GetAt|Invalid index specified (0)");

    // Into an empty collection, after the last (appended), before the first, at the end.
    for (const HRESULT hr : {c.InsertAt(&b, PL_INSERT_AT_FRONT, 0), c.InsertAt(&d, PL_INSERT_AFTER, 0),
                             c.InsertAt(&a, PL_INSERT_BEFORE, 0), c.InsertAt(&e, PL_INSERT_AT_END, 77)})
        EXPECT_HR(hr, S_OK);
    EXPECT_EQ(c.Contents(), (Items{&a, &b, &d, &e}));
    for (auto [position, index] : {std::pair<LONG, LONG>{PL_INSERT_BEFORE, 4}, {PL_INSERT_AFTER, -1}, {4, 0}})
        EXPECT_HR(c.InsertAt(&a, position, index), E_INVALIDARG) << position << " " << index;
    EXPECT_EQ(Found(c.GetAt(2, &out), &out), &d);

    EXPECT_HR(c.SetReadOnly(TRUE), S_OK);
    EXPECT_HR(c.Insert(&a), E_FAIL);
    EXPECT_HR(c.Remove(&a), E_FAIL);
    EXPECT_HR(c.InsertAt(&a, PL_INSERT_AT_END, 0), S_OK);  // not guarded by the flag
    c.SetReadOnly(FALSE);
    EXPECT_HR(c.Remove(&a), S_OK);  // the first entry holding it
    EXPECT_EQ(c.Contents(), (Items{&b, &d, &e, &a}));
    c.Remove(&a);
    EXPECT_HR(c.Remove(&a), E_FAIL);
    EXPECT_HR(c.RemoveAll(), S_OK);
    for (Item* i : {&a, &b, &d, &e}) EXPECT_EQ(i->refs, 1u);
}

TEST(DataCollection, SearchesFindTheFirstMatchAndClearErrorsOnAMiss) {
    Item a(5, u"Alpha"), b(7, u"Beta"), b2(7, u"beta"), accented(8, u"\u00C9t\u00E9");
    StdCollection plain;
    ValueCollection named;
    NoImplCollection none;
    for (Item* i : {&a, &b, &b2, &accented}) plain.Insert(i), named.Insert(i), none.Insert(i);
    IPLTraceContext* out = nullptr;
    BOOL exists = 9;
    EXPECT_EQ(Found(plain.FindByID(7, &out), &out), &b);
    plain.GetAt(9, &out);  // leaves an error behind; a miss clears it
    EXPECT_HR(plain.FindByID(9, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(kdtest::ThreadErrors(&GetThreadError).empty());
    EXPECT_HR(none.FindByID(5, &out), E_FAIL);            // no identifiers without an accessor
    EXPECT_HR(plain.FindByName(u"Alpha", &out), E_FAIL);  // no names with the standard one
    // Names compare without regard to the case of A to Z only.
    EXPECT_EQ(Found(named.FindByName(u"BETA", &out), &out), &b);
    EXPECT_HR(named.FindByName(u"Bet", &out), E_FAIL);
    EXPECT_HR(named.FindByName(u"\u00E9t\u00E9", &out), E_FAIL);
    EXPECT_HR(named.CheckExistsByName(u"alpha", &exists), S_OK);
    EXPECT_EQ(exists, TRUE);
}

StdCollection* g_sorted = nullptr;
HRESULT Meddling(IPLTraceContext* a, IPLTraceContext* b, LONG* result) {
    if (g_sorted->GetCount() == 4) g_sorted->Remove(a);  // the collection's reference goes
    return ById(a, b, result);
}

TEST(DataCollection, SortIsStableAndAllOrNothing) {
    Item a(3), b(1), c2(3), d(2);
    StdCollection c;
    for (Item* i : {&a, &b, &c2, &d}) c.Insert(i);
    EXPECT_HR(c.Sort(ById), S_OK);
    EXPECT_EQ(c.Contents(), (Items{&b, &d, &a, &c2}));  // equal items keep their order
    EXPECT_HR(c.Sort([](IPLTraceContext*, IPLTraceContext*, LONG*) { return E_UNEXPECTED; }), E_UNEXPECTED);
    EXPECT_EQ(c.Contents(), (Items{&b, &d, &a, &c2}));
    // A comparison that removes an item must not leave the released item in the collection.
    g_sorted = &c;
    EXPECT_HR(c.Sort(Meddling), E_FAIL);
    EXPECT_EQ(c.GetCount(), 3);
    c.RemoveAll();
    for (Item* i : {&a, &b, &c2, &d}) EXPECT_EQ(i->refs, 1u);
}

TEST(DataCollection, DuplicatesBySameItemAndByComparison) {
    Item a(1), b(2), a2(1), c3(3);
    PLItemArray<IPLTraceContext> found = {};
    {
        StdCollection c;
        for (Item* i : {&a, &a, &a}) c.Insert(i);
        // The first entry is the item itself; the count of 2 is checked after the failed search,
        // which appends nothing.
        EXPECT_HR(c.FindDuplicates(&a, &found, 0), S_OK);
        c.Insert(&b);  // comparing a with b is not possible with this accessor
        EXPECT_HR(c.FindDuplicates(&a, &found, 0), E_FAIL);
        EXPECT_EQ(found.count, 2);
        PLItemArray<IPLTraceContext> broken = {nullptr, 0, 4};
        EXPECT_HR(c.FindDuplicates(&a, &broken, 0), E_INVALIDARG);
        PLItemArrayClear(&found);

        ValueCollection v;
        for (Item* i : {&a, &b, &a2, &c3, &a}) v.Insert(i);
        EXPECT_HR(v.FindDuplicates(&a2, &found, 0), S_OK);
        EXPECT_EQ(Items(found.items, found.items + found.count), (Items{&a, &a}));  // a2's own entry is skipped
        PLItemArrayClear(&found);
        EXPECT_HR(v.FindAllDuplicates(&found, 0), S_OK);
        EXPECT_EQ(Items(found.items, found.items + found.count), (Items{&a2, &a}));
        PLItemArrayClear(&found);
        EXPECT_HR(v.FindAllDuplicates(&found, 1), S_OK);  // sorted hint: stops at a greater one
        EXPECT_EQ(found.count, 0);
        EXPECT_HR(v.PurgeDuplicates(), S_OK);
        EXPECT_EQ(v.Contents(), (Items{&a, &b, &c3}));

        // Without comparison nothing is purged: one error per attempted comparison.
        PLClearThreadErrors();
        NoImplCollection none;
        for (Item* i : {&a, &a2, &a}) none.Insert(i);
        EXPECT_HR(none.PurgeDuplicates(), S_OK);
        EXPECT_EQ(none.GetCount(), 3);
        EXPECT_EQ(kdtest::ThreadErrors(&GetThreadError).size(), 3u);
    }
    for (Item* i : {&a, &b, &a2, &c3}) EXPECT_EQ(i->refs, 1u);
}

struct CollectionListener : kdtest::Fake<IPLCollectionListener> {
    CollectionListener() : Fake(IID_IPLCollectionListener) {}
    HRESULT ItemAdded(IUnknown* item) override {
        Item* added = static_cast<Item*>(static_cast<IPLTraceContext*>(item));
        seen.push_back({added->id, added->refs});
        if (onAdded) onAdded(added);
        return E_FAIL;
    }
    std::vector<std::pair<ULONG, ULONG>> seen;  // identifier, reference count
    std::function<void(Item*)> onAdded;
};

TEST(DataCollection, ListenersHearOfEachAddedItem) {
    Item a(1), b(2);
    StdCollection c;
    CollectionListener one;
    void* cookie = nullptr;
    ASSERT_HR(c.AddListener(IID_IPLCollectionListener, &one, &cookie), S_OK);
    c.InsertAt(&b, PL_INSERT_AT_FRONT, 0);
    // A listener that removes the item it is told of leaves every count balanced: the
    // collection's reference is taken before the listeners hear of the item.
    one.onAdded = [&](Item* item) { c.Remove(item); };
    EXPECT_HR(c.Insert(&a), S_OK);
    EXPECT_EQ(one.seen, (std::vector<std::pair<ULONG, ULONG>>{{2, 2}, {1, 2}}));
    EXPECT_EQ(c.Contents(), (Items{&b}));
    EXPECT_EQ(a.refs, 1u);
}

// Every method refuses a missing argument or place for its result, or a start past the end,
// before it changes anything.
TEST(DataCollection, MissingArgumentsAreRefusedAndChangeNothing) {
    Item a(1, u"a");
    ValueCollection c;
    ASSERT_HR(c.Insert(&a), S_OK);
    IPLTraceContext* out = &a;
    BOOL exists = FALSE;
    PLItemArray<IPLTraceContext> found = {};
    void* cookie = nullptr;
    for (const HRESULT hr :
         {c.GetAt(0, nullptr), c.Insert(nullptr), c.InsertAt(nullptr, PL_INSERT_AT_END, 0), c.FindByID(1, nullptr),
          c.CheckExistsByID(1, nullptr), c.FindByName(nullptr, &out), c.FindByName(u"a", nullptr),
          c.CheckExistsByName(nullptr, &exists), c.CheckExistsByName(u"a", nullptr), c.Remove(nullptr), c.Sort(nullptr),
          c.GetReadOnly(nullptr), c.FindDuplicates(nullptr, &found, 0), c.FindDuplicates(&a, nullptr, 0),
          c.FindAllDuplicates(nullptr, 0), c.AddListener(IID_IPLCollectionListener, nullptr, &cookie),
          c.AddListener(IID_IPLCollectionListener, &a, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    for (const LONG start : {-1, 2}) EXPECT_HR(c.FindDuplicates(&a, &found, start), E_INVALIDARG);
    EXPECT_HR(c.AddListener(IID_IUnknown, &a, &cookie), E_NOINTERFACE);
    EXPECT_EQ(c.Contents(), Items{&a});
    c.RemoveAll();
    EXPECT_EQ(a.refs, 1u);
}

}  // namespace
