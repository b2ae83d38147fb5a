// Files that hold secrets: read whole, and only when nobody else could have read or changed them.
#ifndef KD_PLATFORM_PROTECTEDFILE_H
#define KD_PLATFORM_PROTECTEDFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kd::platform {

enum class ProtectedFileStatus {
    Read,          // the contents are in `contents`
    Unreadable,    // missing, not a regular file, too large, or a read failed
    WrongOwner,    // owned by another user than the caller or root
    OpenToOthers,  // some permission for its group or for others
};

// Reads `path` whole (at most `maxSize` bytes) into `contents`. The file must be a regular file
// owned by the effective user or by root, with no permission at all for its group or for others;
// the checks apply to the file that was opened, so a swap after them changes nothing. `*error` is
// the errno value of a failed step (0 otherwise); `*owner` and `*mode` (permission bits) are
// the file's, once it could be examined.
ProtectedFileStatus ReadProtectedFile(const std::string& path, std::size_t maxSize, std::string& contents, int* error,
                                      uint32_t* owner, uint32_t* mode);

}  // namespace kd::platform

#endif  // KD_PLATFORM_PROTECTEDFILE_H
