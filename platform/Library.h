// Shared-library loading by the system's library names.
//
// A bare name "x" or "x.dll" names the file "libx.so"; a name that already names a shared object
// ("libx.so", "libx.so.1") is kept. A name without a directory is looked for first beside the
// module that contains this code, then on the loader's search path; a name with a directory is
// loaded from there only.
#ifndef KD_PLATFORM_LIBRARY_H
#define KD_PLATFORM_LIBRARY_H

#include <string>
#include <string_view>

namespace kd::platform {

using LibraryHandle = void*;

// The file name the loader is asked for.
std::string LibraryFileName(std::string_view name);

// Loads a library; null on failure, with the loader's message in `error` and the system error
// number (errno, ENOENT when the loader left none) in `systemError` when given.
LibraryHandle OpenLibrary(std::string_view name, std::string* error = nullptr, int* systemError = nullptr);
// Loads a library by exact path or loader name, without the name rule.
LibraryHandle OpenLibraryFile(const std::string& file, std::string* error = nullptr, int* systemError = nullptr);
void* FindExport(LibraryHandle library, const char* symbol) noexcept;
void CloseLibrary(LibraryHandle library) noexcept;

// Full path of the loaded file that contains `address`; empty when unknown.
std::string ModulePathOf(const void* address);
// Full path of the loaded file behind a handle; empty when unknown.
std::string LibraryPath(LibraryHandle library);
// Directory (without trailing slash) of the file that contains this code.
std::string OwnModuleDirectory();

}  // namespace kd::platform

#endif  // KD_PLATFORM_LIBRARY_H
