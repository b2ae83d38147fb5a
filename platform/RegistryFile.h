// The registry file: the machine's settings in the registry editor's text form, e.g.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Brackwell\Diagnostics]
//   "Log Profile"=dword:00000008
//
// The file is $KDTRACE_REGISTRY if set, else /etc/kdtrace/registry.reg. It may be UTF-8 (with or
// without a byte-order mark) or UTF-16 with a byte-order mark, as the registry editor exports
// it. Key and value names compare without regard to letter case; lines ending in a backslash
// continue on the next line; ";" starts a comment line; "[-KEY]" and "NAME"=- delete; the last
// assignment of a value wins. A line that is none of these makes the whole file unreadable.
#ifndef KD_PLATFORM_REGISTRY_FILE_H
#define KD_PLATFORM_REGISTRY_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kd::platform {

enum class RegistryStatus {
    Ok,
    FileMissing,   // no file at the path
    Unreadable,    // cannot be opened or read, not a regular file, or too large
    Malformed,     // a line that is not of the registry editor's text form
    KeyMissing,    // the key does not appear
    ValueMissing,  // the key has no such value (or it was deleted)
    WrongType,     // the value is not a dword
};

// Files larger than this are not read.
inline constexpr std::size_t kRegistryFileMaxBytes = 1024 * 1024;

std::string RegistryFilePath();

// Finds the dword value `valueName` under `keyPath` ("HKEY_LOCAL_MACHINE\\SOFTWARE\\...") in the
// text of a registry file.
RegistryStatus ParseRegistryDword(std::string_view fileBytes, std::u16string_view keyPath,
                                  std::u16string_view valueName, uint32_t* value);

// The same, reading the file at `filePath`.
RegistryStatus ReadRegistryDword(const std::string& filePath, std::u16string_view keyPath,
                                 std::u16string_view valueName, uint32_t* value);

const char* RegistryStatusText(RegistryStatus status) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_REGISTRY_FILE_H
