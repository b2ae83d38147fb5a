// The fixed parts of a diagInfo record, shared by the writer and the console that reads it, so
// the two cannot drift apart. A record is: kLead, a type header (kTypeOpen, the profile name,
// kTypeClose), kTimeOpen, the time, kTimeClose, per column kColumnOpen NAME kColumnValue VALUE
// kColumnClose, then kTrailer and a terminating U+0000.
//
// A value is written in CDATA sections: where the value holds "]]>", the section is closed
// between "]]" and ">" and a new one opened (kSectionSplit), and a carriage return is written
// between two sections as a character reference (kCarriageReturn), since a parser turns a
// carriage return inside a section into a line feed. Records of older writers hold values
// unchanged, "]]>" included; a reader joins the sections again and reads both.
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
inline constexpr std::u16string_view kSectionSplit = u"]]><![CDATA[";
inline constexpr std::u16string_view kCarriageReturn = u"]]>&#13;<![CDATA[";

}  // namespace kd::platform::diagwire

#endif  // KD_PLATFORM_DIAG_WIRE_H
