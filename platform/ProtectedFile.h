// Files that hold secrets: read whole, and only when nobody else could have read or changed them.
#ifndef KD_PLATFORM_PROTECTEDFILE_H
#define KD_PLATFORM_PROTECTEDFILE_H

#include <cstddef>
#include <string>

namespace kd::platform {

enum class ProtectedFileStatus {
    Read,         // the contents are in `contents`
    Unreadable,   // missing, not a regular file, too large, or a read failed
    Unprotected,  // owned by another user than the caller or root, or open to others
};

// Reads `path` whole (at most `maxSize` bytes) into `contents`. The file must be a regular file
// owned by the effective user or by root, with no read or write permission for others; the
// checks apply to the file that was opened, so a swap after them changes nothing. `*error` is the
// errno value of a failed step (0 otherwise).
ProtectedFileStatus ReadProtectedFile(const std::string& path, std::size_t maxSize, std::string& contents, int* error);

}  // namespace kd::platform

#endif  // KD_PLATFORM_PROTECTEDFILE_H
