// Host-side objects a host hands to the module: module descriptions, their list and the factory
// that makes them; plus the tests' way of loading the module (which keeps its handle open to the
// caller).
#ifndef KDTRACE_TOOLS_HOST_OBJECTS_H
#define KDTRACE_TOOLS_HOST_OBJECTS_H

#include <dlfcn.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

namespace kdhost {

// Text helpers of the installed host header.
using kdtrace::host::GuidText;
using kdtrace::host::HResultText;

inline std::string Narrow(const char16_t* text) {
    return kdtrace::host::ToUtf8(text);
}
inline std::u16string Widen(const std::string& text) {
    return kdtrace::host::ToUtf16(text);
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
