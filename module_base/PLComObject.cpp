// The interface map lookup behind every QueryInterface.
#include "module_base/PLComObject.h"

HRESULT PLQueryInterfaceFromMap(void* self, const PLInterfaceMapEntry* map, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    // The caller's identifier is read once, by the library's own loads (a C runtime compare
    // that faulted could not be translated).
    const GUID wanted = iid;
    for (const PLInterfaceMapEntry* entry = map; entry->iid != nullptr; ++entry) {
        if (*entry->iid == wanted) {
            void* found = entry->cast(self);
            *object = found;  // before the reference: an unwritable `object` leaves none behind
            static_cast<IUnknown*>(found)->AddRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
