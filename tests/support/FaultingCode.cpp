// Code that faults on purpose. Built without the sanitizers, so that the processor faults.
namespace {
volatile int* volatile g_null = nullptr;
volatile int g_recursionLimit = 0x7FFFFFFF;
}  // namespace

__attribute__((noinline)) int ReadThroughNull() {
    return *g_null;
}

__attribute__((noinline)) int DivideBy(int divisor) {
    volatile int dividend = 1000;
    volatile int d = divisor;
    return dividend / d;
}

// Recurses until the stack is exhausted.
__attribute__((noinline)) int OverflowStack(int depth) {
    volatile char pad[2048];
    pad[0] = static_cast<char>(depth);
    if (depth == g_recursionLimit) return pad[0];
    return OverflowStack(depth + 1) + pad[0];
}
