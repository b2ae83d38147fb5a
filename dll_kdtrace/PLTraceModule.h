// CPLTraceModule: the module object of the trace services library. Through IPLTraceModule it
// hands out trace contexts in three scopes (one global context for the process, one default
// context per calling thread, one named context per distinct name) and keeps the process-wide
// severity level.
//
// Every thread of a host may call it at once. The two context maps sit under the module's
// reader-writer lock, which only requests that make a context take exclusively; requests for a
// context the calling thread has already received are answered from a small per-thread cache,
// so lookups on a hit take no exclusive lock and share no written memory with other threads.
// Cache entries carry the serial number of the module object that made them; serial numbers are
// never reused, so an entry of a destroyed module object can never match.
//
// A thread's default context is forgotten when the thread ends (a reference a caller still
// holds stays valid): the operating system reuses thread identifiers, and a later thread must
// not receive an ended thread's context with its listeners.
#ifndef KD_PLTRACEMODULE_H
#define KD_PLTRACEMODULE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>

#include <kdtrace/module.h>
#include <kdtrace/trace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLModule.h"
#include "module_base/PLString.h"

class CPLTraceModule : public CPLComObject<CPLReleaseModel>, public CPLModule, public IPLTraceModule {
    PL_BEGIN_INTERFACE_MAP(CPLTraceModule, IPLTraceModule)
    PL_INTERFACE_ENTRY(IPLModule)
    PL_INTERFACE_ENTRY(IPLTraceModule)
    PL_END_INTERFACE_MAP()

public:
    CPLTraceModule() noexcept;

    HRESULT __Init() override;

    // IPLTraceModule
    HRESULT GetGlobalContext(IPLTraceContext** context) override;
    HRESULT GetDefaultContext(IPLTraceContext** context) override;
    HRESULT GetNamedContext(const WCHAR* name, IPLTraceContext** context) override;
    HRESULT SetSeverityLevel(LONG level) override;
    HRESULT GetSeverityLevel(LONG* level) override;

    // Forgets the default context of an ended thread in every module object.
    static void ForgetThread(DWORD thread) noexcept;

protected:
    ~CPLTraceModule() override;

private:
    // The context of the calling thread or of a name, from the maps (made when absent). Returns
    // a borrowed pointer: the map keeps the reference for the module object's life (a default
    // context until its thread ends; only that thread asks for it).
    IPLTraceContext* DefaultContextFromMap(DWORD thread);
    IPLTraceContext* NamedContextFromMap(std::u16string_view name, std::size_t hash, const WCHAR** key);

    // A name with its hash, computed once per request.
    struct HashedName {
        std::u16string_view text;
        std::size_t hash;
    };
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(const PLString& name) const noexcept;
        std::size_t operator()(const HashedName& name) const noexcept { return name.hash; }
    };
    struct NameEqual {
        using is_transparent = void;
        bool operator()(const PLString& a, const PLString& b) const noexcept { return a.view() == b.view(); }
        bool operator()(const HashedName& a, const PLString& b) const noexcept { return a.text == b.view(); }
        bool operator()(const PLString& a, const HashedName& b) const noexcept { return a.view() == b.text; }
    };

    const uint64_t m_serial;
    // The live module objects, linked through these, under a process-wide lock.
    CPLTraceModule* m_prevLive = nullptr;
    CPLTraceModule* m_nextLive = nullptr;
    std::shared_mutex m_mapLock;
    std::map<DWORD, PLComPtr<IPLTraceContext>> m_defaultContexts;
    // Keys compare code unit by code unit. Nodes never move, so the key text stays put while the
    // module object lives, and per-thread caches may point at it.
    std::unordered_map<PLString, PLComPtr<IPLTraceContext>, NameHash, NameEqual> m_namedContexts;
};

#endif  // KD_PLTRACEMODULE_H
