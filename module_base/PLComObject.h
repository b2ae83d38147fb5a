// The reference-counted object base, the interface map that gives every class its
// QueryInterface, AddRef and Release, the smart pointer that owns references inside the library,
// and the creator template that makes objects for the class-factory map.
//
// A concrete class derives from CPLComObject<CPLReleaseModel> first, then from implementation
// bases, then from its interfaces, and lists its interfaces once:
//
//   class CPLThing : public CPLComObject<CPLReleaseModel>, public IPLThing, public IPLOther {
//       PL_BEGIN_INTERFACE_MAP(CPLThing, IPLThing)   // IUnknown is answered with IPLThing
//       PL_INTERFACE_ENTRY(IPLThing)
//       PL_INTERFACE_ENTRY(IPLOther)
//       PL_END_INTERFACE_MAP()                        // then IPLComObject, IPLSupportRichErrorInfo
//   public:
//       ...
//   protected:
//       ~CPLThing() override;                         // objects end through Release only
//   };
//   PL_REGISTER_CLASS(CPLThing, CLSID_PLThing);       // in the source file
//
// The map comes first in the class and leaves it public; the class's own access specifier
// follows it. It gives the class GetInterfaceID (the main interface's identifier) and GetClassID
// (the identifier PL_REGISTER_CLASS registers it under, or PL_UNREGISTERED_CLASS's all-zero one).
#ifndef KD_PLCOMOBJECT_H
#define KD_PLCOMOBJECT_H

#include <atomic>
#include <cassert>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include <kdtrace/error.h>
#include <kdtrace/exports.h>
#include <kdtrace/object.h>
#include <kdtrace/types.h>

#include "module_base/PLInterfaceId.h"

// The release model: atomic changes of the count.
struct CPLReleaseModel {
    static ULONG Increment(std::atomic<int32_t>& count) noexcept {
        return static_cast<ULONG>(count.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    // Returns the count before the decrement.
    static int32_t Decrement(std::atomic<int32_t>& count) noexcept {
        return count.fetch_sub(1, std::memory_order_acq_rel);
    }
};

// Hands out the calling thread's error list.
class CPLSupportRichErrorInfo : public IPLSupportRichErrorInfo {
public:
    HRESULT GetErrorInfo(IPLErrorInfo** errorInfo) override { return PLGetLastError(errorInfo); }
};

template <class ReleaseModel = CPLReleaseModel>
class CPLComObject : public IPLComObject, public CPLSupportRichErrorInfo {
public:
    using PLComBase = CPLComObject<ReleaseModel>;

    CPLComObject() noexcept = default;
    CPLComObject(const CPLComObject&) = delete;
    CPLComObject& operator=(const CPLComObject&) = delete;

    // Concrete classes replace these three through their interface map.
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return InternalAddRef(); }
    ULONG Release() override { return InternalRelease(); }

    HRESULT InitObject() override { return S_OK; }
    HRESULT GetObjectText(WCHAR* buffer, LONG size) override {
        if (buffer == nullptr) return E_POINTER;
        if (size < 1) return E_INVALIDARG;
        buffer[0] = 0;
        return S_OK;
    }
    HRESULT GetClassID(GUID* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        *clsid = GUID_NULL;
        return S_FALSE;
    }
    void DeleteObject(ULONG flags) override {
        if (flags & 1)
            delete this;
        else
            this->~CPLComObject();
    }
    ULONG InternalAddRef() override { return ReleaseModel::Increment(m_refCount); }
    ULONG InternalRelease() override {
        const int32_t before = ReleaseModel::Decrement(m_refCount);
        // A release without a reference to drop: of a live object's last one, or of the one a
        // destructor took for itself.
        assert(before != 0 && before != kDestroyingCount && "released more often than referenced");
        if (before == 1) {
            // Guards against a destructor that takes and drops a reference of its own.
            m_refCount.store(kDestroyingCount, std::memory_order_relaxed);
            DeleteObject(1);
            return 0;
        }
        return static_cast<ULONG>(before - 1);
    }

    int32_t GetRefCountForTesting() const noexcept { return m_refCount.load(std::memory_order_relaxed); }

protected:
    // Objects end through Release only.
    virtual ~CPLComObject() = default;

private:
    static constexpr int32_t kDestroyingCount = -100;
    std::atomic<int32_t> m_refCount{0};
};

// ---- the interface map ----

struct PLInterfaceMapEntry {
    const IID* iid;
    void* (*cast)(void* self) noexcept;  // the most-derived object to the interface's sub-object
};

// Finds `iid` in a null-terminated map; adds a reference through the returned pointer. Leaves
// `object` untouched when nothing matches. Not noexcept: `iid` and `object` are the caller's,
// and inside a guarded method an unreadable one must arrive at its edge as a translated fault.
HRESULT PLQueryInterfaceFromMap(void* self, const PLInterfaceMapEntry* map, REFIID iid, void** object);

// Writes an identifier to an out parameter: E_POINTER for a null one.
inline HRESULT PLWriteIdentifier(GUID* out, const GUID& value, HRESULT result) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return result;
}
// A class's identifier: S_FALSE for the all-zero one (a class registered without identifier).
inline HRESULT PLWriteClassID(GUID* out, const CLSID& clsid) noexcept {
    return PLWriteIdentifier(out, clsid, clsid == GUID_NULL ? S_FALSE : S_OK);
}

// clang-format off
#define PL_INTERFACE_ENTRY_IID(iid, Interface)                                                \
    PLInterfaceMapEntry{&(iid), [](void* self) noexcept -> void* {                            \
        return static_cast<Interface*>(static_cast<PLThisClass*>(self));                      \
    }},
#define PL_INTERFACE_ENTRY(Interface) PL_INTERFACE_ENTRY_IID(PLIidOf<Interface>, Interface)

#define PL_BEGIN_INTERFACE_MAP(Class, MainInterface)                                          \
public:                                                                                       \
    using PLThisClass = Class;                                                                \
    static const CLSID& PLClassID() noexcept;                                                 \
    HRESULT QueryInterface(REFIID iid, void** object) override {                              \
        return ::PLQueryInterfaceFromMap(static_cast<void*>(this), PLInterfaceMap(), iid,     \
                                         object);                                             \
    }                                                                                         \
    ULONG AddRef() override { return this->InternalAddRef(); }                                \
    ULONG Release() override { return this->InternalRelease(); }                              \
    HRESULT GetInterfaceID(GUID* iid) override {                                              \
        return ::PLWriteIdentifier(iid, PLIidOf<MainInterface>, S_OK);                        \
    }                                                                                         \
    HRESULT GetClassID(GUID* clsid) override { return ::PLWriteClassID(clsid, PLClassID()); } \
    static const PLInterfaceMapEntry* PLInterfaceMap() noexcept {                             \
        static constexpr PLInterfaceMapEntry kMap[] = {                                       \
            PL_INTERFACE_ENTRY_IID(IID_IUnknown, MainInterface)

#define PL_END_INTERFACE_MAP()                                                                \
            PLInterfaceMapEntry{&IID_IPLComObject, [](void* self) noexcept -> void* {         \
                return static_cast<IPLComObject*>(static_cast<typename PLThisClass::PLComBase*>(  \
                    static_cast<PLThisClass*>(self)));                                        \
            }},                                                                               \
            PLInterfaceMapEntry{&IID_IPLSupportRichErrorInfo, [](void* self) noexcept -> void* { \
                return static_cast<IPLSupportRichErrorInfo*>(                                 \
                    static_cast<typename PLThisClass::PLComBase*>(static_cast<PLThisClass*>(self))); \
            }},                                                                               \
            PLInterfaceMapEntry{nullptr, nullptr}};                                           \
        return kMap;                                                                          \
    }
// clang-format on

// ---- smart pointer ----

template <class T>
class PLComPtr {
public:
    PLComPtr() noexcept = default;
    PLComPtr(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor)
    explicit PLComPtr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    PLComPtr(const PLComPtr& other) noexcept : PLComPtr(other.m_p) {}
    PLComPtr(PLComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    // From a pointer to a derived interface, whose reference it takes over.
    template <class U, std::enable_if_t<std::is_convertible_v<U*, T*>, int> = 0>
    PLComPtr(PLComPtr<U>&& other) noexcept : m_p(other.Detach()) {}  // NOLINT(google-explicit-constructor)
    ~PLComPtr() { Reset(); }
    PLComPtr& operator=(const PLComPtr& other) noexcept {
        PLComPtr(other).Swap(*this);
        return *this;
    }
    PLComPtr& operator=(PLComPtr&& other) noexcept {
        PLComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    PLComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Takes over a reference the caller already owns.
    static PLComPtr Adopt(T* p) noexcept {
        PLComPtr ptr;
        ptr.m_p = p;
        return ptr;
    }
    void Attach(T* p) noexcept {
        Reset();
        m_p = p;
    }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    void Reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    void Swap(PLComPtr& other) noexcept { std::swap(m_p, other.m_p); }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** Put() noexcept {
        Reset();
        return &m_p;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // Hands a new reference to an out parameter.
    HRESULT CopyTo(T** out) const noexcept {
        if (out == nullptr) return E_POINTER;
        *out = m_p;
        if (m_p) m_p->AddRef();
        return S_OK;
    }
    // Queries for U under U's own identifier.
    template <class U>
    HRESULT As(PLComPtr<U>& out) const noexcept {
        if (m_p == nullptr) return E_POINTER;
        return m_p->QueryInterface(PLIidOf<U>, out.PutVoid());
    }

    friend bool operator==(const PLComPtr& a, const PLComPtr& b) noexcept { return a.m_p == b.m_p; }

private:
    T* m_p = nullptr;
};

// ---- creation ----

// The creator every creatable class registers: makes the object (reference count 0) and returns
// its QueryInterface result, which adds the first reference. An object whose query fails holds
// no reference and is destroyed at once. The creation argument is not used.
// (Not noexcept, for the same reason as PLQueryInterfaceFromMap.)
template <class T>
HRESULT PLCreateObject(REFIID iid, void* /*argument*/, void** object) {
    // As XPCOM's MOZ_ASSERT_TYPE_OK_FOR_REFCOUNTING: an object anyone may delete is an object
    // whose count can be bypassed.
    static_assert(!std::is_destructible_v<T>, "a reference-counted class needs a non-public destructor");
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    T* instance = nullptr;
    try {
        instance = new T();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = E_NOINTERFACE;
    try {
        hr = instance->QueryInterface(iid, object);
    } catch (...) {
        instance->DeleteObject(1);
        throw;
    }
    if (hr < 0) {
        *object = nullptr;
        instance->DeleteObject(1);
    }
    return hr;
}

// Creates an object of class `clsid` through the class-factory map into `out`, queried under
// T's own identifier.
template <class T>
HRESULT PLCreateInstance(REFCLSID clsid, PLComPtr<T>& out) {
    return ::PLCreateInstance(clsid, PLIidOf<T>, out.PutVoid());
}

// For a class with an interface map that is not created by class identifier: GetClassID answers
// the all-zero identifier with S_FALSE.
#define PL_UNREGISTERED_CLASS(Class)           \
    const CLSID& Class::PLClassID() noexcept { \
        return GUID_NULL;                      \
    }

#endif  // KD_PLCOMOBJECT_H
