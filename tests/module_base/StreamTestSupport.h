// Shared by the stream tests: an owner that counts its references.
#ifndef KD_TESTS_STREAM_TEST_SUPPORT_H
#define KD_TESTS_STREAM_TEST_SUPPORT_H

#include <atomic>
#include <string>

#include <kdtrace/kdtrace.h>

#include "support/ErrorList.h"
#include "support/HResult.h"

namespace kdtest {

// An IUnknown that counts its references and says when it is gone.
class CountingOwner final : public IUnknown {
public:
    explicit CountingOwner(bool* gone) : m_gone(gone) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_count; }
    ULONG Release() override {
        const ULONG left = --m_count;
        if (left == 0) {
            *m_gone = true;
            delete this;
        }
        return left;
    }

private:
    std::atomic<ULONG> m_count{1};
    bool* m_gone;
};

}  // namespace kdtest

#endif  // KD_TESTS_STREAM_TEST_SUPPORT_H
