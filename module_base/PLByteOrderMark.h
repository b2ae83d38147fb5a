// The byte-order marks that text content may begin with, and the encodings they announce.
#ifndef KD_PLBYTEORDERMARK_H
#define KD_PLBYTEORDERMARK_H

#include <cstddef>

#include <kdtrace/pagedata.h>

// The encoding whose mark `bytes` begins with (marks tested longest first, so UTF-32
// little-endian wins over UTF-16 little-endian), or PLTextEncodingNone.
PLTextEncoding PLDetectByteOrderMark(const BYTE* bytes, std::size_t length) noexcept;

#endif  // KD_PLBYTEORDERMARK_H
