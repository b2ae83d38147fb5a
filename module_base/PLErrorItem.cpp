// One recorded error.
#include <algorithm>

#include "module_base/KDXErrorItemCore.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLErrorItem.h"

PL_REGISTER_CLASS(CPLErrorItem, CLSID_PLErrorItem);

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

}  // namespace

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
    return PLStoreOut("CPLErrorItem", "CPLErrorItem::GetHRESULT", result, m_result);
}

HRESULT CPLErrorItem::GetMessageType(LONG* messageType) {
    return PLStoreOut("CPLErrorItem", "CPLErrorItem::GetMessageType", messageType, m_messageType);
}

HRESULT CPLErrorItem::GetThreadID(DWORD* threadId) {
    return PLStoreOut("CPLErrorItem", "CPLErrorItem::GetThreadID", threadId, m_threadId);
}

HRESULT CPLErrorItem::GetSourceLine(ULONG* sourceLine) {
    return PLStoreOut("CPLErrorItem", "CPLErrorItem::GetSourceLine", sourceLine, m_sourceLine);
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
