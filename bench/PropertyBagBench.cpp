// SetProperty and GetProperty on a bag of 1,000 entries, beside their floor, in the same run:
// std::unordered_map from the case-folded name (folded into a kept buffer) to a variant-like
// value (a kind and one 8-byte slot), the value copied in and out, each call through a function
// the compiler may not inline, as a host reaches the bag through its table.
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
    union {
        LONG number;
        LONGLONG bigNumber;
        double real;
        void* word;
    };
};
using FloorMap = std::unordered_map<std::u16string, Value>;
std::u16string& Fold(const char16_t* name, std::u16string& buffer) {
    buffer.assign(name);
    for (char16_t& c : buffer)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return buffer;
}
__attribute__((noinline)) int FloorSet(FloorMap* map, std::u16string* buffer, const char16_t* name,
                                       const Value* value) {
    (*map)[Fold(name, *buffer)] = *value;
    return 0;
}
__attribute__((noinline)) int FloorGet(const FloorMap* map, std::u16string* buffer, const char16_t* name,
                                       Value* value) {
    const auto found = map->find(Fold(name, *buffer));
    if (found == map->end()) return 1;
    *value = found->second;
    return 0;
}
FloorMap FilledMap(const std::vector<std::u16string>& names) {
    FloorMap map;
    std::u16string buffer;
    for (int i = 0; i < kEntries; ++i) {
        Value value{2, {}};
        value.number = i;
        FloorSet(&map, &buffer, names[static_cast<std::size_t>(i)].c_str(), &value);
    }
    return map;
}

void BM_BagSetPropertyFloor(benchmark::State& state) {
    const auto names = Names();
    auto map = FilledMap(names);
    std::u16string buffer;
    Value value{2, {}};
    value.number = 7;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FloorSet(&map, &buffer, names[i].c_str(), &value));
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
        Value out{};
        FloorGet(&map, &buffer, names[i].c_str(), &out);
        sum += out.type == 2 ? out.number : 0;
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
