// Language identifiers (Windows LCIDs, as the system numbers languages) and the locale the module
// keeps for itself.
#ifndef KD_PLATFORM_LANGUAGE_H
#define KD_PLATFORM_LANGUAGE_H

#include <cstdint>
#include <string>

#include <locale.h>

namespace kd::platform {

// The process's language: LC_ALL, else LC_MESSAGES, else LANG (codeset and modifier ignored);
// "C", "POSIX" or nothing set mean U.S. English (0x0409). 0 when the name has no identifier.
// The environment is read on every call (setenv before a call is seen by it); the identifiers of
// the names met are kept, so a call costs one pass over the environment.
std::uint32_t SystemDefaultLanguageId() noexcept;

// The POSIX locale name of a language identifier, with the region a language most likely has
// when the identifier names none: 0x0407 -> "de_DE.UTF-8", 9 -> "en_US.UTF-8",
// 0x0404 -> "zh_TW.UTF-8". Empty when the identifier is unknown.
std::string PosixLocaleName(std::uint32_t languageId);

// Makes `name` the module's locale (all categories). The module keeps its own locale object
// instead of changing the process's: the host's C locale stays as the host set it. False when
// the system has no such locale; the previous one stays then.
bool SetModuleLocale(const std::string& name) noexcept;
// The module's locale object, or (locale_t)0 before one was set. Use with uselocale() or the
// *_l functions.
locale_t ModuleLocale() noexcept;
// The name given to the last successful SetModuleLocale, or empty.
std::string ModuleLocaleName();

}  // namespace kd::platform

#endif  // KD_PLATFORM_LANGUAGE_H
