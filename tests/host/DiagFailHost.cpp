// A host that fails once: it loads the module with dlopen and asks it for a class that no
// library registers, which the module records as an error ("Could not find class factory.").
//
//   kd_diag_fail_host [MODULE] [TIMES]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HostObjects.h"

int main(int argc, char** argv) {
    const std::string module = argc > 1 && *argv[1] != 0 ? argv[1] : KDTRACE_MODULE_PATH;
    const int times = argc > 2 ? std::atoi(argv[2]) : 1;
    kdhost::ModuleApi api;
    std::string error;
    if (!api.Load(module, error) || api.PLCreateInstance == nullptr) {
        std::fprintf(stderr, "kd_diag_fail_host: %s\n", error.c_str());
        return 2;
    }
    // A class identifier nobody registers.
    constexpr GUID kUnknownClass = {0x0BADC0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    for (int i = 0; i < times; ++i) {
        void* object = nullptr;
        const HRESULT hr = api.PLCreateInstance(kUnknownClass, IID_IUnknown, &object);
        std::printf("PLCreateInstance: %s\n", kdhost::HResultText(hr).c_str());
        if (hr >= 0) return 1;
    }
    return 0;
}
