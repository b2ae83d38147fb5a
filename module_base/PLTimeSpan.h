// CPLTimeSpan: a signed duration as days, hours, minutes and seconds (see <kdtrace/timespan.h>
// for the normalisation rule). Totals are computed in 64 bits; the 32-bit totals fail when they
// do not fit, and comparison uses the 64-bit totals. Objects have no lock: use one from one
// thread at a time.
#ifndef KD_PLTIMESPAN_H
#define KD_PLTIMESPAN_H

#include <cstdint>

#include <kdtrace/object.h>
#include <kdtrace/timespan.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"

class CPLTimeSpan : public CPLComObject<CPLReleaseModel>, public IPLTimeSpan, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLTimeSpan, IPLTimeSpan)
    PL_INTERFACE_ENTRY(IPLTimeSpan)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLTimeSpan() noexcept = default;

    // IPLTimeSpan
    HRESULT Initialize(LONG days, LONG hours, LONG minutes, LONG seconds) override;
    HRESULT InitializeFromDate(IPLDateTime* start, IPLDateTime* end) override;
    HRESULT InitializeFromInt64(LONGLONG seconds) override;
    HRESULT GetSpan(LONG* days, LONG* hours, LONG* minutes, LONG* seconds) override;
    HRESULT GetDays(LONG* days) override;
    HRESULT GetHours(LONG* hours) override;
    HRESULT GetMinutes(LONG* minutes) override;
    HRESULT GetSeconds(LONG* seconds) override;
    HRESULT GetSpanInHours(LONG* hours) override;
    HRESULT GetSpanInMinutes(LONG* minutes) override;
    HRESULT GetSpanInSeconds(LONG* seconds) override;
    HRESULT GetSpanInSecondsLong(LONG* seconds) override;
    HRESULT GetSpanInSecondsInt64(LONGLONG* seconds) override;
    HRESULT Compare(IPLTimeSpan* other, LONG op, BOOL* result) override;

    // IPLCloneable: a new span with the four fields of this one.
    HRESULT Clone(REFIID iid, void** object) override;

protected:
    ~CPLTimeSpan() override = default;

private:
    struct Fields {
        int64_t days, hours, minutes, seconds;
    };
    // Carries and borrows `f` and stores it; throws, leaving the span unchanged, when a field
    // leaves 32 bits.
    void Store(Fields f);
    int64_t TotalSeconds() const noexcept;
    // A total divided by `unit` seconds, as a 32-bit value (throws when it does not fit).
    LONG Total32(int64_t unit) const;

    int32_t m_days = 0;
    int32_t m_hours = 0;
    int32_t m_minutes = 0;
    int32_t m_seconds = 0;
};

#endif  // KD_PLTIMESPAN_H
