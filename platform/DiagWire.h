// The fixed parts of a diagInfo record, shared by the writer and the console that reads it, so
// the two cannot drift apart. A record is: kLead, a type header (kTypeOpen, the profile name,
// kTypeClose), kTimeOpen, the time, kTimeClose, per column kColumnOpen NAME kColumnValue VALUE
// kColumnClose, then kTrailer and a terminating U+0000.
#ifndef KD_PLATFORM_DIAG_WIRE_H
#define KD_PLATFORM_DIAG_WIRE_H

#include <string_view>

namespace kd::platform::diagwire {

inline constexpr std::u16string_view kLead = u"\u00FF\u00FE";
inline constexpr std::u16string_view kTypeOpen = u"<diagInfo><type><![CDATA[";
inline constexpr std::u16string_view kTypeClose = u"]]></type>";
inline constexpr std::u16string_view kTimeOpen = u"<time><![CDATA[";
inline constexpr std::u16string_view kTimeClose = u"]]></time><columns>";
inline constexpr std::u16string_view kColumnOpen = u"<column name=\"";
inline constexpr std::u16string_view kColumnValue = u"\"><![CDATA[";
inline constexpr std::u16string_view kColumnClose = u"]]></column>";
inline constexpr std::u16string_view kTrailer = u"</columns></diagInfo>";

}  // namespace kd::platform::diagwire

#endif  // KD_PLATFORM_DIAG_WIRE_H
