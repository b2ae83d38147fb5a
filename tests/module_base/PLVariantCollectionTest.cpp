// The variant collection's AppendValue and the enumerator's walk.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLVariantCollectionEnumerator.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

PLComPtr<IPLVariantCollection> NewCollection() {
    return kdtest::New<IPLVariantCollection>(CLSID_PLVariantCollection);
}

// The item at `i` (a new variant when there is none, after the failure is reported).
PLComPtr<IPLVariant> At(IPLVariantCollection* c, LONG i) {
    PLComPtr<IPLVariant> v;
    EXPECT_HR(c->GetAt(i, v.Put()), S_OK) << i;
    return v ? v : kdtest::New<IPLVariant>(CLSID_PLVariant);
}

LONG LongAt(IPLVariantCollection* c, LONG i) {
    return kdtest::LongOf(At(c, i).Get(), &IPLVariant::GetValueLong);
}

TEST(PLVariantCollectionTest, AppendValueByKind) {
    auto c = NewCollection();
    const LONG number = 7;
    const double real = 2.5;
    const unsigned char flag = 2;  // any non-zero byte is true
    PLComPtr<IPLDateTime> date;
    ASSERT_HR(PLCreateDateTime(0x0409, date.Put()), S_OK);
    auto inner = NewCollection();
    // Kind, value.
    const std::pair<LONG, const void*> cases[] = {
        {PLVariantEmpty, &number},        {PLVariantString, u"text"},         {PLVariantLong, &number},
        {PLVariantDouble, &real},         {PLVariantBoolean, &flag},          {PLVariantDateTime, date.Get()},
        {PLVariantIUnknown, inner.Get()}, {PLVariantCollection, inner.Get()}, {PLVariantDateTimeOfDay, date.Get()},
    };
    for (const auto& [type, value] : cases) ASSERT_HR(c->AppendValue(type, value), S_OK) << type;
    for (LONG i = 0; i < 9; ++i) EXPECT_EQ(kdtest::LongOf(At(c.Get(), i).Get(), &IPLVariant::GetType), cases[i].first);
    EXPECT_EQ(LongAt(c.Get(), 2), 7);
    bool b = false;
    ASSERT_HR(At(c.Get(), 4)->GetValueBoolean(&b), S_OK);
    EXPECT_TRUE(b);

    for (LONG bad : {LONG{PLVariantUndefined}, LONG{5}, LONG{PLVariantLongLong}})
        EXPECT_HR(c->AppendValue(bad, &number), E_FAIL) << bad;
    ASSERT_HR(c->SetReadOnly(TRUE), S_OK);
    EXPECT_HR(c->AppendValue(PLVariantLong, &number), E_FAIL);
    EXPECT_EQ(c->GetCount(), 9);
}

// The values of the items the next `count` steps of `e` give.
std::vector<LONG> Next(IPLEnumVariant* e, LONG count) {
    PLComPtr<IPLVariantCollection> batch;
    LONG fetched = -1;
    EXPECT_HR(e->Next(count, batch.Put(), &fetched), S_OK);
    std::vector<LONG> values;
    for (LONG i = 0; i < fetched; ++i) values.push_back(LongAt(batch.Get(), i));
    return values;
}

TEST(PLVariantCollectionTest, EnumeratorWalk) {
    auto c = NewCollection();
    for (LONG i = 0; i < 5; ++i) ASSERT_HR(c->AppendValue(PLVariantLong, &i), S_OK);
    PLComPtr<IPLEnumVariant> e;
    ASSERT_HR(PLCreateVariantCollectionEnumerator(c.Get(), e.Put()), S_OK);
    EXPECT_EQ(Next(e.Get(), 2), (std::vector<LONG>{0, 1}));
    EXPECT_HR(e->Skip(4), S_FALSE);  // 2 + 4 passes the end: stays at 2
    EXPECT_EQ(Next(e.Get(), 1), (std::vector<LONG>{2}));
    EXPECT_HR(e->Skip(2), S_OK);  // exactly the end
    EXPECT_TRUE(Next(e.Get(), 3).empty());
    // Items appended during the walk are reached.
    const LONG six = 6;
    ASSERT_HR(c->AppendValue(PLVariantLong, &six), S_OK);
    EXPECT_EQ(Next(e.Get(), INT_MAX), (std::vector<LONG>{6}));
    // Reset goes back to the first item; the end does not wrap.
    ASSERT_HR(e->Reset(), S_OK);
    EXPECT_EQ(Next(e.Get(), INT_MAX), (std::vector<LONG>{0, 1, 2, 3, 4, 6}));
}

}  // namespace
