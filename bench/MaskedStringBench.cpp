// Masked SetAt at the last input position of an empty value, which fills every input position
// before it, for masks of 1,000 to 20,000 characters: the time grows with the mask's length, not
// with its square. Beside it, SetValue of the whole text (the same length of value, typed), and
// the floor.
//
// Floor: one walk over the mask with a plain loop, appending the fill character for each input
// position (and the typed character for the last) to a std::u16string reserved beforehand.
//
//   build/release/bin/bench_masked_string
#include <benchmark/benchmark.h>

#include <string>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"

namespace {

// Three input positions, then a static one: "XXXSXXXS...".
std::u16string Mask(std::size_t length) {
    std::u16string mask(length, u'X');
    for (std::size_t i = 3; i < length; i += 4) mask[i] = u'S';
    return mask;
}

std::size_t Inputs(const std::u16string& mask) {
    std::size_t count = 0;
    for (const char16_t m : mask) count += m == u'S' ? 0 : 1;
    return count;
}

PLComPtr<IPLMaskedString> NewMasked(const std::u16string& mask) {
    PLComPtr<IPLMaskedString> masked;
    PLCreateInstance(CLSID_PLMaskedString, masked);
    const std::u16string statics(mask.size(), u'-');
    masked->SetMask(mask.c_str(), statics.c_str(), PLMaskStylePositional);
    masked->SetFillCharacter(u'_');
    return masked;
}

void BM_MaskedSetAtLast(benchmark::State& state) {
    const std::u16string mask = Mask(static_cast<std::size_t>(state.range(0)));
    auto masked = NewMasked(mask);
    const auto last = static_cast<LONG>(Inputs(mask) - 1);
    for (auto _ : state) {
        masked->Clear();
        benchmark::DoNotOptimize(masked->SetAt(last, u'z', PLMaskedFormNormal));
    }
    state.SetComplexityN(state.range(0));
}

void BM_MaskedSetValue(benchmark::State& state) {
    const std::u16string mask = Mask(static_cast<std::size_t>(state.range(0)));
    auto masked = NewMasked(mask);
    const std::u16string text(Inputs(mask), u'z');
    for (auto _ : state) benchmark::DoNotOptimize(masked->SetValue(text.c_str(), PLMaskedFormNormal));
    state.SetComplexityN(state.range(0));
}

void BM_MaskedSetAtLastFloor(benchmark::State& state) {
    const std::u16string mask = Mask(static_cast<std::size_t>(state.range(0)));
    const std::size_t last = Inputs(mask) - 1;
    std::u16string value;
    for (auto _ : state) {
        value.clear();
        value.reserve(last + 1);
        std::size_t input = 0;
        for (std::size_t i = 0; i < mask.size() && input < last; ++i) {
            if (mask[i] == u'S') continue;
            value += u'_';
            ++input;
        }
        value += u'z';
        benchmark::DoNotOptimize(value.data());
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_MaskedSetAtLast)->RangeMultiplier(20)->Range(1000, 20000)->Complexity();
BENCHMARK(BM_MaskedSetValue)->RangeMultiplier(20)->Range(1000, 20000)->Complexity();
BENCHMARK(BM_MaskedSetAtLastFloor)->RangeMultiplier(20)->Range(1000, 20000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
