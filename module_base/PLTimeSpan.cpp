#include "module_base/PLTimeSpan.h"

#include <cmath>
#include <limits>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLCompareOperator.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CPLTimeSpan, CLSID_PLTimeSpan);

namespace {

constexpr const char* kGroup = "Core Services";
constexpr int64_t kSecondsPerDay = 86400;

bool Fits32(int64_t value) noexcept {
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

// Moves what `small` holds beyond `bound` units (either sign) into `large`; exactly ±bound stays.
void Carry(int64_t& small, int64_t& large, int64_t bound) noexcept {
    if (small > bound || small < -bound) {
        large += small / bound;
        small %= bound;
    }
}

// A component read from a date-time, thrown with `message` on failure.
LONG Field(IPLDateTime* dt, HRESULT (IPLDateTime::*get)(LONG*), const char* message) {
    LONG value = 0;
    PL_THROW_ERROR((dt->*get)(&value), message, 0);
    return value;
}

double Julian(IPLDateTime* dt, const char* message) {
    double value = 0;
    PL_THROW_ERROR(dt->GetJulianValue(&value), message, 0);
    return value;
}

}  // namespace

// The components are carried and borrowed in 64 bits, so that no step can overflow; a result
// that does not fit the 32-bit fields is refused rather than cut.
void CPLTimeSpan::Store(Fields f) {
    Carry(f.seconds, f.minutes, 60);
    Carry(f.minutes, f.hours, 60);
    Carry(f.hours, f.days, 24);
    if (f.seconds < 0) {
        if (f.minutes >= 1) {
            f.minutes -= 1;
            f.seconds += 60;
        } else if (f.hours >= 1) {
            f.hours -= 1;
            f.minutes += 59;
            f.seconds += 60;
        } else if (f.days > 0) {
            f.days -= 1;
            f.hours += 23;
            f.minutes += 59;
            f.seconds += 60;
        }
    }
    if (f.minutes < 0) {
        if (f.hours >= 1) {
            f.hours -= 1;
            f.minutes += 60;
        } else if (f.days > 0) {
            f.days -= 1;
            f.hours += 23;
            f.minutes += 60;
        }
    }
    if (f.hours < 0 && f.days > 0) {
        f.days -= 1;
        f.hours += 24;
    }
    if (!Fits32(f.days) || !Fits32(f.hours) || !Fits32(f.minutes) || !Fits32(f.seconds))
        PL_THROW_ERROR(E_FAIL, "Failed to normalize values", 1);
    m_days = static_cast<int32_t>(f.days);
    m_hours = static_cast<int32_t>(f.hours);
    m_minutes = static_cast<int32_t>(f.minutes);
    m_seconds = static_cast<int32_t>(f.seconds);
}

int64_t CPLTimeSpan::TotalSeconds() const noexcept {
    return int64_t{m_days} * kSecondsPerDay + int64_t{m_hours} * 3600 + int64_t{m_minutes} * 60 + m_seconds;
}

LONG CPLTimeSpan::Total32(int64_t unit) const {
    const int64_t total = TotalSeconds() / unit;
    if (!Fits32(total)) PL_THROW_ERROR(E_FAIL, "Time span total out of range", 1);
    return static_cast<LONG>(total);
}

HRESULT CPLTimeSpan::Initialize(LONG days, LONG hours, LONG minutes, LONG seconds) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { Store({days, hours, minutes, seconds}); });
}

HRESULT CPLTimeSpan::InitializeFromDate(IPLDateTime* start, IPLDateTime* end) {
    if (start == nullptr || end == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const double startDay = Julian(start, "Failed to obtain Julian day from state date");
        const double endDay = Julian(end, "Failed to obtain Julian day from end date");
        const LONG h1 = Field(start, &IPLDateTime::GetHour, "Failed to obtain hour from start time");
        const LONG m1 = Field(start, &IPLDateTime::GetMinute, "Failed to obtain minute from start time");
        const LONG s1 = Field(start, &IPLDateTime::GetSecond, "Failed to obtain second from start time");
        const LONG h2 = Field(end, &IPLDateTime::GetHour, "Failed to obtain hour from end time");
        const LONG m2 = Field(end, &IPLDateTime::GetMinute, "Failed to obtain minute from end time");
        const LONG s2 = Field(end, &IPLDateTime::GetSecond, "Failed to obtain second from end time");
        // Julian day numbers of dates differ by whole days; anything else (a day number that is
        // not finite or beyond any calendar) cannot make a span.
        const double days = endDay - startDay;
        if (!std::isfinite(days) || std::fabs(days) > 1e15) PL_THROW_ERROR(E_FAIL, "Failed to normalize values", 1);
        Store({static_cast<int64_t>(days), int64_t{h2} - h1, int64_t{m2} - m1, int64_t{s2} - s1});
    });
}

HRESULT CPLTimeSpan::InitializeFromInt64(LONGLONG seconds) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        Store({seconds / kSecondsPerDay, 0, 0, seconds % kSecondsPerDay});
    });
}

HRESULT CPLTimeSpan::GetSpan(LONG* days, LONG* hours, LONG* minutes, LONG* seconds) {
    if (days == nullptr || hours == nullptr || minutes == nullptr || seconds == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *days = m_days;
        *hours = m_hours;
        *minutes = m_minutes;
        *seconds = m_seconds;
    });
}

HRESULT CPLTimeSpan::GetDays(LONG* days) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), days, m_days);
}

HRESULT CPLTimeSpan::GetHours(LONG* hours) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), hours, m_hours);
}

HRESULT CPLTimeSpan::GetMinutes(LONG* minutes) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), minutes, m_minutes);
}

HRESULT CPLTimeSpan::GetSeconds(LONG* seconds) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), seconds, m_seconds);
}

// The totals count every component: a span of 60 minutes (kept as such by the normalisation)
// is 1 hour.
HRESULT CPLTimeSpan::GetSpanInHours(LONG* hours) {
    if (hours == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { *hours = Total32(3600); });
}

HRESULT CPLTimeSpan::GetSpanInMinutes(LONG* minutes) {
    if (minutes == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { *minutes = Total32(60); });
}

HRESULT CPLTimeSpan::GetSpanInSeconds(LONG* seconds) {
    if (seconds == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { *seconds = Total32(1); });
}

HRESULT CPLTimeSpan::GetSpanInSecondsLong(LONG* seconds) {
    if (seconds == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { *seconds = Total32(1); });
}

HRESULT CPLTimeSpan::GetSpanInSecondsInt64(LONGLONG* seconds) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), seconds, LONGLONG{TotalSeconds()});
}

HRESULT CPLTimeSpan::Compare(IPLTimeSpan* other, LONG op, BOOL* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // The 64-bit totals: 32 bits hold spans of 68 years only.
        const int64_t mine = TotalSeconds();
        LONGLONG theirs = 0;
        PL_THROW_ERROR(other->GetSpanInSecondsInt64(&theirs),
                       "Failed to obtain time span in seconds from time span object", 0);
        if (!PLIsCompareOperator(op)) PL_THROW_ERROR(E_INVALIDARG, "Invalid operator", 1);
        const int order = mine < theirs ? -1 : (mine > theirs ? 1 : 0);
        *result = PLEvaluateCompareOperator(op, order) ? TRUE : FALSE;
    });
}

HRESULT CPLTimeSpan::Clone(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *object = nullptr;
        PLComPtr<CPLTimeSpan> copy(new CPLTimeSpan());
        copy->m_days = m_days;
        copy->m_hours = m_hours;
        copy->m_minutes = m_minutes;
        copy->m_seconds = m_seconds;
        hr = copy->QueryInterface(iid, object);
        PL_THROW_IF_FAILED(hr);
    });
}
