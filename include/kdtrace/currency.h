/// \file
/// Currency amounts: a sign, whole units and hundredths, read from free-form text (with or
/// without currency symbol, group separators, minus sign or parentheses) in the settings of a
/// locale or of a configured format, and written in the Windows currency orders.
///
/// Placement flags of a currency mask (SetCurrencyFormatProperties "CurrencyMask", Format):
///
/// | flag  | meaning                                  | for              |
/// |-------|------------------------------------------|------------------|
/// | 0x2   | currency symbol after the number         | positive amounts |
/// | 0x4   | a space between number and symbol        | positive amounts |
/// | 0x8   | a minus sign (without it: parentheses)   | negative amounts |
/// | 0x10  | the minus sign after the number          | negative amounts |
/// | 0x20  | the minus sign outside the symbol        | negative amounts |
/// | 0x100 | currency symbol after the number         | negative amounts |
/// | 0x200 | a space between number and symbol        | negative amounts |
#ifndef KDTRACE_CURRENCY_H
#define KDTRACE_CURRENCY_H

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLPropertyBag;

// clang-format off
/// Identifier of IPLCurrency.
inline constexpr GUID IID_IPLCurrency = {0x0A0D0B5C, 0x08CE, 0x4A5B, {0x9C, 0xF2, 0x65, 0xB2, 0xC7, 0x22, 0xB2, 0x7B}};
/// Class of a currency amount (IPLCurrency), made for the user's locale.
inline constexpr GUID CLSID_PLCurrency = {0x67F9D94C, 0xC847, 0x4AA1, {0x93, 0xA2, 0xE2, 0xAF, 0x7F, 0xFC, 0x14, 0x10}};
// clang-format on

/// A money amount (CLSID_PLCurrency), zero when new. Setting the value never changes the format
/// settings, and setting the format never changes the value. A failed setter changes nothing.
/// Failures are E_FAIL with the reason in the thread's error list unless stated; a null pointer
/// gives E_POINTER, a buffer size below 1 E_INVALIDARG.
struct IPLCurrency : IUnknown {
    /// Slot 3: reads free text in the object's settings (the configured format when one is
    /// set, else the locale's): "$1,234.56", "(1,234.5)", "-.5" and "12-" all read; parentheses,
    /// or a minus before or after the digits, make the amount negative. The empty text is zero.
    /// \param text  at most 18 whole digits and 255 characters
    /// \return S_OK; E_FAIL when the text is no amount ("Failed to parse currency value") or
    ///         its parentheses do not pair ("Invalid negative symbol").
    virtual HRESULT SetValueFromString(const WCHAR* text) = 0;
    /// Slot 4: reads the digits of a text: every digit before `decimalSeparator` is a whole
    /// digit, the first two after it the hundredths; "-", "(" or ")" anywhere make the amount
    /// negative; all else is skipped.
    /// \param text              the text
    /// \param reserved1         not read
    /// \param reserved2         not read
    /// \param reserved3         not read
    /// \param decimalSeparator  the decimal separator (empty: all digits are whole digits)
    /// \return S_OK; E_FAIL for more whole digits than 64 bits hold.
    virtual HRESULT SetValueFromFormattedString(const WCHAR* text, LONG reserved1, LONG reserved2,
                                                const WCHAR* reserved3, const WCHAR* decimalSeparator) = 0;
    /// Slot 5: sets the amount from a number, rounded to the nearest hundredth.
    /// \param value  the amount
    /// \return S_OK; E_FAIL for a value not finite or of 10^18 or more.
    virtual HRESULT SetValue(double value) = 0;
    /// Slot 6: the amount as signed units and hundredths.
    /// \param units     receives the signed whole units
    /// \param fraction  receives the hundredths
    /// \return S_OK; E_FAIL when the units do not fit 32 bits; E_POINTER.
    virtual HRESULT GetValue(LONG* units, LONG* fraction) = 0;
    /// Slot 7: the amount as a number: sign x (units + hundredths / 100 + 0.00001).
    /// \param value  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetValue(double* value) = 0;
    /// Slot 8: the signed whole units.
    /// \param units  receives them
    /// \return S_OK; E_FAIL when they do not fit 32 bits ("Units too large to fit into 4-byte
    ///         integer"); E_POINTER.
    virtual HRESULT GetUnits(LONG* units) = 0;
    /// Slot 9: sets the whole units and the sign from a signed number; the hundredths stay.
    /// \param units  the signed units
    /// \return S_OK.
    virtual HRESULT SetUnits(LONG units) = 0;
    /// Slot 10: the signed whole units, 64 bits.
    /// \param units  receives them
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetUnits64(LONGLONG* units) = 0;
    /// Slot 11: the hundredths as a fraction: hundredths / 100 + 0.00001.
    /// \param fraction  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetFraction(float* fraction) = 0;
    /// Slot 12: sets the hundredths from a fraction, rounded to the nearest hundredth (0.999
    /// carries into the units as 1.00).
    /// \param fraction  the fraction
    /// \return S_OK; E_INVALIDARG for an amount out of range.
    virtual HRESULT SetFraction(float fraction) = 0;
    /// Slot 13: whether the amount is negative.
    /// \param negative  receives 1 or 0
    /// \return S_OK; E_POINTER.
    virtual HRESULT IsNegative(LONG* negative) = 0;
    /// Slot 14: the amount as text: in the configured format when one is set, else in the
    /// locale's currency format ("$1,234.56", "1.234,56 €").
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_FAIL for a buffer too small ("Buffer too small"); E_POINTER;
    ///         E_INVALIDARG.
    virtual HRESULT GetString(WCHAR* buffer, LONG size) = 0;
    /// Slot 15: the amount as text with explicit settings, rounded half away from zero to
    /// `decimalPlaces`.
    /// \param mask            placement flags (see the file's description)
    /// \param currencySymbol  the currency symbol
    /// \param groupSymbol     the group separator
    /// \param decimalSymbol   the decimal separator; empty for the locale's
    /// \param groupDigits     digits per group, 0 to 9 (0: no grouping)
    /// \param decimalPlaces   decimals written
    /// \param buffer          receives the text
    /// \param size            the buffer's size in characters
    /// \return S_OK; E_FAIL for group digits outside 0-9, a mask that cannot be ("Invalid
    ///         mask. ..."), or a buffer too small; E_POINTER; E_INVALIDARG.
    virtual HRESULT Format(LONG mask, const WCHAR* currencySymbol, const WCHAR* groupSymbol, const WCHAR* decimalSymbol,
                           LONG groupDigits, LONG decimalPlaces, WCHAR* buffer, LONG size) = 0;
    /// Slot 16: compares two amounts.
    /// \param other   the other amount
    /// \param op      a PLCompareOperator (<kdtrace/datetime.h>)
    /// \param result  receives whether "this `op` other" holds
    /// \return S_OK; E_FAIL for an unknown operator ("Invalid operator #(%ld) specified");
    ///         E_POINTER.
    virtual HRESULT Compare(IPLCurrency* other, LONG op, BOOL* result) = 0;
    /// Slot 17: the hundredths.
    /// \param fraction  receives them
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetFractionAsLong(LONG* fraction) = 0;
    /// Slot 18: sets the hundredths, stored as given.
    /// \param fraction  the hundredths (0 to 99 for a meaningful amount)
    /// \return S_OK.
    virtual HRESULT SetFractionAsLong(LONG fraction) = 0;
    /// Slot 19: the locale whose settings apply when no format is configured.
    /// \param locale  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetLocale(LCID* locale) = 0;
    /// Slot 20: sets the locale.
    /// \param locale  the locale (not checked)
    /// \return S_OK.
    virtual HRESULT SetLocale(LCID locale) = 0;
    /// Slot 21: configures a format that replaces the locale's in SetValueFromString and
    /// GetString. Reads "GroupDigits", "DecimalPlaces", "CurrencyMask" (when 0 or less,
    /// "PositiveOrder" and "NegativeOrder", Windows order codes 0-3 and 0-15), "CurrencySymbol"
    /// (at most 5 characters), "DecimalSymbol" and "GroupSymbol" (at most 3 each); a name the bag
    /// lacks keeps its current setting.
    /// \param bag  the settings
    /// \return S_OK; E_FAIL for a value that cannot be read or is too long (nothing changes
    ///         then); E_POINTER.
    virtual HRESULT SetCurrencyFormatProperties(IPLPropertyBag* bag) = 0;
    /// Slot 22: the amount without symbol or grouping and with "." as separator: "1234.50",
    /// negative "(1234.50)".
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_FAIL for a buffer too small; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetUnformattedString(WCHAR* buffer, LONG size) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_CURRENCY_H
