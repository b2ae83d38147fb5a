// CPLTraceModule: the module object of the trace services library. Through IPLTraceModule it
// hands out trace contexts in three scopes (one global context for the process, one default
// context per calling thread, one named context per distinct name) and keeps the process-wide
// severity level.
//
// Every thread of a host may call it at once. The two context maps sit under the module's
// mutex, which only requests that make a context take; requests for a context the calling
// thread has already received are answered from a small per-thread cache, so lookups on a hit
// take no lock and share no written memory with other threads. Cache entries carry the serial
// number of the module object that made them; serial numbers are never reused, so an entry of a
// destroyed module object can never match.
#ifndef KD_PLTRACEMODULE_H
#define KD_PLTRACEMODULE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>

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
    ~CPLTraceModule() override;

    HRESULT GetInterfaceID(GUID* iid) override;
    HRESULT GetClassID(GUID* clsid) override;
    HRESULT __Init() override;

    // IPLTraceModule
    HRESULT GetGlobalContext(IPLTraceContext** context) override;
    HRESULT GetDefaultContext(IPLTraceContext** context) override;
    HRESULT GetNamedContext(const WCHAR* name, IPLTraceContext** context) override;
    HRESULT SetSeverityLevel(LONG level) override;
    HRESULT GetSeverityLevel(LONG* level) override;

private:
    // The context of the calling thread or of a name, from the maps (made when absent). Returns
    // a borrowed pointer: the map keeps the reference for the module object's life.
    IPLTraceContext* DefaultContextFromMap(DWORD thread);
    IPLTraceContext* NamedContextFromMap(const WCHAR* name, const WCHAR** key, int32_t* keyLength);

    const uint64_t m_serial;
    std::mutex m_mapLock;
    std::map<DWORD, IPLTraceContext*> m_defaultContexts;
    // Keys compare code unit by code unit. Map nodes never move, so the key text stays put
    // while the module object lives, and per-thread caches may point at it.
    struct NameLess {
        using is_transparent = void;
        bool operator()(const PLString& a, const PLString& b) const noexcept { return a.view() < b.view(); }
        bool operator()(const PLString& a, std::u16string_view b) const noexcept { return a.view() < b; }
        bool operator()(std::u16string_view a, const PLString& b) const noexcept { return a < b.view(); }
    };
    std::map<PLString, IPLTraceContext*, NameLess> m_namedContexts;
};

#endif  // KD_PLTRACEMODULE_H
