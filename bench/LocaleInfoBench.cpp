// Locale settings and currency formatting, each beside its floor:
//   a cached locale setting          vs  reading the same symbol from an open ICU formatter
//   a setting of the user default    vs  the same (the process locale is resolved on each call)
//   computing a locale's settings    vs  opening the one ICU formatter they need at least
//   a currency amount in our orders  vs  ICU formatting the same amount with an open formatter
#include <benchmark/benchmark.h>

#include <unicode/unum.h>

#include <string>

#include "platform/CurrencyFormat.h"
#include "platform/LocaleInfo.h"

namespace {

using namespace kd::platform;

void BM_LocaleSetting(benchmark::State& state) {
    for (auto _ : state) {
        std::optional<std::u16string> text = LocaleText(0x0407, LocaleItem::MonetaryThousandSeparator);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LocaleSetting);

void BM_LocaleSettingUserDefault(benchmark::State& state) {
    for (auto _ : state) {
        std::optional<std::u16string> text = LocaleText(kUserDefaultLocale, LocaleItem::MonetaryThousandSeparator);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LocaleSettingUserDefault);

void BM_Floor_IcuSymbolFromOpenFormatter(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_CURRENCY, nullptr, 0, "de_DE", nullptr, &status);
    for (auto _ : state) {
        UChar buffer[16];
        status = U_ZERO_ERROR;
        const int32_t n = unum_getSymbol(format, UNUM_MONETARY_GROUPING_SEPARATOR_SYMBOL, buffer, 16, &status);
        std::optional<std::u16string> text(std::u16string(buffer, static_cast<std::size_t>(n)));
        benchmark::DoNotOptimize(text);
    }
    unum_close(format);
}
BENCHMARK(BM_Floor_IcuSymbolFromOpenFormatter);

// What a lookup would cost without the cache: one identifier's settings computed afresh. Every
// iteration asks for a locale not seen before by varying the sort bits, which the settings ignore.
void BM_LocaleFirstLookup(benchmark::State& state) {
    static std::uint32_t sort = 0x100;  // new identifiers in every repetition too
    for (auto _ : state) {
        std::optional<std::u16string> text = LocaleText((sort++ << 16) | 0x0407, LocaleItem::DecimalSeparator);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LocaleFirstLookup)->Iterations(300);

void BM_Floor_IcuOpenCurrencyFormatter(benchmark::State& state) {
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        UNumberFormat* format = unum_open(UNUM_CURRENCY, nullptr, 0, "de_DE", nullptr, &status);
        benchmark::DoNotOptimize(format);
        unum_close(format);
    }
}
BENCHMARK(BM_Floor_IcuOpenCurrencyFormatter);

void BM_FormatCurrency(benchmark::State& state) {
    const CurrencyFormat format = *LocaleCurrencyFormat(0x0407);
    std::u16string out;
    for (auto _ : state) {
        FormatCurrency(u"-1234567.89", format, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_FormatCurrency);

void BM_Floor_IcuFormatDouble(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_CURRENCY, nullptr, 0, "de_DE", nullptr, &status);
    for (auto _ : state) {
        UChar buffer[64];
        status = U_ZERO_ERROR;
        const int32_t n = unum_formatDouble(format, -1234567.89, buffer, 64, nullptr, &status);
        benchmark::DoNotOptimize(buffer);
        benchmark::DoNotOptimize(n);
    }
    unum_close(format);
}
BENCHMARK(BM_Floor_IcuFormatDouble);

}  // namespace

BENCHMARK_MAIN();
