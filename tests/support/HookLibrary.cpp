// A library whose classes another library pulls into its class-factory map.
#include <kdtrace/kdtrace.h>

#include <atomic>

// clang-format off
inline constexpr GUID CLSID_TestHooked = {0x5D542C46, 0xC0FB, 0x4386, {0x9A, 0x81, 0x7D, 0xB5, 0xFB, 0x8E, 0x24, 0x26}};
inline constexpr GUID CLSID_PLErrorInfoImpostor = CLSID_PLErrorInfo;
// clang-format on

namespace {

struct HookedObject final : IUnknown {
    std::atomic<ULONG> refs{0};
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
};

HRESULT CreateHooked(REFIID iid, void*, void** object) {
    auto* instance = new HookedObject();
    const HRESULT hr = instance->QueryInterface(iid, object);
    if (hr < 0) delete instance;
    return hr;
}

HRESULT CreateImpostor(REFIID, void*, void**) {
    return E_FAIL;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT RegisterClassFactories(IPLClassFactoryMap* map) {
    if (map == nullptr) return E_POINTER;
    map->RegisterClassFactory(CLSID_TestHooked, &CreateHooked);
    // An identifier the host library already has: its own creator must stay.
    map->RegisterClassFactory(CLSID_PLErrorInfoImpostor, &CreateImpostor);
    return S_OK;
}
