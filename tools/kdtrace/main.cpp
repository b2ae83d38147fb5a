// kdtrace: a host for the trace services module. It loads libkdtrace.so with dlopen, exactly as
// any host does, and drives it through the exported functions and interfaces.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_objects.h"

namespace {

using kdhost::GuidText;
using kdhost::HResultText;
using kdhost::Narrow;

constexpr const char* kUsage =
    "usage: kdtrace [--module PATH] COMMAND [ARGS]\n"
    "\n"
    "Loads the trace services module (libkdtrace.so) as a host and runs COMMAND:\n"
    "  info        list the modules the library implements (GetImplementedModules), then get\n"
    "              the module object (GetPLModule with the null GUID), initialise it and show\n"
    "              its identity\n"
    "\n"
    "options:\n"
    "  --module PATH   the module to load (default: $KDTRACE_MODULE, else ../lib/libkdtrace.so\n"
    "                  beside this program, else libkdtrace.so on the loader's path)\n"
    "  -h, --help      show this text\n";

std::string DefaultModulePath() {
    if (const char* env = std::getenv("KDTRACE_MODULE"); env != nullptr && *env != 0) return env;
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<std::size_t>(n));
        dir.erase(dir.rfind('/'));
        const std::string beside = dir + "/../lib/libkdtrace.so";
        if (::access(beside.c_str(), R_OK) == 0) return beside;
    }
    return "libkdtrace.so";
}

void PrintString(const char* label, IPLModule* module, HRESULT (IPLModule::*getter)(WCHAR*, LONG)) {
    WCHAR buffer[256] = {};
    const HRESULT hr = (module->*getter)(buffer, 256);
    if (hr < 0)
        std::printf("  %-18s (%s)\n", label, HResultText(hr).c_str());
    else
        std::printf("  %-18s %s\n", label, Narrow(buffer).c_str());
}

int CommandInfo(kdhost::ModuleApi& api) {
    // The module's description, as a host's module manager asks for it.
    auto* factory = new kdhost::ModuleInfoFactory();
    IPLModuleInfoCollection* collection = nullptr;
    HRESULT hr = api.GetImplementedModules(factory, &collection);
    std::printf("GetImplementedModules: %s\n", HResultText(hr).c_str());
    if (collection != nullptr) {
        auto* list = static_cast<kdhost::ModuleInfoCollection*>(collection);
        static const char* const kLabels[] = {"module name:", "object name:", "friendly name:", "module id:",
                                              "API version:", "DB version:",  "core API version:"};
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            auto* info = static_cast<kdhost::ModuleInfo*>(list->items[i]);
            std::printf("module %zu\n", i);
            for (int f = 0; f < kdhost::ModuleInfo::kFields; ++f)
                std::printf("  %-18s %s\n", kLabels[f], Narrow(info->fields[static_cast<std::size_t>(f)].c_str()).c_str());
        }
        collection->Release();
    }
    factory->Release();

    // The module object itself.
    IPLModule* module = nullptr;
    hr = api.GetPLModule(GUID_NULL, &module);
    std::printf("\nGetPLModule(null GUID): %s\n", HResultText(hr).c_str());
    if (hr < 0 || module == nullptr) return 1;
    WCHAR probe[8];
    std::printf("  before InitModule, GetModuleName: %s\n", HResultText(module->GetModuleName(probe, 8)).c_str());
    hr = module->InitModule();
    std::printf("InitModule: %s\n", HResultText(hr).c_str());
    GUID id{};
    if (module->GetModuleID(&id) >= 0) std::printf("  %-18s %s\n", "module id:", GuidText(id).c_str());
    PrintString("module name:", module, &IPLModule::GetModuleName);
    PrintString("object name:", module, &IPLModule::GetObjectName);
    PrintString("friendly name:", module, &IPLModule::GetFriendlyName);
    PrintString("version:", module, &IPLModule::GetVersion);
    PrintString("API version:", module, &IPLModule::GetAPIVersion);
    PrintString("DB version:", module, &IPLModule::GetDBVersion);
    PrintString("core API version:", module, &IPLModule::GetCoreAPIVersion);
    module->Release();
    return hr < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--module") {
            if (i + 1 >= argc) {
                std::fputs("kdtrace: --module needs a path\n", stderr);
                return 2;
            }
            modulePath = argv[++i];
        } else if (arg.rfind("--module=", 0) == 0) {
            modulePath = arg.substr(9);
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "kdtrace: unknown option %s\n\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (modulePath.empty()) modulePath = DefaultModulePath();

    kdhost::ModuleApi api;
    std::string error;
    if (!api.Load(modulePath, error)) {
        std::fprintf(stderr, "kdtrace: cannot load the module: %s\n", error.c_str());
        return 1;
    }
    std::printf("module file: %s\n\n", modulePath.c_str());
    const std::string& command = args[0];
    if (command == "info" && args.size() == 1) return CommandInfo(api);
    std::fprintf(stderr, "kdtrace: unknown command or wrong arguments: %s\n\n%s", command.c_str(), kUsage);
    return 2;
}
