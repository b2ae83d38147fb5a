// The automation view of an error item.
#include "module_base/KDXErrorItemCore.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CKDXErrorItemCore, CLSID_KDXErrorItemCore);

namespace {

HRESULT NewBStr(const PLGuardSite& site, const PLString& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    return PLGuard(site, [&](HRESULT& hr) {
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

}  // namespace

HRESULT CKDXErrorItemCore::Initialize(DWORD threadId, HRESULT number, const WCHAR* message, const WCHAR* module,
                                      const WCHAR* className, const WCHAR* member, const WCHAR* sourceFile,
                                      ULONG sourceLine) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT&) {
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
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), threadId, m_threadId);
}

HRESULT CKDXErrorItemCore::get_Number(HRESULT* number) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), number, m_number);
}

HRESULT CKDXErrorItemCore::get_SourceLine(ULONG* sourceLine) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED("Core"), sourceLine, m_sourceLine);
}

HRESULT CKDXErrorItemCore::get_Message(BSTR* message) {
    return NewBStr(PL_GUARD_SITE_QUALIFIED("Core"), m_message, message);
}
HRESULT CKDXErrorItemCore::get_SourceFile(BSTR* sourceFile) {
    return NewBStr(PL_GUARD_SITE_QUALIFIED("Core"), m_sourceFile, sourceFile);
}
HRESULT CKDXErrorItemCore::get_Module(BSTR* module) {
    return NewBStr(PL_GUARD_SITE_QUALIFIED("Core"), m_module, module);
}
HRESULT CKDXErrorItemCore::get_Class(BSTR* className) {
    return NewBStr(PL_GUARD_SITE_QUALIFIED("Core"), m_class, className);
}
HRESULT CKDXErrorItemCore::get_Member(BSTR* member) {
    return NewBStr(PL_GUARD_SITE_QUALIFIED("Core"), m_member, member);
}
