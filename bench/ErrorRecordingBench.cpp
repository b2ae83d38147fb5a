// A failing interface method that records one error (no external error module, no diagnostics
// console) beside a plain C++ throw and catch of an int, in the same run. The library loader's
// calls are counted to show that recording searches for the absent error module only once.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <atomic>

#include "module_base/PLError.h"

namespace {
std::atomic<long long> g_dlopenCalls{0};
}  // namespace

// Counts every dlopen made by code in this program (the module base library is linked in).
extern "C" void* dlopen(const char* file, int mode) {
    using Real = void* (*)(const char*, int);
    static Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "dlopen"));
    ++g_dlopenCalls;
    return real(file, mode);
}

namespace {

__attribute__((noinline)) HRESULT FailingMethod() {
    return PLGuardNamed("Core", "CBench", "FailingMethod", [](HRESULT& hr) {
        hr = E_FAIL;
        PL_THROW_ERROR(hr, "Benchmark failure", 1);
    });
}

void BM_FailingMethodRecordsOneError(benchmark::State& state) {
    FailingMethod();  // the first call looks for the error module
    const long long before = g_dlopenCalls.load();
    for (auto _ : state) benchmark::DoNotOptimize(FailingMethod());
    state.counters["dlopen_per_call"] =
        benchmark::Counter(static_cast<double>(g_dlopenCalls.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FailingMethodRecordsOneError);

__attribute__((noinline)) int ThrowAndCatch(int value) {
    try {
        throw value;
    } catch (int caught) {
        return caught;
    }
}

void BM_Floor_ThrowCatchInt(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(ThrowAndCatch(++i));
}
BENCHMARK(BM_Floor_ThrowCatchInt);

}  // namespace

BENCHMARK_MAIN();
