// CPLErrorInfo (a thread's error list), CPLErrorItem (one error) and CKDXErrorItemCore (the
// automation view of an item).
#ifndef KD_PLERRORINFO_H
#define KD_PLERRORINFO_H

#include <vector>

#include <kdtrace/error.h>
#include <kdtrace/object.h>

#include "inc_module_base/PLComObject.h"
#include "inc_module_base/PLString.h"

class CPLErrorInfo : public CPLComObject<CPLReleaseModel>, public IPLErrorInfo, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLErrorInfo, IPLErrorInfo)
    PL_INTERFACE_ENTRY(IPLErrorInfo)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLErrorInfo() = default;
    ~CPLErrorInfo() override;

    HRESULT GetInterfaceID(GUID* iid) override;
    HRESULT GetClassID(GUID* clsid) override;

    HRESULT AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result, LONG messageType,
                     const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile, ULONG sourceLine) override;
    HRESULT GetCount(LONG* count) override;
    HRESULT GetItem(LONG index, IPLErrorItem** item) override;
    HRESULT Clear() override;
    HRESULT RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) override;
    HRESULT SaveToXML(IPLVariant** xml) override;
    HRESULT LoadFromXML(const WCHAR* xml) override;

    HRESULT Clone(REFIID iid, void** object) override;

private:
    std::vector<IPLErrorItem*> m_items;
    PLErrorEventCallback m_callback = nullptr;
    uintptr_t m_context = 0;
};

class CPLErrorItem : public CPLComObject<CPLReleaseModel>, public IPLErrorItem {
    PL_BEGIN_INTERFACE_MAP(CPLErrorItem, IPLErrorItem)
    PL_INTERFACE_ENTRY(IPLErrorItem)
    PL_END_INTERFACE_MAP()

public:
    HRESULT GetInterfaceID(GUID* iid) override;
    HRESULT GetClassID(GUID* clsid) override;

    HRESULT Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                       LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                       ULONG sourceLine) override;
    HRESULT GetModuleName(WCHAR* buffer, LONG size) override;
    HRESULT GetClassName(WCHAR* buffer, LONG size) override;
    HRESULT GetMethodName(WCHAR* buffer, LONG size) override;
    HRESULT GetHRESULT(HRESULT* result) override;
    HRESULT GetMessageType(LONG* messageType) override;
    HRESULT GetMessage(WCHAR* buffer, LONG size) override;
    HRESULT GetThreadID(DWORD* threadId) override;
    HRESULT GetSourceFile(WCHAR* buffer, LONG size) override;
    HRESULT GetSourceLine(ULONG* sourceLine) override;
    HRESULT GetKDXErrorItemCore(IKDXErrorItemCore** view) override;

    // Values that the saved forms of an item carry beside the getters.
    LONG GetID() const noexcept { return m_id; }
    void SetID(LONG id) noexcept { m_id = id; }

private:
    HRESULT m_result = E_FAIL;
    PLString m_module;
    PLString m_class;
    PLString m_method;
    LONG m_messageType = 0;
    PLString m_message;
    LONG m_id = 0;
    DWORD m_threadId = 0;
    PLString m_sourceFile;
    ULONG m_sourceLine = 0;
};

class CKDXErrorItemCore : public CPLComObject<CPLReleaseModel>, public IKDXErrorItemCore {
    PL_BEGIN_INTERFACE_MAP(CKDXErrorItemCore, IKDXErrorItemCore)
    PL_INTERFACE_ENTRY(IKDXErrorItemCore)
    PL_END_INTERFACE_MAP()

public:
    // The object base's slots, answered for both of the object's IPLComObject tables.
    HRESULT InitObject() override { return S_OK; }
    HRESULT GetInterfaceID(GUID* iid) override;
    HRESULT GetObjectText(WCHAR* buffer, LONG size) override { return PLComBase::GetObjectText(buffer, size); }
    HRESULT GetClassID(GUID* clsid) override { return PLComBase::GetClassID(clsid); }
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

#endif  // KD_PLERRORINFO_H
