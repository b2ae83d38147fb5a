// The error convention: thrown PL_ERROR records, the throw functions, the four catch clauses
// that end every interface method, recording into the calling thread's error list, and the
// thread error functions.
//
// Inside an operation each step's HRESULT goes into the result variable and, when negative, is
// thrown with a message. At the operation's edge PLGuard catches whatever was thrown, records it
// under the method's module group and the class and method it is written in, and returns the
// HRESULT:
//
//   HRESULT CPLThing::DoIt(IPLOther** out) {
//       return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT& hr) {   // recorded as "CPLThing", "DoIt"
//           hr = Step();
//           PL_THROW_ERROR(hr, "Step failed", 1);
//       });
//   }
//
// Where the recorded names are not the C++ ones, PL_GUARD_SITE_AS records another class name and
// PL_GUARD_SITE_QUALIFIED records the method as "Class::Method".
#ifndef KD_PLERROR_H
#define KD_PLERROR_H

#include <cstdint>
#include <new>

#include <kdtrace/error.h>
#include <kdtrace/exports.h>
#include <kdtrace/types.h>

#include "module_base/PLFunctionLabel.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLString.h"
#include "platform/Fault.h"
#include "platform/Format.h"

// The thrown error record.
struct PL_ERROR {
    HRESULT result;
    PLString message;
    ULONG errorFlag;  // 1: starts a new chain (the list is cleared first); 0: appends
    PLString sourceFile;
    PLString function;  // Class::Method, or the free function's name
    ULONG sourceLine;

    // Short form: "A general error occurred.", error flag 0.
    PL_ERROR(HRESULT hr, ULONG line, const PLString& functionName, const PLString& file);
    PL_ERROR(HRESULT hr, const PLString& text, ULONG flag, ULONG line, const PLString& functionName,
             const PLString& file);
};

inline constexpr const char* kPLGeneralErrorMessage = "A general error occurred.";

// Narrow text (UTF-8) to a PLString; null gives the empty string.
PLString PLWiden(const char* text);

// ---- throw functions: each does nothing when the code is not negative ----
void PLThrowIfFailed(HRESULT hr, ULONG line, const char* function, const char* file);
void PLThrowError(HRESULT hr, const char* message, ULONG errorFlag, ULONG line, const char* function, const char* file);
// The record PLThrowError throws, for the throw macros: they throw it where they are written,
// so the exception leaves one frame fewer to unwind.
PL_ERROR PLMakeError(HRESULT hr, const char* message, ULONG errorFlag, ULONG line, const char* function,
                     const char* file);
void PLThrowErrorW(HRESULT hr, const WCHAR* message, ULONG errorFlag, ULONG line, const char* function,
                   const char* file);
void PLThrowErrorFormatV(HRESULT hr, ULONG errorFlag, ULONG line, const char* function, const char* file,
                         const char* format, kd::platform::FormatArgs args);
template <class... A>
void PLThrowErrorFormat(HRESULT hr, ULONG errorFlag, ULONG line, const char* function, const char* file,
                        const char* format, const A&... args) {
    if (hr >= 0) return;
    if constexpr (sizeof...(A) == 0) {
        PLThrowErrorFormatV(hr, errorFlag, line, function, file, format, {});
    } else {
        const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)...};
        PLThrowErrorFormatV(hr, errorFlag, line, function, file, format, list);
    }
}
// Throws the code itself.
void PLThrowHResult(HRESULT hr);
// With a non-null object: throws its IPLSupportRichErrorInfo pointer when it answers that
// interface, else the code.
void PLThrowRichError(HRESULT hr, IUnknown* object);
// Throws the short-form record with code PL_E_VERIFY and function "__verify" when false.
void PLVerify(bool condition);

// The throw macros supply the source file, line and function. They evaluate the code once and
// do nothing more unless it is negative.
#define PL_FUNCTION_LABEL (::PLFunctionLabel(__PRETTY_FUNCTION__).c_str())
#define PL_THROW_IF_FAILED(hr)                                                            \
    do {                                                                                  \
        const HRESULT pl_hr_ = (hr);                                                      \
        if (pl_hr_ < 0) ::PLThrowIfFailed(pl_hr_, __LINE__, PL_FUNCTION_LABEL, __FILE__); \
    } while (0)
#define PL_THROW_ERROR(hr, message, flag)                                                                      \
    do {                                                                                                       \
        const HRESULT pl_hr_ = (hr);                                                                           \
        if (pl_hr_ < 0) throw ::PLMakeError(pl_hr_, (message), (flag), __LINE__, PL_FUNCTION_LABEL, __FILE__); \
    } while (0)
#define PL_THROW_ERROR_W(hr, message, flag)                                                                \
    do {                                                                                                   \
        const HRESULT pl_hr_ = (hr);                                                                       \
        if (pl_hr_ < 0) ::PLThrowErrorW(pl_hr_, (message), (flag), __LINE__, PL_FUNCTION_LABEL, __FILE__); \
    } while (0)
#define PL_THROW_ERROR_FORMAT(hr, flag, format, ...)                                    \
    do {                                                                                \
        const HRESULT pl_hr_ = (hr);                                                    \
        if (pl_hr_ < 0)                                                                 \
            ::PLThrowErrorFormat(pl_hr_, (flag), __LINE__, PL_FUNCTION_LABEL, __FILE__, \
                                 (format)__VA_OPT__(, ) __VA_ARGS__);                   \
    } while (0)
#define PL_VERIFY(cond)                                                              \
    do {                                                                             \
        if (!(cond)) ::PLThrowIfFailed(PL_E_VERIFY, __LINE__, "__verify", __FILE__); \
    } while (0)

// ---- the four catch-clause functions (never throw; recording results are ignored) ----
// catch (HRESULT): records "Error 0x%08x occurred." when the code is negative. The method then
// returns its result variable, or the thrown code when that is a failure and the variable is not
// (PLResultAfterThrownCode): a code thrown from anywhere else never turns into a success.
void PLHandleHResultException(HRESULT code, const char* group, const char* className, const char* method) noexcept;
// catch (PL_ERROR&): records the record; returns its code.
HRESULT PLHandleErrorException(const PL_ERROR& error, const char* group, const char* className,
                               const char* method) noexcept;
// catch (CSEHExceptionWrapper&): returns the current result when it is already a failure, else
// E_UNEXPECTED, and records the fault report and the loaded modules with that code (never with
// a success code, which would make the recorded failure read as a success).
// Handles the fault taken to the calling thread's recovery point (PLThrowRecoveredFault) as
// PLHandleSEHException does; E_UNEXPECTED.
HRESULT PLHandleRecoveredFault(const char* group, const char* className, const char* method) noexcept;
HRESULT PLHandleSEHException(CSEHExceptionWrapper& wrapper, HRESULT current, const char* group, const char* className,
                             const char* method) noexcept;
// catch (...): records "An unhandled exception occurred." with E_UNEXPECTED; returns it.
HRESULT PLHandleUnknownException(const char* group, const char* className, const char* method) noexcept;
// catch (std::bad_alloc&): records "Out of memory." with E_OUTOFMEMORY (a new chain); returns it.
HRESULT PLHandleOutOfMemory(const char* group, const char* className, const char* method) noexcept;

// Called inside catch (...): rethrows the unwinding of a thread that is ending (pthread_exit, an
// acted-on cancellation), which must go on; returns for anything else.
void PLRethrowIfThreadEnding();

// What a method returns after a bare code was thrown: its result variable, unless the code is a
// failure and the variable is not.
constexpr HRESULT PLResultAfterThrownCode(HRESULT current, HRESULT thrown) noexcept {
    return thrown < 0 && current >= 0 ? thrown : current;
}

// Variants with wide group and class names.
void PLHandleHResultExceptionW(HRESULT code, const WCHAR* group, const WCHAR* className, const char* method) noexcept;
HRESULT PLHandleErrorExceptionW(const PL_ERROR& error, const WCHAR* group, const WCHAR* className,
                                const char* method) noexcept;
HRESULT PLHandleUnknownExceptionW(const WCHAR* group, const WCHAR* className, const char* method) noexcept;

// Variants that build the method name from a printf format.
void PLHandleHResultExceptionFormatV(HRESULT code, const char* group, const char* className, const char* methodFormat,
                                     kd::platform::FormatArgs args) noexcept;
HRESULT PLHandleErrorExceptionFormatV(const PL_ERROR& error, const char* group, const char* className,
                                      const char* methodFormat, kd::platform::FormatArgs args) noexcept;
HRESULT PLHandleUnknownExceptionFormatV(const char* group, const char* className, const char* methodFormat,
                                        kd::platform::FormatArgs args) noexcept;
template <class... A>
void PLHandleHResultExceptionFormat(HRESULT code, const char* group, const char* className, const char* methodFormat,
                                    const A&... args) noexcept {
    const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)..., kd::platform::FormatArg(0)};
    PLHandleHResultExceptionFormatV(code, group, className, methodFormat, {list, sizeof...(A)});
}
template <class... A>
HRESULT PLHandleErrorExceptionFormat(const PL_ERROR& error, const char* group, const char* className,
                                     const char* methodFormat, const A&... args) noexcept {
    const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)..., kd::platform::FormatArg(0)};
    return PLHandleErrorExceptionFormatV(error, group, className, methodFormat, {list, sizeof...(A)});
}
template <class... A>
HRESULT PLHandleUnknownExceptionFormat(const char* group, const char* className, const char* methodFormat,
                                       const A&... args) noexcept {
    const kd::platform::FormatArg list[] = {kd::platform::FormatArg(args)..., kd::platform::FormatArg(0)};
    return PLHandleUnknownExceptionFormatV(group, className, methodFormat, {list, sizeof...(A)});
}

// ---- guarded regions ----

// How a guarded region's class and method are recorded.
enum class PLGuardNaming : unsigned char {
    Method,           // the class and the method of the enclosing function's label
    QualifiedMethod,  // the method as "Class::Method"
    AsWritten,        // `function` is the method name itself
};

// Where a guarded region is written. The names are derived from the label only when something
// is recorded, so a region that succeeds costs nothing for them.
struct PLGuardSite {
    const char* group;
    const char* function;   // the enclosing function's __PRETTY_FUNCTION__ (or, AsWritten, the method)
    const char* className;  // null: the class named in the label
    PLGuardNaming naming;
};

#define PL_GUARD_SITE(group) (::PLGuardSite{(group), __PRETTY_FUNCTION__, nullptr, ::PLGuardNaming::Method})
#define PL_GUARD_SITE_AS(group, className) \
    (::PLGuardSite{(group), __PRETTY_FUNCTION__, (className), ::PLGuardNaming::Method})
#define PL_GUARD_SITE_QUALIFIED(group) \
    (::PLGuardSite{(group), __PRETTY_FUNCTION__, nullptr, ::PLGuardNaming::QualifiedMethod})
// The guarded region of the enclosing method: ::PLGuard(PL_GUARD_SITE(group), [&](HRESULT& hr) { ... }).
// The region is written outside any macro's arguments: code inside a macro argument is mapped to
// the macro's own line by Clang's coverage, so every region would count as one.

// The four catch clauses for a guarded site (never throw).
void PLHandleHResultException(HRESULT code, const PLGuardSite& site) noexcept;
HRESULT PLHandleRecoveredFault(const PLGuardSite& site) noexcept;
HRESULT PLHandleErrorException(const PL_ERROR& error, const PLGuardSite& site) noexcept;
HRESULT PLHandleSEHException(CSEHExceptionWrapper& wrapper, HRESULT current, const PLGuardSite& site) noexcept;
HRESULT PLHandleUnknownException(const PLGuardSite& site) noexcept;
HRESULT PLHandleOutOfMemory(const PLGuardSite& site) noexcept;

// Runs `body(hr)` as the guarded region of an interface method and ends it with the four catch
// clauses (and one for exhausted memory, which ends the method with E_OUTOFMEMORY). `hr` is the
// method's result variable; the method returns what this returns. A processor fault inside the
// region (on a thread with the fault translator) arrives as CSEHExceptionWrapper.
//
// The one thing that passes through is the unwinding of a thread that ends inside the region
// (pthread_exit, or a cancellation acted on in code the region calls): the thread goes on
// ending, with the destructors of the frames between run, and the process lives on. So a
// guarded region and every frame around it that may see a thread end are not noexcept.
template <class Body>
HRESULT PLGuard(const PLGuardSite& site, Body&& body) {
    HRESULT hr = S_OK;
    const kd::platform::FaultGuardScope faultScope;
    try {
        body(hr);
    } catch (HRESULT code) {
        PLHandleHResultException(code, site);
        hr = PLResultAfterThrownCode(hr, code);
    } catch (PL_ERROR& error) {
        hr = PLHandleErrorException(error, site);
    } catch (CSEHExceptionWrapper& wrapper) {
        hr = PLHandleSEHException(wrapper, hr, site);
    } catch (const std::bad_alloc&) {
        hr = PLHandleOutOfMemory(site);
    } catch (...) {
        PLRethrowIfThreadEnding();
        hr = PLHandleUnknownException(site);
    }
    return hr;
}

// A region recorded under names chosen by the caller rather than where it is written: for
// tests and benchmarks that stand in for a method of their own naming.
template <class Body>
HRESULT PLGuardNamed(const char* group, const char* className, const char* method, Body&& body) {
    return PLGuard(PLGuardSite{group, method, className, PLGuardNaming::AsWritten}, static_cast<Body&&>(body));
}

// PLGuard and PLCallOut in one frame, for methods whose body calls code that is not the
// library's own (a host's listeners) on a hot path: one set of bookkeeping instead of two. A
// processor fault in that code that cannot be unwound ends the method as the translated fault;
// the frames between are abandoned, so what the body holds across its calls out lives outside
// this frame or registers a FaultRecoveryCleanup.
//
// The body runs in a frame of its own: a function that calls __builtin_setjmp keeps every value
// that lives across a call in memory, which would slow the body's loops.
template <class State, class Body>
__attribute__((noinline)) void PLRunGuardedBody(Body& body, State& state, HRESULT& hr) {
    body(state, hr);
}

// PLGuardCallOut whose frame also holds `State` for the body (`body(state, hr)`), made from
// `stateArgs` before the recovery point is set and destroyed after the catch clauses have run,
// so that what the body holds across its calls out is there to be given back after a fault,
// without a frame of the caller's own around this one.
template <class State, class Body, class... StateArgs>
__attribute__((noinline)) HRESULT PLGuardCallOutWith(const PLGuardSite& site, Body&& body, StateArgs... stateArgs) {
    State state(stateArgs...);
    const kd::platform::FaultGuardScope faultScope;
    kd::platform::FaultRecoveryPoint point;
    if (__builtin_setjmp(point.env) != 0) return PLHandleRecoveredFault(site);
    kd::platform::ArmFaultRecovery(point);
    HRESULT hr = S_OK;
    try {
        PLRunGuardedBody(body, state, hr);
        kd::platform::DisarmFaultRecovery(point);
    } catch (HRESULT code) {
        kd::platform::DisarmFaultRecovery(point);
        PLHandleHResultException(code, site);
        hr = PLResultAfterThrownCode(hr, code);
    } catch (PL_ERROR& error) {
        kd::platform::DisarmFaultRecovery(point);
        hr = PLHandleErrorException(error, site);
    } catch (CSEHExceptionWrapper& wrapper) {
        kd::platform::DisarmFaultRecovery(point);
        hr = PLHandleSEHException(wrapper, hr, site);
    } catch (const std::bad_alloc&) {
        kd::platform::DisarmFaultRecovery(point);
        hr = PLHandleOutOfMemory(site);
    } catch (...) {
        kd::platform::DisarmFaultRecovery(point);
        PLRethrowIfThreadEnding();
        hr = PLHandleUnknownException(site);
    }
    return hr;
}

struct PLNoGuardState {};

template <class Body>
HRESULT PLGuardCallOut(const PLGuardSite& site, Body&& body) {
    return PLGuardCallOutWith<PLNoGuardState>(site, [&body](PLNoGuardState&, HRESULT& hr) { body(hr); });
}

// Writes `value` to a caller's out pointer inside a guarded region of `site`, so that an
// unwritable pointer ends the call with the translated fault; E_POINTER for a null one.
template <class T>
HRESULT PLStoreOut(const PLGuardSite& site, T* out, T value) {
    if (out == nullptr) return E_POINTER;
    return PLGuard(site, [&](HRESULT&) { *out = value; });
}

// ---- recording ----
// Adds the error to the calling thread's list (unless recording is suspended there and the
// suspension override is off) and writes the diagnostics error record. Never throws.
HRESULT PLRecordError(const WCHAR* group, const WCHAR* className, const WCHAR* method, PL_ERROR error) noexcept;
HRESULT PLRecordError(const char* group, const char* className, const char* method, PL_ERROR error) noexcept;
HRESULT PLRecordErrorMessage(const WCHAR* group, const WCHAR* className, const WCHAR* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag) noexcept;
HRESULT PLRecordErrorMessage(const char* group, const char* className, const char* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag) noexcept;

// While nonzero, errors are recorded even on threads whose recording is suspended. S_OK.
HRESULT PLSetSuspensionOverride(LONG value) noexcept;
LONG PLGetSuspensionOverride() noexcept;

// Suspends error recording on the calling thread for its scope, restoring the previous state.
class CPLThreadErrorSuspender {
public:
    CPLThreadErrorSuspender() noexcept;
    ~CPLThreadErrorSuspender();
    CPLThreadErrorSuspender(const CPLThreadErrorSuspender&) = delete;
    CPLThreadErrorSuspender& operator=(const CPLThreadErrorSuspender&) = delete;

private:
    BOOL m_previous = FALSE;
    bool m_restore = false;
};

#endif  // KD_PLERROR_H
