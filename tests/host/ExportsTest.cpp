// The module exports exactly the host surface, and a host reaches the functions through it. (What
// the functions do is checked by their own tests; here only that the export is the working one.
// That each is found is the first test's; the others call them without asking again.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/Process.h"

namespace {

TEST(ExportsTest, OnlyTheHostSurfaceIsExported) {
    // The defined dynamic symbols in byte order, without the version-node markers (type A).
    const std::string symbols = kdtest::Output(std::string("nm -D --defined-only ") + KDTRACE_MODULE_PATH +
                                               " | awk '$2 != \"A\" {print $NF}' | LC_ALL=C sort");
    EXPECT_EQ(symbols,
              "CreateXMLFromPropertyBag\nGetImplementedModules\nGetPLModule\nGetThreadError\n"
              "GetThreadErrorSuspensionState\nPLClearThreadErrors\nPLConvertDataToHex\nPLConvertHexToData\n"
              "PLCreateInstance\nPLCreatePropertyBag\nPLCreateStreamOnBytes\nPLCreateStreamOnOwnedBytes\n"
              "PLGetLastError\nPLGlobalFree\nPLGlobalLock\nPLGlobalSize\nPLGlobalUnlock\nPLSignPropertyString\n"
              "PLVerifySignedPropertyString\nRestorePropertyBagFromXML\nSetThreadErrorSuspensionState\n");
}

using HostExportsTest = kdtest::HostModuleTest;

// A host signs a property string, checks it, and converts hex through the exported functions.
TEST_F(HostExportsTest, SignsVerifiesAndConvertsHexThroughTheExports) {
    IPLDateTime* now = Create<IPLDateTime>(CLSID_PLDateTime, IID_IPLDateTime);
    ASSERT_HR(now->Initialize(6, 1, 2026, 8, 30, 0), S_OK);
    BSTR text = nullptr;
    ASSERT_HR(Export<PFN_PLSignPropertyString>("PLSignPropertyString")(u"printer:lab-3;copies:2", now, &text), S_OK);
    // (The signed text itself: PLSignedPropertyStringTest.)
    EXPECT_HR(Export<PFN_PLVerifySignedPropertyString>("PLVerifySignedPropertyString")(text, now), S_OK);
    SysFreeString(text);
    now->Release();

    const BYTE bytes[] = {0x00, 0xAB};
    WCHAR hex[5];
    ASSERT_HR(Export<PFN_PLConvertDataToHex>("PLConvertDataToHex")(bytes, 2, hex, 5), S_OK);
    EXPECT_EQ(std::u16string(hex), u"00AB");
    BYTE back[2] = {};
    LONG count = 2;
    ASSERT_HR(Export<PFN_PLConvertHexToData>("PLConvertHexToData")(u"ab01", back, &count), S_OK);
    EXPECT_EQ(std::vector<BYTE>(back, back + count), (std::vector<BYTE>{0xAB, 0x01}));
}

// A host reads, sizes and frees the global block a page hands out.
TEST_F(HostExportsTest, GlobalBlocksAreReadAndFreedThroughTheExports) {
    const auto unlock = Export<PFN_PLGlobalUnlock>("PLGlobalUnlock");
    IPLPersistMemory* page = Create<IPLPersistMemory>(CLSID_PLPageData, IID_IPLPersistMemory);
    const BYTE content[] = {7, 0, 9};
    ASSERT_HR(page->LoadFromBytes(content, 3), S_OK);
    HGLOBAL block = nullptr;
    ASSERT_HR(page->Save(0, &block), S_OK);
    EXPECT_EQ(page->Release(), 0u);
    ULONGLONG bytes = 0;
    EXPECT_HR(Export<PFN_PLGlobalSize>("PLGlobalSize")(block, &bytes), S_OK);
    EXPECT_EQ(bytes, 3u);
    BYTE* held = nullptr;
    ASSERT_HR(Export<PFN_PLGlobalLock>("PLGlobalLock")(block, &held), S_OK);
    EXPECT_EQ(std::vector<BYTE>(held, held + 3), std::vector<BYTE>(content, content + 3));
    EXPECT_HR(unlock(block), S_OK);
    EXPECT_HR(unlock(block), S_FALSE);
    // (AddressSanitizer sees a leak or a second free.)
    EXPECT_HR(Export<PFN_PLGlobalFree>("PLGlobalFree")(block), S_OK);
}

}  // namespace
