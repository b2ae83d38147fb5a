// Memory this library frees when it is unloaded.
#ifndef KD_PLATFORM_UNLOAD_H
#define KD_PLATFORM_UNLOAD_H

namespace kd::platform {

// Registers `release` to run when the library is unloaded with dlclose, after every static
// object of the library has been destroyed; registrations run in reverse order, so objects made
// on first use are freed in the reverse order of their making. Nothing runs at process exit:
// other threads may still be inside the library then (exit does not stop them), and the
// process's memory goes with it anyway. Returns false when no slot is left; the object is then
// kept for the process, as an object that must outlive unload is.
bool ReleaseAtUnload(void (*release)() noexcept) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_UNLOAD_H
