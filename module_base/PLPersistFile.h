// CPLPersistFile: loading and saving an object by file name (IPLPersistFile) for any class that
// reads itself from and writes itself to an open C runtime file.
//
// The class derives from CPLPersistFile<Class> and supplies
//   HRESULT SaveToFile(FILE* file);    // writes the object to the open file
//   HRESULT LoadFromFile(FILE* file);  // reads the object from the open file
// Save opens the path with the save mode (SetFileFlags, "wb" by default); with a mode that
// empties the file ("w..." without "x") the file is replaced whole once everything is written
// (FileReplacement), so a failed save leaves it as it was. Load opens the path with "rb" and,
// once read, records it as the current file. Only regular files are read.
#ifndef KD_PLPERSISTFILE_H
#define KD_PLPERSISTFILE_H

#include <cstdio>
#include <string>

#include <kdtrace/pagedata.h>

#include "module_base/PLError.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLString.h"
#include "platform/File.h"
#include "platform/FileReplacement.h"
#include "platform/Text.h"

template <class Derived>
class CPLPersistFile : public IPLPersistFile {
public:
    HRESULT GetCurrentFile(WCHAR* buffer, LONG size) override {
        if (buffer == nullptr) return E_POINTER;
        if (size < 1) return E_INVALIDARG;
        return ::PLGuard(PL_GUARD_SITE_AS(kPersistGroup, "CPLPersistFile"), [&](HRESULT& hr) {
            // The whole path or nothing: a cut path would name another file.
            hr = PLCopyTextToBuffer(buffer, size, m_currentFile.c_str(), m_currentFile.GetLength(),
                                    PLTruncation::WholeOrEmpty);
            PL_THROW_ERROR(hr, "Buffer too small for the path", 1);
        });
    }

    HRESULT Save(const WCHAR* path) override {
        if (path == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE_AS(kPersistGroup, "CPLPersistFile"), [&](HRESULT& hr) {
            const PLString name(path);
            const std::string native = kd::platform::NativePath(name.c_str());
            const std::string mode = kd::platform::Utf16ToUtf8(m_saveMode.c_str());
            // A mode that empties the file gets the whole new content or nothing (FileReplacement);
            // others (appending, updating, creating a new file only) write the file itself.
            kd::platform::FileReplacement replacement;
            FILE* file = nullptr;
            const bool replaces =
                !mode.empty() && mode[0] == 'w' && mode.substr(0, mode.find(',')).find('x') == mode.npos;
            if (replaces ? replacement.Open(native) != 0 : kd::platform::OpenStdFile(native, mode, &file) != 0) {
                hr = E_FAIL;
                PL_THROW_ERROR_FORMAT(hr, 1, "fopen_s() failed to open file: '%s'", name.c_str());
            }
            if (replaces) file = replacement.File();
            hr = static_cast<Derived*>(this)->SaveToFile(file);
            const bool closed = replaces ? hr >= 0 && replacement.Commit() == 0 : kd::platform::CloseStdFile(file) == 0;
            PL_THROW_ERROR(hr, "Failed to save to file", 0);
            if (!closed) {
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Failed to close the file", 1);
            }
        });
    }

    HRESULT Load(const WCHAR* path, DWORD flags) override {
        if (path == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE_AS(kPersistGroup, "CPLPersistFile"), [&](HRESULT& hr) {
            PLString name(path);
            if ((flags & PL_PERSIST_FILE_NO_READ) == 0) {
                FILE* file = nullptr;
                if (kd::platform::OpenStdFile(kd::platform::NativePath(name.c_str()), "rb", &file) != 0) {
                    hr = E_FAIL;
                    PL_THROW_ERROR_FORMAT(hr, 1, "Failed to open file: '%s'", name.c_str());
                }
                hr = static_cast<Derived*>(this)->LoadFromFile(file);
                kd::platform::CloseStdFile(file);
                PL_THROW_ERROR(hr, "Failed to load from file", 0);
            }
            m_fileFlags = flags;
            m_currentFile = std::move(name);
        });
    }

    HRESULT SetFileFlags(const WCHAR* mode) override {
        if (mode == nullptr) return E_POINTER;
        return ::PLGuard(PL_GUARD_SITE_AS(kPersistGroup, "CPLPersistFile"),
                         [&](HRESULT&) { m_saveMode = PLString(mode); });
    }

protected:
    static constexpr const char* kPersistGroup = "Core";

    CPLPersistFile() = default;
    ~CPLPersistFile() = default;

private:
    DWORD m_fileFlags = 0;
    PLString m_currentFile;
    PLString m_saveMode{u"wb"};
};

#endif  // KD_PLPERSISTFILE_H
