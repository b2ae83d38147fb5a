// The trace services as a host sees them: the module loaded with dlopen, only the exported
// functions and the public interfaces. (Contexts shared by threads are checked, linked directly,
// in PLTraceModuleTest and TraceStressTest.)
#include <gtest/gtest.h>

#include "HostObjects.h"
#include "support/HResult.h"
#include "support/HostModule.h"

namespace {

using TraceHost = kdtest::HostModuleTest;

// The registered collection of contexts finds by identifier, not by name, and is no event source.
TEST_F(TraceHost, ContextCollectionFindsByIdOnly) {
    auto* list = Create<IPLTraceContextCollection>(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection);
    auto* seven = Create<IPLTraceContextPriv>(CLSID_PLTraceContext, IID_IPLTraceContextPriv);
    void* p = nullptr;
    EXPECT_HR(list->QueryInterface(IID_IPLEventSource, &p), E_NOINTERFACE);
    seven->SetID(7);
    list->Insert(seven);
    IPLTraceContext* found = nullptr;
    ASSERT_HR(list->FindByID(7, &found), S_OK);
    EXPECT_EQ(found, seven);
    found->Release();
    EXPECT_HR(list->FindByName(u"", &found), E_FAIL);
    list->Release();
    EXPECT_EQ(seven->Release(), 0u);
}

}  // namespace
