// Currency amounts: a sign, whole units and hundredths, read from free-form text (with or
// without currency symbol, group separators, minus sign or parentheses) in the settings of a
// locale or of a configured format, and written in the Windows currency orders.
//
// Placement flags of a currency mask (SetCurrencyFormatProperties "CurrencyMask", Format):
//   0x2   currency symbol after the number        positive amounts
//   0x4   a space between number and symbol       positive amounts
//   0x8   a minus sign (without it: parentheses)  negative amounts
//   0x10  the minus sign after the number         negative amounts
//   0x20  the minus sign outside the symbol       negative amounts
//   0x100 currency symbol after the number        negative amounts
//   0x200 a space between number and symbol       negative amounts
#ifndef KDTRACE_CURRENCY_H
#define KDTRACE_CURRENCY_H

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLPropertyBag;

// clang-format off
inline constexpr GUID IID_IPLCurrency = {0x0A0D0B5C, 0x08CE, 0x4A5B, {0x9C, 0xF2, 0x65, 0xB2, 0xC7, 0x22, 0xB2, 0x7B}};
inline constexpr GUID CLSID_PLCurrency = {0x67F9D94C, 0xC847, 0x4AA1, {0x93, 0xA2, 0xE2, 0xAF, 0x7F, 0xFC, 0x14, 0x10}};
// clang-format on

// A money amount. Setting the value never changes the format settings, and setting the format
// never changes the value. A failed setter changes nothing.
struct IPLCurrency : IUnknown {
    // slot 3: free text such as "$1,234.56", "(1,234.5)", "-.5" or "12-" in the object's
    // settings; at most 18 whole digits and 255 characters. The empty text is zero.
    virtual HRESULT SetValueFromString(const WCHAR* text) = 0;
    // slot 4: every digit before `decimalSeparator` is a whole digit, the first two after it the
    // hundredths; "-", "(" or ")" anywhere make the amount negative; all else is skipped. The
    // second to fourth arguments are not read.
    virtual HRESULT SetValueFromFormattedString(const WCHAR* text, LONG reserved1, LONG reserved2,
                                                const WCHAR* reserved3, const WCHAR* decimalSeparator) = 0;
    // slot 5: rounded to the nearest hundredth; not finite or 10^18 and above fails.
    virtual HRESULT SetValue(double value) = 0;
    virtual HRESULT GetValue(LONG* units, LONG* fraction) = 0;  // slot 6: signed units, hundredths
    // slot 7: sign x (units + hundredths / 100 + 0.00001).
    virtual HRESULT GetValue(double* value) = 0;
    // slot 8: signed units; fails when they do not fit 32 bits.
    virtual HRESULT GetUnits(LONG* units) = 0;
    virtual HRESULT SetUnits(LONG units) = 0;          // slot 9: magnitude and sign
    virtual HRESULT GetUnits64(LONGLONG* units) = 0;   // slot 10: signed units
    virtual HRESULT GetFraction(float* fraction) = 0;  // slot 11: hundredths / 100 + 0.00001
    virtual HRESULT SetFraction(float fraction) = 0;   // slot 12: rounded to the nearest hundredth
    virtual HRESULT IsNegative(LONG* negative) = 0;    // slot 13
    // slot 14: the amount in the configured format when one is set, else in the locale's.
    virtual HRESULT GetString(WCHAR* buffer, LONG size) = 0;
    // slot 15: the amount with explicit settings: a mask of placement flags, group digits 0-9,
    // the amount rounded half away from zero to `decimalPlaces`. An empty decimal symbol is the
    // locale's.
    virtual HRESULT Format(LONG mask, const WCHAR* currencySymbol, const WCHAR* groupSymbol, const WCHAR* decimalSymbol,
                           LONG groupDigits, LONG decimalPlaces, WCHAR* buffer, LONG size) = 0;
    // slot 16: `op` is a PLCompareOperator.
    virtual HRESULT Compare(IPLCurrency* other, LONG op, BOOL* result) = 0;
    virtual HRESULT GetFractionAsLong(LONG* fraction) = 0;  // slot 17: the hundredths
    virtual HRESULT SetFractionAsLong(LONG fraction) = 0;   // slot 18: stored as given
    virtual HRESULT GetLocale(LCID* locale) = 0;            // slot 19
    virtual HRESULT SetLocale(LCID locale) = 0;             // slot 20
    // slot 21: reads "GroupDigits", "DecimalPlaces", "CurrencyMask" (when 0 or less,
    // "PositiveOrder" and "NegativeOrder"), "CurrencySymbol" (at most 5 characters),
    // "DecimalSymbol" and "GroupSymbol" (at most 3 each); a name the bag lacks keeps its current
    // setting. On success the configured format replaces the locale's.
    virtual HRESULT SetCurrencyFormatProperties(IPLPropertyBag* bag) = 0;
    // slot 22: "1234.50", negative "(1234.50)": no symbol, no grouping, "." as separator.
    virtual HRESULT GetUnformattedString(WCHAR* buffer, LONG size) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_CURRENCY_H
