// Error lists, error items and the items' automation view.
#include <algorithm>

#include "inc_module_base/PLError.h"
#include "inc_module_base/PLErrorInfo.h"
#include "inc_module_base/plfactory.h"
#include "platform/thread.h"

PL_REGISTER_CLASS(CPLErrorInfo, CLSID_PLErrorInfo);
PL_REGISTER_CLASS(CPLErrorItem, CLSID_PLErrorItem);
PL_REGISTER_CLASS(CKDXErrorItemCore, CLSID_KDXErrorItemCore);

namespace {

// Copies `text` cut to size - 1 characters, always terminated: S_FALSE when it did not fit.
HRESULT CopyText(const PLString& text, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    const int32_t length = text.GetLength();
    const int32_t n = std::min(length, size - 1);
    std::copy_n(text.c_str(), n, buffer);
    buffer[n] = 0;
    return length >= size ? S_FALSE : S_OK;
}

HRESULT NewBStr(const PLString& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = SysAllocStringLen(text.c_str(), static_cast<uint32_t>(text.GetLength()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// ---- CPLErrorInfo ----

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

// ---- CPLErrorItem ----

HRESULT CPLErrorItem::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLErrorItem;
    return S_OK;
}

HRESULT CPLErrorItem::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLErrorItem;
    return S_OK;
}

HRESULT CPLErrorItem::Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                                 LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                                 ULONG sourceLine) {
    if (module == nullptr || className == nullptr || method == nullptr || message == nullptr) return E_POINTER;
    return PLGuard("Core", "CPLErrorItem", "CPLErrorItem::Initialize", [&](HRESULT&) {
        m_module = module;
        m_class = className;
        m_method = method;
        m_result = result;
        m_messageType = messageType;
        m_message = message;
        m_threadId = threadId;
        m_sourceFile = PLString(sourceFile);
        m_sourceLine = sourceLine;
    });
}

HRESULT CPLErrorItem::GetModuleName(WCHAR* buffer, LONG size) {
    return CopyText(m_module, buffer, size);
}
HRESULT CPLErrorItem::GetClassName(WCHAR* buffer, LONG size) {
    return CopyText(m_class, buffer, size);
}
HRESULT CPLErrorItem::GetMethodName(WCHAR* buffer, LONG size) {
    return CopyText(m_method, buffer, size);
}
HRESULT CPLErrorItem::GetMessage(WCHAR* buffer, LONG size) {
    return CopyText(m_message, buffer, size);
}
HRESULT CPLErrorItem::GetSourceFile(WCHAR* buffer, LONG size) {
    return CopyText(m_sourceFile, buffer, size);
}

HRESULT CPLErrorItem::GetHRESULT(HRESULT* result) {
    if (result == nullptr) return E_POINTER;
    *result = m_result;
    return S_OK;
}

HRESULT CPLErrorItem::GetMessageType(LONG* messageType) {
    if (messageType == nullptr) return E_POINTER;
    *messageType = m_messageType;
    return S_OK;
}

HRESULT CPLErrorItem::GetThreadID(DWORD* threadId) {
    if (threadId == nullptr) return E_POINTER;
    *threadId = m_threadId;
    return S_OK;
}

HRESULT CPLErrorItem::GetSourceLine(ULONG* sourceLine) {
    if (sourceLine == nullptr) return E_POINTER;
    *sourceLine = m_sourceLine;
    return S_OK;
}

HRESULT CPLErrorItem::GetKDXErrorItemCore(IKDXErrorItemCore** view) {
    if (view == nullptr) return E_POINTER;
    *view = nullptr;
    return PLGuard("Core", "CPLErrorItem", "CPLErrorItem::GetKDXErrorItemCore", [&](HRESULT& hr) {
        PLComPtr<IKDXErrorItemCore> core;
        hr = PLCreateInstance(CLSID_KDXErrorItemCore, IID_IKDXErrorItemCore, core.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create error item core", 1);
        hr = core->Initialize(m_threadId, m_result, m_message, m_module, m_class, m_method, m_sourceFile, m_sourceLine);
        PL_THROW_ERROR(hr, "Failed to initialize error item core", 1);
        *view = core.Detach();
    });
}

// ---- CKDXErrorItemCore ----

HRESULT CKDXErrorItemCore::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IKDXErrorItemCore;
    return S_OK;
}

HRESULT CKDXErrorItemCore::Initialize(DWORD threadId, HRESULT number, const WCHAR* message, const WCHAR* module,
                                      const WCHAR* className, const WCHAR* member, const WCHAR* sourceFile,
                                      ULONG sourceLine) {
    return PLGuard("Core", "CKDXErrorItemCore", "CKDXErrorItemCore::Initialize", [&](HRESULT&) {
        m_threadId = threadId;
        m_number = number;
        m_message = PLString(message);
        m_module = PLString(module);
        m_class = PLString(className);
        m_member = PLString(member);
        m_sourceFile = PLString(sourceFile);
        m_sourceLine = sourceLine;
    });
}

HRESULT CKDXErrorItemCore::get_ThreadID(DWORD* threadId) {
    if (threadId == nullptr) return E_POINTER;
    *threadId = m_threadId;
    return S_OK;
}

HRESULT CKDXErrorItemCore::get_Number(HRESULT* number) {
    if (number == nullptr) return E_POINTER;
    *number = m_number;
    return S_OK;
}

HRESULT CKDXErrorItemCore::get_SourceLine(ULONG* sourceLine) {
    if (sourceLine == nullptr) return E_POINTER;
    *sourceLine = m_sourceLine;
    return S_OK;
}

HRESULT CKDXErrorItemCore::get_Message(BSTR* message) {
    return NewBStr(m_message, message);
}
HRESULT CKDXErrorItemCore::get_SourceFile(BSTR* sourceFile) {
    return NewBStr(m_sourceFile, sourceFile);
}
HRESULT CKDXErrorItemCore::get_Module(BSTR* module) {
    return NewBStr(m_module, module);
}
HRESULT CKDXErrorItemCore::get_Class(BSTR* className) {
    return NewBStr(m_class, className);
}
HRESULT CKDXErrorItemCore::get_Member(BSTR* member) {
    return NewBStr(m_member, member);
}
