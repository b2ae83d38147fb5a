// SetProperty and GetProperty on a bag of 1,000 entries, beside their floor: a hash map from the
// case-folded name to a small value struct, copying values in and out, in the same run.
//
//   build/release/bin/bench_property_bag
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"

namespace {

constexpr int kEntries = 1000;

std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    for (int i = 0; i < kEntries; ++i) {
        const std::string n = "Property" + std::to_string(i);
        names.emplace_back(n.begin(), n.end());
    }
    return names;
}

PLComPtr<IPLPropertyBag> FilledBag(const std::vector<std::u16string>& names) {
    PLComPtr<IPLPropertyBag> bag;
    PLCreateInstance(CLSID_PLPropertyBag, bag);
    PLComPtr<IPLVariant> value;
    PLCreateInstance(CLSID_PLVariant, value);
    for (int i = 0; i < kEntries; ++i) {
        value->SetValueLong(i);
        bag->SetProperty(names[static_cast<std::size_t>(i)].c_str(), value.Get());
    }
    return bag;
}

void BM_BagSetProperty(benchmark::State& state) {
    const auto names = Names();
    PLComPtr<IPLPropertyBag> bag = FilledBag(names);
    PLComPtr<IPLVariant> value;
    PLCreateInstance(CLSID_PLVariant, value);
    value->SetValueLong(7);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bag->SetProperty(names[i].c_str(), value.Get()));
        if (++i == names.size()) i = 0;
    }
}

void BM_BagGetProperty(benchmark::State& state) {
    const auto names = Names();
    PLComPtr<IPLPropertyBag> bag = FilledBag(names);
    std::size_t i = 0;
    LONG sum = 0;
    for (auto _ : state) {
        PLComPtr<IPLVariant> out;
        bag->GetProperty(names[i].c_str(), out.Put());
        LONG v = 0;
        out->GetValueLong(&v);
        sum += v;
        if (++i == names.size()) i = 0;
    }
    benchmark::DoNotOptimize(sum);
}

// The floor: the same lookups by case-folded name, values copied as small structs.
struct Value {
    LONG type;
    LONGLONG number;
};
std::u16string& Fold(const std::u16string& name, std::u16string& buffer) {
    buffer.assign(name);
    for (char16_t& c : buffer)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return buffer;
}
std::unordered_map<std::u16string, Value> FilledMap(const std::vector<std::u16string>& names) {
    std::unordered_map<std::u16string, Value> map;
    std::u16string buffer;
    for (int i = 0; i < kEntries; ++i) map[Fold(names[static_cast<std::size_t>(i)], buffer)] = {2, i};
    return map;
}

void BM_BagSetPropertyFloor(benchmark::State& state) {
    const auto names = Names();
    auto map = FilledMap(names);
    std::u16string buffer;
    const Value value{2, 7};
    std::size_t i = 0;
    for (auto _ : state) {
        map[Fold(names[i], buffer)] = value;
        benchmark::ClobberMemory();
        if (++i == names.size()) i = 0;
    }
}

void BM_BagGetPropertyFloor(benchmark::State& state) {
    const auto names = Names();
    const auto map = FilledMap(names);
    std::u16string buffer;
    std::size_t i = 0;
    LONGLONG sum = 0;
    for (auto _ : state) {
        const auto found = map.find(Fold(names[i], buffer));
        Value out = found->second;
        benchmark::DoNotOptimize(out);
        sum += out.number;
        if (++i == names.size()) i = 0;
    }
    benchmark::DoNotOptimize(sum);
}

}  // namespace

BENCHMARK(BM_BagSetProperty);
BENCHMARK(BM_BagSetPropertyFloor);
BENCHMARK(BM_BagGetProperty);
BENCHMARK(BM_BagGetPropertyFloor);
BENCHMARK_MAIN();
