// Hot paths of fault translation, the library cache and resource strings, each beside its floor:
//   a guarded call             vs  the same call without the guard
//   a translated fault         vs  throwing and catching the same exception object
//   a cached PLLoadLibrary     vs  a map lookup by name under a lock
//   a resource string          vs  formatting the same text with the same arguments
#include <benchmark/benchmark.h>

#include <map>
#include <mutex>
#include <string>

#include "module_base/PLError.h"
#include "module_base/PLResourceString.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLScopeTimer.h"
#include "module_base/PLVersion.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {

volatile int* volatile g_null = nullptr;
volatile int g_sink = 0;

__attribute__((noinline)) void Work() {
    g_sink = g_sink + 1;
}

// The fault itself, out of the sanitizers' sight in instrumented builds.
__attribute__((noinline, no_sanitize("address", "undefined"))) void ReadThroughNull() {
    g_sink = *g_null;
}

// ---- guarded calls ----

void BM_GuardedCall(benchmark::State& state) {
    for (auto _ : state) {
        const HRESULT hr = ::PLGuard(PL_GUARD_SITE("Core"), [](HRESULT&) { Work(); });
        benchmark::DoNotOptimize(hr);
    }
}
BENCHMARK(BM_GuardedCall);

void BM_GuardedCallFloor(benchmark::State& state) {
    const auto body = [](HRESULT&) { Work(); };
    for (auto _ : state) {
        HRESULT hr = S_OK;
        body(hr);
        benchmark::DoNotOptimize(hr);
    }
}
BENCHMARK(BM_GuardedCallFloor);

// ---- a fault, translated and caught (without recording the report) ----

void BM_TranslatedFault(benchmark::State& state) {
    PLInstallSEHTranslator();
    for (auto _ : state) {
        const kd::platform::FaultGuardScope scope;
        try {
            ReadThroughNull();
        } catch (CSEHExceptionWrapper& wrapper) {
            benchmark::DoNotOptimize(wrapper.GetExceptionCode());
        }
    }
}
BENCHMARK(BM_TranslatedFault);

void BM_TranslatedFaultFloor(benchmark::State& state) {
    const PLExceptionRecord record;
    const PLThreadContext context;
    PLCallStack stack;
    stack.count = 8;
    for (auto _ : state) {
        try {
            throw CSEHExceptionWrapper(record, context, stack);
        } catch (CSEHExceptionWrapper& wrapper) {
            benchmark::DoNotOptimize(wrapper.GetExceptionCode());
        }
    }
}
BENCHMARK(BM_TranslatedFaultFloor);

// ---- the library cache ----

void BM_CachedLoadLibrary(benchmark::State& state) {
    PLLoadLibrary(u"kderror");  // remembered (found or not) from here on
    for (auto _ : state) benchmark::DoNotOptimize(PLLoadLibrary(u"kderror"));
}
BENCHMARK(BM_CachedLoadLibrary);

void BM_CachedLoadLibraryFloor(benchmark::State& state) {
    std::mutex lock;
    std::map<std::u16string, void*, std::less<>> cache{
        {u"kddbghlp", nullptr}, {u"kderror", nullptr}, {u"kdlocale", nullptr}};
    for (auto _ : state) {
        std::lock_guard<std::mutex> guard(lock);
        benchmark::DoNotOptimize(cache.find(std::u16string_view(u"kderror"))->second);
    }
}
BENCHMARK(BM_CachedLoadLibraryFloor);

// ---- resource strings ----

void BM_ResourceString(benchmark::State& state) {
    PLSetLanguageResourceLibraryName(kd::platform::Utf8ToUtf16(KDTRACE_LIB_DIR "/libkdlocale.so").c_str());
    PLString text;
    if (PLFormatResourceString(text, 1001, 3, 10) != S_OK) {
        state.SkipWithError("the language companion is not available");
        return;
    }
    for (auto _ : state) {
        PLFormatResourceString(text, 1001, 3, 10);
        benchmark::DoNotOptimize(text.c_str());
    }
}
BENCHMARK(BM_ResourceString);

void BM_ResourceStringFloor(benchmark::State& state) {
    PLString text;
    for (auto _ : state) {
        text.Format(u"%d of %d pages printed.", 3, 10);
        benchmark::DoNotOptimize(text.c_str());
    }
}
BENCHMARK(BM_ResourceStringFloor);

}  // namespace

BENCHMARK_MAIN();
