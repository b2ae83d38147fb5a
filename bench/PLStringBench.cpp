// PLString beside std::u16string doing the same work in the same run.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>

#include "module_base/PLString.h"

namespace {

const std::u16string kThousand(1000, u'k');

void BM_Copy1000_PLString(benchmark::State& state) {
    const PLString source(kThousand.c_str());
    for (auto _ : state) {
        PLString copy(source);
        benchmark::DoNotOptimize(copy.c_str());
    }
}
BENCHMARK(BM_Copy1000_PLString);

void BM_Copy1000_u16string(benchmark::State& state) {
    const std::u16string source = kThousand;
    for (auto _ : state) {
        std::u16string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_Copy1000_u16string);

void BM_Append100k_PLString(benchmark::State& state) {
    for (auto _ : state) {
        PLString s;
        for (int i = 0; i < 100000; ++i) s += static_cast<WCHAR>(u'a' + (i & 15));
        benchmark::DoNotOptimize(s.c_str());
    }
}
BENCHMARK(BM_Append100k_PLString)->Unit(benchmark::kMicrosecond);

void BM_Append100k_u16string(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < 100000; ++i) s += static_cast<char16_t>(u'a' + (i & 15));
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_Append100k_u16string)->Unit(benchmark::kMicrosecond);

std::u16string Haystack() {
    std::u16string text;
    for (int i = 0; i < 2000; ++i) text += u"lorem ab ipsum ";
    return text;
}

void BM_Replace_PLString(benchmark::State& state) {
    const PLString source(Haystack().c_str());
    for (auto _ : state) {
        PLString s(source);
        benchmark::DoNotOptimize(s.Replace(u"ab", u"xyz"));
    }
}
BENCHMARK(BM_Replace_PLString)->Unit(benchmark::kMicrosecond);

void BM_Replace_u16string(benchmark::State& state) {
    const std::u16string source = Haystack();
    for (auto _ : state) {
        std::u16string s(source);
        int count = 0;
        for (std::size_t pos = s.find(u"ab"); pos != std::u16string::npos; pos = s.find(u"ab", pos + 3)) {
            s.replace(pos, 2, u"xyz");
            ++count;
        }
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_Replace_u16string)->Unit(benchmark::kMicrosecond);

void BM_Find_PLString(benchmark::State& state) {
    const PLString s((Haystack() + u"needle").c_str());
    for (auto _ : state) benchmark::DoNotOptimize(s.Find(u"needle"));
}
BENCHMARK(BM_Find_PLString)->Unit(benchmark::kMicrosecond);

void BM_Find_u16string(benchmark::State& state) {
    const std::u16string s = Haystack() + u"needle";
    for (auto _ : state) benchmark::DoNotOptimize(s.find(u"needle"));
}
BENCHMARK(BM_Find_u16string)->Unit(benchmark::kMicrosecond);

void BM_FindChar_PLString(benchmark::State& state) {
    const PLString s((Haystack() + u"#").c_str());
    for (auto _ : state) benchmark::DoNotOptimize(s.Find(u'#'));
}
BENCHMARK(BM_FindChar_PLString)->Unit(benchmark::kMicrosecond);

void BM_FindChar_u16string(benchmark::State& state) {
    const std::u16string s = Haystack() + u"#";
    for (auto _ : state) benchmark::DoNotOptimize(s.find(u'#'));
}
BENCHMARK(BM_FindChar_u16string)->Unit(benchmark::kMicrosecond);

void BM_Format_PLString(benchmark::State& state) {
    const PLString name(u"ThreadID");
    int i = 0;
    for (auto _ : state) {
        PLString s;
        s.Format(u"%s=0x%08X line %d", name, 0xC0000005u, ++i);
        benchmark::DoNotOptimize(s.c_str());
    }
}
BENCHMARK(BM_Format_PLString);

// The same text built directly: digits with to_chars, widened and appended.
void BM_Format_u16string(benchmark::State& state) {
    const std::u16string name = u"ThreadID";
    int i = 0;
    for (auto _ : state) {
        std::u16string s;
        s += name;
        s += u"=0x";
        char digits[16];
        auto r = std::to_chars(digits, digits + 16, 0xC0000005u, 16);
        for (int pad = static_cast<int>(r.ptr - digits); pad < 8; ++pad) s += u'0';
        for (char* p = digits; p < r.ptr; ++p) s += static_cast<char16_t>(*p >= 'a' ? *p - 32 : *p);
        s += u" line ";
        r = std::to_chars(digits, digits + 16, ++i);
        for (char* p = digits; p < r.ptr; ++p) s += static_cast<char16_t>(*p);
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_Format_u16string);

}  // namespace

BENCHMARK_MAIN();
