// The tagged COM value (VARIANT) and one-dimensional safe arrays, as far as the library exchanges
// them with automation callers: empty and null, integers, doubles, booleans, dates, text (BSTR),
// interfaces and arrays of bytes or of values. Arrays and task memory come from the C heap.
#ifndef KD_PLATFORM_OLEVARIANT_H
#define KD_PLATFORM_OLEVARIANT_H

#include <cstddef>
#include <cstdint>

#include <kdtrace/bstr.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

namespace kd::platform {

// Value type codes (the automation numbering).
enum VarType : uint16_t {
    kVarEmpty = 0,
    kVarNull = 1,
    kVarI2 = 2,
    kVarI4 = 3,
    kVarR8 = 5,
    kVarDate = 7,
    kVarBstr = 8,
    kVarDispatch = 9,
    kVarBool = 11,
    kVarVariant = 12,
    kVarUnknown = 13,
    kVarI1 = 16,
    kVarUI1 = 17,
    kVarI8 = 20,
    kVarArray = 0x2000,  // flag: a safe array of the element type
    kVarByRef = 0x4000,  // flag: a pointer to the value
};

// Booleans as automation stores them.
inline constexpr int16_t kVariantTrue = -1;
inline constexpr int16_t kVariantFalse = 0;

struct SafeArrayBound {
    ULONG elements;
    LONG lowerBound;
};

// A one-dimensional array; `data` holds `bounds[0].elements` elements of `elementSize` bytes.
struct SafeArray {
    uint16_t dimensions;
    uint16_t features;
    ULONG elementSize;
    ULONG locks;
    void* data;
    SafeArrayBound bounds[1];
    uint16_t elementType;  // a VarType without flags
};

struct Variant {
    uint16_t vt;
    uint16_t reserved[3];
    union {
        LONG lVal;
        LONGLONG llVal;
        int16_t iVal;
        int8_t cVal;
        BYTE bVal;
        double dblVal;
        double date;  // days since 30 December 1899
        int16_t boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        SafeArray* parray;
        void* byref;
    };
};

// An empty variant.
void InitVariant(Variant& v) noexcept;
// Frees what the variant owns (text, interface reference, array and its elements) and leaves it
// empty. By-reference values are not owned.
void ClearVariant(Variant& v) noexcept;

// A new array of `count` zeroed elements of `elementType` (kVarUI1, kVarI4, kVarI8, kVarR8,
// kVarBstr, kVarUnknown or kVarVariant), lower bound 0; null for another type or without memory.
SafeArray* CreateVector(uint16_t elementType, ULONG count) noexcept;
// Frees the elements it owns and the array. False while the array's data is accessed.
bool DestroyArray(SafeArray* array) noexcept;
// Locks the array for access and hands out its data; false for a null array.
bool AccessArrayData(SafeArray* array, void** data) noexcept;
// Gives back one access; false when none is held.
bool UnaccessArrayData(SafeArray* array) noexcept;

// Task memory: blocks a caller frees with TaskMemFree.
void* TaskMemAlloc(std::size_t size) noexcept;
void TaskMemFree(void* block) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_OLEVARIANT_H
