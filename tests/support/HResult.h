// HRESULT checks that say which code they got by name: EXPECT_HR(module->InitModule(), S_OK)
// fails with "E_POINTER (0x80004003)" rather than -2147467261.
#ifndef KD_TESTS_HRESULT_H
#define KD_TESTS_HRESULT_H

#include <gtest/gtest.h>

#include <kdtrace/host.h>

namespace kdtest {

using kdtrace::host::HResultText;

inline ::testing::AssertionResult HResultEq(const char* actualText, const char* expectedText, HRESULT actual,
                                            HRESULT expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actualText << " is " << HResultText(actual) << ", expected " << expectedText
                                         << " = " << HResultText(expected);
}

}  // namespace kdtest

#define EXPECT_HR(actual, expected) EXPECT_PRED_FORMAT2(::kdtest::HResultEq, actual, expected)
#define ASSERT_HR(actual, expected) ASSERT_PRED_FORMAT2(::kdtest::HResultEq, actual, expected)

#endif  // KD_TESTS_HRESULT_H
