// Currency parsing of typical amounts and writing them, beside ICU's own currency parse and format
// of the same values in the same run, and parsing the longest hostile text beside an ordinary one.
//
// Floor of the parse: ICU's C number parser, unum_parseDouble with an en-US currency format, over
// the same texts (the amount's sign, digits, group separators and symbol, read as a double).
//
//   build/release/bin/bench_currency
#include <benchmark/benchmark.h>

#include <unicode/curramt.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/parsepos.h>
#include <unicode/unistr.h>
#include <unicode/unum.h>

#include <array>
#include <memory>
#include <string>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLCurrency.h"

namespace {

constexpr LCID kEnglishUS = 0x0409;
// Amounts as people type them, and as both writers write them.
constexpr std::array<const char16_t*, 5> kTexts = {u"$1,234.56", u"-$12.50", u"$0.99", u"$1,000,000.00", u"$42.00"};
constexpr std::array<double, 5> kValues = {1234.56, -12.5, 0.99, 1000000.0, 42.0};

PLComPtr<IPLCurrency> NewCurrency() {
    PLComPtr<IPLCurrency> currency;
    PLCreateCurrency(kEnglishUS, currency.Put());
    return currency;
}

std::unique_ptr<icu::NumberFormat> NewIcuFormat() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createCurrencyInstance(icu::Locale("en", "US"), status));
    if (U_FAILURE(status)) format.reset();
    return format;
}

void BM_CurrencyParse(benchmark::State& state) {
    PLComPtr<IPLCurrency> currency = NewCurrency();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(currency->SetValueFromString(kTexts[i++ % kTexts.size()]));
    }
}

void BM_CurrencyParseIcu(benchmark::State& state) {
    const auto format = NewIcuFormat();
    std::array<icu::UnicodeString, kTexts.size()> texts;
    for (std::size_t k = 0; k < kTexts.size(); ++k) texts[k] = icu::UnicodeString(kTexts[k]);
    std::size_t i = 0;
    for (auto _ : state) {
        icu::ParsePosition position(0);
        std::unique_ptr<icu::CurrencyAmount> amount(format->parseCurrency(texts[i++ % texts.size()], position));
        if (!amount) state.SkipWithError("ICU did not parse an amount");
        benchmark::DoNotOptimize(amount.get());
    }
}

void BM_CurrencyParseFloor(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_CURRENCY, nullptr, 0, "en_US", nullptr, &status);
    if (U_FAILURE(status)) {
        state.SkipWithError("ICU has no en-US currency format");
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        status = U_ZERO_ERROR;
        const double value = unum_parseDouble(format, kTexts[i++ % kTexts.size()], -1, nullptr, &status);
        if (U_FAILURE(status)) state.SkipWithError("ICU did not parse an amount");
        benchmark::DoNotOptimize(value);
    }
    unum_close(format);
}

// 255 characters that made a backtracking matcher recurse per character, against "$1,234.56".
void BM_CurrencyParseHostile(benchmark::State& state) {
    PLComPtr<IPLCurrency> currency = NewCurrency();
    const std::u16string text = u"x" + std::u16string(253, u'-') + u"y";
    for (auto _ : state) benchmark::DoNotOptimize(currency->SetValueFromString(text.c_str()));
}

void BM_CurrencyGetString(benchmark::State& state) {
    PLComPtr<IPLCurrency> currency = NewCurrency();
    WCHAR text[64];
    std::size_t i = 0;
    for (auto _ : state) {
        currency->SetValue(kValues[i++ % kValues.size()]);
        benchmark::DoNotOptimize(currency->GetString(text, 64));
        benchmark::ClobberMemory();
    }
}

void BM_CurrencyGetStringIcu(benchmark::State& state) {
    const auto format = NewIcuFormat();
    icu::UnicodeString text;
    std::size_t i = 0;
    for (auto _ : state) {
        text.remove();
        format->format(kValues[i++ % kValues.size()], text);
        benchmark::DoNotOptimize(text.getBuffer());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_CurrencyParse);
BENCHMARK(BM_CurrencyParseFloor);
BENCHMARK(BM_CurrencyParseIcu);
BENCHMARK(BM_CurrencyParseHostile);
BENCHMARK(BM_CurrencyGetString);
BENCHMARK(BM_CurrencyGetStringIcu);

}  // namespace

BENCHMARK_MAIN();
