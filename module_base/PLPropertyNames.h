// The well-known property names: keys that the system's components use in property bags. The
// bags themselves do not consult the table.
#ifndef KD_PLPROPERTYNAMES_H
#define KD_PLPROPERTYNAMES_H

#include <cstddef>

#include <kdtrace/types.h>

inline constexpr std::size_t kPLWellKnownPropertyNameCount = 126;
inline constexpr std::size_t kPLWellKnownPropertyNameSize = 256;  // each name's buffer, zero-filled

// In their fixed order (document, pageID, ..., xPos, yPos, width, height, ..., qualityReduced).
extern const WCHAR g_plWellKnownPropertyNames[kPLWellKnownPropertyNameCount][kPLWellKnownPropertyNameSize];

// Indexes of the names the page-section functions read.
enum PLWellKnownPropertyName : std::size_t {
    kPLPropertyXPos = 47,
    kPLPropertyYPos = 48,
    kPLPropertyWidth = 49,
    kPLPropertyHeight = 50,
};

#endif  // KD_PLPROPERTYNAMES_H
