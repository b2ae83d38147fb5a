// Page-range text, arbitrary bytes as Latin-1 characters, read in the 32- and 64-bit forms. The
// first byte chooses the maximum page and whether inverse ranges are allowed. A text that reads
// must give ranges inside the bounds, in the allowed directions, sharing no page, and the text
// CreatePageRangeString writes for them must read back to the same ranges. A text of digits,
// spaces and separators alone loses no number: each starts or ends a range read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzThread.h"
#include "module_base/PLError.h"
#include "module_base/PLPageRange.h"

namespace {

template <class Range, class Int>
void Check(const std::u16string& text, Int maxPage, bool allowInverse) {
    std::vector<Range> ranges{{7, 7}};
    const HRESULT hr = ParsePageRangeString(text.c_str(), ranges, maxPage, allowInverse);
    if (hr == S_FALSE) {
        if (!ranges.empty() || maxPage < 1) std::abort();
        return;
    }
    if (hr != S_OK) {
        if (hr != E_FAIL && hr != E_INVALIDARG) std::abort();
        if (ranges.size() != 1 || ranges[0].start != 7) std::abort();  // left as it was
        return;
    }
    if (ranges.empty()) std::abort();
    if (text.find_first_not_of(u"0123456789 ,-") == std::u16string::npos) {
        for (std::size_t at = text.find_first_of(u"0123456789"); at != std::u16string::npos;) {
            const std::size_t end = std::min(text.find_first_not_of(u"0123456789", at), text.size());
            Int page = 0;
            for (std::size_t k = at; k < end; ++k) page = page * 10 + static_cast<Int>(text[k] - u'0');  // it fit
            if (std::none_of(ranges.begin(), ranges.end(),
                             [&](const Range& r) { return r.start == page || r.end == page; }))
                std::abort();
            at = text.find_first_of(u"0123456789", end);
        }
    }
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const Range& a = ranges[i];
        if (a.start < 1 || a.end < 1) std::abort();
        if (maxPage >= 1 && (a.start > maxPage || a.end > maxPage)) std::abort();
        if (!allowInverse && a.start > a.end) std::abort();
        for (std::size_t j = i + 1; j < ranges.size(); ++j) {
            const Range& b = ranges[j];
            const Int low = std::max(std::min(a.start, a.end), std::min(b.start, b.end));
            const Int high = std::min(std::max(a.start, a.end), std::max(b.start, b.end));
            if (low <= high) std::abort();
        }
    }
    PLString written;
    if (CreatePageRangeString(ranges, written) != S_OK) std::abort();
    std::vector<Range> back;
    if (ParsePageRangeString(written.c_str(), back, maxPage, allowInverse) != S_OK || back != ranges) std::abort();
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 1 || size > 4096) return 0;
    std::u16string text;
    for (size_t i = 1; i < size && data[i] != 0; ++i) text += static_cast<char16_t>(data[i]);
    static constexpr int64_t kMaxima[4] = {0, 10, 2147483647, 0};
    const int64_t maxPage = kMaxima[data[0] & 3];
    const bool allowInverse = (data[0] & 4) != 0;

    const CPLThreadErrorSuspender quiet;
    Check<PLPageRange, int32_t>(text, static_cast<int32_t>(maxPage), allowInverse);
    Check<PLPageRange64, int64_t>(text, (data[0] & 8) != 0 ? INT64_MAX : maxPage, allowInverse);
    return 0;
}
