#include "dll_kdtrace/PLTraceModule.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/Mutex.h"
#include "platform/Probes.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "platform/Unload.h"

PL_REGISTER_CLASS(CPLTraceModule, CLSID_PLTraceModule);

namespace {

constexpr const char* kGroup = "Trace Services";

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

// The global context: made once, released only when the library is unloaded.
std::atomic<IPLTraceContext*> g_globalContext{nullptr};
kd::platform::Mutex g_globalLock;
std::atomic<LONG> g_severityLevel{0};
// Serial numbers of module objects; 0 marks an empty cache entry.
std::atomic<uint64_t> g_nextSerial{1};

void ReleaseGlobalContext() noexcept {
    if (IPLTraceContext* global = g_globalContext.exchange(nullptr)) global->Release();
}

// The live module objects, for forgetting an ended thread's default contexts.
kd::platform::Mutex g_liveLock;
CPLTraceModule* g_firstLive GUARDED_BY(g_liveLock) = nullptr;

// ---- the per-thread cache of contexts already handed to this thread ----

struct DefaultEntry {
    uint64_t serial;
    DWORD thread;  // the identifier the context carries (a forked child has a new one)
    IPLTraceContext* context;
};
struct NamedEntry {
    uint64_t serial;
    const WCHAR* name;  // the module map's key text
    IPLTraceContext* context;
    int32_t length;
    uint32_t hash;  // the low half of the name's hash
};
// Default entries are replaced round robin; named entries are direct-mapped by the name's hash
// and the module's serial number, so a hit costs one probe however many names a host uses (a
// miss still finds the name in the module's map under its shared lock).
constexpr unsigned kDefaultSlots = 4;
constexpr unsigned kNamedSlots = 16;
struct ThreadCache {
    DefaultEntry defaults[kDefaultSlots];
    NamedEntry named[kNamedSlots];
    unsigned nextDefault;
};
// The cache itself is on the heap: the library's thread-local block must stay small, because
// the fault state in it makes the system place the whole block in the static TLS area, of which
// a library loaded at run time (two copies of it, even) gets only a few hundred bytes.
thread_local ThreadCache* t_cache = nullptr;

void ForgetEndedThread(std::uint32_t thread) noexcept;
kd::platform::ThreadExitWatch g_defaultContextWatch(&ForgetEndedThread);

// The unloading thread's cache goes with the library (other threads' caches are freed as they
// end; those of threads still running at unload stay behind, a few hundred bytes each).
void ReleaseCallingThreadCache() noexcept {
    delete std::exchange(t_cache, nullptr);
}
const bool g_cacheReleaseRegistered = kd::platform::ReleaseAtUnload(&ReleaseCallingThreadCache);

// The calling thread's cache, made on first use; freed when the thread ends.
ThreadCache& TheThreadCache() {
    if (t_cache == nullptr) {
        t_cache = new ThreadCache{};
        g_defaultContextWatch.Watch();
    }
    return *t_cache;
}

NamedEntry& NamedSlot(ThreadCache& cache, uint64_t serial, std::size_t hash) noexcept {
    const std::size_t mixed = hash ^ (hash >> 17) ^ static_cast<std::size_t>(serial * 0x9E3779B97F4A7C15ull);
    return cache.named[mixed % kNamedSlots];
}

// Runs on the ending thread: its cached default contexts go with the module objects' entries.
void ForgetEndedThread(std::uint32_t thread) noexcept {
    delete std::exchange(t_cache, nullptr);
    CPLTraceModule::ForgetThread(thread);
}

// Compares the caller's text with a cached key using the library's own loads (never the C
// runtime's memcmp, in which a fault could not be translated). Not noexcept: an unreadable
// text must reach the method's edge as a translated fault.
bool SameText(const WCHAR* key, const WCHAR* text, int32_t length) {
    const volatile WCHAR* in = text;
    for (int32_t i = 0; i < length; ++i)
        if (key[i] != in[i]) return false;
    return true;
}

// Makes a context with the module's reference.
PLComPtr<IPLTraceContextPriv> CreateContext() {
    PLComPtr<IPLTraceContextPriv> context;
    HRESULT hr = PLCreateInstance(CLSID_PLTraceContext, context);
    if (hr >= 0 && !context) hr = E_NOINTERFACE;
    PL_THROW_ERROR(hr, "Failed to create trace context", 1);
    return context;
}

// Announces a context made for one of the module's scopes, named and numbered as it is handed out
// (skipped without the memory for its name: the context is made all the same).
void ProbeContextCreated(std::u16string_view name, DWORD id) noexcept {
    try {
        const std::string utf8 = kd::platform::Utf16ToUtf8(name);
        KD_PROBE_CONTEXT_CREATED(utf8.c_str(), id);
    } catch (...) {
    }
}

}  // namespace

CPLTraceModule::CPLTraceModule() noexcept : m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {
    kd::platform::LockGuard guard(g_liveLock);
    m_nextLive = g_firstLive;
    if (g_firstLive != nullptr) g_firstLive->m_prevLive = this;
    g_firstLive = this;
}

CPLTraceModule::~CPLTraceModule() {
    {
        kd::platform::LockGuard guard(g_liveLock);
        if (m_prevLive != nullptr)
            m_prevLive->m_nextLive = m_nextLive;
        else
            g_firstLive = m_nextLive;
        if (m_nextLive != nullptr) m_nextLive->m_prevLive = m_prevLive;
    }
}

void CPLTraceModule::ForgetThread(DWORD thread) noexcept {
    std::vector<PLComPtr<IPLTraceContext>> ended;
    try {
        kd::platform::LockGuard guard(g_liveLock);
        for (CPLTraceModule* module = g_firstLive; module != nullptr; module = module->m_nextLive) {
            kd::platform::LockGuard mapGuard(module->m_mapLock);
            auto it = module->m_defaultContexts.find(thread);
            if (it == module->m_defaultContexts.end()) continue;
            ended.push_back(std::move(it->second));
            module->m_defaultContexts.erase(it);
        }
    } catch (...) {
        // Out of memory: the contexts not yet collected stay until their module object goes.
    }
    // Released outside the locks (with `ended`): a context's end releases its property bag,
    // which is host code.
}

std::size_t CPLTraceModule::NameHash::operator()(const PLString& name) const noexcept {
    return std::hash<std::u16string_view>{}(name.view());
}

HRESULT CPLTraceModule::__Init() {
    return ApplyProperties(kTraceModuleProperties);
}

HRESULT CPLTraceModule::GetGlobalContext(IPLTraceContext** context) {
    if (context == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        IPLTraceContext* global = g_globalContext.load(std::memory_order_acquire);
        if (global == nullptr) {
            kd::platform::LockGuard guard(g_globalLock);
            global = g_globalContext.load(std::memory_order_relaxed);
            if (global == nullptr) {
                global = CreateContext().Detach();
                g_globalContext.store(global, std::memory_order_release);
                kd::platform::ReleaseAtUnload(&ReleaseGlobalContext);
                if (KD_PROBE_ENABLED(context_created)) ProbeContextCreated({}, 0);
            }
        }
        global->AddRef();
        *context = global;
    });
}

HRESULT CPLTraceModule::GetDefaultContext(IPLTraceContext** context) {
    if (context == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const DWORD thread = kd::platform::CurrentThreadId();
        ThreadCache& cache = TheThreadCache();
        IPLTraceContext* found = nullptr;
        for (const DefaultEntry& entry : cache.defaults) {
            if (entry.serial == m_serial && entry.thread == thread) {
                found = entry.context;
                break;
            }
        }
        if (found == nullptr) {
            found = DefaultContextFromMap(thread);
            cache.defaults[cache.nextDefault++ % kDefaultSlots] = DefaultEntry{m_serial, thread, found};
        }
        found->AddRef();
        *context = found;
    });
}

IPLTraceContext* CPLTraceModule::DefaultContextFromMap(DWORD thread) {
    kd::platform::LockGuard guard(m_mapLock);
    auto it = m_defaultContexts.find(thread);
    if (it != m_defaultContexts.end()) return it->second.Get();
    PLComPtr<IPLTraceContextPriv> made = CreateContext();
    PL_THROW_ERROR(made->SetID(thread), "Failed to set ID on trace context", 0);
    IPLTraceContext* context = made.Get();
    m_defaultContexts.emplace(thread, std::move(made));
    g_defaultContextWatch.Watch();
    if (KD_PROBE_ENABLED(context_created)) ProbeContextCreated({}, thread);
    return context;
}

HRESULT CPLTraceModule::GetNamedContext(const WCHAR* name, IPLTraceContext** context) {
    if (name == nullptr || context == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const auto length = static_cast<int32_t>(kd::platform::Utf16Length(name));
        const std::u16string_view text(name, static_cast<std::size_t>(length));
        const std::size_t hash = std::hash<std::u16string_view>{}(text);
        NamedEntry& entry = NamedSlot(TheThreadCache(), m_serial, hash);
        IPLTraceContext* found = nullptr;
        if (entry.serial == m_serial && entry.hash == static_cast<uint32_t>(hash) && entry.length == length &&
            SameText(entry.name, name, length)) {
            found = entry.context;
        } else {
            const WCHAR* key = nullptr;
            found = NamedContextFromMap(text, hash, &key);
            entry = NamedEntry{m_serial, key, found, length, static_cast<uint32_t>(hash)};
        }
        found->AddRef();
        *context = found;
    });
}

IPLTraceContext* CPLTraceModule::NamedContextFromMap(std::u16string_view name, std::size_t hash, const WCHAR** key) {
    const HashedName hashed{name, hash};
    {
        kd::platform::SharedLockGuard guard(m_mapLock);
        auto it = m_namedContexts.find(hashed);
        if (it != m_namedContexts.end()) {
            *key = it->first.c_str();
            return it->second.Get();
        }
    }
    kd::platform::LockGuard guard(m_mapLock);
    auto it = m_namedContexts.find(hashed);
    if (it == m_namedContexts.end()) {
        PLComPtr<IPLTraceContextPriv> made = CreateContext();
        PL_THROW_ERROR(made->SetName(name.data()), "Failed to set name on trace context", 0);
        it = m_namedContexts.emplace(PLString(name), std::move(made)).first;
        if (KD_PROBE_ENABLED(context_created)) ProbeContextCreated(name, 0);
    }
    *key = it->first.c_str();
    return it->second.Get();
}

HRESULT CPLTraceModule::SetSeverityLevel(LONG level) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { g_severityLevel.store(level, std::memory_order_relaxed); });
}

HRESULT CPLTraceModule::GetSeverityLevel(LONG* level) {
    if (level == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup),
                     [&](HRESULT&) { *level = g_severityLevel.load(std::memory_order_relaxed); });
}
