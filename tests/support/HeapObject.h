// Objects as hosts write them, on public headers only: the stand-in error module's objects are
// such objects too.
#ifndef KDTRACE_TESTS_SUPPORT_HEAP_OBJECT_H
#define KDTRACE_TESTS_SUPPORT_HEAP_OBJECT_H

#include <atomic>

#include <kdtrace/kdtrace.h>

namespace kdtest {

// QueryInterface of an object that answers IUnknown and, while `answers` is set, `own`.
template <class Interface>
HRESULT Answer(Interface* self, REFIID iid, const IID& own, bool answers, void** object) {
    if (iid != IID_IUnknown && (iid != own || !answers)) return E_NOINTERFACE;
    *object = self;
    self->AddRef();
    return S_OK;
}

// An object as hosts write them: on the heap, deleted when its count reaches zero, so that a
// call after its last reference is a use after free that AddressSanitizer reports. Answers
// IUnknown and `kIid`.
template <class Interface, const IID& kIid>
class HeapObject : public Interface {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override { return Answer(this, iid, kIid, true, object); }
    ULONG AddRef() override { return refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG n = refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) delete this;
        return n;
    }
    std::atomic<ULONG> refs{1};

protected:
    virtual ~HeapObject() = default;
};

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_HEAP_OBJECT_H
