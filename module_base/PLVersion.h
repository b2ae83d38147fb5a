// Module versions and companion libraries loaded by name through one process-wide library cache
// (with an optional version check).
//
// Versions are packed into 32 bits: major (1-255) in bits 31-24, minor (0-12) in bits 23-20;
// the third and fourth numbers are checked (0-15, 0-65535) but stored as 0, so packed versions
// compare by major and minor only. 0 means that no version is known.
#ifndef KD_PLVERSION_H
#define KD_PLVERSION_H

#include <cstdint>

#include <kdtrace/types.h>

#include "module_base/PLString.h"

// ---- versions ----

// The packed version of a text of four numbers separated by full stops, commas or colons
// ("4.0.0.1", "4, 0, 0, 1"). On failure the error is recorded ("No version string requested",
// "Incorrect version string format", "Version string out of range") and the result is 0.
DWORD ConvertVersionToDWORD(const WCHAR* text) noexcept;
// The packed file version a loaded library carries ("FileVersion" in its version note). A library
// without version data has version 0 (S_OK); one whose version data lacks the file version
// fails with E_FAIL.
HRESULT GetModuleVersionInfo(void* module, DWORD* version) noexcept;

// ---- loading ----

// Loads a library by the system's name ("kderror", "kddbghlp.dll", ...; see platform/Library.h
// for the name rule) through the process-wide cache and returns its handle, or null. Both
// outcomes are remembered for the process: a library that failed to load is not searched for
// again (until FreeCachedLibraries). Installs the fault translator for the calling thread.
void* PLLoadLibrary(const WCHAR* name) noexcept;
// An export of a loaded library, or null.
void* PLGetProcAddress(void* library, const char* symbol) noexcept;
// Loads `library` through the cache, refusing it when its packed version and that of
// `currentModule` (the library itself when null or empty) are both known and differ. A refused
// library stays loaded but is not cached.
HRESULT PLVersionedLoadLibrary(const WCHAR* currentModule, const WCHAR* library, void** handle) noexcept;
// Unloads every cached library, in cache order, and empties the cache.
void FreeCachedLibraries() noexcept;
// A number that changes each time FreeCachedLibraries empties the cache. While it stays the
// same, a name found in the cache keeps standing for the same library.
uint64_t PLLibraryCacheGeneration() noexcept;
// Whether the cache holds `name` (a loaded library or a remembered failure).
bool PLIsLibraryCached(const WCHAR* name) noexcept;

// The file name PLVersionedLoadLibrary loads to learn the current module's version (empty
// until set).
void SetCurrentModuleName(const WCHAR* name) noexcept;
PLString GetCurrentModuleName();

#endif  // KD_PLVERSION_H
