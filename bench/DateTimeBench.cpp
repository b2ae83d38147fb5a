// Date-time parsing and formatting beside the C library's strptime and strftime doing the same
// work on the same values in the same run.
//
//   build/release/bin/bench_date_time
#include <benchmark/benchmark.h>

#include <ctime>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"

namespace {

constexpr LCID kEnglishUS = 0x0409;

PLComPtr<IPLDateTime> NewDateTime() {
    PLComPtr<IPLDateTime> dateTime;
    PLCreateDateTime(kEnglishUS, dateTime.Put());
    return dateTime;
}

void BM_DateTimeParse(benchmark::State& state) {
    PLComPtr<IPLDateTime> dateTime = NewDateTime();
    for (auto _ : state)
        benchmark::DoNotOptimize(dateTime->InitializeFromString(u"12-06-26 01:07:09 PM", u"%m-%d-%y %h:%M:%S %p"));
}

void BM_DateTimeParseFloor(benchmark::State& state) {
    for (auto _ : state) {
        std::tm fields{};
        benchmark::DoNotOptimize(::strptime("12-06-26 01:07:09 PM", "%m-%d-%y %I:%M:%S %p", &fields));
        benchmark::DoNotOptimize(fields);
    }
}

void BM_DateTimeFormat(benchmark::State& state) {
    PLComPtr<IPLDateTime> dateTime = NewDateTime();
    dateTime->Initialize(12, 6, 2026, 13, 7, 9);
    WCHAR text[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(dateTime->Format(u"%y-%2m-%2d %H:%M:%S", text, 64));
        benchmark::ClobberMemory();
    }
}

void BM_DateTimeFormatFloor(benchmark::State& state) {
    std::tm fields{};
    fields.tm_year = 126;
    fields.tm_mon = 11;
    fields.tm_mday = 6;
    fields.tm_hour = 13;
    fields.tm_min = 7;
    fields.tm_sec = 9;
    char text[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields));
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_DateTimeParse);
BENCHMARK(BM_DateTimeParseFloor);
BENCHMARK(BM_DateTimeFormat);
BENCHMARK(BM_DateTimeFormatFloor);

}  // namespace

BENCHMARK_MAIN();
