#include "platform/Unload.h"
#include "platform/Mutex.h"

#include <cxxabi.h>

// The handle of this library, which ties an exit handler to it.
extern "C" void* __dso_handle __attribute__((visibility("hidden")));

namespace kd::platform {
namespace {

constexpr int kSlots = 16;
kd::platform::Mutex g_lock;
void (*g_releases[kSlots])() noexcept GUARDED_BY(g_lock) = {};
int g_count GUARDED_BY(g_lock) = 0;
bool g_unloading = false;

// The system finalises a library in two steps: the library's own finalisers (this function
// among them), then the exit handlers registered with its handle, static objects' destructors
// included. dlclose runs them in that order; exit runs the handlers first, with every other
// exit handler of the process, and the finalisers last. Only dlclose therefore reaches
// RunReleases with this flag set.
__attribute__((destructor)) void MarkUnloading() {
    g_unloading = true;
}

void RunReleases(void*) {
    if (!g_unloading) return;
    kd::platform::LockGuard guard(g_lock);
    for (int i = g_count - 1; i >= 0; --i) g_releases[i]();
    g_count = 0;
}

// Registered before any static object of the library is constructed, so that its handler runs
// after all of their destructors. Registered with this library's handle explicitly: an atexit
// that a sanitizer's runtime takes over would tie it to the process, and exit would call it
// after dlclose has unmapped it.
__attribute__((constructor(101))) void RegisterRunReleases() {
    abi::__cxa_atexit(&RunReleases, nullptr, &__dso_handle);
}

}  // namespace

bool ReleaseAtUnload(void (*release)() noexcept) noexcept {
    kd::platform::LockGuard guard(g_lock);
    if (g_count == kSlots) return false;
    g_releases[g_count++] = release;
    return true;
}

}  // namespace kd::platform
