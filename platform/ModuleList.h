// The modules (main program, shared libraries) loaded in the process.
#ifndef KD_PLATFORM_MODULE_LIST_H
#define KD_PLATFORM_MODULE_LIST_H

#include <cstdint>
#include <string>
#include <vector>

namespace kd::platform {

struct LoadedModule {
    std::string path;    // full path; the main program by its file, the vDSO by its soname
    std::uint64_t base;  // lowest address of the module's first loaded segment
};

// In the loader's order (the main program first). Not async-signal-safe: it takes the loader's
// lock.
std::vector<LoadedModule> ListLoadedModules();

}  // namespace kd::platform

#endif  // KD_PLATFORM_MODULE_LIST_H
