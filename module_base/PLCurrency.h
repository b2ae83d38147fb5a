// CPLCurrency: a money amount held as a sign, whole units (64-bit) and hundredths. Reads free
// text in the settings of its locale or of a configured format, and writes the Windows currency
// orders through the platform's currency formatter. Objects have no lock: while one thread
// changes a currency no other may use it. Getters and formatting change nothing, so threads may
// share a currency that none changes.
#ifndef KD_PLCURRENCY_H
#define KD_PLCURRENCY_H

#include <cstdint>
#include <string>

#include <kdtrace/currency.h>

#include "module_base/PLComObject.h"
#include "module_base/PLCurrencyText.h"
#include "module_base/PLString.h"

class CPLCurrency : public CPLComObject<CPLReleaseModel>, public IPLCurrency {
    PL_BEGIN_INTERFACE_MAP(CPLCurrency, IPLCurrency)
    PL_INTERFACE_ENTRY(IPLCurrency)
    PL_END_INTERFACE_MAP()

public:
    CPLCurrency() noexcept = default;

    // IPLCurrency
    HRESULT SetValueFromString(const WCHAR* text) override;
    HRESULT SetValueFromFormattedString(const WCHAR* text, LONG reserved1, LONG reserved2, const WCHAR* reserved3,
                                        const WCHAR* decimalSeparator) override;
    HRESULT SetValue(double value) override;
    HRESULT GetValue(LONG* units, LONG* fraction) override;
    HRESULT GetValue(double* value) override;
    HRESULT GetUnits(LONG* units) override;
    HRESULT SetUnits(LONG units) override;
    HRESULT GetUnits64(LONGLONG* units) override;
    HRESULT GetFraction(float* fraction) override;
    HRESULT SetFraction(float fraction) override;
    HRESULT IsNegative(LONG* negative) override;
    HRESULT GetString(WCHAR* buffer, LONG size) override;
    HRESULT Format(LONG mask, const WCHAR* currencySymbol, const WCHAR* groupSymbol, const WCHAR* decimalSymbol,
                   LONG groupDigits, LONG decimalPlaces, WCHAR* buffer, LONG size) override;
    HRESULT Compare(IPLCurrency* other, LONG op, BOOL* result) override;
    HRESULT GetFractionAsLong(LONG* fraction) override;
    HRESULT SetFractionAsLong(LONG fraction) override;
    HRESULT GetLocale(LCID* locale) override;
    HRESULT SetLocale(LCID locale) override;
    HRESULT SetCurrencyFormatProperties(IPLPropertyBag* bag) override;
    HRESULT GetUnformattedString(WCHAR* buffer, LONG size) override;

    // The Windows orders a mask of placement flags stands for: positive 0-3, negative 0-15. A
    // minus after the number and outside the symbol with the symbol first cannot be written and
    // fails.
    HRESULT GetOrderFromFormat(LONG mask, LONG* order);
    HRESULT GetNegativeOrderFromFormat(LONG mask, LONG* order);

protected:
    ~CPLCurrency() override = default;

private:
    // The symbols and places text is read with: the configured ones, else the locale's.
    PLCurrencyTextSettings ParseSettings() const;
    std::u16string NumberText() const;
    // Both orders from a mask; the order fields are not changed.
    void OrdersFromMask(LONG mask, LONG& positive, LONG& negative);
    std::u16string DoFormat(LONG positiveOrder, LONG negativeOrder, std::u16string currencySymbol,
                            std::u16string groupSymbol, std::u16string decimalSymbol, LONG groupDigits,
                            LONG decimalPlaces);

    BOOL m_negative = FALSE;
    uint64_t m_units = 0;
    int32_t m_fraction = 0;
    LCID m_locale = 0x0400;
    BOOL m_customFormat = FALSE;
    std::u16string m_decimalSymbol;
    std::u16string m_groupSymbol;
    std::u16string m_currencySymbol;
    LONG m_currencyMask = 0;
    LONG m_groupDigits = 0;
    LONG m_decimalPlaces = 0;
    LONG m_positiveOrder = 0;
    LONG m_negativeOrder = 0;
};

// Makes a currency amount of zero for `locale` (the library passes 0x400, the user default).
HRESULT PLCreateCurrency(LCID locale, IPLCurrency** currency);

#endif  // KD_PLCURRENCY_H
