// Static probes: points in the module where the system's tracing tools (perf, bpftrace,
// SystemTap) can attach to a running process, under provider "kdtrace".
//
// Each probe is a single no-op instruction, with a note (.note.stapsdt) telling a tool where it
// lies and where its arguments are. Each also has a semaphore, a counter in the ".probes"
// section that a tool raises while it is attached: callers test it with KD_PROBE_ENABLED and
// compute a probe's arguments only when it is set, so a probe nobody watches costs one load and
// one branch. The semaphores are local symbols of the module (tools find them through the note,
// not the symbol table) and are never exported.
//
// The probes and their arguments, in order (README, "Watching a running host", lists them too):
//   fire               context name (UTF-8), context identifier, first value, second value,
//                      number of listeners whose call returned
//   error              HRESULT, module group, class, method, message (UTF-8), source file, line
//   context_created    context name (UTF-8), context identifier
//   context_destroyed  context name (UTF-8), context identifier
//   listener_added     context identifier, cookie
//   listener_removed   context identifier, cookie
//   fault              exception code, address of the faulting instruction
#ifndef KD_PLATFORM_PROBES_H
#define KD_PLATFORM_PROBES_H

#include <cstdint>

#define _SDT_HAS_SEMAPHORES 1
#include <sys/sdt.h>

extern "C" {
// Raised by a tool while it is attached to the probe of the same name.
#define KD_PROBE_DECLARE_SEMAPHORE(name) \
    extern unsigned short kdtrace_##name##_semaphore __attribute__((visibility("hidden")))
KD_PROBE_DECLARE_SEMAPHORE(fire);
KD_PROBE_DECLARE_SEMAPHORE(error);
KD_PROBE_DECLARE_SEMAPHORE(context_created);
KD_PROBE_DECLARE_SEMAPHORE(context_destroyed);
KD_PROBE_DECLARE_SEMAPHORE(listener_added);
KD_PROBE_DECLARE_SEMAPHORE(listener_removed);
KD_PROBE_DECLARE_SEMAPHORE(fault);
#undef KD_PROBE_DECLARE_SEMAPHORE
}

// Whether a tool is attached to probe `name` (one load: the counter changes under the process's
// feet, so it is read afresh each time).
#define KD_PROBE_ENABLED(name) __builtin_expect(__atomic_load_n(&kdtrace_##name##_semaphore, __ATOMIC_RELAXED) != 0, 0)

// The probes themselves, each fired under KD_PROBE_ENABLED. Arguments are converted to the
// fixed types the note documents, so a change of a caller's types cannot change a signature.
#define KD_PROBE_FIRE(name, id, first, second, called)                                         \
    STAP_PROBE5(kdtrace, fire, static_cast<const char*>(name), static_cast<std::uint32_t>(id), \
                static_cast<std::int32_t>(first), static_cast<std::int32_t>(second),           \
                static_cast<std::uint32_t>(called))
#define KD_PROBE_ERROR(result, group, className, method, message, file, line)                       \
    STAP_PROBE7(kdtrace, error, static_cast<std::int32_t>(result), static_cast<const char*>(group), \
                static_cast<const char*>(className), static_cast<const char*>(method),              \
                static_cast<const char*>(message), static_cast<const char*>(file), static_cast<std::uint32_t>(line))
#define KD_PROBE_CONTEXT_CREATED(name, id) \
    STAP_PROBE2(kdtrace, context_created, static_cast<const char*>(name), static_cast<std::uint32_t>(id))
#define KD_PROBE_CONTEXT_DESTROYED(name, id) \
    STAP_PROBE2(kdtrace, context_destroyed, static_cast<const char*>(name), static_cast<std::uint32_t>(id))
#define KD_PROBE_LISTENER_ADDED(id, cookie) \
    STAP_PROBE2(kdtrace, listener_added, static_cast<std::uint32_t>(id), static_cast<const void*>(cookie))
#define KD_PROBE_LISTENER_REMOVED(id, cookie) \
    STAP_PROBE2(kdtrace, listener_removed, static_cast<std::uint32_t>(id), static_cast<const void*>(cookie))
#define KD_PROBE_FAULT(code, address) \
    STAP_PROBE2(kdtrace, fault, static_cast<std::uint32_t>(code), static_cast<std::uint64_t>(address))

#endif  // KD_PLATFORM_PROBES_H
