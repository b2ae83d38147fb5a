#include "dll_kdtrace/PLTraceModule.h"

#include <atomic>
#include <cstring>

#include "inc_module_base/PLError.h"
#include "inc_module_base/plfactory.h"
#include "platform/thread.h"

PL_REGISTER_CLASS(CPLTraceModule, CLSID_PLTraceModule);

namespace {

constexpr const char* kGroup = "Trace Services";
constexpr const char* kClass = "CPLTraceModule";

constexpr PLModuleProperties kTraceModuleProperties = {
    &MODULEID_PLTraceServices,
    u"4.0.0-001",                     // API version
    u"4.0.0-001",                     // version
    u"Pellum.TraceServices",          // module name
    u"kdtrace",                       // object name
    u"Pellum Trace Services Module",  // friendly name
    u"0.0.0-100",                     // core API version
    nullptr,                          // database version: none
};

// ---- process-wide state, shared by every module object ----

// The global context: made once, never released.
std::atomic<IPLTraceContext*> g_globalContext{nullptr};
std::mutex g_globalLock;
std::atomic<LONG> g_severityLevel{0};
// Serial numbers of module objects; 0 marks an empty cache entry.
std::atomic<uint64_t> g_nextSerial{1};

// ---- the per-thread cache of contexts already handed to this thread ----

struct DefaultEntry {
    uint64_t serial;
    DWORD thread;  // the identifier the context carries (a forked child has a new one)
    IPLTraceContext* context;
};
struct NamedEntry {
    uint64_t serial;
    const WCHAR* name;  // the module map's key text
    int32_t length;
    IPLTraceContext* context;
};
// Trivial, so that it needs no construction or destruction per thread. Replacement is round
// robin; a thread that uses more names than the cache holds still finds them all in the map.
struct ThreadCache {
    DefaultEntry defaults[4];
    NamedEntry named[16];
    unsigned nextDefault;
    unsigned nextNamed;
};
thread_local ThreadCache t_cache;

// Not noexcept: the text is the caller's, and an unreadable one must reach the method's edge
// as a translated fault.
int32_t TextLength(const WCHAR* text) {
    int32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Makes a context with the module's reference.
PLComPtr<IPLTraceContextPriv> CreateContext() {
    PLComPtr<IPLTraceContextPriv> context;
    HRESULT hr = PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContextPriv, context.PutVoid());
    if (hr >= 0 && !context) hr = E_NOINTERFACE;
    PL_THROW_ERROR(hr, "Failed to create trace context", 1);
    return context;
}

}  // namespace

CPLTraceModule::CPLTraceModule() noexcept : m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {}

CPLTraceModule::~CPLTraceModule() {
    for (auto& entry : m_defaultContexts) entry.second->Release();
    for (auto& entry : m_namedContexts) entry.second->Release();
}

HRESULT CPLTraceModule::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLTraceModule;
    return S_OK;
}

HRESULT CPLTraceModule::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLTraceModule;
    return S_OK;
}

HRESULT CPLTraceModule::__Init() {
    return ApplyProperties(kTraceModuleProperties);
}

HRESULT CPLTraceModule::GetGlobalContext(IPLTraceContext** context) {
    if (context == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetGlobalContext", [&](HRESULT&) {
        IPLTraceContext* global = g_globalContext.load(std::memory_order_acquire);
        if (global == nullptr) {
            std::lock_guard<std::mutex> guard(g_globalLock);
            global = g_globalContext.load(std::memory_order_relaxed);
            if (global == nullptr) {
                global = CreateContext().Detach();
                g_globalContext.store(global, std::memory_order_release);
            }
        }
        global->AddRef();
        *context = global;
    });
}

HRESULT CPLTraceModule::GetDefaultContext(IPLTraceContext** context) {
    if (context == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetDefaultContext", [&](HRESULT&) {
        const DWORD thread = kd::platform::CurrentThreadId();
        ThreadCache& cache = t_cache;
        IPLTraceContext* found = nullptr;
        for (const DefaultEntry& entry : cache.defaults) {
            if (entry.serial == m_serial && entry.thread == thread) {
                found = entry.context;
                break;
            }
        }
        if (found == nullptr) {
            found = DefaultContextFromMap(thread);
            cache.defaults[cache.nextDefault++ % 4] = DefaultEntry{m_serial, thread, found};
        }
        found->AddRef();
        *context = found;
    });
}

IPLTraceContext* CPLTraceModule::DefaultContextFromMap(DWORD thread) {
    std::lock_guard<std::mutex> guard(m_mapLock);
    auto it = m_defaultContexts.find(thread);
    if (it != m_defaultContexts.end()) return it->second;
    PLComPtr<IPLTraceContextPriv> made = CreateContext();
    PL_THROW_ERROR(made->SetID(thread), "Failed to set ID on trace context", 0);
    m_defaultContexts.emplace(thread, made.Get());
    return made.Detach();
}

HRESULT CPLTraceModule::GetNamedContext(const WCHAR* name, IPLTraceContext** context) {
    if (name == nullptr || context == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetNamedContext", [&](HRESULT&) {
        const int32_t length = TextLength(name);
        ThreadCache& cache = t_cache;
        IPLTraceContext* found = nullptr;
        for (const NamedEntry& entry : cache.named) {
            if (entry.serial == m_serial && entry.length == length &&
                std::memcmp(entry.name, name, static_cast<std::size_t>(length) * sizeof(WCHAR)) == 0) {
                found = entry.context;
                break;
            }
        }
        if (found == nullptr) {
            const WCHAR* key = nullptr;
            int32_t keyLength = 0;
            found = NamedContextFromMap(name, &key, &keyLength);
            cache.named[cache.nextNamed++ % 16] = NamedEntry{m_serial, key, keyLength, found};
        }
        found->AddRef();
        *context = found;
    });
}

IPLTraceContext* CPLTraceModule::NamedContextFromMap(const WCHAR* name, const WCHAR** key, int32_t* keyLength) {
    std::lock_guard<std::mutex> guard(m_mapLock);
    auto it = m_namedContexts.find(std::u16string_view(name));
    if (it == m_namedContexts.end()) {
        PLComPtr<IPLTraceContextPriv> made = CreateContext();
        PL_THROW_ERROR(made->SetName(name), "Failed to set name on trace context", 0);
        it = m_namedContexts.emplace(PLString(name), made.Get()).first;
        made.Detach();
    }
    *key = it->first.c_str();
    *keyLength = it->first.GetLength();
    return it->second;
}

HRESULT CPLTraceModule::SetSeverityLevel(LONG level) {
    return PLGuard(kGroup, kClass, "SetSeverityLevel",
                   [&](HRESULT&) { g_severityLevel.store(level, std::memory_order_relaxed); });
}

HRESULT CPLTraceModule::GetSeverityLevel(LONG* level) {
    if (level == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetSeverityLevel",
                   [&](HRESULT&) { *level = g_severityLevel.load(std::memory_order_relaxed); });
}
