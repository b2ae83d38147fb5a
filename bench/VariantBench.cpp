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

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLVariant.h"

namespace {

PLComPtr<IPLVariant> NewVariant() {
    PLComPtr<IPLVariant> variant;
    PLCreateVariant(variant.Put());
    return variant;
}

// The floor's tagged value.
struct Plain {
    int type = 0;
    union {
        int32_t number;
        int64_t bigNumber;
        double real;
        bool flag;
    };
};

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
    int32_t in = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&p);
        p.type = 2;
        p.number = ++in;
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(p.type == 2 ? p.number : 0);
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
    int64_t in = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&p);
        p.type = 10;
        p.bigNumber = ++in;
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(p.type == 10 ? p.bigNumber : 0);
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
    double in = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&p);
        p.type = 3;
        p.real = in += 0.5;
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(p.type == 3 ? p.real : 0);
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
    bool in = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&p);
        p.type = 4;
        p.flag = in = !in;
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(p.type == 4 ? p.flag : false);
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
void BM_SetGetStringFloor(benchmark::State& state) {
    char16_t out[64];
    for (auto _ : state) {
        std::u16string held(kText);  // an owned copy, as the variant keeps
        benchmark::DoNotOptimize(held.data());
        std::memcpy(out, held.c_str(), (held.size() + 1) * sizeof(char16_t));
        benchmark::DoNotOptimize(out);
    }
}

// Long to text and back.
void BM_ConvertLong(benchmark::State& state) {
    auto v = NewVariant();
    for (auto _ : state) {
        v->SetValueLong(-1234567);
        v->Convert(PLVariantString);
        v->Convert(PLVariantLong);
    }
}
void BM_ConvertLongFloor(benchmark::State& state) {
    for (auto _ : state) {
        char text[16];
        int32_t value = -1234567;
        benchmark::DoNotOptimize(value);
        const auto end = std::to_chars(text, text + 16, value).ptr;
        std::u16string held(text, end);  // the text is kept between the steps
        std::string back(held.begin(), held.end());
        int32_t read = 0;
        std::from_chars(back.data(), back.data() + back.size(), read);
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
void BM_ConvertBooleanFloor(benchmark::State& state) {
    for (auto _ : state) {
        bool value = true;
        benchmark::DoNotOptimize(value);
        std::u16string held(value ? u"true" : u"false");
        bool read = held.size() == 4 && (held[0] | 0x20) == u't';
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
