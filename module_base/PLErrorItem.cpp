// One recorded error.
#include "module_base/PLErrorItem.h"
#include "module_base/KDXErrorItemCore.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CPLErrorItem, CLSID_PLErrorItem);

namespace {

// The getters write into the caller's memory inside a guarded region, so that an unwritable
// pointer ends the call with the translated fault.

// Copies `text` cut to size - 1 characters, always terminated: S_FALSE when it did not fit.
HRESULT CopyText(const PLGuardSite& site, const PLString& text, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return PLGuard(site, [&](HRESULT& hr) {
        hr = PLCopyTextToBuffer(buffer, size, text.c_str(), text.GetLength(), PLTruncation::Report);
    });
}

}  // namespace

HRESULT CPLErrorItem::Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                                 LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                                 ULONG sourceLine) {
    if (module == nullptr || className == nullptr || method == nullptr || message == nullptr) return E_POINTER;
    return PL_GUARD_QUALIFIED("Core", [&](HRESULT&) {
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
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_module, buffer, size);
}
HRESULT CPLErrorItem::GetClassName(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_class, buffer, size);
}
HRESULT CPLErrorItem::GetMethodName(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_method, buffer, size);
}
HRESULT CPLErrorItem::GetMessage(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_message, buffer, size);
}
HRESULT CPLErrorItem::GetSourceFile(WCHAR* buffer, LONG size) {
    return CopyText(PL_GUARD_SITE_QUALIFIED("Core"), m_sourceFile, buffer, size);
}

HRESULT CPLErrorItem::GetHRESULT(HRESULT* result) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), result, m_result);
}

HRESULT CPLErrorItem::GetMessageType(LONG* messageType) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), messageType, m_messageType);
}

HRESULT CPLErrorItem::GetThreadID(DWORD* threadId) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), threadId, m_threadId);
}

HRESULT CPLErrorItem::GetSourceLine(ULONG* sourceLine) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), sourceLine, m_sourceLine);
}

HRESULT CPLErrorItem::GetKDXErrorItemCore(IKDXErrorItemCore** view) {
    if (view == nullptr) return E_POINTER;
    return PL_GUARD_QUALIFIED("Core", [&](HRESULT& hr) {
        *view = nullptr;
        PLComPtr<IKDXErrorItemCore> core;
        hr = PLCreateInstance(CLSID_KDXErrorItemCore, core);
        PL_THROW_ERROR(hr, "Failed to create error item core", 1);
        hr = core->Initialize(m_threadId, m_result, m_message, m_module, m_class, m_method, m_sourceFile, m_sourceLine);
        PL_THROW_ERROR(hr, "Failed to initialize error item core", 1);
        *view = core.Get();
        core.Detach();
    });
}
