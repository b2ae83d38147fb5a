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
        EXPECT_EQ(e.message.view(), u"A general error occurred.");
        return e.function.ToUtf8();
    }
    return "<nothing thrown>";
}

TEST(PLStringTest, BlocksComeInSizeClassesAndGrowByDoubling) {
    for (const auto& [length, block] : {std::pair{1, 64}, {64, 128}, {300, 512}, {600, 600}})
        EXPECT_EQ(PLString(u'x', length).GetAllocLength(), block) << length;
    // Empty strings all share the static empty block.
    PLString a, b(u""), c(u"x", 0), d(u'z', 0);
    EXPECT_TRUE(a.c_str() == b.c_str() && a.c_str() == c.c_str() && a.c_str() == d.c_str());
    EXPECT_EQ(a.GetAllocLength(), 0);

    PLString s;
    std::vector<int32_t> allocations;
    for (int i = 0; i < 3000; ++i) {
        const int32_t before = s.GetAllocLength();
        s += u'x';
        if (s.GetAllocLength() != before) allocations.push_back(s.GetAllocLength());
    }
    EXPECT_EQ(allocations, (std::vector<int32_t>{64, 128, 256, 512, 1024, 2048, 4096}));
    EXPECT_EQ(s.c_str()[3000], 0);
}

TEST(PLStringTest, CopiesShareUntilWritten) {
    PLString a(u"shared text");
    PLString b(a);
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.GetRefCount(), 2);
    b.SetAt(0, u'S');
    EXPECT_EQ(a.view(), u"shared text");
    EXPECT_EQ(b.view(), u"Shared text");
    EXPECT_EQ(a.GetRefCount(), 1);
    PLString c;
    c = a;
    const PLString& alias = c;
    c = alias;  // self-assignment does nothing
    EXPECT_EQ(c.c_str(), a.c_str());
    PLString moved(std::move(c));
    EXPECT_TRUE(c.IsEmpty());  // NOLINT: moved-from strings are empty
    EXPECT_EQ(moved, a);
}

TEST(PLStringTest, LockedBuffersAreNeverShared) {
    PLString a(u"locked");
    WCHAR* p = a.LockBuffer();
    EXPECT_EQ(a.GetRefCount(), -1);
    PLString copy(a), assigned;
    assigned = a;
    EXPECT_NE(copy.c_str(), a.c_str());
    EXPECT_NE(assigned.c_str(), a.c_str());
    p[0] = u'L';
    EXPECT_EQ(copy.view(), u"locked");
    // Assigning into a locked string keeps its buffer, where its owner's pointer points.
    a = PLString(u"new");
    EXPECT_EQ(a.c_str(), p);
    a.UnlockBuffer();
    EXPECT_EQ(a.GetRefCount(), 1);
    EXPECT_EQ(FailingCheck([&] { a.UnlockBuffer(); }), "PLString::UnlockBuffer");

    // Empty text, however it arrives, keeps the locked block too.
    using Assign = void (*)(PLString&);
    const Assign empties[] = {
        [](PLString& s) { s = u""; },    [](PLString& s) { s = PLString(); },
        [](PLString& s) { s = kEmpty; }, [](PLString& s) { s.Format(u"%s", u""); },
        [](PLString& s) { s.Empty(); },
    };
    for (Assign assign : empties) {
        PLString locked(u"locked text");
        WCHAR* buffer = locked.LockBuffer();
        assign(locked);
        ASSERT_EQ(locked.c_str(), buffer);
        EXPECT_TRUE(locked.IsEmpty());
        buffer[0] = u'x';  // still the string's own block
        locked.UnlockBuffer();
        EXPECT_EQ(locked.GetRefCount(), 1);
    }
}

TEST(PLStringTest, ExtractionAndSearch) {
    const PLString s(u"abcdef");
    EXPECT_EQ(s.Mid(-3, 2).view(), u"ab");
    EXPECT_TRUE(s.Mid(10).IsEmpty());
    EXPECT_EQ(s.Mid(4, 10).view(), u"ef");
    EXPECT_EQ(s.Mid(0, 6).c_str(), s.c_str());  // the whole string is shared
    EXPECT_EQ(s.Right(6).c_str(), s.c_str());
    EXPECT_EQ(s.SpanIncluding(u"cba").view(), u"abc");
    EXPECT_EQ(s.SpanExcluding(u"dx").view(), u"abc");

    const PLString h(u"Hello, hello world");
    EXPECT_EQ(h.Find(u'l', 4), 9);
    EXPECT_EQ(h.ReverseFind(u'l'), 16);
    EXPECT_EQ(h.FindOneOf(u"wr,"), 5);
    EXPECT_EQ(h.Find(u"", 18), 18);
    EXPECT_EQ(h.Find(u"", 19), -1);
    EXPECT_EQ(h.FindNoCase(u"HELLO", 1), 7);
    EXPECT_EQ(h.FindNoCase(u""), -1);
    // Ordinal order compares code units as unsigned values.
    EXPECT_TRUE(PLString(u"z") < PLString(u"\u00E9"));
}

TEST(PLStringTest, Modification) {
    PLString s(u" \t\nTrim mexcx");
    s.TrimLeft();
    s.TrimRight(u"xc");
    s.MakeReverse();
    EXPECT_EQ(s.view(), u"em mirT");

    PLString d(u"abcdef");
    EXPECT_EQ(d.Delete(1, 2), 6);  // returns the length before the deletion
    EXPECT_EQ(d.view(), u"adef");
    EXPECT_EQ(d.Delete(-5, 1), 4);
    EXPECT_EQ(d.Delete(1, 99), 3);
    EXPECT_EQ(d.view(), u"d");

    PLString i(u"ace");
    i.Insert(1, u'b');
    i.Insert(3, u"d");
    i.Insert(-4, u">");
    EXPECT_EQ(i.Insert(99, u"<"), 7);
    EXPECT_EQ(i.Insert(2, u""), 7);
    EXPECT_EQ(i.view(), u">abcde<");
    EXPECT_EQ(i.Insert(1, u'\0'), 8);  // a zero is a character like any other
    EXPECT_EQ(i.view(), u">\0abcde<"sv);

    PLString r(u"banana");
    EXPECT_EQ(r.Remove(u'a'), 3);
    EXPECT_EQ(r.Remove(u"nb"), 3);
    EXPECT_TRUE(r.IsEmpty());
    PLString c(u"a-b-c");
    EXPECT_EQ(c.Replace(u'-', u'+'), 2);
}

TEST(PLStringTest, ReplaceText) {
    PLString s(u"ababab");
    EXPECT_EQ(s.Replace(u"ab", u"xyz"), 3);
    EXPECT_EQ(s.view(), u"xyzxyzxyz");
    EXPECT_EQ(s.Replace(u"xyz", u""), 3);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.Replace(u"", u"x"), 0);
    EXPECT_EQ(s.Replace(nullptr, u"x"), 0);
    // Occurrences are counted across embedded zeros.
    const WCHAR withZero[] = {u'a', u'b', 0, u'a', u'b'};
    PLString z(withZero, 5);
    EXPECT_EQ(z.Replace(u"ab", u"c"), 2);
    EXPECT_EQ(z.view(), u"c\0c"sv);
}

TEST(PLStringTest, ConcatenationAndFormatting) {
    PLString s(u"ab");
    s += s;
    s += static_cast<int32_t>(-42);
    EXPECT_EQ(s.view(), u"abab-42");
    EXPECT_EQ((u'a' + PLString(u"b") + u"c" + u'd').view(), u"abcd");
    // Appending a long string to itself forces a new block while reading from the old one.
    PLString big(u'q', 500);
    big += big;
    EXPECT_EQ(big, PLString(u'q', 1000));
    // The conversions themselves are the platform formatter's.
    s.FormatAndAppend(u"; %s %hs", PLString(u"more"), "narrow");
    EXPECT_EQ(s.view(), u"abab-42; more narrow");
}

TEST(PLStringTest, DirectBufferAccess) {
    PLString s(u"abc");
    PLString shared(s);
    WCHAR* p = s.GetBuffer(10);
    EXPECT_NE(p, shared.c_str());
    p[3] = u'd';
    p[4] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(s.view(), u"abcd");
    EXPECT_EQ(shared.view(), u"abc");
    s.ReleaseBuffer(2);
    EXPECT_EQ(s.view(), u"ab");
    EXPECT_EQ(FailingCheck([&] { s.ReleaseBuffer(s.GetAllocLength() + 1); }), "PLString::ReleaseBuffer");
    std::fill_n(s.GetBufferSetLength(5), 5, u'z');
    EXPECT_EQ(s.view(), u"zzzzz");
    PLString big(u'b', 700);
    big.Delete(0, 100);
    big.FreeExtra();
    EXPECT_EQ(big.GetAllocLength(), 600);
}

TEST(PLStringTest, ChecksThrowTheirFunctionNames) {
    PLString s(u"ab");
    const WCHAR* null = nullptr;
    EXPECT_EQ(FailingCheck([&] { s.GetAt(2); }), "PLString::GetAt");
    EXPECT_EQ(FailingCheck([&] { (void)s[-1]; }), "PLString::operator []");
    EXPECT_EQ(FailingCheck([&] { s.SetAt(2, u'x'); }), "PLString::SetAt");
    EXPECT_EQ(FailingCheck([&] { s = null; }), "PLString::operator =");
    EXPECT_EQ(FailingCheck([&] { s += null; }), "PLString::operator +=");
    EXPECT_EQ(FailingCheck([&] { PLString t(null, 3); }), "PLString::PLString");
    EXPECT_EQ(FailingCheck([&] { (void)(s + null); }), "operator +");
    EXPECT_EQ(FailingCheck([&] { s.GetBuffer(-1); }), "PLString::GetBuffer");
    WCHAR guid[36];  // one short of the text and its terminator
    EXPECT_EQ(FailingCheck([&] { PLGuidToString(GUID_NULL, guid, 36); }), "PLGuidToString");
    EXPECT_EQ(s.view(), u"ab");
    EXPECT_TRUE(PLString(null).IsEmpty());
}

TEST(PLStringTest, SysStringsStopAtTheFirstZero) {
    const WCHAR withZero[] = {u'a', 0, u'b'};
    BSTR b = PLString(withZero, 3).AllocSysString();
    EXPECT_EQ(SysStringLen(b), 1u);  // up to the first zero
    SysFreeString(b);
    EXPECT_EQ(PLString(PLBStr(u"from bstr")).view(), u"from bstr");
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
    constexpr int kRounds = 1500;
    const int opCount = static_cast<int>(std::size(ops));
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
