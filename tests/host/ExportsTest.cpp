// The module exports exactly the host surface.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "support/HostModule.h"

namespace {

TEST(ExportsTest, OnlyTheHostSurfaceIsExported) {
    const std::string command = std::string("nm -D --defined-only ") + KDTRACE_MODULE_PATH;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        const std::size_t space = text.rfind(' ');
        if (space == std::string::npos) continue;
        const char type = text.size() > 2 ? text[space - 1] : '?';
        if (type == 'A') continue;  // version-node markers
        symbols.insert(text.substr(space + 1));
    }
    ASSERT_EQ(::pclose(pipe), 0) << "nm failed";
    const std::set<std::string> expected = {"GetImplementedModules", "GetPLModule",
                                            "GetThreadError",        "GetThreadErrorSuspensionState",
                                            "PLClearThreadErrors",   "PLCreateInstance",
                                            "PLGetLastError",        "SetThreadErrorSuspensionState",
                                            "PLCreateStreamOnBytes", "PLCreateStreamOnOwnedBytes",
                                            "PLSignPropertyString",  "PLVerifySignedPropertyString",
                                            "PLConvertDataToHex",    "PLConvertHexToData"};
    EXPECT_EQ(symbols, expected);
}

class HostExportsTest : public kdtest::HostModuleTest {};

// A host signs a property string, checks it, and converts hex through the exported functions.
TEST_F(HostExportsTest, SignsVerifiesAndConvertsHexThroughTheExports) {
    const auto sign = reinterpret_cast<PFN_PLSignPropertyString>(::dlsym(api.handle, "PLSignPropertyString"));
    const auto verify =
        reinterpret_cast<PFN_PLVerifySignedPropertyString>(::dlsym(api.handle, "PLVerifySignedPropertyString"));
    const auto toHex = reinterpret_cast<PFN_PLConvertDataToHex>(::dlsym(api.handle, "PLConvertDataToHex"));
    const auto fromHex = reinterpret_cast<PFN_PLConvertHexToData>(::dlsym(api.handle, "PLConvertHexToData"));
    ASSERT_TRUE(sign && verify && toHex && fromHex);

    IPLDateTime* now = Create<IPLDateTime>(CLSID_PLDateTime, IID_IPLDateTime);
    ASSERT_NE(now, nullptr);
    ASSERT_HR(now->Initialize(6, 1, 2026, 8, 30, 0), S_OK);
    BSTR text = nullptr;
    ASSERT_HR(sign(u"printer:lab-3;copies:2", now, &text), S_OK);
    EXPECT_EQ(SysStringLen(text), 12u + 48 + 31 + 22);
    EXPECT_HR(verify(text, now), S_OK);
    text[SysStringLen(text) - 1] = u'3';
    EXPECT_HR(verify(text, now), E_FAIL);
    SysFreeString(text);
    EXPECT_HR(sign(u"a:1", nullptr, &text), E_POINTER);
    now->Release();

    const BYTE bytes[] = {0x00, 0xAB};
    WCHAR hex[5];
    ASSERT_HR(toHex(bytes, 2, hex, 5), S_OK);
    EXPECT_EQ(std::u16string(hex), u"00AB");
    BYTE back[2] = {};
    LONG count = 2;
    ASSERT_HR(fromHex(u"ab01", back, &count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(back[0], 0xAB);
    EXPECT_HR(fromHex(u"abc", back, &count), E_INVALIDARG);
    api.PLClearThreadErrors();
}

}  // namespace
