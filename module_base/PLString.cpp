// PLString: reference-counted copy-on-write UTF-16 text.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

#include "module_base/PLError.h"
#include "module_base/PLString.h"
#include "platform/Text.h"

namespace {

constexpr std::size_t kHeaderBytes = sizeof(PLStringData);

// Characters to allocate for a request of `length` characters: small strings get room to grow.
int32_t RoundAlloc(int32_t length) noexcept {
    if (length < 64) return 64;
    if (length < 128) return 128;
    if (length < 256) return 256;
    if (length < 512) return 512;
    return length;
}

bool InSet(WCHAR c, const WCHAR* set) noexcept {
    for (; *set != 0; ++set)
        if (*set == c) return true;
    return false;
}

}  // namespace

void PLStringFreeData(PLStringData* data) noexcept {
    data->~PLStringData();
    ::operator delete(static_cast<void*>(data));
}

void PLStringCheckFailed(const char* function, int line) {
    PLThrowIfFailed(PL_E_VERIFY, static_cast<ULONG>(line), function, __FILE__);
    // PLThrowIfFailed always throws for a failure code.
    throw PL_E_VERIFY;
}

#define PLSTRING_CHECK(cond, function)                        \
    do {                                                      \
        if (!(cond)) PLStringCheckFailed(function, __LINE__); \
    } while (0)

int32_t PLString::SafeLength(const WCHAR* text) {
    if (text == nullptr) return 0;
    const std::size_t n = kd::platform::Utf16Length(text, static_cast<std::size_t>(kMaxLength) + 1);
    return n > static_cast<std::size_t>(kMaxLength) ? 0 : static_cast<int32_t>(n);
}

// ---- block management ----

void PLString::AllocBuffer(int32_t length) {
    PLSTRING_CHECK(length >= 0 && length <= kMaxLength, "PLString::AllocBuffer");
    if (length == 0) {
        Init();
        return;
    }
    const int32_t alloc = RoundAlloc(length);
    void* mem = ::operator new(kHeaderBytes + 2 * (static_cast<std::size_t>(alloc) + 1));
    auto* data = new (mem) PLStringData(1, length, alloc);
    data->data()[length] = 0;
    m_pchData = data->data();
}

void PLString::Release() noexcept {
    PLStringData* data = GetData();
    if (data != &g_plStringEmptyBlock.header) {
        if (PLStringDecRef(data->nRefs) <= 0) PLStringFreeData(data);
    }
    Init();
}

void PLString::CopyBeforeWrite() {
    PLStringData* data = GetData();
    if (data->nRefs.load(std::memory_order_acquire) > 1) {
        // Copy first, then let go of the shared block: until our reference is dropped the other
        // sharers cannot free it, whatever they do on other threads meanwhile.
        const int32_t length = data->nDataLength;
        PLString copy;
        copy.AllocBuffer(length);
        std::memcpy(copy.m_pchData, m_pchData, static_cast<std::size_t>(length) * sizeof(WCHAR));
        Release();
        m_pchData = copy.m_pchData;
        copy.Init();
    }
    PLSTRING_CHECK(GetData()->nRefs.load(std::memory_order_relaxed) <= 1, "PLString::CopyBeforeWrite");
}

void PLString::AssignCopy(int32_t length, const WCHAR* text) {
    if (length == 0) {
        Empty();  // a locked buffer keeps its block
        return;
    }
    PLStringData* data = GetData();
    if (data->nRefs.load(std::memory_order_acquire) > 1 || length > data->nAllocLength) {
        // `text` may point into the old block: hold it until the text is copied out.
        PLString old(std::move(*this));
        AllocBuffer(length);
        std::memcpy(m_pchData, text, static_cast<std::size_t>(length) * sizeof(WCHAR));
    } else {
        std::memmove(m_pchData, text, static_cast<std::size_t>(length) * sizeof(WCHAR));
        data->nDataLength = length;
        m_pchData[length] = 0;
    }
}

void PLString::ConcatCopy(int32_t len1, const WCHAR* text1, int32_t len2, const WCHAR* text2) {
    const int64_t total = int64_t{len1} + len2;
    PLSTRING_CHECK(total <= kMaxLength, "PLString::ConcatCopy");
    if (total == 0) {
        Init();
        return;
    }
    AllocBuffer(static_cast<int32_t>(total));
    std::memcpy(m_pchData, text1, static_cast<std::size_t>(len1) * sizeof(WCHAR));
    std::memcpy(m_pchData + len1, text2, static_cast<std::size_t>(len2) * sizeof(WCHAR));
}

void PLString::ConcatInPlace(int32_t length, const WCHAR* text) {
    if (length <= 0) return;
    PLStringData* data = GetData();
    if (data->nRefs.load(std::memory_order_relaxed) < 2 && int64_t{data->nDataLength} + length <= data->nAllocLength) {
        std::memcpy(m_pchData + data->nDataLength, text, static_cast<std::size_t>(length) * sizeof(WCHAR));
        data->nDataLength += length;
        PLSTRING_CHECK(data->nDataLength <= data->nAllocLength, "PLString::ConcatInPlace");
        m_pchData[data->nDataLength] = 0;
        return;
    }
    // A new block with room to grow, for amortised linear appends. Within the size classes
    // (up to 512 characters) the next class already doubles the block; beyond them the block
    // grows to max(total, twice the current allocation).
    const int64_t total = int64_t{data->nDataLength} + length;
    PLSTRING_CHECK(total <= kMaxLength, "PLString::ConcatInPlace");
    const int64_t doubled = std::min<int64_t>(int64_t{2} * data->nAllocLength, kMaxLength);
    const int32_t alloc = static_cast<int32_t>(doubled <= 512 ? total : std::max(total, doubled));
    // `text` may point into this string's own block; keep that block until the copy is done.
    PLString old(std::move(*this));
    AllocBuffer(alloc);
    PLStringData* fresh = GetData();
    std::memcpy(m_pchData, old.m_pchData, static_cast<std::size_t>(old.GetLength()) * sizeof(WCHAR));
    std::memcpy(m_pchData + old.GetLength(), text, static_cast<std::size_t>(length) * sizeof(WCHAR));
    fresh->nDataLength = static_cast<int32_t>(total);
    m_pchData[total] = 0;
}

void PLString::AppendGrowing(WCHAR ch) {
    ConcatInPlace(1, &ch);
}

// ---- construction ----

// Copies a string whose block is not shareable: a locked buffer or the empty block (count -1).
void PLString::CopyUnshared(const PLString& src) {
    Init();
    PLStringData* data = src.GetData();
    PLSTRING_CHECK(data->nRefs.load(std::memory_order_relaxed) != 0, "PLString::PLString");
    const int32_t length = data->nDataLength;
    if (length > 0) {
        AllocBuffer(length);
        std::memcpy(m_pchData, src.m_pchData, static_cast<std::size_t>(length) * sizeof(WCHAR));
    }
}

PLString::PLString(const WCHAR* text) {
    Init();
    const int32_t length = SafeLength(text);
    if (length > 0) {
        AllocBuffer(length);
        std::memcpy(m_pchData, text, static_cast<std::size_t>(length) * sizeof(WCHAR));
    }
}

PLString::PLString(const WCHAR* text, int32_t length) {
    Init();
    if (length == 0) return;
    PLSTRING_CHECK(text != nullptr && length > 0, "PLString::PLString");
    AllocBuffer(length);
    std::memcpy(m_pchData, text, static_cast<std::size_t>(length) * sizeof(WCHAR));
}

PLString::PLString(WCHAR ch, int32_t repeat) {
    Init();
    if (repeat < 1) return;
    AllocBuffer(repeat);
    std::fill_n(m_pchData, repeat, ch);
}

PLString::PLString(const PLBStr& bstr) : PLString(static_cast<const WCHAR*>(bstr.Get())) {}

PLString::PLString(std::u16string_view text) {
    Init();
    PLSTRING_CHECK(text.size() <= static_cast<std::size_t>(kMaxLength), "PLString::PLString");
    if (!text.empty()) {
        AllocBuffer(static_cast<int32_t>(text.size()));
        std::memcpy(m_pchData, text.data(), text.size() * sizeof(WCHAR));
    }
}

PLString PLString::FromUtf8(std::string_view text) {
    // Most narrow text (names, source paths, messages) is ASCII: widen it straight into the block.
    std::size_t ascii = 0;
    while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
    if (ascii < text.size()) return PLString(std::u16string_view(kd::platform::Utf8ToUtf16(text)));
    PLSTRING_CHECK(text.size() <= static_cast<std::size_t>(kMaxLength), "PLString::PLString");
    PLString s;
    if (!text.empty()) {
        s.AllocBuffer(static_cast<int32_t>(text.size()));
        std::copy(text.begin(), text.end(), s.m_pchData);
    }
    return s;
}

std::string PLString::ToUtf8() const {
    return kd::platform::Utf16ToUtf8(view());
}

// ---- access ----

WCHAR PLString::GetAt(int32_t index) const {
    PLSTRING_CHECK(index >= 0 && index < GetLength(), "PLString::GetAt");
    return m_pchData[index];
}

WCHAR PLString::operator[](int32_t index) const {
    PLSTRING_CHECK(index >= 0 && index < GetLength(), "PLString::operator []");
    return m_pchData[index];
}

void PLString::SetAt(int32_t index, WCHAR ch) {
    PLSTRING_CHECK(index >= 0 && index < GetLength(), "PLString::SetAt");
    CopyBeforeWrite();
    m_pchData[index] = ch;
}

void PLString::Empty() {
    if (GetData()->nRefs.load(std::memory_order_relaxed) >= 0) {
        Release();
    } else if (!IsEmptyBlock()) {
        // A locked buffer keeps its block: only the text goes.
        GetData()->nDataLength = 0;
        m_pchData[0] = 0;
    }
}

// ---- assignment ----

PLString& PLString::operator=(const PLString& src) {
    if (m_pchData == src.m_pchData) return *this;
    PLStringData* mine = GetData();
    PLStringData* theirs = src.GetData();
    if ((mine->nRefs.load(std::memory_order_relaxed) < 0 && mine != &g_plStringEmptyBlock.header) ||
        theirs->nRefs.load(std::memory_order_relaxed) < 0) {
        // A locked buffer on either side: copy the text instead of sharing.
        AssignCopy(theirs->nDataLength, src.m_pchData);
    } else {
        PLSTRING_CHECK(theirs != &g_plStringEmptyBlock.header, "PLString::operator =");
        Release();
        PLStringAddRef(theirs->nRefs);
        m_pchData = src.m_pchData;
    }
    return *this;
}

PLString& PLString::operator=(PLString&& src) noexcept {
    if (this != &src) {
        if (GetData()->nRefs.load(std::memory_order_relaxed) < 0 && !IsEmptyBlock()) {
            // A locked buffer stays where it is (its owner holds a pointer into it): copy the
            // text instead. Moving never throws; if the copy cannot get memory the locked
            // buffer keeps its old text.
            try {
                *this = static_cast<const PLString&>(src);
            } catch (...) {
            }
            return *this;
        }
        Release();
        m_pchData = src.m_pchData;
        src.Init();
    }
    return *this;
}

PLString& PLString::operator=(const WCHAR* text) {
    PLSTRING_CHECK(text != nullptr, "PLString::operator =");
    AssignCopy(SafeLength(text), text);
    return *this;
}

PLString& PLString::operator=(const PLBStr& bstr) {
    const WCHAR* text = bstr.Get();
    AssignCopy(SafeLength(text), text);
    return *this;
}

PLString& PLString::operator=(WCHAR ch) {
    AssignCopy(1, &ch);
    return *this;
}

// ---- concatenation ----

PLString& PLString::operator+=(const PLString& text) {
    ConcatInPlace(text.GetLength(), text.m_pchData);
    return *this;
}

PLString& PLString::operator+=(const WCHAR* text) {
    PLSTRING_CHECK(text != nullptr, "PLString::operator +=");
    ConcatInPlace(SafeLength(text), text);
    return *this;
}

PLString& PLString::operator+=(const PLBStr& bstr) {
    const WCHAR* text = bstr.Get();
    ConcatInPlace(SafeLength(text), text);
    return *this;
}

PLString& PLString::operator+=(int32_t value) {
    char digits[16];
    const auto res = std::to_chars(digits, digits + sizeof digits, value);
    WCHAR wide[16];
    const int32_t n = static_cast<int32_t>(res.ptr - digits);
    for (int32_t i = 0; i < n; ++i) wide[i] = static_cast<WCHAR>(digits[i]);
    ConcatInPlace(n, wide);
    return *this;
}

PLString operator+(const PLString& a, const PLString& b) {
    PLString s;
    s.ConcatCopy(a.GetLength(), a.m_pchData, b.GetLength(), b.m_pchData);
    return s;
}

PLString operator+(const PLString& a, WCHAR b) {
    PLString s;
    s.ConcatCopy(a.GetLength(), a.m_pchData, 1, &b);
    return s;
}

PLString operator+(WCHAR a, const PLString& b) {
    PLString s;
    s.ConcatCopy(1, &a, b.GetLength(), b.m_pchData);
    return s;
}

PLString operator+(const PLString& a, const WCHAR* b) {
    PLSTRING_CHECK(b != nullptr, "operator +");
    PLString s;
    s.ConcatCopy(a.GetLength(), a.m_pchData, PLString::SafeLength(b), b);
    return s;
}

PLString operator+(const WCHAR* a, const PLString& b) {
    PLSTRING_CHECK(a != nullptr, "operator +");
    PLString s;
    s.ConcatCopy(PLString::SafeLength(a), a, b.GetLength(), b.m_pchData);
    return s;
}

// ---- extraction ----

PLString PLString::Extract(int32_t first, int32_t count) const {
    if (first == 0 && count == GetLength()) return *this;  // shares the block
    return PLString(m_pchData + first, count);
}

PLString PLString::Mid(int32_t first, int32_t count) const {
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    const int32_t length = GetLength();
    if (first > length) return PLString();
    if (count > length - first) count = length - first;
    return Extract(first, count);
}

PLString PLString::Mid(int32_t first) const {
    return Mid(first, GetLength() - (first < 0 ? 0 : first));
}

PLString PLString::Left(int32_t count) const {
    if (count < 0) count = 0;
    if (count >= GetLength()) return *this;
    return Extract(0, count);
}

PLString PLString::Right(int32_t count) const {
    if (count < 0) count = 0;
    const int32_t length = GetLength();
    if (count >= length) return *this;
    return Extract(length - count, count);
}

PLString PLString::SpanIncluding(const WCHAR* set) const {
    if (set == nullptr) return PLString();
    int32_t n = 0;
    const int32_t length = GetLength();
    while (n < length && InSet(m_pchData[n], set)) ++n;
    return Left(n);
}

PLString PLString::SpanExcluding(const WCHAR* set) const {
    if (set == nullptr) return *this;
    int32_t n = 0;
    const int32_t length = GetLength();
    while (n < length && !InSet(m_pchData[n], set)) ++n;
    return Left(n);
}

// ---- search ----

int32_t PLString::Find(WCHAR ch, int32_t start) const noexcept {
    const int32_t length = GetLength();
    if (start < 0) start = 0;
    if (start >= length) return -1;
    const WCHAR* hit = std::char_traits<WCHAR>::find(m_pchData + start, static_cast<std::size_t>(length - start), ch);
    return hit == nullptr ? -1 : static_cast<int32_t>(hit - m_pchData);
}

int32_t PLString::ReverseFind(WCHAR ch) const noexcept {
    for (int32_t i = GetLength() - 1; i >= 0; --i)
        if (m_pchData[i] == ch) return i;
    return -1;
}

int32_t PLString::FindOneOf(const WCHAR* set) const noexcept {
    if (set == nullptr) return -1;
    const int32_t length = GetLength();
    for (int32_t i = 0; i < length; ++i)
        if (InSet(m_pchData[i], set)) return i;
    return -1;
}

int32_t PLString::Find(const WCHAR* sub, int32_t start) const noexcept {
    const int32_t length = GetLength();
    if (start < 0) start = 0;
    if (start > length || sub == nullptr) return -1;
    const std::size_t pos = view().find(std::u16string_view(sub, static_cast<std::size_t>(SafeLength(sub))),
                                        static_cast<std::size_t>(start));
    return pos == std::u16string_view::npos ? -1 : static_cast<int32_t>(pos);
}

int32_t PLString::FindNoCase(const WCHAR* sub, int32_t start) const {
    const int32_t length = GetLength();
    if (start < 0) start = 0;
    const int32_t subLength = SafeLength(sub);
    if (start > length || subLength == 0) return -1;
    for (int32_t i = start; i + subLength <= length; ++i) {
        int32_t k = 0;
        while (k < subLength && kd::platform::ToLower(m_pchData[i + k]) == kd::platform::ToLower(sub[k])) ++k;
        if (k == subLength) return i;
    }
    return -1;
}

// ---- comparison ----

int PLString::Compare(const WCHAR* text) const noexcept {
    const int c =
        CompareView(std::u16string_view(text == nullptr ? u"" : text, static_cast<std::size_t>(SafeLength(text))));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int PLString::CompareNoCase(const WCHAR* text) const {
    return kd::platform::CompareNoCase(
        view(), std::u16string_view(text == nullptr ? u"" : text, static_cast<std::size_t>(SafeLength(text))));
}

int PLString::CompareNoCase(const PLString& text) const {
    return kd::platform::CompareNoCase(view(), text.view());
}

// ---- modification ----

void PLString::MakeUpper() {
    CopyBeforeWrite();
    kd::platform::ToUpperInPlace(m_pchData, static_cast<std::size_t>(GetLength()));
}

void PLString::MakeLower() {
    CopyBeforeWrite();
    kd::platform::ToLowerInPlace(m_pchData, static_cast<std::size_t>(GetLength()));
}

void PLString::MakeReverse() {
    CopyBeforeWrite();
    std::reverse(m_pchData, m_pchData + GetLength());
}

template <class Pred>
void PLString::TrimLeftIf(Pred pred) {
    int32_t run = 0;
    const int32_t length = GetLength();
    while (run < length && pred(m_pchData[run])) ++run;
    if (run == 0) return;
    CopyBeforeWrite();
    const int32_t rest = length - run;
    std::memmove(m_pchData, m_pchData + run, static_cast<std::size_t>(rest) * sizeof(WCHAR));
    GetData()->nDataLength = rest;
    m_pchData[rest] = 0;
}

template <class Pred>
void PLString::TrimRightIf(Pred pred) {
    const int32_t length = GetLength();
    int32_t keep = length;
    while (keep > 0 && pred(m_pchData[keep - 1])) --keep;
    if (keep == length) return;
    CopyBeforeWrite();
    GetData()->nDataLength = keep;
    m_pchData[keep] = 0;
}

void PLString::TrimLeft() {
    TrimLeftIf([](WCHAR c) { return kd::platform::IsSpace(c); });
}
void PLString::TrimLeft(WCHAR target) {
    TrimLeftIf([target](WCHAR c) { return c == target; });
}
void PLString::TrimLeft(const WCHAR* targets) {
    if (targets != nullptr) TrimLeftIf([targets](WCHAR c) { return InSet(c, targets); });
}
void PLString::TrimRight() {
    TrimRightIf([](WCHAR c) { return kd::platform::IsSpace(c); });
}
void PLString::TrimRight(WCHAR target) {
    TrimRightIf([target](WCHAR c) { return c == target; });
}
void PLString::TrimRight(const WCHAR* targets) {
    if (targets != nullptr) TrimRightIf([targets](WCHAR c) { return InSet(c, targets); });
}

int32_t PLString::Replace(WCHAR oldCh, WCHAR newCh) {
    if (oldCh == newCh) return 0;
    int32_t count = 0;
    const int32_t length = GetLength();
    for (int32_t i = 0; i < length; ++i) {
        if (m_pchData[i] == oldCh) {
            if (count++ == 0) CopyBeforeWrite();
            m_pchData[i] = newCh;
        }
    }
    return count;
}

int32_t PLString::Replace(const WCHAR* oldText, const WCHAR* newText) {
    const int32_t oldLen = SafeLength(oldText);
    if (oldLen == 0) return 0;
    const int32_t newLen = SafeLength(newText);
    const std::u16string_view from(oldText, static_cast<std::size_t>(oldLen));
    // Count every non-overlapping occurrence over the whole length, embedded zeros included.
    int32_t count = 0;
    for (std::size_t pos = view().find(from); pos != std::u16string_view::npos;
         pos = view().find(from, pos + static_cast<std::size_t>(oldLen)))
        ++count;
    if (count == 0) return 0;
    const int32_t length = GetLength();
    const int64_t newLength = int64_t{length} + int64_t{newLen - oldLen} * count;
    PLSTRING_CHECK(newLength >= 0 && newLength <= kMaxLength, "PLString::Replace");
    // Build into a fresh block when shared or too small, else in place (right-shifting as needed).
    PLString result;
    const bool inPlace =
        GetData()->nRefs.load(std::memory_order_relaxed) < 2 && newLength <= GetAllocLength() && newLen <= oldLen;
    const std::u16string_view src = view();
    if (inPlace) {
        // The result never outgrows the source, so writing left to right never overtakes reading.
        WCHAR* out = m_pchData;
        std::size_t readPos = 0;
        for (std::size_t pos = src.find(from); pos != std::u16string_view::npos; pos = src.find(from, readPos)) {
            std::memmove(out, m_pchData + readPos, (pos - readPos) * sizeof(WCHAR));
            out += pos - readPos;
            std::memcpy(out, newText, static_cast<std::size_t>(newLen) * sizeof(WCHAR));
            out += newLen;
            readPos = pos + static_cast<std::size_t>(oldLen);
        }
        std::memmove(out, m_pchData + readPos, (src.size() - readPos) * sizeof(WCHAR));
        out += src.size() - readPos;
        GetData()->nDataLength = static_cast<int32_t>(newLength);
        m_pchData[newLength] = 0;
        return count;
    }
    result.AllocBuffer(static_cast<int32_t>(std::max<int64_t>(newLength, GetAllocLength())));
    WCHAR* out = result.m_pchData;
    std::size_t readPos = 0;
    for (std::size_t pos = src.find(from); pos != std::u16string_view::npos; pos = src.find(from, readPos)) {
        std::memcpy(out, m_pchData + readPos, (pos - readPos) * sizeof(WCHAR));
        out += pos - readPos;
        std::memcpy(out, newText, static_cast<std::size_t>(newLen) * sizeof(WCHAR));
        out += newLen;
        readPos = pos + static_cast<std::size_t>(oldLen);
    }
    std::memcpy(out, m_pchData + readPos, (src.size() - readPos) * sizeof(WCHAR));
    result.GetData()->nDataLength = static_cast<int32_t>(newLength);
    result.m_pchData[newLength] = 0;
    if (newLength == 0) result.Release();
    *this = std::move(result);
    return count;
}

int32_t PLString::Remove(WCHAR ch) {
    const int32_t length = GetLength();
    if (Find(ch) < 0) return 0;
    CopyBeforeWrite();
    WCHAR* out = m_pchData;
    for (int32_t i = 0; i < length; ++i)
        if (m_pchData[i] != ch) *out++ = m_pchData[i];
    const int32_t kept = static_cast<int32_t>(out - m_pchData);
    GetData()->nDataLength = kept;
    m_pchData[kept] = 0;
    return length - kept;
}

int32_t PLString::Remove(const WCHAR* set) {
    if (set == nullptr || FindOneOf(set) < 0) return 0;
    const int32_t length = GetLength();
    CopyBeforeWrite();
    WCHAR* out = m_pchData;
    for (int32_t i = 0; i < length; ++i)
        if (!InSet(m_pchData[i], set)) *out++ = m_pchData[i];
    const int32_t kept = static_cast<int32_t>(out - m_pchData);
    GetData()->nDataLength = kept;
    m_pchData[kept] = 0;
    return length - kept;
}

int32_t PLString::Insert(int32_t index, WCHAR ch) {
    return InsertText(index, &ch, 1);
}

int32_t PLString::Insert(int32_t index, const WCHAR* text) {
    return InsertText(index, text, SafeLength(text));
}

int32_t PLString::InsertText(int32_t index, const WCHAR* text, int32_t insLen) {
    const int32_t length = GetLength();
    if (insLen == 0) return length;
    if (index < 0) index = 0;
    if (index > length) index = length;
    PLSTRING_CHECK(int64_t{length} + insLen <= kMaxLength, "PLString::Insert");
    const int32_t newLength = length + insLen;
    PLString result;
    result.AllocBuffer(newLength);
    std::memcpy(result.m_pchData, m_pchData, static_cast<std::size_t>(index) * sizeof(WCHAR));
    std::memcpy(result.m_pchData + index, text, static_cast<std::size_t>(insLen) * sizeof(WCHAR));
    std::memcpy(result.m_pchData + index + insLen, m_pchData + index,
                static_cast<std::size_t>(length - index) * sizeof(WCHAR));
    if (GetData()->nRefs.load(std::memory_order_relaxed) < 2 && newLength <= GetAllocLength()) {
        // Room in our own block: keep it (a locked buffer must stay where it is).
        std::memcpy(m_pchData, result.m_pchData, static_cast<std::size_t>(newLength) * sizeof(WCHAR));
        GetData()->nDataLength = newLength;
        m_pchData[newLength] = 0;
    } else {
        *this = std::move(result);
    }
    return newLength;
}

int32_t PLString::Delete(int32_t index, int32_t count) {
    const int32_t length = GetLength();
    if (index < 0) index = 0;
    if (count < 1 || index >= length) return length;
    if (count > length - index) count = length - index;
    CopyBeforeWrite();
    std::memmove(m_pchData + index, m_pchData + index + count,
                 static_cast<std::size_t>(length - index - count) * sizeof(WCHAR));
    GetData()->nDataLength = length - count;
    m_pchData[length - count] = 0;
    return length;
}

// ---- formatting ----

void PLString::FormatV(const WCHAR* format, kd::platform::FormatArgs args) {
    PLSTRING_CHECK(format != nullptr, "PLString::FormatV");
    std::u16string text;
    kd::platform::FormatAppend(text, std::u16string_view(format, static_cast<std::size_t>(SafeLength(format))), args);
    PLSTRING_CHECK(text.size() <= static_cast<std::size_t>(kMaxLength), "PLString::FormatV");
    AssignCopy(static_cast<int32_t>(text.size()), text.data());
}

void PLString::FormatAndAppendV(const WCHAR* format, kd::platform::FormatArgs args) {
    PLSTRING_CHECK(format != nullptr, "PLString::FormatAndAppend");
    std::u16string text;
    kd::platform::FormatAppend(text, std::u16string_view(format, static_cast<std::size_t>(SafeLength(format))), args);
    PLSTRING_CHECK(int64_t{GetLength()} + static_cast<int64_t>(text.size()) <= kMaxLength, "PLString::FormatAndAppend");
    ConcatInPlace(static_cast<int32_t>(text.size()), text.data());
}

// ---- direct buffer access ----

WCHAR* PLString::GetBuffer(int32_t minLength) {
    PLSTRING_CHECK(minLength >= 0, "PLString::GetBuffer");
    PLStringData* data = GetData();
    if (data->nRefs.load(std::memory_order_relaxed) > 1 || minLength > data->nAllocLength) {
        PLString old(std::move(*this));
        const int32_t length = old.GetLength();
        AllocBuffer(std::max(minLength, length));
        if (!IsEmptyBlock()) {
            std::memcpy(m_pchData, old.m_pchData, static_cast<std::size_t>(length) * sizeof(WCHAR));
            GetData()->nDataLength = length;
            m_pchData[length] = 0;
        }
    }
    PLSTRING_CHECK(GetData()->nRefs.load(std::memory_order_relaxed) <= 1, "PLString::GetBuffer");
    return m_pchData;
}

void PLString::ReleaseBuffer(int32_t newLength) {
    CopyBeforeWrite();
    PLStringData* data = GetData();
    if (newLength == -1)
        newLength =
            static_cast<int32_t>(kd::platform::Utf16Length(m_pchData, static_cast<std::size_t>(data->nAllocLength)));
    PLSTRING_CHECK(newLength >= 0 && newLength <= data->nAllocLength, "PLString::ReleaseBuffer");
    if (IsEmptyBlock()) return;
    data->nDataLength = newLength;
    m_pchData[newLength] = 0;
}

WCHAR* PLString::GetBufferSetLength(int32_t length) {
    PLSTRING_CHECK(length >= 0, "PLString::GetBufferSetLength");
    GetBuffer(length);
    if (!IsEmptyBlock()) {
        GetData()->nDataLength = length;
        m_pchData[length] = 0;
    }
    return m_pchData;
}

void PLString::FreeExtra() {
    PLStringData* data = GetData();
    PLSTRING_CHECK(data->nDataLength <= data->nAllocLength, "PLString::FreeExtra");
    if (data->nDataLength == data->nAllocLength) return;
    const bool locked = data->nRefs.load(std::memory_order_relaxed) < 0;
    PLString old(std::move(*this));
    const int32_t length = old.GetLength();
    AllocBuffer(length);
    std::memcpy(m_pchData, old.m_pchData, static_cast<std::size_t>(length) * sizeof(WCHAR));
    if (locked && !IsEmptyBlock()) GetData()->nRefs.store(-1, std::memory_order_relaxed);
    PLSTRING_CHECK(GetData()->nDataLength <= GetData()->nAllocLength, "PLString::FreeExtra");
}

WCHAR* PLString::LockBuffer() {
    WCHAR* p = GetBuffer(0);
    if (!IsEmptyBlock()) GetData()->nRefs.store(-1, std::memory_order_relaxed);
    return p;
}

void PLString::UnlockBuffer() {
    PLSTRING_CHECK(GetData()->nRefs.load(std::memory_order_relaxed) == -1, "PLString::UnlockBuffer");
    if (!IsEmptyBlock()) GetData()->nRefs.store(1, std::memory_order_relaxed);
}

BSTR PLString::AllocSysString() const {
    BSTR b = SysAllocStringLen(
        m_pchData, static_cast<uint32_t>(kd::platform::Utf16Length(m_pchData, static_cast<std::size_t>(GetLength()))));
    PLSTRING_CHECK(b != nullptr, "PLString::AllocSysString");
    return b;
}
