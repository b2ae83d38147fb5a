// Number conversion and decimal-separator functions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLNumberFunctions.h"
#include "module_base/PLVariant.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kdtest::Recorded;

TEST(PLNumberFunctionsTest, StringToDouble) {
    const struct {
        const char16_t* text;
        HRESULT hr;
        double value;
    } cases[] = {
        {u"-1,234.5", S_OK, -1234.5}, {u"+3.25", S_OK, 3.25}, {u"", S_OK, 0.0},      {u"1.", S_OK, 1.0},
        {u"0.1", S_OK, 0.1},          {u".5", S_OK, 0.5},     {u"1.2.3", E_FAIL, 0}, {u"1e5", E_FAIL, 0},
        {u" 1", E_FAIL, 0},           {u"1.2,3", E_FAIL, 0},  {u"--1", E_FAIL, 0},
    };
    for (const auto& c : cases) {
        double value = -99;
        EXPECT_HR(StringToDouble(c.text, &value), c.hr)
            << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        if (c.hr == S_OK) {
            EXPECT_EQ(value, c.value);
        }
    }
    // Failures leave no record; a value beyond the double range is refused.
    EXPECT_TRUE(Recorded(u""));
    double value = 0;
    EXPECT_HR(StringToDouble(std::u16string(400, u'9').c_str(), &value), E_FAIL);
}

TEST(PLNumberFunctionsTest, Int32Range) {
    const struct {
        LONGLONG value;
        HRESULT verify;
        const char16_t* message;  // recorded by VerifySafeInt32 (empty: none)
    } cases[] = {
        {2146983647, S_OK, u""},
        {2146983648, S_OK, u"The value is close to getting maxout. Highly recommended to use type Int64"},
        {2147483647, S_OK, u"The value is close to getting maxout. Highly recommended to use type Int64"},
        {2147483648, E_FAIL, u"The Value is larger than 2147483647. This operation is not supported."},
        {-1, S_OK, u""},
        {-2, S_OK, u""},
        {-2147483648LL, S_OK, u""},
        {-2147483649LL, E_FAIL, u"Possible truncation due to value out of bounds"},
    };
    for (const auto& c : cases) {
        kdtest::TakeThreadErrors();
        EXPECT_HR(VerifySafeInt32(c.value), c.verify) << c.value;
        EXPECT_TRUE(Recorded(c.message)) << c.value;
        LONG narrow = 12345;
        EXPECT_HR(ConvertPLLongToLong(c.value, &narrow), c.verify) << c.value;
        EXPECT_EQ(narrow, c.verify == S_OK ? static_cast<LONG>(c.value) : 12345);
    }
    LONG narrow = 0;
    EXPECT_HR(ConvertPLLongToLong(-2147483649LL, &narrow), E_FAIL);
    EXPECT_TRUE(
        Recorded(u"Unable to convert olValue (-2147483649) to Int32. This operation is not supported for "
                 u"values less than -2147483648."));
}

TEST(PLNumberFunctionsTest, EstimateImageMemory) {
    uint64_t bytes = 0;
    ASSERT_HR(EstimateImageMemory(100, 10, 1, &bytes), S_OK);
    EXPECT_EQ(bytes, 2427u);
    ASSERT_HR(EstimateImageMemory(1000, 1000, 24, &bytes), S_OK);
    EXPECT_EQ(bytes, 6156150u);  // row 3003, image 3003000
    // Products beyond 32 bits are not cut.
    ASSERT_HR(EstimateImageMemory(100000, 100000, 32, &bytes), S_OK);
    EXPECT_EQ(bytes, 82000615000ull);
    EXPECT_HR(EstimateImageMemory(0, 10, 1, &bytes), E_FAIL);
    EXPECT_TRUE(Recorded(u"Non-zero WIDTH and HEIGHT required"));
}

// A data source whose property bag holds at most one boolean.
class FakeBag final : public IPLPropertyBag {
public:
    explicit FakeBag(int flag) : m_flag(flag) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != IID_IPLPropertyBag) return E_NOINTERFACE;
        *object = static_cast<IPLPropertyBag*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SetProperty(const WCHAR*, IPLVariant*) override { return E_NOTIMPL; }
    HRESULT GetProperty(const WCHAR* name, IPLVariant** value) override {
        if (m_flag < 0 || std::u16string(name) != u"databaseUsesCommaDecimal") return S_FALSE;
        HRESULT hr = PLCreateVariant(value);
        if (hr >= 0) hr = (*value)->SetValueBoolean(m_flag != 0);
        return hr;
    }
    HRESULT GetProperties(IPLPropertyCollection**) override { return E_NOTIMPL; }
    HRESULT ContainsKey(const WCHAR*, BOOL*) override { return E_NOTIMPL; }
    HRESULT DeleteProperty(const WCHAR*) override { return E_NOTIMPL; }

private:
    int m_flag;  // -1: absent
};

TEST(PLNumberFunctionsTest, DecimalSeparators) {
    for (const auto& [flag, expected] : {std::pair{-1, u"."}, {0, u"."}, {1, u","}}) {
        FakeBag bag(flag);
        PLString separator;
        LCID locale = 0;
        ASSERT_HR(GetDecimalSeparator(&bag, separator, locale), S_OK);
        EXPECT_EQ(separator, PLString(expected));
        EXPECT_EQ(locale, 1033u);
    }

    const struct {
        LCID locale;
        const char16_t* normal;
        const char16_t* local;
    } cases[] = {{0x0409, u"1234.5", u"1234.5"}, {0x0407, u"1234.5", u"1234,5"}, {0x040C, u"0.25", u"0,25"}};
    for (const auto& c : cases) {
        PLString text = c.normal;
        ASSERT_HR(LocalizeFloatingPointString(text, c.locale), S_OK);
        EXPECT_EQ(text, PLString(c.local));
        ASSERT_HR(NormalizeFloatingPointString(text, c.locale), S_OK);
        EXPECT_EQ(text, PLString(c.normal));
    }
    PLString text = u"1.5";
    EXPECT_HR(LocalizeFloatingPointString(text, 0x7FFF), E_FAIL);
    EXPECT_TRUE(Recorded(u"Failed to get user decimal symbol."));
    // A monetary separator other than "$" leaves the text alone.
    text = u"12$50";
    ASSERT_HR(CorrectPortugueseDecimalSeparator(0x0409, text), S_OK);
    EXPECT_EQ(text, PLString(u"12$50"));
    EXPECT_HR(CorrectPortugueseDecimalSeparator(0x7FFF, text), E_FAIL);
    EXPECT_TRUE(Recorded(u"Failed to get system decimal symbol."));
}

}  // namespace
