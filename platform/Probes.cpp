#include "platform/Probes.h"

// The semaphores, in the section where tools expect them. Written only by tools (from outside
// the process, through the kernel); the module only reads them.
#define KD_PROBE_DEFINE_SEMAPHORE(name) \
    unsigned short kdtrace_##name##_semaphore __attribute__((section(".probes"), used)) = 0
KD_PROBE_DEFINE_SEMAPHORE(fire);
KD_PROBE_DEFINE_SEMAPHORE(error);
KD_PROBE_DEFINE_SEMAPHORE(context_created);
KD_PROBE_DEFINE_SEMAPHORE(context_destroyed);
KD_PROBE_DEFINE_SEMAPHORE(listener_added);
KD_PROBE_DEFINE_SEMAPHORE(listener_removed);
KD_PROBE_DEFINE_SEMAPHORE(fault);
