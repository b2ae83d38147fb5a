// A variant that is not one of the module's own: each call goes on, through the interface's
// slots, to a variant inside. Public headers only, so that hosts loading the module can use it.
#ifndef KDTRACE_TESTS_SUPPORT_FORWARDING_VARIANT_H
#define KDTRACE_TESTS_SUPPORT_FORWARDING_VARIANT_H

#include <kdtrace/variant.h>

namespace kdtest {

// `Base` derives from IPLVariant, implements IUnknown and holds the inner variant as `m`.
template <class Base>
class ForwardingVariant : public Base {
public:
    using Base::Base;
#define KD_FORWARD(Name, Params, Args) \
    HRESULT Name Params override {     \
        return this->m->Name Args;     \
    }
    KD_FORWARD(SetValueString, (const WCHAR* a), (a))
    KD_FORWARD(GetValueString, (WCHAR * a, LONG b), (a, b))
    KD_FORWARD(GetValueStringLength, (LONG * a), (a))
    KD_FORWARD(AllocSysString, (BSTR * a), (a))
    KD_FORWARD(SetValueLong, (LONG a), (a))
    KD_FORWARD(GetValueLong, (LONG * a), (a))
    KD_FORWARD(SetValueLongLong, (LONGLONG a), (a))
    KD_FORWARD(GetValueLongLong, (LONGLONG * a), (a))
    KD_FORWARD(SetValueDouble, (double a), (a))
    KD_FORWARD(GetValueDouble, (double* a), (a))
    KD_FORWARD(SetValueBoolean, (bool a), (a))
    KD_FORWARD(GetValueBoolean, (bool* a), (a))
    KD_FORWARD(SetValueVariant, (IPLVariant * a), (a))
    KD_FORWARD(GetValueVariant, (IPLVariant * *a), (a))
    KD_FORWARD(SetValueDateTime, (IPLDateTime * a), (a))
    KD_FORWARD(SetValueDateTimeOfDay, (IPLDateTime * a), (a))
    KD_FORWARD(GetValueDateTime, (IPLDateTime * *a), (a))
    KD_FORWARD(GetValueDateTimeOfDay, (IPLDateTime * *a), (a))
    KD_FORWARD(SetDateTimeFormatString, (const WCHAR* a), (a))
    KD_FORWARD(GetDateTimeFormatString, (WCHAR * a, LONG b), (a, b))
    KD_FORWARD(SetValueIUnknown, (IUnknown * a), (a))
    KD_FORWARD(GetValueIUnknown, (IUnknown * *a), (a))
    KD_FORWARD(SetValueCollection, (IPLVariantCollection * a), (a))
    KD_FORWARD(GetValueCollection, (IPLVariantCollection * *a), (a))
    KD_FORWARD(GetType, (LONG * a), (a))
    KD_FORWARD(CompareEx, (IPLVariant * a, bool b, LONG* c), (a, b, c))
    KD_FORWARD(Convert, (LONG a), (a))
    KD_FORWARD(SetEmpty, (), ())
#undef KD_FORWARD
};

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_FORWARDING_VARIANT_H
