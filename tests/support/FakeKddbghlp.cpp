// Stand-ins for the debugging companion (see CMakeLists.txt).
#include <stdint.h>

#include <kdtrace/dbghlp.h>

#define KD_TEST_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(KD_FAKE_FAULTY_MODULE_SET)

namespace {

// Two modules; asking for the second one's path reads through a bad pointer. One set for every
// request, living as long as the library: its count is not kept.
class FaultyModuleSet final : public IPLModuleSet {
public:
    HRESULT QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetCount(ULONG* count) override { return *count = 2, S_OK; }
    HRESULT GetModulePath(ULONG index, WCHAR* buffer, ULONG size) override {
        const WCHAR* source =
            index == 0 ? u"/fake/first-module.so" : *reinterpret_cast<const WCHAR* volatile*>(m_badAddress);
        ULONG n = 0;
        for (; source[n] != 0 && n + 1 < size; ++n) buffer[n] = source[n];
        buffer[n] = 0;
        return S_OK;
    }
    HRESULT GetBaseAddress(ULONG, ULONGLONG* base) override { return *base = 0x10000, S_OK; }

private:
    volatile uintptr_t m_badAddress = 0x18;
} g_set;

}  // namespace

KD_TEST_EXPORT HRESULT PLDBGHLP_GetModuleSet(IPLModuleSet** set) {
    *set = &g_set;
    return S_OK;
}

KD_TEST_EXPORT HRESULT PLDBGHLP_CreateMiniDump(const PLExceptionPointers*) {
    return S_OK;
}

#else

KD_TEST_EXPORT int kd_fake_debug_helper_without_exports() {
    return 0;
}

#endif
