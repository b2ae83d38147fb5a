// Helpers of the fault-translation tests: code that faults on purpose (built without the
// sanitizers), a listener that faults, and reading the thread's error list.
#ifndef KD_TESTS_SEH_TEST_SUPPORT_H
#define KD_TESTS_SEH_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

#include "inc_module_base/PLEventSource.h"

// ---- code that faults (seh_faulting_code.cpp) ----
int ReadThroughNull();
int DivideBy(int divisor);
// Recurses until the stack is exhausted.
int OverflowStack(int depth);
// Where ReadThroughNull's code starts, to check the reported instruction address.
std::uintptr_t ReadThroughNullAddress();

// ---- a listener that faults when asked ----
// clang-format off
inline constexpr GUID IID_ITestFaultListener = {0x9CD15AD2, 0x210E, 0x40B9, {0x99, 0x32, 0xBE, 0x4B, 0x50, 0xE2, 0xD8, 0xE5}};
// clang-format on
struct ITestFaultListener : IUnknown {
    virtual HRESULT OnEvent(LONG kind) = 0;
};
enum : LONG { kEventCount = 0, kEventNullRead = 1, kEventDivideByZero = 2 };

// A host-side listener object (reference counted, on the heap).
ITestFaultListener* NewFaultListener(int* calls);

// A minimal event source whose Fire is a guarded method, as a trace context's FireMessage is.
class TestEventSource final : public CPLEventSource {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override;
    HRESULT Fire(LONG kind);
};

// ---- the thread's error list ----
struct RecordedError {
    HRESULT result = 0;
    std::u16string module, className, method, message;
};
// The calling thread's errors, oldest first.
std::vector<RecordedError> ThreadErrorsOldestFirst();
std::string Narrow(const std::u16string& text);

// The directory crash reports go to in this test program (set before anything loads the
// debugging companion).
const std::string& TestDumpDirectory();

#endif  // KD_TESTS_SEH_TEST_SUPPORT_H
