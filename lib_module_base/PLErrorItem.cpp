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

// The getters write into the caller's memory inside a guarded region, so that an unwritable
// pointer ends the call with the translated fault.

// Copies `text` cut to size - 1 characters, always terminated: S_FALSE when it did not fit.
HRESULT CopyText(const char* className, const char* method, const PLString& text, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return PLGuard("Core", className, method, [&](HRESULT& hr) {
        const int32_t length = text.GetLength();
        PLCopyTextOut(buffer, text.c_str(), std::min(length, size - 1));
        hr = length >= size ? S_FALSE : S_OK;
    });
}

HRESULT NewBStr(const char* method, const PLString& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    return PLGuard("Core", "CKDXErrorItemCore", method, [&](HRESULT& hr) {
        BSTR made = SysAllocStringLen(text.c_str(), static_cast<uint32_t>(text.GetLength()));
        try {
            *out = made;
        } catch (...) {
            SysFreeString(made);
            throw;
        }
        hr = made != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}

template <class T>
HRESULT StoreOut(const char* className, const char* method, T* out, T value) {
    if (out == nullptr) return E_POINTER;
    return PLGuard("Core", className, method, [&](HRESULT&) { *out = value; });
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
    // Its own guarded region: this is what recording calls, so its failures are returned, not
    // recorded (a fault in the caller's text or in the host's callback among them).
    const kd::platform::FaultGuardScope faultScope;
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
    return StoreOut("CPLErrorInfo", "CPLErrorInfo::GetCount", count, static_cast<LONG>(m_items.size()));
}

HRESULT CPLErrorInfo::GetItem(LONG index, IPLErrorItem** item) {
    if (item == nullptr) return E_POINTER;
    const LONG count = static_cast<LONG>(m_items.size());
    if (index < 0 || index >= count) return E_INVALIDARG;
    // Index 0 is the newest item.
    IPLErrorItem* found = m_items[static_cast<std::size_t>(count - 1 - index)];
    return PLGuard("Core", "CPLErrorInfo", "CPLErrorInfo::GetItem", [&](HRESULT&) {
        *item = found;
        found->AddRef();
    });
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
    const HRESULT hr = StoreOut<IPLVariant*>("CPLErrorInfo", "CPLErrorInfo::SaveToXML", xml, nullptr);
    return hr < 0 ? hr : E_NOTIMPL;
}

HRESULT CPLErrorInfo::LoadFromXML(const WCHAR* xml) {
    if (xml == nullptr) return E_POINTER;
    return E_NOTIMPL;
}

HRESULT CPLErrorInfo::Clone(REFIID iid, void** object) {
    // The clone is a new, empty list without callback.
    if (object == nullptr) return E_POINTER;
    return PLGuard("Core", "CPLErrorInfo", "CPLErrorInfo::Clone",
                   [&](HRESULT& hr) { hr = PLCreateObject<CPLErrorInfo>(iid, nullptr, object); });
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
    return CopyText("CPLErrorItem", "CPLErrorItem::GetModuleName", m_module, buffer, size);
}
HRESULT CPLErrorItem::GetClassName(WCHAR* buffer, LONG size) {
    return CopyText("CPLErrorItem", "CPLErrorItem::GetClassName", m_class, buffer, size);
}
HRESULT CPLErrorItem::GetMethodName(WCHAR* buffer, LONG size) {
    return CopyText("CPLErrorItem", "CPLErrorItem::GetMethodName", m_method, buffer, size);
}
HRESULT CPLErrorItem::GetMessage(WCHAR* buffer, LONG size) {
    return CopyText("CPLErrorItem", "CPLErrorItem::GetMessage", m_message, buffer, size);
}
HRESULT CPLErrorItem::GetSourceFile(WCHAR* buffer, LONG size) {
    return CopyText("CPLErrorItem", "CPLErrorItem::GetSourceFile", m_sourceFile, buffer, size);
}

HRESULT CPLErrorItem::GetHRESULT(HRESULT* result) {
    return StoreOut("CPLErrorItem", "CPLErrorItem::GetHRESULT", result, m_result);
}

HRESULT CPLErrorItem::GetMessageType(LONG* messageType) {
    return StoreOut("CPLErrorItem", "CPLErrorItem::GetMessageType", messageType, m_messageType);
}

HRESULT CPLErrorItem::GetThreadID(DWORD* threadId) {
    return StoreOut("CPLErrorItem", "CPLErrorItem::GetThreadID", threadId, m_threadId);
}

HRESULT CPLErrorItem::GetSourceLine(ULONG* sourceLine) {
    return StoreOut("CPLErrorItem", "CPLErrorItem::GetSourceLine", sourceLine, m_sourceLine);
}

HRESULT CPLErrorItem::GetKDXErrorItemCore(IKDXErrorItemCore** view) {
    if (view == nullptr) return E_POINTER;
    return PLGuard("Core", "CPLErrorItem", "CPLErrorItem::GetKDXErrorItemCore", [&](HRESULT& hr) {
        *view = nullptr;
        PLComPtr<IKDXErrorItemCore> core;
        hr = PLCreateInstance(CLSID_KDXErrorItemCore, IID_IKDXErrorItemCore, core.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create error item core", 1);
        hr = core->Initialize(m_threadId, m_result, m_message, m_module, m_class, m_method, m_sourceFile, m_sourceLine);
        PL_THROW_ERROR(hr, "Failed to initialize error item core", 1);
        *view = core.Get();
        core.Detach();
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
    return StoreOut("CKDXErrorItemCore", "CKDXErrorItemCore::get_ThreadID", threadId, m_threadId);
}

HRESULT CKDXErrorItemCore::get_Number(HRESULT* number) {
    return StoreOut("CKDXErrorItemCore", "CKDXErrorItemCore::get_Number", number, m_number);
}

HRESULT CKDXErrorItemCore::get_SourceLine(ULONG* sourceLine) {
    return StoreOut("CKDXErrorItemCore", "CKDXErrorItemCore::get_SourceLine", sourceLine, m_sourceLine);
}

HRESULT CKDXErrorItemCore::get_Message(BSTR* message) {
    return NewBStr("CKDXErrorItemCore::get_Message", m_message, message);
}
HRESULT CKDXErrorItemCore::get_SourceFile(BSTR* sourceFile) {
    return NewBStr("CKDXErrorItemCore::get_SourceFile", m_sourceFile, sourceFile);
}
HRESULT CKDXErrorItemCore::get_Module(BSTR* module) {
    return NewBStr("CKDXErrorItemCore::get_Module", m_module, module);
}
HRESULT CKDXErrorItemCore::get_Class(BSTR* className) {
    return NewBStr("CKDXErrorItemCore::get_Class", m_class, className);
}
HRESULT CKDXErrorItemCore::get_Member(BSTR* member) {
    return NewBStr("CKDXErrorItemCore::get_Member", m_member, member);
}
