// The variant's set, get and convert of each scalar kind and its string comparison, each beside
// a floor: a plain loop doing the same essential work (store and load a tagged value, copy the
// text, write and read the number with the C++ library's conversions, compare the code units).
//
//   build/release/bin/bench_variant
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLVariant.h"

namespace {

PLComPtr<IPLVariant> NewVariant() {
    PLComPtr<IPLVariant> variant;
    PLCreateVariant(variant.Put());
    return variant;
}

// The floor's tagged value: the variant's fields (the kind, one 8-byte slot, a date mask), set
// and read through functions the compiler may not inline, as a host reaches the variant's
// methods through its table. A getter checks the kind as the variant's does.
struct Plain {
    int32_t type = 0;
    union {
        int32_t number;
        int64_t bigNumber;
        double real;
        bool flag;
    };
    std::u16string mask;
};

template <class T>
T Plain::*Slot();
template <>
int32_t Plain::*Slot<int32_t>() {
    return &Plain::number;
}
template <>
int64_t Plain::*Slot<int64_t>() {
    return &Plain::bigNumber;
}
template <>
double Plain::*Slot<double>() {
    return &Plain::real;
}
template <>
bool Plain::*Slot<bool>() {
    return &Plain::flag;
}

template <class T, int32_t Kind>
__attribute__((noinline)) int PlainSet(Plain* p, T value) {
    p->type = Kind;
    p->*Slot<T>() = value;
    return 0;
}
template <class T, int32_t Kind>
__attribute__((noinline)) int PlainGet(const Plain* p, T* out) {
    if (p->type != Kind) return -1;
    *out = p->*Slot<T>();
    return 0;
}

void BM_SetGetLong(benchmark::State& state) {
    auto v = NewVariant();
    LONG out = 0;
    LONG in = 0;
    for (auto _ : state) {
        v->SetValueLong(++in);
        v->GetValueLong(&out);
        benchmark::DoNotOptimize(out);
    }
}
void BM_SetGetLongFloor(benchmark::State& state) {
    Plain p;
    int32_t out = 0;
    int32_t in = 0;
    for (auto _ : state) {
        PlainSet<int32_t, 2>(&p, ++in);
        PlainGet<int32_t, 2>(&p, &out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_SetGetLongLong(benchmark::State& state) {
    auto v = NewVariant();
    LONGLONG out = 0;
    LONGLONG in = 0;
    for (auto _ : state) {
        v->SetValueLongLong(++in);
        v->GetValueLongLong(&out);
        benchmark::DoNotOptimize(out);
    }
}
void BM_SetGetLongLongFloor(benchmark::State& state) {
    Plain p;
    int64_t out = 0;
    int64_t in = 0;
    for (auto _ : state) {
        PlainSet<int64_t, 10>(&p, ++in);
        PlainGet<int64_t, 10>(&p, &out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_SetGetDouble(benchmark::State& state) {
    auto v = NewVariant();
    double out = 0;
    double in = 0;
    for (auto _ : state) {
        v->SetValueDouble(in += 0.5);
        v->GetValueDouble(&out);
        benchmark::DoNotOptimize(out);
    }
}
void BM_SetGetDoubleFloor(benchmark::State& state) {
    Plain p;
    double out = 0;
    double in = 0;
    for (auto _ : state) {
        PlainSet<double, 3>(&p, in += 0.5);
        PlainGet<double, 3>(&p, &out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_SetGetBoolean(benchmark::State& state) {
    auto v = NewVariant();
    bool out = false;
    bool in = false;
    for (auto _ : state) {
        v->SetValueBoolean(in = !in);
        v->GetValueBoolean(&out);
        benchmark::DoNotOptimize(out);
    }
}
void BM_SetGetBooleanFloor(benchmark::State& state) {
    Plain p;
    bool out = false;
    bool in = false;
    for (auto _ : state) {
        PlainSet<bool, 4>(&p, in = !in);
        PlainGet<bool, 4>(&p, &out);
        benchmark::DoNotOptimize(out);
    }
}

const char16_t kText[] = u"A property value of moderate length";

void BM_SetGetString(benchmark::State& state) {
    auto v = NewVariant();
    WCHAR out[64];
    for (auto _ : state) {
        v->SetValueString(kText);
        v->GetValueString(out, 64);
        benchmark::DoNotOptimize(out);
    }
}
// The floor: a held std::u16string assigned the text (its room kept from one assignment to the
// next) and copied out with its terminator into a buffer of a checked size, each step through a
// function the compiler may not inline.
__attribute__((noinline)) int HeldSet(std::u16string* held, const char16_t* text) {
    *held = text;
    return 0;
}
__attribute__((noinline)) int HeldGet(const std::u16string* held, char16_t* out, std::size_t size) {
    if (held->size() + 1 > size) return -1;
    std::memcpy(out, held->c_str(), (held->size() + 1) * sizeof(char16_t));
    return 0;
}
void BM_SetGetStringFloor(benchmark::State& state) {
    std::u16string held;
    char16_t out[64];
    for (auto _ : state) {
        HeldSet(&held, kText);
        HeldGet(&held, out, 64);
        benchmark::DoNotOptimize(out);
    }
}

// Long to text and back. The floor: std::to_chars, the digits widened into a kept UTF-16
// buffer, narrowed again and read with std::from_chars.
void BM_ConvertLong(benchmark::State& state) {
    auto v = NewVariant();
    for (auto _ : state) {
        v->SetValueLong(-1234567);
        v->Convert(PLVariantString);
        v->Convert(PLVariantLong);
    }
}
void BM_ConvertLongFloor(benchmark::State& state) {
    char16_t held[16];
    for (auto _ : state) {
        char text[16];
        int32_t value = -1234567;
        benchmark::DoNotOptimize(value);
        const auto end = std::to_chars(text, text + 16, value).ptr;
        const auto length = static_cast<std::size_t>(end - text);
        for (std::size_t i = 0; i < length; ++i) held[i] = static_cast<char16_t>(text[i]);
        held[length] = 0;
        benchmark::DoNotOptimize(held);
        char back[16];
        for (std::size_t i = 0; i < length; ++i) back[i] = static_cast<char>(held[i]);
        int32_t read = 0;
        std::from_chars(back, back + length, read);
        benchmark::DoNotOptimize(read);
    }
}

// Double to text and back.
void BM_ConvertDouble(benchmark::State& state) {
    auto v = NewVariant();
    for (auto _ : state) {
        v->SetValueDouble(-1234.5678);
        v->Convert(PLVariantString);
        v->Convert(PLVariantDouble);
    }
}
void BM_ConvertDoubleFloor(benchmark::State& state) {
    for (auto _ : state) {
        char text[40];
        double value = -1234.5678;
        benchmark::DoNotOptimize(value);
        const int n = std::snprintf(text, sizeof text, "%.6f", value);
        std::u16string held(text, text + n);
        std::string back(held.begin(), held.end());
        double read = 0;
        std::from_chars(back.data(), back.data() + back.size(), read);
        benchmark::DoNotOptimize(read);
    }
}

// Boolean to text and back.
void BM_ConvertBoolean(benchmark::State& state) {
    auto v = NewVariant();
    for (auto _ : state) {
        v->SetValueBoolean(true);
        v->Convert(PLVariantString);
        v->Convert(PLVariantBoolean);
    }
}
// The floor: the fixed text chosen and kept, then compared with the two fixed texts.
void BM_ConvertBooleanFloor(benchmark::State& state) {
    char16_t held[8];
    for (auto _ : state) {
        bool value = true;
        benchmark::DoNotOptimize(value);
        const std::u16string_view text = value ? u"true" : u"false";
        text.copy(held, text.size());
        held[text.size()] = 0;
        benchmark::DoNotOptimize(held);
        const std::u16string_view kept(held);
        bool read = false;
        if (kept == u"true")
            read = true;
        else if (kept == u"false")
            read = false;
        benchmark::DoNotOptimize(read);
    }
}

void BM_CompareStrings(benchmark::State& state) {
    auto a = NewVariant();
    auto b = NewVariant();
    a->SetValueString(u"Customer account number 0001234");
    b->SetValueString(u"Customer account number 0001235");
    LONG result = 0;
    for (auto _ : state) {
        a->CompareEx(b.Get(), state.range(0) != 0, &result);
        benchmark::DoNotOptimize(result);
    }
}
void BM_CompareStringsFloor(benchmark::State& state) {
    std::u16string a(u"Customer account number 0001234");
    std::u16string b(u"Customer account number 0001235");
    const bool ignoreCase = state.range(0) != 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.data());
        int result = 0;
        for (std::size_t i = 0;; ++i) {
            char16_t x = a.c_str()[i], y = b.c_str()[i];
            if (ignoreCase) {
                if (x >= u'A' && x <= u'Z') x += 32;
                if (y >= u'A' && y <= u'Z') y += 32;
            }
            if (x != y || x == 0) {
                result = x - y;
                break;
            }
        }
        benchmark::DoNotOptimize(result);
    }
}

}  // namespace

BENCHMARK(BM_SetGetLong);
BENCHMARK(BM_SetGetLongFloor);
BENCHMARK(BM_SetGetLongLong);
BENCHMARK(BM_SetGetLongLongFloor);
BENCHMARK(BM_SetGetDouble);
BENCHMARK(BM_SetGetDoubleFloor);
BENCHMARK(BM_SetGetBoolean);
BENCHMARK(BM_SetGetBooleanFloor);
BENCHMARK(BM_SetGetString);
BENCHMARK(BM_SetGetStringFloor);
BENCHMARK(BM_ConvertLong);
BENCHMARK(BM_ConvertLongFloor);
BENCHMARK(BM_ConvertDouble);
BENCHMARK(BM_ConvertDoubleFloor);
BENCHMARK(BM_ConvertBoolean);
BENCHMARK(BM_ConvertBooleanFloor);
BENCHMARK(BM_CompareStrings)->Arg(0)->Arg(1);
BENCHMARK(BM_CompareStringsFloor)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
