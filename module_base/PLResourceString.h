// Resource strings from the language companion's message table, and the process-wide default
// language they are read in.
#ifndef KD_PLRESOURCESTRING_H
#define KD_PLRESOURCESTRING_H

#include <kdtrace/types.h>

#include "module_base/PLString.h"
#include "platform/Format.h"

// ---- language ----

// Sets the process-wide default language of resource strings (-1: the system's default
// language; traditional-Chinese identifiers become 0x0404) and makes the language's locale the
// module's locale. Returns non-zero when the locale was set, 0 when the system has no such
// locale (the language is stored all the same).
LONG PLSetDefaultLanguage(LONG language) noexcept;
LONG PLGetDefaultLanguage() noexcept;

// The language companion ("kdlocale" until changed): the library CResourceString reads.
PLString PLGetLanguageResourceLibraryName();
void PLSetLanguageResourceLibraryName(const WCHAR* name) noexcept;

// A number that changes whenever a message may read differently in the default language: the
// default language is set, the language companion renamed, or the library cache emptied (after
// which another file may load under the name). A message read in the default language while
// the number had a value reads the same for as long as the number keeps that value.
uint64_t PLResourceStringGeneration() noexcept;
// True while the default language or the companion's name is being changed: a text put together
// from several messages meanwhile may mix the old and the new.
bool PLResourceStringChanging() noexcept;

// ---- resource strings ----

// One message of the language companion's message table, formatted with its inserts (%1,
// %2!d!, ...). A text that is missing in the language asked for, or that is only a placeholder
// beginning with "STR_", is taken in English instead. A trailing line break is cut off.
class CResourceString {
public:
    explicit CResourceString(DWORD messageId) noexcept : m_messageId(messageId) {}
    DWORD GetMessageId() const noexcept { return m_messageId; }

    HRESULT FormatMessageW(PLString& text, LONG language, kd::platform::FormatArgs arguments) const noexcept;
    // In the default language.
    HRESULT FormatMessageW(PLString& text, kd::platform::FormatArgs arguments) const noexcept;

private:
    DWORD m_messageId;
};

// Formats a message directly, in the default language or in a given one.
template <class... A>
HRESULT PLFormatResourceString(PLString& text, DWORD messageId, const A&... arguments) noexcept {
    const kd::platform::FormatArg list[] = {kd::platform::FormatArg(arguments)..., kd::platform::FormatArg(0)};
    return CResourceString(messageId).FormatMessageW(text, {list, sizeof...(A)});
}
template <class... A>
HRESULT PLFormatResourceStringLang(PLString& text, DWORD messageId, LONG language, const A&... arguments) noexcept {
    const kd::platform::FormatArg list[] = {kd::platform::FormatArg(arguments)..., kd::platform::FormatArg(0)};
    return CResourceString(messageId).FormatMessageW(text, language, {list, sizeof...(A)});
}

#endif  // KD_PLRESOURCESTRING_H
