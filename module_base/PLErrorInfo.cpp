// A thread's error list.
#include "module_base/PLErrorInfo.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLErrorItem.h"
#include "platform/Thread.h"

PL_REGISTER_CLASS(CPLErrorInfo, CLSID_PLErrorInfo);

CPLErrorInfo::~CPLErrorInfo() {
    for (IPLErrorItem* item : m_items) item->Release();
}

HRESULT CPLErrorInfo::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLErrorInfo;
    return S_OK;
}

HRESULT CPLErrorInfo::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLErrorInfo;
    return S_OK;
}

HRESULT CPLErrorInfo::AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile,
                               ULONG sourceLine) {
    try {
        if (errorFlag != 0) Clear();
        PLComPtr<IPLErrorItem> item;
        HRESULT hr = PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, item.PutVoid());
        if (hr < 0) return hr;
        hr = item->Initialize(module, className, method, result, messageType, message, kd::platform::CurrentThreadId(),
                              sourceFile, sourceLine);
        if (hr < 0) return hr;
        m_items.push_back(item.Get());
        item->AddRef();  // the list's reference
        if (m_callback != nullptr) m_callback(m_context, item.Get());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPLErrorInfo::GetCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<LONG>(m_items.size());
    return S_OK;
}

HRESULT CPLErrorInfo::GetItem(LONG index, IPLErrorItem** item) {
    if (item == nullptr) return E_POINTER;
    const LONG count = static_cast<LONG>(m_items.size());
    if (index < 0 || index >= count) return E_INVALIDARG;
    // Index 0 is the newest item.
    IPLErrorItem* found = m_items[static_cast<std::size_t>(count - 1 - index)];
    found->AddRef();
    *item = found;
    return S_OK;
}

HRESULT CPLErrorInfo::Clear() {
    std::vector<IPLErrorItem*> items;
    items.swap(m_items);
    for (IPLErrorItem* item : items) item->Release();
    return S_OK;
}

HRESULT CPLErrorInfo::RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) {
    m_context = context;
    m_callback = callback;
    return S_OK;
}

HRESULT CPLErrorInfo::SaveToXML(IPLVariant** xml) {
    if (xml == nullptr) return E_POINTER;
    *xml = nullptr;
    return E_NOTIMPL;
}

HRESULT CPLErrorInfo::LoadFromXML(const WCHAR* xml) {
    if (xml == nullptr) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT CPLErrorInfo::Clone(REFIID iid, void** object) {
    // The clone is a new, empty list without callback.
    return PLCreateObject<CPLErrorInfo>(iid, nullptr, object);
}
