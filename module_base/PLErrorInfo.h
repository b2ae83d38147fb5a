// CPLErrorInfo: a thread's error list, newest item first.
#ifndef KD_PLERRORINFO_H
#define KD_PLERRORINFO_H

#include <vector>

#include <kdtrace/error.h>
#include <kdtrace/object.h>

#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

class CPLErrorInfo : public CPLComObject<CPLReleaseModel>, public IPLErrorInfo, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLErrorInfo, IPLErrorInfo)
    PL_INTERFACE_ENTRY(IPLErrorInfo)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLErrorInfo() = default;

    HRESULT AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result, LONG messageType,
                     const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile, ULONG sourceLine) override;
    HRESULT GetCount(LONG* count) override;
    HRESULT GetItem(LONG index, IPLErrorItem** item) override;
    HRESULT Clear() override;
    HRESULT RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) override;
    HRESULT SaveToXML(IPLVariant** xml) override;
    HRESULT LoadFromXML(const WCHAR* xml) override;

    HRESULT Clone(REFIID iid, void** object) override;

protected:
    ~CPLErrorInfo() override = default;

private:
    std::vector<PLComPtr<IPLErrorItem>> m_items;
    PLErrorEventCallback m_callback = nullptr;
    uintptr_t m_context = 0;
};

#endif  // KD_PLERRORINFO_H
