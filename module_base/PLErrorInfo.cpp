// A thread's error list.
#include "module_base/PLErrorInfo.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLErrorItem.h"
#include "platform/Thread.h"

PL_REGISTER_CLASS(CPLErrorInfo, CLSID_PLErrorInfo);

HRESULT CPLErrorInfo::AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile,
                               ULONG sourceLine) {
    // Its own guarded region: this is what recording calls, so its failures are returned, not
    // recorded (a fault in the caller's text or in the host's callback among them).
    const kd::platform::FaultGuardScope faultScope;
    try {
        if (errorFlag != 0) Clear();
        PLComPtr<IPLErrorItem> item;
        HRESULT hr = PLCreateInstance(CLSID_PLErrorItem, item);
        if (hr < 0) return hr;
        hr = item->Initialize(module, className, method, result, messageType, message, kd::platform::CurrentThreadId(),
                              sourceFile, sourceLine);
        if (hr < 0) return hr;
        m_items.push_back(item);  // the list's reference
        if (m_callback != nullptr) {
            // The callback is a host's: a fault in it ends this call, never the recording thread.
            const PLErrorEventCallback callback = m_callback;
            const uintptr_t context = m_context;
            IPLErrorItem* added = item.Get();
            PLCallOut([callback, context, added] { callback(context, added); });
        }
        return S_OK;
    } catch (const CSEHExceptionWrapper&) {
        return E_UNEXPECTED;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPLErrorInfo::GetCount(LONG* count) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), count, static_cast<LONG>(m_items.size()));
}

HRESULT CPLErrorInfo::GetItem(LONG index, IPLErrorItem** item) {
    if (item == nullptr) return E_POINTER;
    const LONG count = static_cast<LONG>(m_items.size());
    if (index < 0 || index >= count) return E_INVALIDARG;
    // Index 0 is the newest item.
    IPLErrorItem* found = m_items[static_cast<std::size_t>(count - 1 - index)].Get();
    return PL_GUARD_QUALIFIED("Core", [&](HRESULT&) {
        *item = found;
        found->AddRef();
    });
}

HRESULT CPLErrorInfo::Clear() {
    // Released after the list is empty: an item's end may record, and so call back in.
    std::vector<PLComPtr<IPLErrorItem>> items;
    items.swap(m_items);
    items.clear();
    return S_OK;
}

HRESULT CPLErrorInfo::RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) {
    m_context = context;
    m_callback = callback;
    return S_OK;
}

HRESULT CPLErrorInfo::SaveToXML(IPLVariant** xml) {
    const HRESULT hr = PLStoreOut<IPLVariant*>(PL_GUARD_SITE_QUALIFIED("Core"), xml, nullptr);
    return hr < 0 ? hr : E_NOTIMPL;
}

HRESULT CPLErrorInfo::LoadFromXML(const WCHAR* xml) {
    if (xml == nullptr) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT CPLErrorInfo::Clone(REFIID iid, void** object) {
    // The clone is a new, empty list without callback.
    if (object == nullptr) return E_POINTER;
    return PL_GUARD_QUALIFIED("Core", [&](HRESULT& hr) { hr = PLCreateObject<CPLErrorInfo>(iid, nullptr, object); });
}
