#include "inc_module_base/PLDataCollection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "trace_fakes.h"

namespace {

using kdtest::ThreadErrors;

// An item with an identifier and a name; lives on the test's stack.
class Item : public kdtest::Fake<IPLTraceContext> {
public:
    Item(ULONG id, std::u16string name = u"") : Fake(IID_IPLTraceContext), id(id), name(name) {}
    HRESULT GetID(ULONG* out) override { return *out = id, S_OK; }
    HRESULT GetName(WCHAR* buffer, LONG size) override {
        std::u16string cut = name.substr(0, static_cast<std::size_t>(size - 1));
        std::copy(cut.begin(), cut.end(), buffer);
        buffer[cut.size()] = 0;
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

// Names and comparison by identifier, so that searches and duplicate handling have something
// to compare.
class ValueAccessor : public StdAccessor<IPLTraceContext> {
public:
    HRESULT AccessorGetName(IPLTraceContext* item, WCHAR* buffer, LONG size) override {
        return item->GetName(buffer, size);
    }
    HRESULT AccessorCompare(IPLTraceContext* a, IPLTraceContext* b, LONG* result) override {
        ULONG x = 0, y = 0;
        a->GetID(&x), b->GetID(&y);
        *result = x == y ? 0 : x < y ? -1 : 1;
        return S_OK;
    }
};

template <class Accessor>
class Collection : public CPLComObject<CPLReleaseModel>,
                   public CPLDataCollection<IPLTraceContext, IPLTraceContextCollection,
                                            &CLSID_PLTraceContext, PLVectorStorage, Accessor> {
    PL_BEGIN_INTERFACE_MAP(Collection, IPLTraceContextCollection)
    PL_INTERFACE_ENTRY(IPLTraceContextCollection)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()
public:
    HRESULT GetInterfaceID(GUID* iid) override {
        return *iid = IID_IPLTraceContextCollection, S_OK;
    }
    std::vector<ULONG> Ids() {
        std::vector<ULONG> ids;
        for (IPLTraceContext* item : this->m_items) ids.push_back(static_cast<Item*>(item)->id);
        return ids;
    }
};
using StdCollection = Collection<StdAccessor<IPLTraceContext>>;
using NoImplCollection = Collection<NoImplAccessor<IPLTraceContext>>;
using ValueCollection = Collection<ValueAccessor>;

std::vector<ULONG> Ids(const PLItemArray<IPLTraceContext>& array) {
    std::vector<ULONG> ids;
    for (LONG i = 0; i < array.count; ++i) ids.push_back(static_cast<Item*>(array.items[i])->id);
    return ids;
}

kdtest::ErrorRecord NewestError() {
    auto errors = ThreadErrors(&GetThreadError);
    return errors.empty() ? kdtest::ErrorRecord{} : errors[0];
}

class CollectionListener : public kdtest::Fake<IPLCollectionListener> {
public:
    CollectionListener() : Fake(IID_IPLCollectionListener) {}
    HRESULT ItemAdded(IUnknown* item) override {
        added.push_back(static_cast<Item*>(static_cast<IPLTraceContext*>(item))->id);
        refsSeen.push_back(static_cast<Item*>(static_cast<IPLTraceContext*>(item))->refs);
        if (onAdded) onAdded(static_cast<IPLTraceContext*>(item));
        return E_FAIL;
    }
    std::vector<ULONG> added;
    std::vector<ULONG> refsSeen;
    std::function<void(IPLTraceContext*)> onAdded;
};

TEST(DataCollection, IndexedAccessAndPlacement) {
    PLClearThreadErrors();
    Item a(1), b(2), d(3), e(4);
    StdCollection c;
    IPLTraceContext* out = &a;
    EXPECT_EQ(c.GetCount(), 0);
    EXPECT_EQ(c.GetAt(0, &out), E_INVALIDARG);
    EXPECT_EQ(out, &a);
    EXPECT_EQ(NewestError().message, u"Invalid index specified (0)");
    EXPECT_EQ(NewestError().method, u"GetAt");
    EXPECT_EQ(NewestError().className, u"CPLDataCollection");
    EXPECT_EQ(NewestError().module, u"Core");

    EXPECT_EQ(c.InsertAt(&b, PL_INSERT_AT_FRONT, 0), S_OK);  // into an empty collection
    EXPECT_EQ(c.InsertAt(&d, PL_INSERT_AFTER, 0), S_OK);     // after the last: appended
    EXPECT_EQ(c.InsertAt(&a, PL_INSERT_BEFORE, 0), S_OK);
    EXPECT_EQ(c.InsertAt(&e, PL_INSERT_AT_END, 77), S_OK);  // the index is not read
    EXPECT_EQ(c.Ids(), (std::vector<ULONG>{1, 2, 3, 4}));
    for (LONG bad : {-1, 4}) {
        EXPECT_EQ(c.InsertAt(&a, PL_INSERT_BEFORE, bad), E_INVALIDARG);
        EXPECT_EQ(c.InsertAt(&a, PL_INSERT_AFTER, bad), E_INVALIDARG);
    }
    EXPECT_EQ(c.InsertAt(&a, 4, 0), E_INVALIDARG);
    EXPECT_EQ(NewestError().message, u"Failed to insert object into collection container");
    EXPECT_EQ(c.InsertAt(nullptr, 0, 0), E_POINTER);
    EXPECT_EQ(c.Insert(nullptr), E_POINTER);
    EXPECT_EQ(c.GetCount(), 4);
    EXPECT_EQ(a.refs, 2u);

    ASSERT_EQ(c.GetAt(2, &out), S_OK);
    EXPECT_EQ(out, &d);
    EXPECT_EQ(d.refs, 3u);
    out->Release();
    EXPECT_EQ(c.GetAt(-1, &out), E_INVALIDARG);
    EXPECT_EQ(NewestError().message, u"Invalid index specified (-1)");
    EXPECT_EQ(c.GetAt(0, nullptr), E_POINTER);

    EXPECT_EQ(c.ReservedA(nullptr), E_NOTIMPL);
    for (auto slot :
         {&StdCollection::ReservedB, &StdCollection::ReservedC, &StdCollection::ReservedD,
          &StdCollection::ReservedE, &StdCollection::ReservedF})
        EXPECT_EQ((c.*slot)(nullptr), S_OK);
}

TEST(DataCollection, ReadOnlyGuardsInsertAndRemoveOnly) {
    Item a(1), b(2), absent(3);
    {
        StdCollection c;
        c.Insert(&a);
        EXPECT_EQ(c.Remove(&absent), E_FAIL);
        EXPECT_EQ(NewestError().message, u"Failed to remove object from collection container");
        EXPECT_EQ(c.GetCount(), 1);
        BOOL flag = 5;
        EXPECT_EQ(c.SetReadOnly(TRUE), S_OK);
        EXPECT_EQ(c.GetReadOnly(&flag), S_OK);
        EXPECT_EQ(flag, TRUE);
        EXPECT_EQ(c.GetReadOnly(nullptr), E_POINTER);
        EXPECT_EQ(c.Insert(&b), E_FAIL);
        EXPECT_EQ(NewestError().message,
                  u"Cannot insert into collection.  This collection is read only.");
        EXPECT_EQ(c.Remove(&a), E_FAIL);
        EXPECT_EQ(NewestError().message,
                  u"Cannot remove from collection.  Collection is read only.");
        EXPECT_EQ(NewestError().method, u"Remove");
        EXPECT_EQ(c.InsertAt(&b, PL_INSERT_AT_END, 0), S_OK);
        EXPECT_EQ(c.Ids(), (std::vector<ULONG>{1, 2}));
        EXPECT_EQ(c.RemoveAll(), S_OK);
        EXPECT_EQ(c.GetCount(), 0);
        EXPECT_EQ(a.refs + b.refs, 2u);
        c.SetReadOnly(FALSE);
        c.Insert(&a), c.Insert(&b), c.Insert(&a);
        EXPECT_EQ(c.Remove(&a), S_OK);  // the first entry holding it
        EXPECT_EQ(c.Ids(), (std::vector<ULONG>{2, 1}));
        EXPECT_EQ(a.refs, 2u);
    }
    EXPECT_EQ(a.refs + b.refs, 2u);  // destruction releases every item
}

TEST(DataCollection, SearchesByIdAndNameClearErrorsOnAMiss) {
    Item a(5, u"Alpha"), b(7, u"Beta"), b2(7, u"beta"), accented(8, u"\u00C9t\u00E9");
    StdCollection plain;
    ValueCollection named;
    NoImplCollection none;
    for (Item* i : {&a, &b, &b2}) plain.Insert(i), named.Insert(i), none.Insert(i);
    IPLTraceContext* out = nullptr;
    BOOL exists = 9;
    ASSERT_EQ(plain.FindByID(7, &out), S_OK);
    EXPECT_EQ(out, &b);  // the first match
    out->Release();
    EXPECT_EQ(plain.CheckExistsByID(5, &exists), S_OK);
    EXPECT_EQ(exists, TRUE);

    plain.GetAt(9, &out);  // leaves an error behind
    ASSERT_FALSE(ThreadErrors(&GetThreadError).empty());
    out = &a;
    EXPECT_EQ(plain.FindByID(9, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(ThreadErrors(&GetThreadError).empty());
    EXPECT_EQ(plain.CheckExistsByID(9, &exists), S_OK);
    EXPECT_EQ(exists, FALSE);
    EXPECT_EQ(none.FindByID(5, &out), E_FAIL);            // no identifiers without an accessor
    EXPECT_EQ(plain.FindByName(u"Alpha", &out), E_FAIL);  // no names with the standard one
    EXPECT_EQ(plain.CheckExistsByName(u"Alpha", &exists), S_OK);
    EXPECT_EQ(exists, FALSE);

    // Names compare without regard to the case of A to Z only.
    ASSERT_EQ(named.FindByName(u"BETA", &out), S_OK);
    EXPECT_EQ(out, &b);
    out->Release();
    EXPECT_EQ(named.FindByName(u"Bet", &out), E_FAIL);
    EXPECT_EQ(named.CheckExistsByName(u"alpha", &exists), S_OK);
    EXPECT_EQ(exists, TRUE);
    named.Insert(&accented);
    EXPECT_EQ(named.FindByName(u"\u00E9t\u00E9", &out), E_FAIL);

    for (auto* c : std::initializer_list<IPLTraceContextCollection*>{&plain, &named}) {
        EXPECT_EQ(c->FindByID(1, nullptr), E_POINTER);
        EXPECT_EQ(c->CheckExistsByID(1, nullptr), E_POINTER);
        EXPECT_EQ(c->FindByName(nullptr, &out), E_POINTER);
        EXPECT_EQ(c->CheckExistsByName(u"a", nullptr), E_POINTER);
    }
}

HRESULT ById(IPLTraceContext* a, IPLTraceContext* b, LONG* result) {
    *result =
        static_cast<LONG>(static_cast<Item*>(a)->id) - static_cast<LONG>(static_cast<Item*>(b)->id);
    return S_OK;
}
HRESULT AllEqual(IPLTraceContext*, IPLTraceContext*, LONG* result) {
    return *result = 0, S_OK;
}
HRESULT Failing(IPLTraceContext*, IPLTraceContext*, LONG*) {
    return E_UNEXPECTED;
}
StdCollection* g_sorted = nullptr;
Item g_intruder(100);
HRESULT Meddling(IPLTraceContext* a, IPLTraceContext* b, LONG* result) {
    static bool done = false;
    if (!done) g_sorted->Remove(a), g_sorted->Insert(&g_intruder);
    done = true;
    return ById(a, b, result);
}

TEST(DataCollection, SortIsStableAndAllOrNothing) {
    Item a(3, u"first"), b(1), c2(3, u"second"), d(2);
    StdCollection c;
    for (Item* i : {&a, &b, &c2, &d}) c.Insert(i);
    EXPECT_EQ(c.Sort(AllEqual), S_OK);
    EXPECT_EQ(c.Ids(), (std::vector<ULONG>{3, 1, 3, 2}));
    EXPECT_EQ(c.Sort(ById), S_OK);
    EXPECT_EQ(c.Ids(), (std::vector<ULONG>{1, 2, 3, 3}));
    IPLTraceContext* third = nullptr;
    c.GetAt(2, &third);
    EXPECT_EQ(third, &a);  // equal items keep their order
    third->Release();

    c.Sort(AllEqual);
    std::vector<ULONG> before = c.Ids();
    EXPECT_EQ(c.Sort(Failing), E_UNEXPECTED);
    EXPECT_EQ(NewestError().message, u"Failed to execute sort function");
    EXPECT_EQ(c.Ids(), before);
    EXPECT_EQ(c.Sort(nullptr), E_POINTER);

    // A comparison that changes the collection cannot leave it holding released items.
    g_sorted = &c;
    EXPECT_EQ(c.Sort(Meddling), E_FAIL);
    EXPECT_EQ(c.GetCount(), 4);
    c.RemoveAll();
    for (Item* i : {&a, &b, &c2, &d, &g_intruder}) EXPECT_EQ(i->refs, 1u);
}

TEST(DataCollection, DuplicatesBySameItemAndByComparison) {
    Item a(1), b(2), a2(1), c3(3);
    PLItemArray<IPLTraceContext> found = {};
    {
        StdCollection c;
        for (Item* i : {&a, &b, &a, &a}) c.Insert(i);
        // The item's own first entry is skipped; from position 0 the other two are found, but
        // comparing it with a different item is not possible with this accessor.
        EXPECT_EQ(c.FindDuplicates(&a, &found, 2), S_OK);
        EXPECT_EQ(Ids(found), (std::vector<ULONG>{1}));
        EXPECT_EQ(c.FindDuplicates(&a, &found, 0), E_FAIL);
        EXPECT_EQ(found.count, 1);
        EXPECT_EQ(c.FindDuplicates(&a, &found, 5), E_INVALIDARG);
        EXPECT_EQ(c.FindDuplicates(&a, &found, -1), E_INVALIDARG);
        EXPECT_EQ(c.FindDuplicates(nullptr, &found, 0), E_POINTER);
        PLItemArray<IPLTraceContext> broken = {nullptr, 0, 4};
        EXPECT_EQ(c.FindDuplicates(&a, &broken, 2), E_INVALIDARG);
        EXPECT_EQ(c.FindAllDuplicates(&found, 0), E_FAIL);
        EXPECT_TRUE(ThreadErrors(&GetThreadError).empty());
        PLItemArrayClear(&found);

        StdCollection same;
        for (int n = 0; n < 3; ++n) same.Insert(&a);
        EXPECT_EQ(same.FindDuplicates(&a, &found, 0), S_OK);
        EXPECT_EQ(found.count, 2);
        EXPECT_EQ(same.FindAllDuplicates(&found, 0), S_OK);
        EXPECT_EQ(found.count, 4);             // appended
        EXPECT_EQ(a.refs, 1u + 3u + 3u + 4u);  // caller, both collections, the array
        PLItemArrayClear(&found);
        EXPECT_EQ(found.items, nullptr);

        ValueCollection v;
        for (Item* i : {&a, &b, &a2, &c3, &a}) v.Insert(i);
        EXPECT_EQ(v.FindDuplicates(&a2, &found, 0), S_OK);
        EXPECT_EQ(Ids(found), (std::vector<ULONG>{1, 1}));  // a and a (a2's own entry skipped)
        PLItemArrayClear(&found);
        EXPECT_EQ(v.FindAllDuplicates(&found, 0), S_OK);
        EXPECT_EQ(found.count, 2);
        EXPECT_EQ(found.items[0], &a2);
        EXPECT_EQ(found.items[1], &a);
        PLItemArrayClear(&found);
        // With the sorted hint, the walk for an item stops at the first greater one.
        EXPECT_EQ(v.FindAllDuplicates(&found, 1), S_OK);
        EXPECT_EQ(found.count, 0);

        EXPECT_EQ(v.PurgeDuplicates(), S_OK);
        EXPECT_EQ(v.Ids(), (std::vector<ULONG>{1, 2, 3}));
        EXPECT_EQ(a2.refs, 1u);
    }
    for (Item* i : {&a, &b, &a2, &c3}) EXPECT_EQ(i->refs, 1u);
}

TEST(DataCollection, PurgeWithoutComparisonRecordsAndKeepsEverything) {
    PLClearThreadErrors();
    Item a(1), b(1);
    NoImplCollection c;
    for (Item* i : {&a, &b, &a}) c.Insert(i);
    EXPECT_EQ(c.PurgeDuplicates(), S_OK);
    EXPECT_EQ(c.GetCount(), 3);
    auto errors = ThreadErrors(&GetThreadError);
    ASSERT_EQ(errors.size(), 3u);  // one per attempted comparison
    EXPECT_EQ(errors[0].module, u"Core");
    EXPECT_EQ(errors[0].className, u"CompareRelease");
    EXPECT_EQ(errors[0].method, u"CompareRelease<struct IPLTraceContext *>::operator ()");
    EXPECT_EQ(errors[0].message, u"Failed to verify object equality");
    EXPECT_EQ(errors[0].result, E_NOTIMPL);
    EXPECT_EQ(
        NoImplCollection::TemplateLabel(),
        "CPLDataCollection<IPLTraceContext, IPLTraceContextCollection, &CLSID_PLTraceContext, "
        "PLVectorStorage, NoImplAccessor<IPLTraceContext>>");
}

TEST(DataCollection, ListenersHearOfEachAddedItem) {
    Item a(1), b(2), d(3);
    StdCollection c;
    CollectionListener one, two;
    kdtest::Listener wrong;
    void* cookie = nullptr;
    EXPECT_EQ(c.AddListener(IID_IPLTraceListener, &one, &cookie), E_NOINTERFACE);
    EXPECT_EQ(c.AddListener(IID_IPLCollectionListener, &wrong, &cookie), E_NOINTERFACE);
    EXPECT_EQ(NewestError().message, u"Object does not support listener interface");
    EXPECT_EQ(c.AddListener(IID_IPLCollectionListener, nullptr, &cookie), E_POINTER);
    ASSERT_EQ(c.AddListener(IID_IPLCollectionListener, &one, &cookie), S_OK);
    void* second = nullptr;
    ASSERT_EQ(c.AddListener(IID_IPLCollectionListener, &two, &second), S_OK);
    c.Insert(&a);
    c.InsertAt(&b, PL_INSERT_AT_FRONT, 0);
    c.Remove(&a);  // no notification
    EXPECT_EQ(one.added, (std::vector<ULONG>{1, 2}));
    EXPECT_EQ(two.added, (std::vector<ULONG>{1, 2}));
    EXPECT_EQ(c.RemoveListener(second), S_OK);

    // A listener that removes the item it is told of leaves every count balanced.
    one.onAdded = [&](IPLTraceContext* item) { c.Remove(item); };
    EXPECT_EQ(c.Insert(&d), S_OK);
    EXPECT_EQ(one.refsSeen.back(), 2u);  // the collection's reference is already taken
    EXPECT_EQ(c.Ids(), (std::vector<ULONG>{2}));
    EXPECT_EQ(d.refs, 1u);
    EXPECT_EQ(two.added.size(), 2u);
}

}  // namespace
