// A library that exists to be loaded by tests; the build gives it a version note (or none).
#define KD_TEST_EXPORT extern "C" __attribute__((visibility("default")))

KD_TEST_EXPORT const char* kd_test_library_name() {
    return KD_TEST_LIBRARY_NAME;
}
