// A host for watching the module from outside: it loads the module with dlopen, gets the named
// context "probe.host", registers one listener and fires (7, -9) on it every millisecond until
// its standard input closes. It prints "ready" once the module is loaded and the loop begins.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "HostObjects.h"

namespace {

struct Listener : kdhost::HostObject<IPLTraceListener> {
    HRESULT OnTraceMessage(LONG, LONG) override { return S_OK; }

protected:
    const IID& InterfaceId() const override { return IID_IPLTraceListener; }
};

}  // namespace

int main() {
    kdhost::ModuleApi api;
    std::string error;
    if (!api.Load(KDTRACE_MODULE_PATH, error)) {
        std::fprintf(stderr, "kd_probe_host: %s\n", error.c_str());
        return 2;
    }
    IPLModule* module = nullptr;
    IPLTraceModule* trace = nullptr;
    IPLTraceContext* context = nullptr;
    if (api.GetPLModule(GUID_NULL, &module) < 0 || module->InitModule() < 0 ||
        module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)) < 0 ||
        trace->GetNamedContext(u"probe.host", &context) < 0) {
        std::fprintf(stderr, "kd_probe_host: no trace context\n");
        return 2;
    }
    Listener* listener = new Listener();
    void* cookie = nullptr;
    context->AddListener(listener, &cookie);
    std::printf("ready\n");
    std::fflush(stdout);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (::poll(&input, 1, 1) == 0) context->FireMessage(7, -9);
    context->RemoveListener(cookie);
    for (IUnknown* object : std::initializer_list<IUnknown*>{listener, context, trace, module}) object->Release();
    return 0;
}
