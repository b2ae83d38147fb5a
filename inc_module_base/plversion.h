// Companion libraries loaded by name through one process-wide library cache.
#ifndef KD_PLVERSION_H
#define KD_PLVERSION_H

#include <kdtrace/types.h>

// Loads a library by the system's name ("kderror", "kddbghlp.dll", ...; see
// platform/library.h for the name rule) through the process-wide cache and returns its handle,
// or null. Both outcomes are remembered for the process: a library that failed to load is not
// searched for again.
void* PLLoadLibrary(const WCHAR* name) noexcept;
// An export of a loaded library, or null.
void* PLGetProcAddress(void* library, const char* symbol) noexcept;

#endif  // KD_PLVERSION_H
