#include "module_base/PLGuid.h"
#include "module_base/PLString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "module_base/PLError.h"
#include "support/HResult.h"

namespace {

using namespace std::string_view_literals;

const PLString kEmpty;

// Runs `f` and returns the function name of the check failure it throws.
template <class F>
std::string FailingCheck(F f) {
    try {
        f();
    } catch (const PL_ERROR& e) {
        EXPECT_HR(e.result, PL_E_VERIFY);
        return e.function.ToUtf8();
    }
    return "<nothing thrown>";
}

// Copies share a block until one is written: the sharer tests below (through the buffer, and
// on two threads) check that a write reaches only its own copy.

TEST(PLStringTest, LockedBuffersAreNeverShared) {
    PLString a(u"locked");
    WCHAR* p = a.LockBuffer();
    PLString copy(a), assigned;
    assigned = a;
    p[0] = u'L';
    EXPECT_EQ(std::pair(copy.view(), assigned.view()), std::pair(u"locked"sv, u"locked"sv));
    // Assigning into a locked string keeps its buffer, where its owner's pointer points.
    a = PLString(u"new");
    EXPECT_EQ(a.c_str(), p);
    a.UnlockBuffer();
    EXPECT_EQ(FailingCheck([&] { a.UnlockBuffer(); }), "PLString::UnlockBuffer");

    // Empty text, however it arrives, keeps the locked block too (and the lock: unlocking an
    // unlocked string throws).
    using Assign = void (*)(PLString&);
    const Assign empties[] = {[](PLString& s) { s = u""; }, [](PLString& s) { s = PLString(); },
                              [](PLString& s) { s = kEmpty; }, [](PLString& s) { s.Format(u"%s", u""); },
                              [](PLString& s) { s.Empty(); }};
    for (Assign assign : empties) {
        PLString locked(u"locked text");
        WCHAR* buffer = locked.LockBuffer();
        assign(locked);
        ASSERT_EQ(locked.c_str(), buffer);
        EXPECT_TRUE(locked.IsEmpty());
        buffer[0] = u'x';  // still the string's own block
        locked.UnlockBuffer();
    }
}

// Search and the modifiers, with the boundaries of those the library relies on (Find, Insert,
// Replace); one ordinary use of some of the others.
TEST(PLStringTest, SearchAndModification) {
    const PLString h(u"Hello, hello world");
    EXPECT_EQ((std::vector{h.Find(u'l', 4), h.Find(u"", 18), h.Find(u"", 19)}), (std::vector{9, 18, -1}));
    // Ordinal order compares code units as unsigned values.
    EXPECT_TRUE(PLString(u"z") < PLString(u"\u00E9"));

    PLString s(u" \t\nTrim mexcx");
    s.TrimLeft();
    s.TrimRight(u"xc");
    s.MakeReverse();
    EXPECT_EQ(s.view(), u"em mirT");
    // Delete returns the length before the deletion (a braced list is evaluated in order).
    EXPECT_EQ((std::vector{s.Delete(1, 99), s.Remove(u'e')}), (std::vector{7, 1}));
    EXPECT_TRUE(s.IsEmpty());

    PLString i(u"ace");
    // Insert returns the new length; a zero is a character like any other.
    EXPECT_EQ((std::vector{i.Insert(1, u'b'), i.Insert(3, u"d"), i.Insert(-4, u">"), i.Insert(99, u"<"),
                           i.Insert(2, u""), i.Insert(1, u'\0')}),
              (std::vector{4, 5, 6, 7, 7, 8}));
    EXPECT_EQ(i.view(), u">\0abcde<"sv);
    EXPECT_EQ(i.Replace(u'\0', u'-'), 1);

    PLString r(u"ababab");
    EXPECT_EQ(r.Replace(u"ab", u"xyz"), 3);
    EXPECT_EQ(r.view(), u"xyzxyzxyz");
    EXPECT_EQ((std::vector{r.Replace(u"xyz", u""), r.Replace(u"", u"x")}), (std::vector{3, 0}));
    EXPECT_TRUE(r.IsEmpty());
    // Occurrences are counted across embedded zeros.
    const WCHAR withZero[] = {u'a', u'b', 0, u'a', u'b'};
    PLString z(withZero, 5);
    EXPECT_EQ(z.Replace(u"ab", u"c"), 2);
    EXPECT_EQ(z.view(), u"c\0c"sv);
}

// The extractors, searches and set-based modifiers at their edges: negative and oversized
// counts and starts, null and empty sets, no match.
TEST(PLStringTest, ExtractorsSearchesAndSetsAtTheirEdges) {
    const WCHAR* const null = nullptr;
    const PLString s(u"a.b,ab.A");
    // Edges that give nothing or the whole string, then parts between; searches that find nothing, then ones
    // that find, and comparisons. (The views are of temporaries that last until the check is done.)
    EXPECT_EQ((std::vector{s.Mid(2, -1).view(), s.Mid(9, 1).view(), s.Left(-2).view(), s.Right(-2).view(),
                           s.SpanIncluding(null).view(), s.Mid(0, 99).view(), s.Mid(-1).view(), s.Right(20).view(),
                           s.SpanExcluding(null).view(), s.Mid(-3, 2).view(), s.Mid(6).view(), s.Right(2).view(),
                           s.SpanIncluding(u".ab").view(), s.SpanExcluding(u",").view()}),
              (std::vector<std::u16string_view>{u"", u"", u"", u"", u"", s.view(), s.view(), s.view(), s.view(), u"a.",
                                                u".A", u".A", u"a.b", u"a.b"}));
    EXPECT_EQ((std::vector{s.ReverseFind(u'z'), s.FindOneOf(null), s.FindOneOf(u"z"), s.Find(u'a', 8), s.Find(null, 0),
                           s.FindNoCase(u""), s.FindNoCase(u"aa"), s.FindNoCase(u"a", 9), s.ReverseFind(u'b'),
                           s.FindOneOf(u",."), s.Find(u'a', -5), s.Find(u"ab", -1), s.FindNoCase(u"B.a", -2),
                           s.Compare(u"a.b"), s.Compare(u"b"), PLString().Compare(null), s.CompareNoCase(u"A.B,AB.a"),
                           s.CompareNoCase(PLString(u"A.C"))}),
              (std::vector{-1, -1, -1, -1, -1, -1, -1, -1, 5, 1, 0, 4, 5, 1, -1, 0, 0, -1}));

    PLString t = s;
    t.TrimLeft(u'a');
    t.TrimRight(u'A');
    EXPECT_EQ(t.view(), u".b,ab.");
    t = s;
    for (const WCHAR* set : {null, u"z"}) t.TrimLeft(set), t.TrimRight(set);
    EXPECT_EQ(t.view(), s.view());
    t.TrimLeft(u"a.b,A");
    EXPECT_TRUE(t.IsEmpty());
    t = s;
    EXPECT_EQ((std::vector{t.Remove(u".,"), t.Remove(u"z"), t.Remove(null), t.Remove(u'z'), t.Replace(u'a', u'a')}),
              (std::vector{3, 0, 0, 0, 0}));
    EXPECT_EQ(t.view(), u"ababA");
    t = s;
    EXPECT_EQ((std::vector{t.Delete(-2, 2), t.Delete(3, 0), t.Delete(20, 1)}), (std::vector{8, 6, 6}));
    EXPECT_EQ(t.view(), u"b,ab.A");
    t.MakeLower();
    t.FreeExtra();
    EXPECT_EQ(t.view(), u"b,ab.a");
    t.Empty();
    t.FreeExtra();
    t.MakeReverse();
    EXPECT_TRUE(t.IsEmpty());
}

TEST(PLStringTest, ConcatenationFormattingBuffersAndSysStrings) {
    PLString s(u"ab");
    s += s;
    s += static_cast<int32_t>(-42);  // the text is checked with what FormatAndAppend adds
    EXPECT_EQ((u'a' + PLString(u"b") + u"c" + u'd').view(), u"abcd");
    // Appending a long string to itself forces a new block while reading from the old one.
    PLString big(u'q', 500);
    big += big;
    EXPECT_EQ(big, PLString(u'q', 1000));
    // The conversions themselves are the platform formatter's.
    s.FormatAndAppend(u"; %s %hs", PLString(u"more"), "narrow");
    EXPECT_EQ(s.view(), u"abab-42; more narrow");

    // Writing through the buffer of a shared string leaves the other sharer alone.
    PLString shared(s);
    WCHAR* p = s.GetBuffer(30);
    p[2] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(std::pair(s.view(), shared.view()), std::pair(u"ab"sv, u"abab-42; more narrow"sv));
    EXPECT_EQ(FailingCheck([&] { s.ReleaseBuffer(s.GetAllocLength() + 1); }), "PLString::ReleaseBuffer");

    // System strings end at the first zero.
    const WCHAR withZero[] = {u'a', 0, u'b'};
    BSTR b = PLString(withZero, 3).AllocSysString();
    EXPECT_EQ(SysStringLen(b), 1u);
    SysFreeString(b);
    EXPECT_EQ(PLString(PLBStr(u"from bstr")).view(), u"from bstr");
}

TEST(PLStringTest, ChecksThrowTheirFunctionNames) {
    PLString s(u"ab");
    const WCHAR* null = nullptr;
    EXPECT_EQ(FailingCheck([&] { (void)s[-1]; }), "PLString::operator []");
    EXPECT_EQ(FailingCheck([&] { s.SetAt(2, u'x'); }), "PLString::SetAt");
    EXPECT_EQ(FailingCheck([&] { s += null; }), "PLString::operator +=");
    EXPECT_EQ(FailingCheck([&] { s.GetBuffer(-1); }), "PLString::GetBuffer");
    WCHAR guid[36];  // one short of the text and its terminator
    EXPECT_EQ(FailingCheck([&] { PLGuidToString(GUID_NULL, guid, 36); }), "PLGuidToString");
    EXPECT_EQ(s.view(), u"ab");
    EXPECT_TRUE(PLString(null).IsEmpty());
}

// Two threads, each holding one copy of the same block, act on their own copies at once, for
// many rounds: a modifier that copies before writing must still own the old block while it copies
// (under AddressSanitizer a read from a block the other sharer freed is reported; without it the
// text comes out wrong). One modifier per way into the copy: copying first, reading the shared
// text before copying, through the buffer, assigning text from inside the shared block.
TEST(PLStringTest, SharersModifiedAndDestroyedOnTwoThreads) {
    using Op = void (*)(PLString&);
    const Op ops[] = {
        [](PLString& s) { s.MakeUpper(); },     [](PLString& s) { s.Replace(u'b', u'B'); },
        [](PLString& s) { s.Delete(2, 5); },    [](PLString& s) { s.ReleaseBuffer(40); },
        [](PLString& s) { s = s.c_str() + 7; },  // text that points into the shared block
        [](PLString& s) { s = PLString(); },  // destruction of this sharer's reference
    };
    std::u16string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char16_t>(u'a' + i % 26);
    std::vector<std::u16string> expected;
    for (Op op : ops) {
        PLString alone{std::u16string_view(text)};
        op(alone);
        expected.emplace_back(alone.view());
    }
    const int kRounds = 1500, opCount = static_cast<int>(std::size(ops));
    std::barrier sync(2);
    PLString slot;  // the second thread's copy, handed over at the barrier
    std::atomic<int> failures{0};
    std::thread other([&] {
        for (int round = 0; round < kRounds * opCount; ++round) {
            sync.arrive_and_wait();
            const int op = (round / 2) % opCount;
            ops[op](slot);
            if (slot.view() != expected[static_cast<std::size_t>(op)]) ++failures;
            slot = PLString();
            sync.arrive_and_wait();
        }
    });
    for (int round = 0; round < kRounds * opCount; ++round) {
        PLString mine{std::u16string_view(text)};
        slot = mine;
        sync.arrive_and_wait();
        // Even rounds: this side calls MakeUpper while the other modifies or destroys its copy;
        // odd rounds: this side destroys its copy while the other modifies.
        if (round % 2 == 0) {
            mine.MakeUpper();
            if (mine.view() != expected[0]) ++failures;
        } else {
            mine = PLString();
        }
        sync.arrive_and_wait();
    }
    other.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
