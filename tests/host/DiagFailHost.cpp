// A host that fails once: it loads the module with dlopen and asks it for a class that no
// library registers, which the module records as an error ("Could not find class factory.").
#include <cstdio>
#include <string>

#include "HostObjects.h"

int main() {
    kdhost::ModuleApi api;
    std::string error;
    if (!api.Load(KDTRACE_MODULE_PATH, error) || api.PLCreateInstance == nullptr) {
        std::fprintf(stderr, "kd_diag_fail_host: %s\n", error.c_str());
        return 2;
    }
    // A class identifier nobody registers.
    constexpr GUID kUnknownClass = {0x0BADC0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    void* object = nullptr;
    const HRESULT hr = api.PLCreateInstance(kUnknownClass, IID_IUnknown, &object);
    std::printf("PLCreateInstance: %s\n", kdhost::HResultText(hr).c_str());
    return hr >= 0 ? 1 : 0;
}
