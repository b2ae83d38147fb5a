#include "platform/OleVariant.h"

#include <cstdlib>
#include <cstring>

namespace kd::platform {

namespace {

std::size_t ElementSize(uint16_t type) noexcept {
    switch (type) {
        case kVarUI1:
        case kVarI1:
            return 1;
        case kVarI2:
        case kVarBool:
            return 2;
        case kVarI4:
            return 4;
        case kVarI8:
        case kVarR8:
        case kVarDate:
            return 8;
        case kVarBstr:
        case kVarUnknown:
        case kVarDispatch:
            return sizeof(void*);
        case kVarVariant:
            return sizeof(Variant);
        default:
            return 0;
    }
}

}  // namespace

void InitVariant(Variant& v) noexcept {
    std::memset(&v, 0, sizeof v);
    v.vt = kVarEmpty;
}

void ClearVariant(Variant& v) noexcept {
    if ((v.vt & kVarByRef) == 0) {
        if (v.vt & kVarArray) {
            DestroyArray(v.parray);
        } else if (v.vt == kVarBstr) {
            SysFreeString(v.bstrVal);
        } else if ((v.vt == kVarUnknown || v.vt == kVarDispatch) && v.punkVal != nullptr) {
            v.punkVal->Release();
        }
    }
    InitVariant(v);
}

SafeArray* CreateVector(uint16_t elementType, ULONG count) noexcept {
    const std::size_t size = ElementSize(elementType);
    if (size == 0) return nullptr;
    auto* array = static_cast<SafeArray*>(std::calloc(1, sizeof(SafeArray)));
    if (array == nullptr) return nullptr;
    array->data = std::calloc(count == 0 ? 1 : count, size);
    if (array->data == nullptr) {
        std::free(array);
        return nullptr;
    }
    array->dimensions = 1;
    array->elementSize = static_cast<ULONG>(size);
    array->bounds[0] = {count, 0};
    array->elementType = elementType;
    return array;
}

bool DestroyArray(SafeArray* array) noexcept {
    if (array == nullptr) return true;
    if (array->locks != 0) return false;
    const ULONG count = array->bounds[0].elements;
    switch (array->elementType) {
        case kVarVariant:
            for (ULONG i = 0; i < count; ++i) ClearVariant(static_cast<Variant*>(array->data)[i]);
            break;
        case kVarBstr:
            for (ULONG i = 0; i < count; ++i) SysFreeString(static_cast<BSTR*>(array->data)[i]);
            break;
        case kVarUnknown:
        case kVarDispatch:
            for (ULONG i = 0; i < count; ++i)
                if (IUnknown* object = static_cast<IUnknown**>(array->data)[i]) object->Release();
            break;
        default:
            break;
    }
    std::free(array->data);
    std::free(array);
    return true;
}

bool AccessArrayData(SafeArray* array, void** data) noexcept {
    if (array == nullptr || data == nullptr) return false;
    ++array->locks;
    *data = array->data;
    return true;
}

bool UnaccessArrayData(SafeArray* array) noexcept {
    if (array == nullptr || array->locks == 0) return false;
    --array->locks;
    return true;
}

void* TaskMemAlloc(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void TaskMemFree(void* block) noexcept {
    std::free(block);
}

}  // namespace kd::platform
