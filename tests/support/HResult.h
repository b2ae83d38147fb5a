// HRESULT checks that say which code they got by name: EXPECT_HR(module->InitModule(), S_OK)
// fails with "E_POINTER (0x80004003)" rather than -2147467261.
#ifndef KD_TESTS_HRESULT_H
#define KD_TESTS_HRESULT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include <kdtrace/kdtrace.h>
#include <kdtrace/msgtable.h>

namespace kdtest {

inline std::string HResultName(HRESULT hr) {
    static constexpr std::pair<HRESULT, const char*> kNames[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_FAIL, "E_FAIL"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {PL_E_VERIFY, "PL_E_VERIFY"},
        {PL_E_MODULE_NOT_INITIALIZED, "PL_E_MODULE_NOT_INITIALIZED"},
        {PL_E_NO_MODULE_PROPERTY_MAP, "PL_E_NO_MODULE_PROPERTY_MAP"},
        {PL_E_MESSAGE_NOT_FOUND, "PL_E_MESSAGE_NOT_FOUND"},
        {PL_E_LANGUAGE_NOT_FOUND, "PL_E_LANGUAGE_NOT_FOUND"},
        {PL_E_BUFFER_TOO_SMALL, "PL_E_BUFFER_TOO_SMALL"}};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
    for (const auto& [code, name] : kNames)
        if (code == hr) return std::string(name) + " (" + hex + ")";
    return hex;
}

inline ::testing::AssertionResult HResultEq(const char* actualText, const char* expectedText, HRESULT actual,
                                            HRESULT expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actualText << " is " << HResultName(actual) << ", expected " << expectedText
                                         << " = " << HResultName(expected);
}

}  // namespace kdtest

#define EXPECT_HR(actual, expected) EXPECT_PRED_FORMAT2(::kdtest::HResultEq, actual, expected)
#define ASSERT_HR(actual, expected) ASSERT_PRED_FORMAT2(::kdtest::HResultEq, actual, expected)

#endif  // KD_TESTS_HRESULT_H
