// The interface map lookup behind every QueryInterface.
#include <cstring>

#include "module_base/PLComObject.h"

HRESULT PLQueryInterfaceFromMap(void* self, const PLInterfaceMapEntry* map, REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    for (const PLInterfaceMapEntry* entry = map; entry->iid != nullptr; ++entry) {
        if (std::memcmp(entry->iid, &iid, sizeof(GUID)) == 0) {
            void* found = entry->cast(self);
            static_cast<IUnknown*>(found)->AddRef();
            *object = found;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
