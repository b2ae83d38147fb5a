// The comparison operator codes shared by date-times, time spans and currency amounts, applied to
// the order of two values (negative, zero or positive).
#ifndef KD_PLCOMPAREOPERATOR_H
#define KD_PLCOMPAREOPERATOR_H

#include <kdtrace/datetime.h>

// True when a code is one of the six operators.
inline bool PLIsCompareOperator(LONG op) {
    return op >= PLCompareEqual && op <= PLCompareNotEqual;
}

// Whether `order` satisfies the operator; the caller has checked the code.
inline bool PLEvaluateCompareOperator(LONG op, int order) {
    switch (op) {
        case PLCompareEqual:
            return order == 0;
        case PLCompareLess:
            return order < 0;
        case PLCompareGreater:
            return order > 0;
        case PLCompareLessOrEqual:
            return order <= 0;
        case PLCompareGreaterOrEqual:
            return order >= 0;
        default:
            return order != 0;
    }
}

#endif  // KD_PLCOMPAREOPERATOR_H
