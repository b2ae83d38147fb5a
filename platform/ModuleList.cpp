#include "platform/ModuleList.h"

#include <link.h>
#include <unistd.h>

namespace kd::platform {
namespace {

std::string MainProgramPath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

int AddModule(dl_phdr_info* info, std::size_t, void* data) {
    auto* modules = static_cast<std::vector<LoadedModule>*>(data);
    std::uint64_t lowest = UINT64_MAX;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && ph.p_vaddr < lowest) lowest = ph.p_vaddr;
    }
    if (lowest == UINT64_MAX) lowest = 0;
    LoadedModule module;
    module.base = static_cast<std::uint64_t>(info->dlpi_addr) + lowest;
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != 0)
        module.path = info->dlpi_name;
    else if (modules->empty())
        module.path = MainProgramPath();
    if (module.path.empty()) return 0;
    try {
        modules->push_back(std::move(module));
    } catch (...) {
        return 1;
    }
    return 0;
}

}  // namespace

std::vector<LoadedModule> ListLoadedModules() {
    std::vector<LoadedModule> modules;
    modules.reserve(64);
    ::dl_iterate_phdr(AddModule, &modules);
    return modules;
}

}  // namespace kd::platform
