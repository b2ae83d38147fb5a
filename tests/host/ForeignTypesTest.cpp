// A host whose own code defines BOOL, BYTE, DWORD and GUID otherwise (X11's Xmd.h defines BOOL and
// BYTE as unsigned char) includes the kdtrace headers with KDTRACE_USE_NAMESPACE: the module's
// names then live in namespace kdtrace, both sets compile side by side, and the module works.
#include <gtest/gtest.h>

typedef unsigned char BOOL;   // as Xmd.h
typedef unsigned char BYTE;   // as Xmd.h
typedef unsigned long DWORD;  // as other Windows-style headers
struct GUID {
    char text[39];  // a GUID kept as its text
};
#define KDTRACE_USE_NAMESPACE
#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

namespace {

TEST(ForeignTypesTest, TheModulesNamesStayInTheirNamespace) {
    static_assert(sizeof(::BOOL) == 1 && sizeof(kdtrace::BOOL) == 4);
    static_assert(sizeof(::DWORD) == 8 && sizeof(kdtrace::DWORD) == 4);
    static_assert(sizeof(::GUID) != sizeof(kdtrace::GUID));
    kdtrace::host::Module module;
    ASSERT_TRUE(module.Load(KDTRACE_MODULE_PATH)) << module.Error();
    kdtrace::host::ComPtr<kdtrace::IPLPropertyBag> bag;
    ASSERT_EQ(module.PLCreatePropertyBag(bag.Put()), kdtrace::S_OK);
    kdtrace::BOOL contains = 7;
    EXPECT_EQ(bag->ContainsKey(u"width", &contains), kdtrace::S_FALSE);
    EXPECT_EQ(contains, FALSE);
    EXPECT_TRUE(SUCCEEDED(bag->DeleteProperty(u"width")));
}

}  // namespace
