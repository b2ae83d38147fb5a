// Error records, the throw functions, the catch clauses, recording, and the thread error
// functions with their fallback store.
#include <cxxabi.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLDiagnostics.h"
#include "module_base/PLError.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLThreadErrorStore.h"
#include "module_base/PLVersion.h"
#include "platform/Probes.h"
#include "platform/Text.h"
#include "platform/Thread.h"

// ---- PL_ERROR ----

PL_ERROR::PL_ERROR(HRESULT hr, ULONG line, const PLString& functionName, const PLString& file)
    : result(hr),
      message(PLWiden(kPLGeneralErrorMessage)),
      errorFlag(0),
      sourceFile(file),
      function(functionName),
      sourceLine(line) {}

PL_ERROR::PL_ERROR(HRESULT hr, const PLString& text, ULONG flag, ULONG line, const PLString& functionName,
                   const PLString& file)
    : result(hr), message(text), errorFlag(flag), sourceFile(file), function(functionName), sourceLine(line) {}

PLString PLWiden(const char* text) {
    if (text == nullptr || *text == 0) return PLString();
    return PLString::FromUtf8(text);
}

// ---- throw functions ----

void PLThrowIfFailed(HRESULT hr, ULONG line, const char* function, const char* file) {
    if (hr >= 0) return;
    throw PL_ERROR(hr, line, PLWiden(function), PLWiden(file));
}

PL_ERROR PLMakeError(HRESULT hr, const char* message, ULONG errorFlag, ULONG line, const char* function,
                     const char* file) {
    return PL_ERROR(hr, PLWiden(message), errorFlag, line, PLWiden(function), PLWiden(file));
}

void PLThrowError(HRESULT hr, const char* message, ULONG errorFlag, ULONG line, const char* function,
                  const char* file) {
    if (hr >= 0) return;
    throw PLMakeError(hr, message, errorFlag, line, function, file);
}

void PLThrowErrorW(HRESULT hr, const WCHAR* message, ULONG errorFlag, ULONG line, const char* function,
                   const char* file) {
    if (hr >= 0) return;
    throw PL_ERROR(hr, PLString(message), errorFlag, line, PLWiden(function), PLWiden(file));
}

void PLThrowErrorFormatV(HRESULT hr, ULONG errorFlag, ULONG line, const char* function, const char* file,
                         const char* format, kd::platform::FormatArgs args) {
    if (hr >= 0) return;
    std::u16string text;
    if (format != nullptr) kd::platform::FormatAppend(text, std::string_view(format), args);
    // The formatted text goes through narrow text like every other message (what narrow text
    // cannot hold, an unpaired surrogate, becomes "?"), then is widened again.
    const std::string narrow = kd::platform::Utf16ToUtf8(text);
    PLThrowError(hr, narrow.c_str(), errorFlag, line, function, file);
}

void PLThrowHResult(HRESULT hr) {
    if (hr >= 0) return;
    throw hr;
}

void PLThrowRichError(HRESULT hr, IUnknown* object) {
    if (hr >= 0 || object == nullptr) return;
    IPLSupportRichErrorInfo* rich = nullptr;
    if (object->QueryInterface(IID_IPLSupportRichErrorInfo, reinterpret_cast<void**>(&rich)) >= 0 && rich != nullptr)
        throw rich;
    throw hr;
}

void PLVerify(bool condition) {
    if (!condition) PLThrowIfFailed(PL_E_VERIFY, __LINE__, "__verify", __FILE__);
}

// ---- recording ----

namespace {

std::atomic<LONG> g_suspensionOverride{0};

// Recording may itself fail in ways that record (creating an error item through a missing
// factory, say). A nested recording on the same thread is dropped instead of recursing.
thread_local bool t_recording = false;

class RecordingScope {
public:
    RecordingScope() noexcept : m_entered(!t_recording) { t_recording = true; }
    ~RecordingScope() {
        if (m_entered) t_recording = false;
    }
    bool Entered() const noexcept { return m_entered; }

private:
    bool m_entered;
};

// The error probe, with every text as UTF-8 (made only while a tool watches it). Without the
// memory for them the probe is skipped: it never changes what recording does.
void ProbeError(const WCHAR* group, const WCHAR* className, const WCHAR* method, HRESULT result, const WCHAR* message,
                const WCHAR* sourceFile, ULONG sourceLine) noexcept {
    try {
        const auto utf8 = [](const WCHAR* text) {
            return kd::platform::Utf16ToUtf8(text == nullptr ? std::u16string_view() : std::u16string_view(text));
        };
        const std::string groupText = utf8(group), classText = utf8(className), methodText = utf8(method),
                          messageText = utf8(message), fileText = utf8(sourceFile);
        KD_PROBE_ERROR(result, groupText.c_str(), classText.c_str(), methodText.c_str(), messageText.c_str(),
                       fileText.c_str(), sourceLine);
    } catch (...) {
    }
}

HRESULT RecordImpl(const WCHAR* group, const WCHAR* className, const WCHAR* method, HRESULT result, LONG messageType,
                   const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile, ULONG sourceLine) noexcept {
    RecordingScope scope;
    if (!scope.Entered()) return S_FALSE;
    try {
        BOOL suspended = FALSE;
        const HRESULT query = GetThreadErrorSuspensionState(&suspended);
        if (query < 0) return query;
        if (suspended && g_suspensionOverride.load(std::memory_order_relaxed) == 0) return query;
        IPLErrorInfo* list = nullptr;
        if (GetThreadError(&list) >= 0 && list != nullptr) {
            list->AddError(group, className, method, result, messageType, message, errorFlag, sourceFile, sourceLine);
            list->Release();
        }
        if (KD_PROBE_ENABLED(error)) ProbeError(group, className, method, result, message, sourceFile, sourceLine);
        return PLWriteDiagnosticError(group, className, method, result, messageType, message, sourceFile, sourceLine);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

const WCHAR* OrEmpty(const WCHAR* s) noexcept {
    return s == nullptr ? u"" : s;
}

// A narrow name (module group, class, method) as wide text for the length of a call: short ASCII
// names, which is what they nearly always are, are widened on the stack without allocating.
class NarrowName {
public:
    explicit NarrowName(const char* text) {
        std::size_t n = 0;
        if (text != nullptr)
            while (n < kInline && text[n] != 0 && static_cast<unsigned char>(text[n]) < 0x80) {
                m_inline[n] = static_cast<WCHAR>(text[n]);
                ++n;
            }
        m_inline[n] = 0;
        if (text != nullptr && text[n] != 0) m_long = PLWiden(text);
    }
    operator const WCHAR*() const noexcept { return m_long.IsEmpty() ? m_inline : m_long.c_str(); }  // NOLINT

private:
    static constexpr std::size_t kInline = 127;
    WCHAR m_inline[kInline + 1];
    PLString m_long;
};

}  // namespace

HRESULT PLSetSuspensionOverride(LONG value) noexcept {
    g_suspensionOverride.store(value, std::memory_order_relaxed);
    return S_OK;
}

LONG PLGetSuspensionOverride() noexcept {
    return g_suspensionOverride.load(std::memory_order_relaxed);
}

HRESULT PLRecordError(const WCHAR* group, const WCHAR* className, const WCHAR* method, PL_ERROR error) noexcept {
    return RecordImpl(OrEmpty(group), OrEmpty(className), OrEmpty(method), error.result, 0, error.message,
                      error.errorFlag, error.sourceFile, error.sourceLine);
}

HRESULT PLRecordError(const char* group, const char* className, const char* method, PL_ERROR error) noexcept {
    try {
        const NarrowName groupText(group), classText(className), methodText(method);
        return PLRecordError(groupText, classText, methodText, std::move(error));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT PLRecordErrorMessage(const WCHAR* group, const WCHAR* className, const WCHAR* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag) noexcept {
    return RecordImpl(OrEmpty(group), OrEmpty(className), OrEmpty(method), result, messageType, OrEmpty(message),
                      errorFlag, u"", 0);
}

HRESULT PLRecordErrorMessage(const char* group, const char* className, const char* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag) noexcept {
    try {
        const NarrowName groupText(group), classText(className), methodText(method);
        return PLRecordErrorMessage(groupText, classText, methodText, result, messageType, message, errorFlag);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// ---- catch clauses ----

namespace {

void RecordHResult(HRESULT code, const PLString& group, const PLString& className, const PLString& method) {
    if (code >= 0) return;
    PLString message;
    message.Format(u"Error 0x%08x occurred.", code);
    PLRecordErrorMessage(group, className, method, code, 0, message, 0);
}

HRESULT RecordUnknown(const PLString& group, const PLString& className, const PLString& method) {
    PLRecordErrorMessage(group, className, method, E_UNEXPECTED, 0, u"An unhandled exception occurred.", 1);
    return E_UNEXPECTED;
}

PLString FormatMethod(const char* methodFormat, kd::platform::FormatArgs args) {
    std::u16string text;
    if (methodFormat != nullptr) kd::platform::FormatAppend(text, std::string_view(methodFormat), args);
    return PLString(std::u16string_view(text));
}

}  // namespace

void PLHandleHResultException(HRESULT code, const char* group, const char* className, const char* method) noexcept {
    try {
        RecordHResult(code, PLWiden(group), PLWiden(className), PLWiden(method));
    } catch (...) {
    }
}

HRESULT PLHandleErrorException(const PL_ERROR& error, const char* group, const char* className,
                               const char* method) noexcept {
    try {
        PLRecordError(group, className, method, error);
    } catch (...) {
    }
    return error.result;
}

HRESULT PLHandleSEHException(CSEHExceptionWrapper& wrapper, HRESULT current, const char* group, const char* className,
                             const char* method) noexcept {
    const HRESULT result = current < 0 ? current : E_UNEXPECTED;
    try {
        wrapper.Report(group, className, method, result);
    } catch (...) {
        // A fault while the report was being built ends the report; the method still returns.
    }
    return result;
}

HRESULT PLHandleRecoveredFault(const char* group, const char* className, const char* method) noexcept {
    try {
        PLThrowRecoveredFault();
    } catch (CSEHExceptionWrapper& wrapper) {
        return PLHandleSEHException(wrapper, S_OK, group, className, method);
    } catch (...) {
    }
    return E_UNEXPECTED;
}

HRESULT PLHandleUnknownException(const char* group, const char* className, const char* method) noexcept {
    try {
        return RecordUnknown(PLWiden(group), PLWiden(className), PLWiden(method));
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The unwinding carries no C++ object: its clause binds a reference to none, which the
// undefined-behaviour sanitizer's null check would stop (the reason this is a function of its
// own rather than a clause in every guard).
__attribute__((no_sanitize("null"))) void PLRethrowIfThreadEnding() {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

HRESULT PLHandleOutOfMemory(const char* group, const char* className, const char* method) noexcept {
    // Recording needs memory too; when there is none the method still says what happened.
    PLRecordErrorMessage(group, className, method, E_OUTOFMEMORY, 0, u"Out of memory.", 1);
    return E_OUTOFMEMORY;
}

void PLHandleHResultExceptionW(HRESULT code, const WCHAR* group, const WCHAR* className, const char* method) noexcept {
    try {
        RecordHResult(code, PLString(group), PLString(className), PLWiden(method));
    } catch (...) {
    }
}

HRESULT PLHandleErrorExceptionW(const PL_ERROR& error, const WCHAR* group, const WCHAR* className,
                                const char* method) noexcept {
    try {
        PLRecordError(group, className, PLWiden(method), error);
    } catch (...) {
    }
    return error.result;
}

HRESULT PLHandleUnknownExceptionW(const WCHAR* group, const WCHAR* className, const char* method) noexcept {
    try {
        return RecordUnknown(PLString(group), PLString(className), PLWiden(method));
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void PLHandleHResultExceptionFormatV(HRESULT code, const char* group, const char* className, const char* methodFormat,
                                     kd::platform::FormatArgs args) noexcept {
    try {
        RecordHResult(code, PLWiden(group), PLWiden(className), FormatMethod(methodFormat, args));
    } catch (...) {
    }
}

HRESULT PLHandleErrorExceptionFormatV(const PL_ERROR& error, const char* group, const char* className,
                                      const char* methodFormat, kd::platform::FormatArgs args) noexcept {
    try {
        PLRecordError(PLWiden(group), PLWiden(className), FormatMethod(methodFormat, args), error);
    } catch (...) {
    }
    return error.result;
}

HRESULT PLHandleUnknownExceptionFormatV(const char* group, const char* className, const char* methodFormat,
                                        kd::platform::FormatArgs args) noexcept {
    try {
        return RecordUnknown(PLWiden(group), PLWiden(className), FormatMethod(methodFormat, args));
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ---- guarded sites ----

namespace {

// The group, class and method a site records, resolved from its label.
class SiteNames {
public:
    explicit SiteNames(const PLGuardSite& site) noexcept : m_group(site.group) {
        if (site.naming == PLGuardNaming::AsWritten) {
            m_class = site.className;
            m_method = site.function;
            return;
        }
        const std::string_view name = PLFunctionName(site.function);
        const PLMethodName parts = PLSplitFunctionName(name);
        if (site.className != nullptr) {
            m_class = site.className;
        } else {
            PLCopyLabelText(parts.className, m_classText, sizeof m_classText);
            m_class = m_classText;
        }
        if (site.naming == PLGuardNaming::QualifiedMethod && !parts.className.empty()) {
            PLCopyLabelText(parts.className, m_methodText, sizeof m_methodText);
            const std::size_t used = std::strlen(m_methodText);
            PLCopyLabelText("::", m_methodText + used, sizeof m_methodText - used);
            PLCopyLabelText(parts.method, m_methodText + used + 2, sizeof m_methodText - used - 2);
        } else {
            PLCopyLabelText(parts.method, m_methodText, sizeof m_methodText);
        }
        m_method = m_methodText;
    }
    const char* Group() const noexcept { return m_group; }
    const char* Class() const noexcept { return m_class; }
    const char* Method() const noexcept { return m_method; }

private:
    const char* m_group;
    const char* m_class = "";
    const char* m_method = "";
    char m_classText[128] = {};
    char m_methodText[256] = {};
};

}  // namespace

void PLHandleHResultException(HRESULT code, const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    PLHandleHResultException(code, names.Group(), names.Class(), names.Method());
}

HRESULT PLHandleErrorException(const PL_ERROR& error, const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    return PLHandleErrorException(error, names.Group(), names.Class(), names.Method());
}

HRESULT PLHandleSEHException(CSEHExceptionWrapper& wrapper, HRESULT current, const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    return PLHandleSEHException(wrapper, current, names.Group(), names.Class(), names.Method());
}

HRESULT PLHandleUnknownException(const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    return PLHandleUnknownException(names.Group(), names.Class(), names.Method());
}

HRESULT PLHandleOutOfMemory(const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    return PLHandleOutOfMemory(names.Group(), names.Class(), names.Method());
}

HRESULT PLHandleRecoveredFault(const PLGuardSite& site) noexcept {
    const SiteNames names(site);
    return PLHandleRecoveredFault(names.Group(), names.Class(), names.Method());
}

// ---- suspender ----

CPLThreadErrorSuspender::CPLThreadErrorSuspender() noexcept {
    if (GetThreadErrorSuspensionState(&m_previous) >= 0 && SetThreadErrorSuspensionState(TRUE) >= 0) m_restore = true;
}

CPLThreadErrorSuspender::~CPLThreadErrorSuspender() {
    if (m_restore) SetThreadErrorSuspensionState(m_previous);
}

// ---- the thread error functions ----

namespace {

// The external error module, reached through the library cache on each call (the cache
// remembers a library that failed to load, so an absent module costs one lookup).
// The error module's entry point, or null. Looked up once: the library cache keeps a library it
// loaded for the process and remembers one that failed to load, so the answer cannot change.
PFN_GetPLModule ErrorModuleEntry() noexcept {
    static const PFN_GetPLModule entry = [] {
        void* library = PLLoadLibrary(u"kderror");
        return library == nullptr ? nullptr
                                  : reinterpret_cast<PFN_GetPLModule>(PLGetProcAddress(library, "GetPLModule"));
    }();
    return entry;
}

HRESULT GetErrorModule(const char* wrapperName, IPLErrorModule** errorModule) {
    *errorModule = nullptr;
    // Loading a library installs the fault translator on the calling thread; so does asking
    // for the error module, whose library is loaded once.
    PLInstallSEHTranslator();
    const PFN_GetPLModule getModule = ErrorModuleEntry();
    if (getModule == nullptr) return E_FAIL;
    PLComPtr<IPLModule> module;
    PLThrowIfFailed(getModule(MODULEID_PLErrorServices, module.Put()), __LINE__, wrapperName, __FILE__);
    PLThrowIfFailed(module->QueryInterface(IID_IPLErrorModule, reinterpret_cast<void**>(errorModule)), __LINE__,
                    wrapperName, __FILE__);
    return S_OK;
}

// Runs `call(errorModule)` against the external error module, turning a thrown code into the
// result. Returns E_FAIL when the module is not available.
template <class Call>
HRESULT WithErrorModule(const char* wrapperName, Call&& call) noexcept {
    try {
        PLComPtr<IPLErrorModule> errorModule;
        HRESULT hr = GetErrorModule(wrapperName, errorModule.Put());
        if (hr < 0) return hr;
        hr = call(errorModule.Get());
        PLThrowIfFailed(hr, __LINE__, wrapperName, __FILE__);
        return hr;
    } catch (const PL_ERROR& e) {
        return e.result;
    } catch (HRESULT code) {
        return code;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

// The exported functions fill the caller's out pointer inside a guarded region, from a local
// that the functions below them fill: an unwritable pointer ends the call with the translated
// fault, and leaves no reference behind.
namespace {

HRESULT LastErrorInto(IPLErrorInfo** errorInfo) {
    *errorInfo = nullptr;
    const DWORD thread = kd::platform::CurrentThreadId();
    const HRESULT hr = WithErrorModule("PLGetLastError", [&](IPLErrorModule* m) {
        HRESULT r = m->GetThreadError(thread, errorInfo);
        if (r >= 0) r = m->ClearThreadErrors(thread);
        return r;
    });
    if (hr >= 0) return hr;
    if (*errorInfo != nullptr) {
        (*errorInfo)->Release();
        *errorInfo = nullptr;
    }
    CPLThreadErrorStore& store = CPLThreadErrorStore::Instance();
    const HRESULT got = store.GetThreadError(thread, errorInfo);
    if (got >= 0) store.RemoveThread(thread);
    return got;
}

HRESULT ThreadErrorInto(IPLErrorInfo** errorInfo) {
    const DWORD thread = kd::platform::CurrentThreadId();
    const HRESULT hr =
        WithErrorModule("GetThreadError", [&](IPLErrorModule* m) { return m->GetThreadError(thread, errorInfo); });
    if (hr >= 0) return hr;
    return CPLThreadErrorStore::Instance().GetThreadError(thread, errorInfo);
}

template <class T, class Fill>
HRESULT FillOut(const PLGuardSite& site, T* out, Fill&& fill) {
    if (out == nullptr) return E_POINTER;
    HRESULT result = S_OK;
    const HRESULT guarded = PLGuard(site, [&](HRESULT&) {
        T value{};
        result = fill(&value);
        *out = value;
    });
    return guarded < 0 ? guarded : result;
}

}  // namespace

HRESULT GetThreadError(IPLErrorInfo** errorInfo) {
    if (errorInfo == nullptr) return E_POINTER;
    PLComPtr<IPLErrorInfo> list;
    HRESULT result = S_OK;
    const HRESULT guarded = ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT&) {
        *errorInfo = nullptr;
        result = ThreadErrorInto(list.Put());
        *errorInfo = list.Get();
        list.Detach();
    });
    return guarded < 0 ? guarded : result;
}

HRESULT SetThreadErrorSuspensionState(BOOL suspended) {
    const DWORD thread = kd::platform::CurrentThreadId();
    const HRESULT hr = WithErrorModule("SetThreadErrorSuspensionState", [&](IPLErrorModule* m) {
        return m->SetThreadErrorSuspensionState(thread, suspended);
    });
    if (hr >= 0) return hr;
    return CPLThreadErrorStore::Instance().SetSuspensionState(thread, suspended);
}

HRESULT GetThreadErrorSuspensionState(BOOL* suspended) {
    return FillOut(PL_GUARD_SITE("Core Services"), suspended, [](BOOL* state) {
        const DWORD thread = kd::platform::CurrentThreadId();
        const HRESULT hr = WithErrorModule("GetThreadErrorSuspensionState", [&](IPLErrorModule* m) {
            return m->GetThreadErrorSuspensionState(thread, state);
        });
        if (hr >= 0) return hr;
        return CPLThreadErrorStore::Instance().GetSuspensionState(thread, state);
    });
}

HRESULT PLGetLastError(IPLErrorInfo** errorInfo) {
    if (errorInfo == nullptr) return E_POINTER;
    PLComPtr<IPLErrorInfo> list;
    HRESULT result = S_OK;
    const HRESULT guarded = ::PLGuard(PL_GUARD_SITE("Core Services"), [&](HRESULT&) {
        *errorInfo = nullptr;
        result = LastErrorInto(list.Put());
        *errorInfo = list.Get();
        list.Detach();
    });
    return guarded < 0 ? guarded : result;
}

HRESULT PLClearThreadErrors() {
    const DWORD thread = kd::platform::CurrentThreadId();
    const HRESULT hr =
        WithErrorModule("PLClearThreadErrors", [&](IPLErrorModule* m) { return m->ClearThreadErrors(thread); });
    if (hr >= 0) return hr;
    // Without a working error module the fallback store keeps the lists (the recording functions
    // fall back to it too): clear this thread's there.
    return CPLThreadErrorStore::Instance().ClearThreadErrors(thread);
}
