// CKDXErrorItemCore: the automation view of an error item, with BSTR getters.
#ifndef KD_KDXERRORITEMCORE_H
#define KD_KDXERRORITEMCORE_H

#include <kdtrace/error.h>
#include <kdtrace/object.h>

#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

class CKDXErrorItemCore : public CPLComObject<CPLReleaseModel>, public IKDXErrorItemCore {
    PL_BEGIN_INTERFACE_MAP(CKDXErrorItemCore, IKDXErrorItemCore)
    PL_INTERFACE_ENTRY(IKDXErrorItemCore)
    PL_END_INTERFACE_MAP()

public:
    // The object base's slots, answered for both of the object's IPLComObject tables.
    HRESULT InitObject() override { return S_OK; }
    HRESULT GetObjectText(WCHAR* buffer, LONG size) override { return PLComBase::GetObjectText(buffer, size); }
    void DeleteObject(ULONG flags) override { PLComBase::DeleteObject(flags); }
    ULONG InternalAddRef() override { return PLComBase::InternalAddRef(); }
    ULONG InternalRelease() override { return PLComBase::InternalRelease(); }

    HRESULT Initialize(DWORD threadId, HRESULT number, const WCHAR* message, const WCHAR* module,
                       const WCHAR* className, const WCHAR* member, const WCHAR* sourceFile, ULONG sourceLine) override;
    HRESULT get_ThreadID(DWORD* threadId) override;
    HRESULT get_Message(BSTR* message) override;
    HRESULT get_Number(HRESULT* number) override;
    HRESULT get_SourceFile(BSTR* sourceFile) override;
    HRESULT get_SourceLine(ULONG* sourceLine) override;
    HRESULT get_Module(BSTR* module) override;
    HRESULT get_Class(BSTR* className) override;
    HRESULT get_Member(BSTR* member) override;

protected:
    ~CKDXErrorItemCore() override = default;

private:
    DWORD m_threadId = 0;
    HRESULT m_number = 0;
    PLString m_message;
    PLString m_module;
    PLString m_class;
    PLString m_member;
    PLString m_sourceFile;
    ULONG m_sourceLine = 0;
};

#endif  // KD_KDXERRORITEMCORE_H
