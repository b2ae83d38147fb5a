// CPLRefFile: names one file on disk for the streams that read it.
//
// It counts the descriptors and C runtime files opened through it, can delete the file when the
// last reference goes, and carries a base offset against which page offsets are measured. The
// open count changes atomically, so files may be opened and closed through one object from
// several threads; the path is set once, before the object is shared.
#ifndef KD_PLREFFILE_H
#define KD_PLREFFILE_H

#include <atomic>

#include <kdtrace/stream.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"
#include "module_base/PLString.h"

class CPLRefFile : public CPLComObject<CPLReleaseModel>, public IPLRefFilePriv {
    PL_BEGIN_INTERFACE_MAP(CPLRefFile, IPLRefFile)
    PL_INTERFACE_ENTRY(IPLRefFilePriv)
    PL_INTERFACE_ENTRY_IID(IID_IPLRefFile, IPLRefFilePriv)
    PL_END_INTERFACE_MAP()

public:
    CPLRefFile() noexcept = default;

    // IPLRefFile
    HRESULT GetLocalPath(WCHAR* buffer, LONG size) override;

    // IPLRefFilePriv
    HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease) override;
    HRESULT OpenStdHandle(const WCHAR* mode, FILE** file) override;
    HRESULT OpenHandle(DWORD access, DWORD shareMode, BOOL inheritable, DWORD creationDisposition,
                       DWORD flagsAndAttributes, PLFileHandle* handle) override;
    HRESULT CloseStdHandle(FILE* file) override;
    HRESULT CloseHandle(PLFileHandle handle) override;
    HRESULT SetBaseOffset(LONG offset) override;
    HRESULT GetPageOffset(IPLFilePage* page, LONG* offset) override;
    HRESULT TranslateOffset(LONG offset, LONG* result) override;

protected:
    ~CPLRefFile() override;

private:
    PLString m_path;
    BOOL m_deleteOnRelease = FALSE;
    std::atomic<int32_t> m_openCount{0};
    std::atomic<LONG> m_baseOffset{0};
};

// Makes a reference file for `path` (errors under "Core Services", "Utility Functions").
HRESULT PLCreateRefFile(const WCHAR* path, BOOL deleteOnRelease, IPLRefFilePriv** refFile);

#endif  // KD_PLREFFILE_H
