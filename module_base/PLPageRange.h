// Page ranges: text such as "1-3, 5" read into (start, end) pairs and written back.
//
// A single page n is the pair (n, n); an inverse range has start > end. The text is numbers
// joined by "-" (one range) and "," (separate ranges), with optional spaces around them. Errors
// are recorded under "Core Services", "Utility Functions" and the function's name.
#ifndef KD_PLPAGERANGE_H
#define KD_PLPAGERANGE_H

#include <cstdint>
#include <vector>

#include <kdtrace/types.h>

#include "module_base/PLString.h"

struct PLPageRange {
    int32_t start;
    int32_t end;
    bool operator==(const PLPageRange&) const = default;
};

struct PLPageRange64 {
    int64_t start;
    int64_t end;
    bool operator==(const PLPageRange64&) const = default;
};

// Reads `text` into `ranges`, in text order. A `maxPage` below 1 means no maximum; with one, a
// character other than digits, spaces, "-" and "," gives S_FALSE and an empty list (without
// one, such characters are skipped). Blank text gives E_INVALIDARG without a record. Otherwise
// E_FAIL, recorded, for a misplaced separator, a page below 1 or above the maximum (or beyond
// the 32- or 64-bit form), an inverse range unless `allowInverse`, and any two ranges that share
// a page; the list is then left as it was.
HRESULT ParsePageRangeString(const WCHAR* text, std::vector<PLPageRange>& ranges, int32_t maxPage, bool allowInverse);
HRESULT ParsePageRangeString(const WCHAR* text, std::vector<PLPageRange64>& ranges, int64_t maxPage, bool allowInverse);

// Writes the ranges as "1-3,5": "start-end", or the page alone when both ends are equal.
HRESULT CreatePageRangeString(const std::vector<PLPageRange>& ranges, PLString& text);
HRESULT CreatePageRangeString(const std::vector<PLPageRange64>& ranges, PLString& text);

#endif  // KD_PLPAGERANGE_H
