// PLString: the library's UTF-16 string, one pointer to reference-counted copy-on-write data.
//
// The object holds a pointer to the first character of a data block; the block's three 32-bit
// counters (reference count, length, allocated length) lie immediately in front of the text, so
// the pointer can be passed wherever a zero-terminated wide string is expected. Every empty
// string points at one static empty block that is never counted, freed or written. A reference
// count of -1 marks a locked buffer, owned exclusively and never shared.
//
// Reference counts change atomically, so strings sharing a block may be copied and destroyed on
// different threads; one PLString object is not safe for concurrent modification.
#ifndef KD_PLSTRING_H
#define KD_PLSTRING_H

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <sys/single_threaded.h>

#include <kdtrace/bstr.h>
#include <kdtrace/types.h>

#include "platform/Format.h"

struct PLStringData {
    std::atomic<int32_t> nRefs;  // sharing strings; -1: locked or the empty block
    int32_t nDataLength;         // characters in use, without the terminator
    int32_t nAllocLength;        // characters the block can hold, without the terminator

    constexpr PLStringData(int32_t refs, int32_t length, int32_t alloc) noexcept
        : nRefs(refs), nDataLength(length), nAllocLength(alloc) {}
    WCHAR* data() noexcept { return reinterpret_cast<WCHAR*>(this + 1); }
};
static_assert(sizeof(PLStringData) == 12, "the counters take 12 bytes in front of the text");

struct PLStringEmptyBlock {
    PLStringData header;
    WCHAR terminator;
};
inline constinit PLStringEmptyBlock g_plStringEmptyBlock{{-1, 0, 0}, 0};

// Reference-count changes. While the process has a single thread (glibc's
// __libc_single_threaded, which never returns to true once a second thread has started) no
// other thread can see a count, so plain increments do; otherwise the changes are atomic.
inline void PLStringAddRef(std::atomic<int32_t>& count) noexcept {
    if (__libc_single_threaded)
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    else
        count.fetch_add(1, std::memory_order_relaxed);
}
// Returns the count after the decrement.
inline int32_t PLStringDecRef(std::atomic<int32_t>& count) noexcept {
    if (__libc_single_threaded) {
        const int32_t now = count.load(std::memory_order_relaxed) - 1;
        count.store(now, std::memory_order_relaxed);
        return now;
    }
    return count.fetch_sub(1, std::memory_order_acq_rel) - 1;
}
void PLStringFreeData(PLStringData* data) noexcept;

// Throws the string's check failure (code PL_E_VERIFY) naming `function`.
[[noreturn]] void PLStringCheckFailed(const char* function, int line);

// An owned BSTR, as the COM string wrapper the string converts from.
class PLBStr {
public:
    PLBStr() noexcept = default;
    explicit PLBStr(const WCHAR* text) : m_bstr(SysAllocString(text)) {}
    PLBStr(const PLBStr& other) : m_bstr(other.m_bstr ? SysAllocStringLen(other.m_bstr, other.Length()) : nullptr) {}
    PLBStr(PLBStr&& other) noexcept : m_bstr(other.m_bstr) { other.m_bstr = nullptr; }
    PLBStr& operator=(PLBStr other) noexcept {
        std::swap(m_bstr, other.m_bstr);
        return *this;
    }
    ~PLBStr() { SysFreeString(m_bstr); }
    // Takes ownership of an existing BSTR.
    static PLBStr Attach(BSTR bstr) noexcept {
        PLBStr b;
        b.m_bstr = bstr;
        return b;
    }
    BSTR Detach() noexcept {
        BSTR b = m_bstr;
        m_bstr = nullptr;
        return b;
    }
    BSTR Get() const noexcept { return m_bstr; }
    uint32_t Length() const noexcept { return SysStringLen(m_bstr); }

private:
    BSTR m_bstr = nullptr;
};

class PLString {
public:
    // ---- construction ----
    PLString() noexcept : m_pchData(EmptyData()) {}
    PLString(const PLString& src) {
        PLStringData* data = src.GetData();
        if (data->nRefs.load(std::memory_order_relaxed) > 0) [[likely]] {
            PLStringAddRef(data->nRefs);
            m_pchData = src.m_pchData;
        } else {
            CopyUnshared(src);
        }
    }
    PLString(PLString&& src) noexcept : m_pchData(src.m_pchData) { src.m_pchData = EmptyData(); }
    PLString(const WCHAR* text);  // NOLINT(google-explicit-constructor): used as a value type
    PLString(const WCHAR* text, int32_t length);
    PLString(WCHAR ch, int32_t repeat = 1);
    explicit PLString(const PLBStr& bstr);
    explicit PLString(std::u16string_view text);
    ~PLString() {
        PLStringData* data = GetData();
        if (data != &g_plStringEmptyBlock.header && PLStringDecRef(data->nRefs) <= 0) PLStringFreeData(data);
    }

    static PLString FromUtf8(std::string_view text);
    std::string ToUtf8() const;

    // ---- access ----
    int32_t GetLength() const noexcept { return GetData()->nDataLength; }
    bool IsEmpty() const noexcept { return GetData()->nDataLength == 0; }
    int32_t GetAllocLength() const noexcept { return GetData()->nAllocLength; }
    operator const WCHAR*() const noexcept { return m_pchData; }  // NOLINT
    const WCHAR* c_str() const noexcept { return m_pchData; }
    std::u16string_view view() const noexcept { return {m_pchData, static_cast<std::size_t>(GetData()->nDataLength)}; }
    WCHAR GetAt(int32_t index) const;
    WCHAR operator[](int32_t index) const;
    void SetAt(int32_t index, WCHAR ch);
    void Empty();

    // ---- assignment ----
    PLString& operator=(const PLString& src);
    PLString& operator=(PLString&& src) noexcept;
    PLString& operator=(const WCHAR* text);
    PLString& operator=(const PLBStr& bstr);
    PLString& operator=(WCHAR ch);

    // ---- concatenation ----
    PLString& operator+=(const PLString& text);
    PLString& operator+=(const WCHAR* text);
    PLString& operator+=(const PLBStr& bstr);
    PLString& operator+=(WCHAR ch) {
        PLStringData* d = GetData();
        const int32_t length = d->nDataLength;
        // The empty block has no room (allocated length 0), so it never takes this path.
        if (length < d->nAllocLength && d->nRefs.load(std::memory_order_relaxed) < 2) [[likely]] {
            WCHAR* text = m_pchData;
            text[length] = ch;
            text[length + 1] = 0;
            d->nDataLength = length + 1;
        } else {
            AppendGrowing(ch);
        }
        return *this;
    }
    PLString& operator+=(int32_t value);
    void Append(const WCHAR* text, int32_t length) { ConcatInPlace(length, text); }

    friend PLString operator+(const PLString& a, const PLString& b);
    friend PLString operator+(const PLString& a, WCHAR b);
    friend PLString operator+(WCHAR a, const PLString& b);
    friend PLString operator+(const PLString& a, const WCHAR* b);
    friend PLString operator+(const WCHAR* a, const PLString& b);

    // ---- extraction ----
    PLString Mid(int32_t first, int32_t count) const;
    PLString Mid(int32_t first) const;
    PLString Left(int32_t count) const;
    PLString Right(int32_t count) const;
    PLString SpanIncluding(const WCHAR* set) const;
    PLString SpanExcluding(const WCHAR* set) const;

    // ---- search (index, or -1) ----
    int32_t Find(WCHAR ch) const noexcept { return Find(ch, 0); }
    int32_t Find(WCHAR ch, int32_t start) const noexcept;
    int32_t ReverseFind(WCHAR ch) const noexcept;
    int32_t FindOneOf(const WCHAR* set) const noexcept;
    int32_t Find(const WCHAR* sub) const noexcept { return Find(sub, 0); }
    int32_t Find(const WCHAR* sub, int32_t start) const noexcept;
    // Case-insensitive: compares after case mapping; an empty substring is not found.
    int32_t FindNoCase(const WCHAR* sub, int32_t start = 0) const;

    // ---- comparison ----
    int Compare(const WCHAR* text) const noexcept;
    int Compare(const PLString& text) const noexcept { return CompareView(text.view()); }
    int CompareNoCase(const WCHAR* text) const;
    int CompareNoCase(const PLString& text) const;
    friend bool operator==(const PLString& a, const PLString& b) noexcept {
        return a.m_pchData == b.m_pchData || a.view() == b.view();
    }
    friend bool operator==(const PLString& a, const WCHAR* b) noexcept { return a.Compare(b) == 0; }
    friend std::strong_ordering operator<=>(const PLString& a, const PLString& b) noexcept {
        return a.CompareView(b.view()) <=> 0;
    }
    friend std::strong_ordering operator<=>(const PLString& a, const WCHAR* b) noexcept { return a.Compare(b) <=> 0; }

    // ---- modification ----
    void MakeUpper();
    void MakeLower();
    void MakeReverse();
    void TrimLeft();
    void TrimLeft(WCHAR target);
    void TrimLeft(const WCHAR* targets);
    void TrimRight();
    void TrimRight(WCHAR target);
    void TrimRight(const WCHAR* targets);
    int32_t Replace(WCHAR oldCh, WCHAR newCh);
    int32_t Replace(const WCHAR* oldText, const WCHAR* newText);
    int32_t Remove(WCHAR ch);
    int32_t Remove(const WCHAR* set);
    int32_t Insert(int32_t index, WCHAR ch);
    int32_t Insert(int32_t index, const WCHAR* text);
    int32_t Delete(int32_t index, int32_t count = 1);

    // ---- formatting (see platform/Format.h for the dialect: %s takes wide text) ----
    template <class... A>
    void Format(const WCHAR* format, const A&... args) {
        if constexpr (sizeof...(A) == 0) {
            FormatV(format, {});
        } else {
            const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)...};
            FormatV(format, list);
        }
    }
    void FormatV(const WCHAR* format, kd::platform::FormatArgs args);
    template <class... A>
    void FormatAndAppend(const WCHAR* format, const A&... args) {
        if constexpr (sizeof...(A) == 0) {
            FormatAndAppendV(format, {});
        } else {
            const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)...};
            FormatAndAppendV(format, list);
        }
    }
    void FormatAndAppendV(const WCHAR* format, kd::platform::FormatArgs args);

    // ---- direct buffer access ----
    WCHAR* GetBuffer(int32_t minLength);
    void ReleaseBuffer(int32_t newLength = -1);
    WCHAR* GetBufferSetLength(int32_t length);
    void FreeExtra();
    WCHAR* LockBuffer();
    void UnlockBuffer();

    // A new BSTR with the text up to the first zero; the caller owns it.
    BSTR AllocSysString() const;

    // Test and diagnostic access to the block's reference count.
    int32_t GetRefCount() const noexcept { return GetData()->nRefs.load(std::memory_order_relaxed); }

    static constexpr int32_t kMaxLength = 0x7FFFFFFE;
    // Length of a zero-terminated string, counted up to kMaxLength; longer or null counts as 0.
    // Not noexcept: it reads a caller's text, and an unreadable pointer must arrive as a
    // translated processor fault at the method's edge, which a noexcept frame would turn into
    // std::terminate.
    static int32_t SafeLength(const WCHAR* text);

private:
    static WCHAR* EmptyData() noexcept { return g_plStringEmptyBlock.header.data(); }
    PLStringData* GetData() const noexcept { return reinterpret_cast<PLStringData*>(m_pchData) - 1; }
    bool IsEmptyBlock() const noexcept { return GetData() == &g_plStringEmptyBlock.header; }
    int CompareView(std::u16string_view other) const noexcept { return view().compare(other); }

    void Init() noexcept { m_pchData = EmptyData(); }
    void AllocBuffer(int32_t length);
    void Release() noexcept;
    void CopyUnshared(const PLString& src);
    // The append of one character that needs a new block (kept out of line so the common case
    // stays small and keeps the character in a register).
    void AppendGrowing(WCHAR ch);
    void CopyBeforeWrite();
    void AssignCopy(int32_t length, const WCHAR* text);
    void ConcatCopy(int32_t len1, const WCHAR* text1, int32_t len2, const WCHAR* text2);
    void ConcatInPlace(int32_t length, const WCHAR* text);
    int32_t InsertText(int32_t index, const WCHAR* text, int32_t length);
    PLString Extract(int32_t first, int32_t count) const;
    template <class Pred>
    void TrimLeftIf(Pred pred);
    template <class Pred>
    void TrimRightIf(Pred pred);

    WCHAR* m_pchData;
};

struct PLStringHash {
    std::size_t operator()(const PLString& s) const noexcept { return std::hash<std::u16string_view>()(s.view()); }
};

#endif  // KD_PLSTRING_H
