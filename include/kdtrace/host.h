/// \file
/// Host helper: what every host of the module would otherwise write for itself. Header only,
/// C++17, no exceptions thrown and no RTTI needed.
///
/// - kdtrace::host::Module loads `libkdtrace.so.4` (by the same path rules as `kdtrace --module`)
///   and resolves every exported function, or says which one is missing.
/// - kdtrace::host::ComPtr owns one reference to an interface and releases it.
/// - kdtrace::host::ToUtf8 and kdtrace::host::ToUtf16 convert between the module's UTF-16 text
///   and UTF-8 `std::string`.
/// - kdtrace::host::ErrorText turns the calling thread's error list into readable lines.
///
/// \code
/// kdtrace::host::Module module;
/// if (!module.Load()) { std::fprintf(stderr, "%s\n", module.Error().c_str()); return 1; }
/// auto variant = module.Create<IPLVariant>(CLSID_PLVariant);
/// variant->SetValueString(kdtrace::host::ToUtf16("42").c_str());
/// if (FAILED(variant->Convert(PLVariantLong))) std::puts(module.TakeErrorText().c_str());
/// \endcode
#ifndef KDTRACE_HOST_H
#define KDTRACE_HOST_H

#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <kdtrace/kdtrace.h>
#include <kdtrace/msgtable.h>

namespace kdtrace {
/// Helpers for hosts of the module (`<kdtrace/host.h>`).
namespace host {

// ---- text ----

/// UTF-16 text as UTF-8.
/// \param text  the text, zeros included
/// \return its UTF-8 form; a lone surrogate becomes U+FFFD.
inline std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
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

/// Zero-terminated UTF-16 text (as the module's getters fill it) as UTF-8.
/// \param text  the text, or null
/// \return its UTF-8 form; "" for null.
inline std::string ToUtf8(const char16_t* text) {
    return text != nullptr ? ToUtf8(std::u16string_view(text)) : std::string();
}

/// UTF-8 text as UTF-16, for the module's `const WCHAR*` arguments (`ToUtf16(s).c_str()`).
/// \param text  the text, zeros included
/// \return its UTF-16 form. Each byte sequence that is not well-formed UTF-8 (a stray
///         continuation byte, a cut sequence, an overlong form, an encoded surrogate, a value
///         above U+10FFFF) becomes one U+FFFD per maximal ill-formed part, as the Unicode
///         standard recommends.
inline std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        // Length and the range the second byte must fall in (which rules out overlong forms,
        // surrogates and values beyond U+10FFFF).
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t used = 1;
        bool ok = length != 0;
        for (; ok && used < static_cast<std::size_t>(length); ++used) {
            if (i + used >= text.size()) {
                ok = false;
                break;
            }
            const unsigned char next = byte(i + used);
            if (next < (used == 1 ? low : 0x80) || next > (used == 1 ? high : 0xBF)) {
                ok = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        i += used;
        if (!ok) {
            out += u'\uFFFD';
        } else if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

/// An HRESULT as text.
/// \param hr  the code
/// \return its name for the common codes and the module's own ("S_OK", "E_POINTER (0x80004003)"),
///         else the eight hexadecimal digits ("0x80070005").
inline std::string HResultText(HRESULT hr) {
    struct Name {
        HRESULT code;
        const char* name;
    };
    static constexpr Name kNames[] = {{S_OK, "S_OK"},
                                      {S_FALSE, "S_FALSE"},
                                      {E_NOTIMPL, "E_NOTIMPL"},
                                      {E_NOINTERFACE, "E_NOINTERFACE"},
                                      {E_POINTER, "E_POINTER"},
                                      {E_FAIL, "E_FAIL"},
                                      {E_UNEXPECTED, "E_UNEXPECTED"},
                                      {E_INVALIDARG, "E_INVALIDARG"},
                                      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
                                      {PL_E_VERIFY, "PL_E_VERIFY"},
                                      {PL_E_MODULE_NOT_INITIALIZED, "PL_E_MODULE_NOT_INITIALIZED"},
                                      {PL_E_NO_MODULE_PROPERTY_MAP, "PL_E_NO_MODULE_PROPERTY_MAP"},
                                      {PL_E_MESSAGE_NOT_FOUND, "PL_E_MESSAGE_NOT_FOUND"},
                                      {PL_E_LANGUAGE_NOT_FOUND, "PL_E_LANGUAGE_NOT_FOUND"},
                                      {PL_E_BUFFER_TOO_SMALL, "PL_E_BUFFER_TOO_SMALL"},
                                      {PL_E_PROC_NOT_FOUND, "PL_E_PROC_NOT_FOUND"},
                                      {PL_E_INVALID_START_OFFSET, "PL_E_INVALID_START_OFFSET"},
                                      {PL_E_STREAM_ALREADY_OPEN, "PL_E_STREAM_ALREADY_OPEN"},
                                      {PL_E_FILE_NOT_OPEN, "PL_E_FILE_NOT_OPEN"}};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
    for (const Name& n : kNames)
        if (n.code == hr) return hr >= 0 ? std::string(n.name) : std::string(n.name) + " (" + hex + ")";
    return hex;
}

/// A GUID in the module's text form.
/// \param g  the identifier
/// \return 36 characters: upper-case hexadecimal digits in groups of 8-4-4-4-12 joined by
///         hyphens, no braces.
inline std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

/// "Class::Method" from an error's class and method names, naming the class once: the module's
/// methods often carry their class already ("CPLVariant::Convert").
/// \param className  the class, or empty
/// \param method     the method, or empty
/// \return the qualified name.
inline std::string QualifiedName(std::string_view className, std::string_view method) {
    if (className.empty()) return std::string(method);
    if (method.empty()) return std::string(className);
    if (method.size() > className.size() + 2 && method.substr(0, className.size()) == className &&
        method.substr(className.size(), 2) == "::")
        return std::string(method);
    return std::string(className) + "::" + std::string(method);
}

// ---- interface identifiers ----

/// The identifier of interface `I`: `InterfaceId<IPLVariant>::value` is `IID_IPLVariant`.
/// Declared for every interface of `<kdtrace/kdtrace.h>`; another interface does not compile.
/// \tparam I  the interface
template <class I>
struct InterfaceId;

/// \cond KDTRACE_INTERNAL
#define KDTRACE_HOST_INTERFACE(I)                     \
    template <>                                       \
    struct InterfaceId<I> {                           \
        static constexpr const GUID& value = IID_##I; \
    };
KDTRACE_HOST_INTERFACE(IUnknown)
KDTRACE_HOST_INTERFACE(IPLComObject)
KDTRACE_HOST_INTERFACE(IPLSupportRichErrorInfo)
KDTRACE_HOST_INTERFACE(IPLEventSource)
KDTRACE_HOST_INTERFACE(IPLCloneable)
KDTRACE_HOST_INTERFACE(IPLCollectionListener)
KDTRACE_HOST_INTERFACE(IPLErrorInfo)
KDTRACE_HOST_INTERFACE(IPLErrorItem)
KDTRACE_HOST_INTERFACE(IKDXErrorItemCore)
KDTRACE_HOST_INTERFACE(IPLErrorModule)
KDTRACE_HOST_INTERFACE(IPLModule)
KDTRACE_HOST_INTERFACE(IPLFactoryLoader)
KDTRACE_HOST_INTERFACE(IPLModuleInfoFactory)
KDTRACE_HOST_INTERFACE(IPLModuleInfo)
KDTRACE_HOST_INTERFACE(IPLModuleInfoCollection)
KDTRACE_HOST_INTERFACE(IPLTraceModule)
KDTRACE_HOST_INTERFACE(IPLTraceContext)
KDTRACE_HOST_INTERFACE(IPLTraceContextPriv)
KDTRACE_HOST_INTERFACE(IPLTraceListener)
KDTRACE_HOST_INTERFACE(IPLTraceContextCollection)
KDTRACE_HOST_INTERFACE(IPLVariant)
KDTRACE_HOST_INTERFACE(IPLVariantPriv)
KDTRACE_HOST_INTERFACE(IPLVariantCollection)
KDTRACE_HOST_INTERFACE(IPLEnumVariant)
KDTRACE_HOST_INTERFACE(IPLDateTime)
KDTRACE_HOST_INTERFACE(IPLDateTimePriv)
KDTRACE_HOST_INTERFACE(IPLTimeSpan)
KDTRACE_HOST_INTERFACE(IPLCurrency)
KDTRACE_HOST_INTERFACE(IPLMaskedString)
KDTRACE_HOST_INTERFACE(IPLMaskedStringPriv)
KDTRACE_HOST_INTERFACE(IPLPropertyBag)
KDTRACE_HOST_INTERFACE(IPLPersistPropertyBag)
KDTRACE_HOST_INTERFACE(IPLSerializeXML)
KDTRACE_HOST_INTERFACE(IPLPropertyBagListener)
KDTRACE_HOST_INTERFACE(IPLProperty)
KDTRACE_HOST_INTERFACE(IPLPropertyCollection)
KDTRACE_HOST_INTERFACE(IPLPropertyBagCollection)
KDTRACE_HOST_INTERFACE(IPLXMLWriter)
KDTRACE_HOST_INTERFACE(IPLStream)
KDTRACE_HOST_INTERFACE(IPLByteStream)
KDTRACE_HOST_INTERFACE(IPLRefFile)
KDTRACE_HOST_INTERFACE(IPLRefFilePriv)
KDTRACE_HOST_INTERFACE(IPLFileStreamPriv)
KDTRACE_HOST_INTERFACE(IPLFilePage)
KDTRACE_HOST_INTERFACE(IPLPersistFile)
KDTRACE_HOST_INTERFACE(IPLPersistMemory)
KDTRACE_HOST_INTERFACE(IPLPersistStream)
KDTRACE_HOST_INTERFACE(IPLPageData)
KDTRACE_HOST_INTERFACE(IPLPageDataPriv)
KDTRACE_HOST_INTERFACE(IPLPageDataCollection)
#undef KDTRACE_HOST_INTERFACE
/// \endcond

// ---- references ----

/// Owns one reference to an interface of the module (or of any COM-style object) and releases
/// it when destroyed or reset. Copying adds a reference; moving hands it over.
///
/// \code
/// kdtrace::host::ComPtr<IPLTraceContext> context;
/// trace->GetNamedContext(u"printing", context.Put());   // the reference the call gives is ours
/// kdtrace::host::ComPtr<IPLEventSource> events = context.As<IPLEventSource>();
/// \endcode
/// \tparam T  the interface
template <class T>
class ComPtr {
public:
    /// Holds nothing.
    ComPtr() noexcept = default;
    /// Holds nothing.
    /// \param null  nullptr
    ComPtr(std::nullptr_t null) noexcept { (void)null; }  // NOLINT(google-explicit-constructor)
    /// Holds `p` with a reference of its own added (use Adopt() for a reference already owned).
    /// \param p  the interface, or null
    explicit ComPtr(T* p) noexcept : m_p(p) {
        if (m_p != nullptr) m_p->AddRef();
    }
    /// Another reference to what `other` holds.
    /// \param other  the pointer copied
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    /// Takes over `other`'s reference.
    /// \param other  the pointer emptied
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    /// Takes over the reference of a pointer to a derived interface.
    /// \tparam U    the derived interface
    /// \param other  the pointer emptied
    template <class U, std::enable_if_t<std::is_convertible_v<U*, T*>, int> = 0>
    ComPtr(ComPtr<U>&& other) noexcept : m_p(other.Detach()) {}  // NOLINT(google-explicit-constructor)
    /// Releases the reference held.
    ~ComPtr() { Reset(); }
    /// Holds what `other` holds, with a reference of its own.
    /// \param other  the pointer copied
    /// \return this pointer.
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    /// Takes over `other`'s reference.
    /// \param other  the pointer emptied
    /// \return this pointer.
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    /// Takes over a reference the caller already owns (one a creation or getter handed out).
    /// \param p  the interface, or null
    /// \return a pointer holding it.
    static ComPtr Adopt(T* p) noexcept {
        ComPtr ptr;
        ptr.m_p = p;
        return ptr;
    }
    /// Gives up the reference without releasing it.
    /// \return the pointer, whose reference the caller now owns.
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    /// Releases the reference held, if any.
    void Reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    /// Exchanges what two pointers hold.
    /// \param other  the other pointer
    void Swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

    /// The pointer held, for passing on (no reference added).
    /// \return it, or null.
    T* Get() const noexcept { return m_p; }
    /// The pointer held, for calling its methods.
    /// \return it.
    T* operator->() const noexcept { return m_p; }
    /// Whether a pointer is held.
    /// \return true unless null.
    explicit operator bool() const noexcept { return m_p != nullptr; }
    /// For an out parameter (`T**`) that hands out a reference: releases what is held.
    /// \return the slot, which then owns what the call writes.
    T** Put() noexcept {
        Reset();
        return &m_p;
    }
    /// Put() as `void**`, for QueryInterface and PLCreateInstance.
    /// \return the slot.
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    /// The same object asked for another interface (QueryInterface).
    /// \tparam U  the interface wanted
    /// \return a pointer holding it; null when the object does not answer it, or when nothing
    ///         is held.
    template <class U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> out;
        if (m_p != nullptr) m_p->QueryInterface(InterfaceId<U>::value, out.PutVoid());
        return out;
    }

    /// Whether two pointers hold the same interface pointer.
    /// \param a  one pointer
    /// \param b  the other
    /// \return true when equal.
    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p == b.m_p; }
    /// Whether two pointers hold different interface pointers.
    /// \param a  one pointer
    /// \param b  the other
    /// \return true when different.
    friend bool operator!=(const ComPtr& a, const ComPtr& b) noexcept { return a.m_p != b.m_p; }

private:
    T* m_p = nullptr;
};

// ---- errors ----

/// \cond KDTRACE_INTERNAL
namespace detail {
// One text of an error item through a getter that cuts to the buffer and says S_FALSE when cut.
template <class Getter>
std::string ItemText(IPLErrorItem* item, Getter getter) {
    std::vector<char16_t> buffer(256);
    for (;;) {
        const HRESULT hr = (item->*getter)(buffer.data(), static_cast<LONG>(buffer.size()));
        if (hr != S_FALSE || buffer.size() >= (std::size_t{1} << 24)) return hr >= 0 ? ToUtf8(buffer.data()) : "";
        buffer.assign(buffer.size() * 4, 0);
    }
}
}  // namespace detail
/// \endcond

/// The items of an error list as text, newest first (the failing call, then the errors it
/// stems from), one line each:
/// `E_FAIL (0x80004005) CPLVariant::Convert: Failed to convert string to long [module_base/PLVariant.cpp:812]`.
/// \param errors  the list (PLGetLastError, GetThreadError), or null
/// \return the lines; "" for an empty or null list.
inline std::string ErrorText(IPLErrorInfo* errors) {
    std::string out;
    LONG count = 0;
    if (errors == nullptr || FAILED(errors->GetCount(&count))) return out;
    for (LONG i = 0; i < count; ++i) {
        ComPtr<IPLErrorItem> item;
        if (FAILED(errors->GetItem(i, item.Put())) || !item) continue;
        HRESULT result = S_OK;
        ULONG line = 0;
        item->GetHRESULT(&result);
        item->GetSourceLine(&line);
        out += HResultText(result) + ' ';
        out += QualifiedName(detail::ItemText(item.Get(), &IPLErrorItem::GetClassName),
                             detail::ItemText(item.Get(), &IPLErrorItem::GetMethodName));
        out += ": " + detail::ItemText(item.Get(), &IPLErrorItem::GetMessage);
        const std::string file = detail::ItemText(item.Get(), &IPLErrorItem::GetSourceFile);
        if (!file.empty()) out += " [" + file + (line != 0 ? ":" + std::to_string(line) : std::string()) + "]";
        out += '\n';
    }
    return out;
}

// ---- the module ----

/// \cond KDTRACE_INTERNAL
// Every function the module exports, as (name) entries; Module has one member per entry.
#define KDTRACE_HOST_EXPORTS(X)      \
    X(GetPLModule)                   \
    X(GetImplementedModules)         \
    X(PLCreateInstance)              \
    X(PLGetLastError)                \
    X(PLClearThreadErrors)           \
    X(GetThreadError)                \
    X(GetThreadErrorSuspensionState) \
    X(SetThreadErrorSuspensionState) \
    X(PLCreateStreamOnBytes)         \
    X(PLCreateStreamOnOwnedBytes)    \
    X(PLGlobalLock)                  \
    X(PLGlobalUnlock)                \
    X(PLGlobalSize)                  \
    X(PLGlobalFree)                  \
    X(PLSignPropertyString)          \
    X(PLVerifySignedPropertyString)  \
    X(PLConvertDataToHex)            \
    X(PLConvertHexToData)            \
    X(PLCreatePropertyBag)           \
    X(CreateXMLFromPropertyBag)      \
    X(RestorePropertyBagFromXML)
/// \endcond

/// The module's file name: the run-time name of its ABI version 4.
inline constexpr const char* kModuleFileName = "libkdtrace.so.4";

/// The loaded module and its exported functions.
///
/// Load() opens the module with `dlopen` and looks up every export; each is then a member of the
/// same name (`module.PLCreateInstance(...)`). The module stays loaded when the Module object
/// goes, so that interfaces released later (a static ComPtr, say) still find their code; Close()
/// unloads it on purpose, once every interface obtained from it has been released. A host that
/// links the module instead (`kdtrace::kdtrace` in CMake) uses Linked(), which takes the linked
/// functions.
class Module {
public:
    /// Not loaded.
    Module() = default;
    /// Leaves the module loaded (see Close()).
    ~Module() = default;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    /// Takes over a loaded module.
    /// \param other  emptied
    Module(Module&& other) noexcept { *this = std::move(other); }
    /// Takes over `other`'s module (the one held before stays loaded).
    /// \param other  emptied
    /// \return this object.
    Module& operator=(Module&& other) noexcept {
        if (this != &other) {
            m_handle = std::exchange(other.m_handle, nullptr);
            m_path = std::move(other.m_path);
            m_error = std::move(other.m_error);
#define KDTRACE_HOST_MOVE(name) name = std::exchange(other.name, nullptr);
            KDTRACE_HOST_EXPORTS(KDTRACE_HOST_MOVE)
#undef KDTRACE_HOST_MOVE
        }
        return *this;
    }

    /// The path Load() uses when given none, the rule `kdtrace --module` follows:
    /// `$KDTRACE_MODULE` when set and not empty; else `../lib/libkdtrace.so.4` beside the
    /// running program when that file exists (the layout of an installation and of a build
    /// tree); else `libkdtrace.so.4`, which the loader looks for on its own search path.
    /// \return the path.
    static std::string DefaultPath() {
        if (const char* env = std::getenv("KDTRACE_MODULE"); env != nullptr && *env != 0) return env;
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            std::string dir(exe, static_cast<std::size_t>(n));
            dir.erase(dir.rfind('/'));
            const std::string beside = dir + "/../lib/" + kModuleFileName;
            if (::access(beside.c_str(), R_OK) == 0) return beside;
        }
        return kModuleFileName;
    }

    /// Loads the module from `path` (DefaultPath() when empty) and resolves every export. A module
    /// this object loaded before is closed first.
    /// \param path  the module file; a name without "/" is looked for on the loader's path.
    /// \return true when loaded; false with Error() telling why (the loader's message, or the
    ///         export that is missing), the module then not loaded.
    bool Load(const std::string& path = std::string()) {
        Close();
        m_path = path.empty() ? DefaultPath() : path;
        m_error.clear();
        void* handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* message = ::dlerror();
            m_error = "cannot load " + m_path + ": " + (message != nullptr ? message : "unknown error");
            return false;
        }
        std::string missing;
#define KDTRACE_HOST_RESOLVE(name)                               \
    name = reinterpret_cast<PFN_##name>(::dlsym(handle, #name)); \
    if (name == nullptr) missing += missing.empty() ? #name : ", " #name;
        KDTRACE_HOST_EXPORTS(KDTRACE_HOST_RESOLVE)
#undef KDTRACE_HOST_RESOLVE
        if (!missing.empty()) {
            m_error = m_path + " does not export " + missing +
                      " (a module older than these headers, or not the kdtrace module)";
            ::dlclose(handle);
            ClearExports();
            return false;
        }
        m_handle = handle;
        return true;
    }

    /// A Module over the functions of a module the host links (`-lkdtrace`, or `kdtrace::kdtrace`
    /// in CMake) rather than loads. Closing it closes nothing. (A template, so that a host that
    /// loads the module never refers to the functions at link time.)
    /// \return the Module.
    template <int = 0>
    static Module Linked() {
        Module module;
#define KDTRACE_HOST_LINK(name) module.name = &KDTRACE_NS::name;
        KDTRACE_HOST_EXPORTS(KDTRACE_HOST_LINK)
#undef KDTRACE_HOST_LINK
        module.m_path = "(linked)";
        return module;
    }

    /// Unloads a module that Load() opened, when nothing else holds it: release every interface
    /// obtained from it first. The functions are then gone.
    void Close() {
        if (m_handle != nullptr) ::dlclose(m_handle);
        m_handle = nullptr;
        ClearExports();
    }

    /// Whether the functions are there (loaded or linked).
    /// \return true when they are.
    bool IsLoaded() const {
        return GetPLModule != nullptr;
    }
    /// The `dlopen` handle.
    /// \return it, or null.
    void* Handle() const {
        return m_handle;
    }
    /// The path loaded (or last tried).
    /// \return the path.
    const std::string& Path() const {
        return m_path;
    }
    /// Why the last Load() failed.
    /// \return the message, "" after a success.
    const std::string& Error() const {
        return m_error;
    }

    /// A new object of class `clsid`, asked for interface `T`, into `out`.
    /// \tparam T     the interface wanted
    /// \param clsid  the class
    /// \param out    receives the object
    /// \return the creation's result: E_FAIL for a class the module does not register,
    ///         E_NOINTERFACE when the class does not answer `T`.
    template <class T>
    HRESULT CreateInstance(REFCLSID clsid, ComPtr<T>& out) const {
        return PLCreateInstance(clsid, InterfaceId<T>::value, out.PutVoid());
    }
    /// A new object of a class.
    /// \tparam T     the interface wanted
    /// \param clsid  the class
    /// \return a pointer holding the object; null when it cannot be made (the reason is in
    ///         the thread's error list: TakeErrorText()).
    template <class T>
    ComPtr<T> Create(REFCLSID clsid) const {
        ComPtr<T> out;
        CreateInstance(clsid, out);
        return out;
    }

    /// The module object of the trace services, initialised (InitModule), as IPLTraceModule.
    /// \param result  receives the result of the steps, when not null
    /// \return the trace module; null when a step fails.
    ComPtr<IPLTraceModule> OpenTraceModule(HRESULT* result = nullptr) const {
        ComPtr<IPLModule> module;
        HRESULT hr = GetPLModule(MODULEID_PLTraceServices, module.Put());
        if (SUCCEEDED(hr)) hr = module->InitModule();
        ComPtr<IPLTraceModule> trace;
        if (SUCCEEDED(hr)) hr = module->QueryInterface(IID_IPLTraceModule, trace.PutVoid());
        if (result != nullptr) *result = hr;
        return trace;
    }

    /// The calling thread's error list as text (ErrorText), taken from the thread: the list is
    /// empty afterwards.
    /// \return the lines; "" when nothing was recorded.
    std::string TakeErrorText() const {
        ComPtr<IPLErrorInfo> errors;
        if (PLGetLastError == nullptr || FAILED(PLGetLastError(errors.Put()))) return std::string();
        return ErrorText(errors.Get());
    }

/// \cond KDTRACE_INTERNAL
#define KDTRACE_HOST_MEMBER(name) PFN_##name name = nullptr;
    KDTRACE_HOST_EXPORTS(KDTRACE_HOST_MEMBER)
#undef KDTRACE_HOST_MEMBER
    /// \endcond

private:
    void ClearExports() {
#define KDTRACE_HOST_CLEAR(name) name = nullptr;
        KDTRACE_HOST_EXPORTS(KDTRACE_HOST_CLEAR)
#undef KDTRACE_HOST_CLEAR
    }

    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};

#undef KDTRACE_HOST_EXPORTS

}  // namespace host
}  // namespace kdtrace

#endif  // KDTRACE_HOST_H
