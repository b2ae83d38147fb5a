// A library whose classes another library pulls into its class-factory map.
#include <kdtrace/kdtrace.h>

// clang-format off
inline constexpr GUID CLSID_TestHooked = {0x5D542C46, 0xC0FB, 0x4386, {0x9A, 0x81, 0x7D, 0xB5, 0xFB, 0x8E, 0x24, 0x26}};
// clang-format on

namespace {

// One object for every creation, living as long as the library: its count is not kept.
struct HookedObject final : IUnknown {
    HRESULT QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown ? this : nullptr;
        return iid == IID_IUnknown ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
} g_hooked;

HRESULT CreateHooked(REFIID iid, void*, void** object) {
    return g_hooked.QueryInterface(iid, object);
}

HRESULT CreateImpostor(REFIID, void*, void**) {
    return E_FAIL;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT RegisterClassFactories(IPLClassFactoryMap* map) {
    map->RegisterClassFactory(CLSID_TestHooked, &CreateHooked);
    // An identifier the host library already has: its own creator must stay.
    map->RegisterClassFactory(CLSID_PLErrorInfo, &CreateImpostor);
    return S_OK;
}
