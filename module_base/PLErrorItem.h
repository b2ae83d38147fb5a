// CPLErrorItem: one recorded error. It is also a constrained property bag of the names "Module",
// "Class", "Method", "Message", "Result", "Type", "ID" and "ThreadID"; Save writes the item's
// fields into another bag (beside its own entries) and Load reads them back. Thread, source file
// and source line are not part of the saved form.
#ifndef KD_PLERRORITEM_H
#define KD_PLERRORITEM_H

#include <kdtrace/error.h>
#include <kdtrace/object.h>

#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBag.h"
#include "module_base/PLString.h"

class CPLErrorItem : public CPLComObject<CPLReleaseModel>, public CPLConstrainedPropertyBagBase, public IPLErrorItem {
    PL_BEGIN_INTERFACE_MAP(CPLErrorItem, IPLErrorItem)
    PL_INTERFACE_ENTRY(IPLErrorItem)
    PL_INTERFACE_ENTRY(IPLPropertyBag)
    PL_INTERFACE_ENTRY(IPLPersistPropertyBag)
    PL_INTERFACE_ENTRY(IPLSerializeXML)
    PL_END_INTERFACE_MAP()

public:
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

    // IPLPersistPropertyBag: the bag's own entries, then the saved fields.
    HRESULT Save(IPLPropertyBag* bag) override;
    // All saved fields are read before any is replaced: a failure leaves the item as it was.
    HRESULT Load(IPLPropertyBag* bag) override;

protected:
    ~CPLErrorItem() override = default;
    HRESULT InitPropertyBag() override;

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

#endif  // KD_PLERRORITEM_H
