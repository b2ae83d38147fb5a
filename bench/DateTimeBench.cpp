// Date-time parsing and formatting beside the C library's strptime and strftime doing the same
// work on the same values in the same run.
//
//   build/release/bin/bench_date_time --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//
// Every floor is the C library's strptime or strftime (C locale) with the pattern that reads or
// writes the same text as the mask beside it: fields of a std::tm, no validation beyond the
// C library's own. The process locale is U.S. English (LANG=en_US.UTF-8, set in main), whose
// "SYSTEMDATE" mask is "%m/%d/%y" and "SYSTEMDATETIME" "%m/%d/%y %h:%M:%S %p". Month and weekday
// names come from the language companion of this build, in English.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLResourceString.h"

namespace {

constexpr LCID kEnglishUS = 0x0409;
constexpr LCID kUserDefault = 0x0400;

PLComPtr<IPLDateTime> NewDateTime(LCID locale) {
    PLComPtr<IPLDateTime> dateTime;
    PLCreateDateTime(locale, dateTime.Put());
    dateTime->Initialize(12, 6, 2026, 13, 7, 9);
    return dateTime;
}

std::tm Fields() {
    std::tm fields{};
    fields.tm_year = 126;
    fields.tm_mon = 11;
    fields.tm_mday = 6;
    fields.tm_wday = 0;
    fields.tm_hour = 13;
    fields.tm_min = 7;
    fields.tm_sec = 9;
    return fields;
}

void Parse(benchmark::State& state, LCID locale, const char16_t* text, const char16_t* mask) {
    PLComPtr<IPLDateTime> dateTime = NewDateTime(locale);
    for (auto _ : state) benchmark::DoNotOptimize(dateTime->InitializeFromString(text, mask));
    LONG month = 0;
    if (dateTime->GetMonth(&month) < 0 || month != 12) state.SkipWithError("the text did not read back");
}

void ParseFloor(benchmark::State& state, const char* text, const char* pattern) {
    for (auto _ : state) {
        std::tm fields{};
        benchmark::DoNotOptimize(::strptime(text, pattern, &fields));
        benchmark::DoNotOptimize(fields);
    }
}

void Format(benchmark::State& state, LCID locale, const char16_t* mask) {
    PLComPtr<IPLDateTime> dateTime = NewDateTime(locale);
    WCHAR text[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(dateTime->Format(mask, text, 64));
        benchmark::ClobberMemory();
    }
}

void FormatFloor(benchmark::State& state, const char* pattern) {
    const std::tm fields = Fields();
    char text[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::strftime(text, sizeof text, pattern, &fields));
        benchmark::ClobberMemory();
    }
}

// A mask of numbers with a 12-hour clock. Floors: strptime "%m-%d-%y %I:%M:%S %p" of the same
// text; strftime "%Y-%m-%d %H:%M:%S" of the same fields.
BENCHMARK_CAPTURE(Parse, Numbers, kEnglishUS, u"12-06-26 01:07:09 PM", u"%m-%d-%y %h:%M:%S %p");
BENCHMARK_CAPTURE(ParseFloor, Numbers, "12-06-26 01:07:09 PM", "%m-%d-%y %I:%M:%S %p");
BENCHMARK_CAPTURE(Format, Sortable, kEnglishUS, u"%y-%2m-%2d %H:%M:%S");
BENCHMARK_CAPTURE(FormatFloor, Sortable, "%Y-%m-%d %H:%M:%S");

// The process locale's masks, named by keyword on an object of the user default locale (the
// locale is read from the environment on each call). Floors: strptime / strftime with the
// pattern of the same mask, "%m/%d/%Y" and "%m/%d/%Y %I:%M:%S %p", on the same text and fields.
BENCHMARK_CAPTURE(Parse, SystemDate, kUserDefault, u"12/6/2026", u"SYSTEMDATE");
BENCHMARK_CAPTURE(ParseFloor, SystemDate, "12/6/2026", "%m/%d/%Y");
BENCHMARK_CAPTURE(Parse, SystemDateTime, kUserDefault, u"12/6/2026 01:07:09 PM", u"SYSTEMDATETIME");
BENCHMARK_CAPTURE(ParseFloor, SystemDateTime, "12/6/2026 01:07:09 PM", "%m/%d/%Y %I:%M:%S %p");
BENCHMARK_CAPTURE(Format, SystemDate, kUserDefault, u"SYSTEMDATE");
BENCHMARK_CAPTURE(FormatFloor, SystemDate, "%m/%d/%Y");
BENCHMARK_CAPTURE(Format, SystemDateTime, kUserDefault, u"SYSTEMDATETIME");
BENCHMARK_CAPTURE(FormatFloor, SystemDateTime, "%m/%d/%Y %I:%M:%S %p");

// Month and weekday names (December: the last name the parser tries). Floors: strptime
// "%B %d, %Y" of the same text; strftime "%A %B" of the same fields.
BENCHMARK_CAPTURE(Parse, MonthName, kEnglishUS, u"December 6, 2026", u"%B %d, %y");
BENCHMARK_CAPTURE(ParseFloor, MonthName, "December 6, 2026", "%B %d, %Y");
BENCHMARK_CAPTURE(Format, WeekdayMonthNames, kEnglishUS, u"%A %B");
BENCHMARK_CAPTURE(FormatFloor, WeekdayMonthNames, "%A %B");

}  // namespace

int main(int argc, char** argv) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", "en_US.UTF-8", 1);
    PLSetLanguageResourceLibraryName(u"" KDTRACE_LIB_DIR "/libkdlocale.so");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
