// kdtrace: a host for the trace services module. It loads libkdtrace.so with dlopen, exactly as
// any host does, and drives it through the exported functions and interfaces.
#include <getopt.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kdtrace/version.h>

#include "HostObjects.h"

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
    "  demo        run the trace services: the global context, a named context and the\n"
    "              default contexts of four threads, a printing listener on each, messages\n"
    "              fired from every thread, and the severity level set and read back\n"
    "  fire NAME A B\n"
    "              fire one message with the 32-bit values A and B on the context named NAME,\n"
    "              with a printing listener attached; A and B are decimal (\"010\" is ten) or\n"
    "              hexadecimal with 0x, which takes any 32-bit pattern (0x80004005)\n"
    "\n"
    "options (before COMMAND):\n"
    "  --module PATH   the module to load (default: $KDTRACE_MODULE, else\n"
    "                  ../lib/libkdtrace.so.4 beside this program, else libkdtrace.so.4 on the\n"
    "                  loader's path)\n"
    "  -h, --help      show this text\n"
    "  --version       show the version\n"
    "  --              end of options (also after fire, for a NAME that begins with -)\n";

void PrintString(const char* label, IPLModule* module, HRESULT (IPLModule::*getter)(WCHAR*, LONG)) {
    WCHAR buffer[256] = {};
    const HRESULT hr = (module->*getter)(buffer, 256);
    if (hr < 0)
        std::printf("  %-18s (%s)\n", label, HResultText(hr).c_str());
    else
        std::printf("  %-18s %s\n", label, Narrow(buffer).c_str());
}

int CommandInfo(kdtrace::host::Module& api) {
    // The module's description, as a host's module manager asks for it.
    auto* factory = new kdhost::ModuleInfoFactory();
    IPLModuleInfoCollection* collection = nullptr;
    HRESULT hr = api.GetImplementedModules(factory, &collection);
    std::printf("GetImplementedModules: %s\n", HResultText(hr).c_str());
    if (collection != nullptr) {
        auto* list = static_cast<kdhost::ModuleInfoCollection*>(collection);
        static const char* const kLabels[] = {"module name:", "object name:", "friendly name:",   "module id:",
                                              "API version:", "DB version:",  "core API version:"};
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            auto* info = static_cast<kdhost::ModuleInfo*>(list->items[i]);
            std::printf("module %zu\n", i);
            for (int f = 0; f < kdhost::ModuleInfo::kFields; ++f)
                std::printf("  %-18s %s\n", kLabels[f],
                            Narrow(info->fields[static_cast<std::size_t>(f)].c_str()).c_str());
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

// ---- the trace services ----

std::mutex g_printLock;

unsigned long ThreadId() {
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

// A listener that prints every message it receives, with the thread that delivered it.
class PrintingListener : public IPLTraceListener {
public:
    explicit PrintingListener(std::string context) : m_context(std::move(context)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IPLTraceListener) {
            *object = static_cast<IPLTraceListener*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // Lives on the caller's stack, beyond every registration.
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override { return --m_refs; }
    HRESULT OnTraceMessage(LONG first, LONG second) override {
        ++received;
        if (quiet) return S_OK;
        std::lock_guard<std::mutex> guard(g_printLock);
        std::printf("  listener on %-22s got (%d, %d) on thread %lu\n", m_context.c_str(), first, second, ThreadId());
        return S_OK;
    }
    std::atomic<int> received{0};
    std::atomic<bool> quiet{false};

private:
    std::string m_context;
    std::atomic<ULONG> m_refs{1};
};

std::string ContextName(IPLTraceContext* context) {
    WCHAR name[256] = {};
    context->GetName(name, 256);
    return Narrow(name);
}

ULONG ContextId(IPLTraceContext* context) {
    ULONG id = 0;
    context->GetID(&id);
    return id;
}

// The module object's trace interface, initialised; null (with a message) on failure.
IPLTraceModule* OpenTraceModule(kdtrace::host::Module& api) {
    IPLModule* module = nullptr;
    HRESULT hr = api.GetPLModule(MODULEID_PLTraceServices, &module);
    if (hr < 0 || module == nullptr) {
        std::fprintf(stderr, "kdtrace: GetPLModule failed: %s\n", HResultText(hr).c_str());
        return nullptr;
    }
    hr = module->InitModule();
    IPLTraceModule* trace = nullptr;
    if (hr >= 0) hr = module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace));
    module->Release();
    if (hr < 0) {
        std::fprintf(stderr, "kdtrace: the module has no trace services: %s\n", HResultText(hr).c_str());
        return nullptr;
    }
    return trace;
}

bool Check(HRESULT hr, const char* what) {
    if (hr >= 0) return true;
    std::fprintf(stderr, "kdtrace: %s failed: %s\n", what, HResultText(hr).c_str());
    return false;
}

int CommandDemo(kdtrace::host::Module& api) {
    IPLTraceModule* trace = OpenTraceModule(api);
    if (trace == nullptr) return 1;
    std::printf("Trace module ready (IPLTraceModule).\n\n");

    IPLTraceContext* global = nullptr;
    IPLTraceContext* named = nullptr;
    if (!Check(trace->GetGlobalContext(&global), "GetGlobalContext") ||
        !Check(trace->GetNamedContext(u"demo.printing", &named), "GetNamedContext")) {
        trace->Release();
        return 1;
    }
    std::printf("global context: id %u, name \"%s\"\n", ContextId(global), ContextName(global).c_str());
    std::printf("named context:  id %u, name \"%s\"\n\n", ContextId(named), ContextName(named).c_str());

    PrintingListener globalListener("the global context"), namedListener("\"demo.printing\"");
    void *globalCookie = nullptr, *namedCookie = nullptr;
    global->AddListener(&globalListener, &globalCookie);
    named->AddListener(&namedListener, &namedCookie);

    // Four threads, one after another so that the output reads in order: each gets its default
    // context, listens on it and fires on its own, the named and the global context. Every
    // listener runs on the thread that fires, before FireMessage returns.
    constexpr int kThreads = 4;
    bool idsMatch = true;
    for (int t = 1; t <= kThreads; ++t) {
        std::thread([&, t] {
            IPLTraceContext* own = nullptr;
            if (!Check(trace->GetDefaultContext(&own), "GetDefaultContext")) {
                idsMatch = false;
                return;
            }
            const unsigned long tid = ThreadId();
            const ULONG id = ContextId(own);
            idsMatch = idsMatch && id == tid;
            std::printf("thread %d (thread id %lu): default context id %u%s\n", t, tid, id,
                        id == tid ? " = its thread id" : " (differs from the thread id!)");
            PrintingListener ownListener("thread " + std::to_string(t) + "'s context");
            void* cookie = nullptr;
            own->AddListener(&ownListener, &cookie);
            own->FireMessage(t, 1);
            named->FireMessage(t, 2);
            global->FireMessage(t, 3);
            own->RemoveListener(cookie);
            own->Release();
        }).join();
    }

    // Then all four at once, many messages each, on the shared named context.
    constexpr int kMessages = 10000;
    namedListener.quiet = true;
    const int before = namedListener.received;
    std::vector<std::thread> threads;
    for (int t = 1; t <= kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int m = 0; m < kMessages; ++m) named->FireMessage(t, m);
        });
    for (std::thread& thread : threads) thread.join();
    const int delivered = namedListener.received - before;
    std::printf(
        "\n%d threads fired %d messages each on \"demo.printing\" at once: the listener received "
        "%d\n",
        kThreads, kMessages, delivered);

    LONG level = 0;
    trace->GetSeverityLevel(&level);
    std::printf("\nseverity level: %d\n", level);
    trace->SetSeverityLevel(3);
    trace->GetSeverityLevel(&level);
    std::printf("SetSeverityLevel(3), then GetSeverityLevel: %d\n", level);

    global->RemoveListener(globalCookie);
    named->RemoveListener(namedCookie);
    global->Release();
    named->Release();
    trace->Release();
    const bool ok = idsMatch && delivered == kThreads * kMessages && level == 3;
    std::printf("\n%s\n", ok ? "demo finished: every message reached its listeners" : "demo finished WITH ERRORS");
    return ok ? 0 : 1;
}

// A 32-bit value from text; false unless the whole text is a number in range. Decimal numbers
// are signed 32-bit values (leading zeros do not make them octal); hexadecimal ones (0x...) may
// also be any 32-bit pattern, so 0x80004005 is the value an HRESULT of that name has.
bool ParseValue(const std::string& text, LONG& value) {
    std::size_t start = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    const bool negative = start == 1 && text[0] == '-';
    const bool hex =
        text.size() > start + 2 && text[start] == '0' && (text[start + 1] == 'x' || text[start + 1] == 'X');
    if (hex) start += 2;
    if (start >= text.size()) return false;
    uint64_t magnitude = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (magnitude > 0xFFFFFFFFu) return false;
    }
    if (negative) {
        if (magnitude > 0x80000000u) return false;
        value = static_cast<LONG>(-static_cast<int64_t>(magnitude));
    } else {
        if (magnitude > (hex ? 0xFFFFFFFFu : 0x7FFFFFFFu)) return false;
        value = static_cast<LONG>(static_cast<uint32_t>(magnitude));
    }
    return true;
}

int CommandFire(kdtrace::host::Module& api, const std::string& name, LONG first, LONG second) {
    IPLTraceModule* trace = OpenTraceModule(api);
    if (trace == nullptr) return 1;
    IPLTraceContext* context = nullptr;
    const std::u16string wide = kdhost::Widen(name);
    if (!Check(trace->GetNamedContext(wide.c_str(), &context), "GetNamedContext")) {
        trace->Release();
        return 1;
    }
    PrintingListener listener("\"" + name + "\"");
    void* cookie = nullptr;
    HRESULT hr = context->AddListener(&listener, &cookie);
    if (Check(hr, "AddListener")) {
        std::printf("firing (%d, %d) on \"%s\" from thread %lu\n", first, second, ContextName(context).c_str(),
                    ThreadId());
        hr = context->FireMessage(first, second);
        std::printf("FireMessage: %s, %d listener call(s)\n", HResultText(hr).c_str(), listener.received.load());
        context->RemoveListener(cookie);
    }
    context->Release();
    trace->Release();
    return hr < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath;
    enum { kVersion = 1000 };
    static const struct option kOptions[] = {{"module", required_argument, nullptr, 'm'},
                                             {"help", no_argument, nullptr, 'h'},
                                             {"version", no_argument, nullptr, kVersion},
                                             {nullptr, 0, nullptr, 0}};
    // "+": options come before the command, so that negative values after it are arguments.
    for (int option; (option = ::getopt_long(argc, argv, "+h", kOptions, nullptr)) != -1;) {
        switch (option) {
            case 'm':
                modulePath = optarg;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case kVersion:
                std::printf("kdtrace %s\n", KDTRACE_VERSION);
                return 0;
            default:  // getopt_long has said what is wrong
                std::fprintf(stderr, "\n%s", kUsage);
                return 2;
        }
    }
    std::vector<std::string> args(argv + optind, argv + argc);
    if (args.size() > 1 && args[1] == "--") args.erase(args.begin() + 1);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& command = args[0];
    LONG first = 0, second = 0;
    const bool known = (command == "info" && args.size() == 1) || (command == "demo" && args.size() == 1) ||
                       (command == "fire" && args.size() == 4);
    if (!known) {
        std::fprintf(stderr, "kdtrace: unknown command or wrong arguments: %s\n\n%s", command.c_str(), kUsage);
        return 2;
    }
    if (command == "fire" && (!ParseValue(args[2], first) || !ParseValue(args[3], second))) {
        std::fprintf(stderr, "kdtrace: A and B must be 32-bit integers (decimal, or hexadecimal with 0x)\n");
        return 2;
    }

    kdtrace::host::Module api;
    if (!api.Load(modulePath)) {
        std::fprintf(stderr, "kdtrace: %s\n", api.Error().c_str());
        return 1;
    }
    std::printf("module file: %s\n\n", api.Path().c_str());
    if (command == "info") return CommandInfo(api);
    if (command == "demo") return CommandDemo(api);
    return CommandFire(api, args[1], first, second);
}
