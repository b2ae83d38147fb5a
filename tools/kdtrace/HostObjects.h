// Host-side objects a host hands to the module: module descriptions, their list and the factory
// that makes them; plus small helpers for UTF-16 text and loading the module.
#ifndef KDTRACE_TOOLS_HOST_OBJECTS_H
#define KDTRACE_TOOLS_HOST_OBJECTS_H

#include <dlfcn.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

namespace kdhost {

// UTF-16 to UTF-8 for printing.
inline std::string Narrow(const char16_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = '?';
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// ASCII/UTF-8 (BMP) to UTF-16.
inline std::u16string Widen(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c = b;
        int extra = 0;
        if (b >= 0xF0)
            c = b & 0x07, extra = 3;
        else if (b >= 0xE0)
            c = b & 0x0F, extra = 2;
        else if (b >= 0xC0)
            c = b & 0x1F, extra = 1;
        ++i;
        for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = (c << 6) | (text[i] & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

inline std::string HResultText(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return hr == S_OK ? "S_OK" : hr == S_FALSE ? "S_FALSE" : buf;
}

inline std::string GuidText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// Reference counting shared by the host objects below.
template <class Interface>
class HostObject : public Interface {
public:
    virtual ~HostObject() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == InterfaceId()) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }

protected:
    virtual const IID& InterfaceId() const = 0;

private:
    std::atomic<ULONG> m_refs{1};
};

class ModuleInfo : public HostObject<IPLModuleInfo> {
public:
    enum Field { ModuleName, ObjectName, FriendlyName, ModuleId, ApiVersion, DbVersion, CoreApiVersion, kFields };
    HRESULT SetModuleInfo(const WCHAR* moduleName, const WCHAR* objectName, const WCHAR* friendlyName,
                          const WCHAR* moduleId, const WCHAR* apiVersion, const WCHAR* dbVersion,
                          const WCHAR* coreApiVersion) override {
        const WCHAR* values[kFields] = {moduleName, objectName, friendlyName,  moduleId,
                                        apiVersion, dbVersion,  coreApiVersion};
        for (int i = 0; i < kFields; ++i) fields[i] = values[i] != nullptr ? values[i] : u"";
        ++setCalls;
        return S_OK;
    }
    std::array<std::u16string, kFields> fields;
    int setCalls = 0;

protected:
    const IID& InterfaceId() const override { return IID_IPLModuleInfo; }
};

class ModuleInfoCollection : public HostObject<IPLModuleInfoCollection> {
public:
    ~ModuleInfoCollection() override { RemoveAll(); }
    HRESULT GetCount(LONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = static_cast<LONG>(items.size());
        return S_OK;
    }
    HRESULT GetAt(LONG index, IPLModuleInfo** item) override {
        if (item == nullptr) return E_POINTER;
        if (index < 0 || index >= static_cast<LONG>(items.size())) return E_INVALIDARG;
        *item = items[static_cast<std::size_t>(index)];
        (*item)->AddRef();
        return S_OK;
    }
    HRESULT RemoveAll() override {
        for (IPLModuleInfo* item : items) item->Release();
        items.clear();
        return S_OK;
    }
    HRESULT Reserved(void*) override { return E_NOTIMPL; }
    HRESULT AddModuleInfo(IPLModuleInfo* item) override {
        if (item == nullptr) return E_POINTER;
        item->AddRef();
        items.push_back(item);
        ++addCalls;
        return S_OK;
    }
    std::vector<IPLModuleInfo*> items;
    int addCalls = 0;

protected:
    const IID& InterfaceId() const override { return IID_IPLModuleInfoCollection; }
};

class ModuleInfoFactory : public HostObject<IPLModuleInfoFactory> {
public:
    HRESULT CreateModuleInfo(IPLModuleInfo** item) override {
        ++infoCalls;
        if (item == nullptr) return E_POINTER;
        if (failInfo) return E_OUTOFMEMORY;
        *item = new ModuleInfo();
        return S_OK;
    }
    HRESULT CreateModuleInfoCollection(IPLModuleInfoCollection** collection) override {
        ++collectionCalls;
        if (collection == nullptr) return E_POINTER;
        if (failCollection) return E_OUTOFMEMORY;
        *collection = new ModuleInfoCollection();
        return S_OK;
    }
    int infoCalls = 0;
    int collectionCalls = 0;
    bool failInfo = false;
    bool failCollection = false;

protected:
    const IID& InterfaceId() const override { return IID_IPLModuleInfoFactory; }
};

// The module's exported functions, looked up with dlsym.
struct ModuleApi {
    void* handle = nullptr;
    PFN_GetPLModule GetPLModule = nullptr;
    PFN_GetImplementedModules GetImplementedModules = nullptr;
    PFN_PLCreateInstance PLCreateInstance = nullptr;
    PFN_PLGetLastError PLGetLastError = nullptr;
    PFN_PLClearThreadErrors PLClearThreadErrors = nullptr;
    PFN_GetThreadError GetThreadError = nullptr;
    PFN_GetThreadErrorSuspensionState GetThreadErrorSuspensionState = nullptr;
    PFN_SetThreadErrorSuspensionState SetThreadErrorSuspensionState = nullptr;

    // Loads the module; on failure returns false with the loader's message in `error`.
    bool Load(const std::string& path, std::string& error) {
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* message = ::dlerror();
            error = message != nullptr ? message : "cannot load " + path;
            return false;
        }
        GetPLModule = reinterpret_cast<PFN_GetPLModule>(::dlsym(handle, "GetPLModule"));
        GetImplementedModules = reinterpret_cast<PFN_GetImplementedModules>(::dlsym(handle, "GetImplementedModules"));
        PLCreateInstance = reinterpret_cast<PFN_PLCreateInstance>(::dlsym(handle, "PLCreateInstance"));
        PLGetLastError = reinterpret_cast<PFN_PLGetLastError>(::dlsym(handle, "PLGetLastError"));
        PLClearThreadErrors = reinterpret_cast<PFN_PLClearThreadErrors>(::dlsym(handle, "PLClearThreadErrors"));
        GetThreadError = reinterpret_cast<PFN_GetThreadError>(::dlsym(handle, "GetThreadError"));
        GetThreadErrorSuspensionState =
            reinterpret_cast<PFN_GetThreadErrorSuspensionState>(::dlsym(handle, "GetThreadErrorSuspensionState"));
        SetThreadErrorSuspensionState =
            reinterpret_cast<PFN_SetThreadErrorSuspensionState>(::dlsym(handle, "SetThreadErrorSuspensionState"));
        if (GetPLModule == nullptr || GetImplementedModules == nullptr) {
            error = path + " does not export GetPLModule and GetImplementedModules";
            return false;
        }
        return true;
    }
};

}  // namespace kdhost

#endif  // KDTRACE_TOOLS_HOST_OBJECTS_H
