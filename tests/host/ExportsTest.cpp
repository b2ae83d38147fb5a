// The module exports exactly the host surface.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
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
    const std::set<std::string> expected = {"GetImplementedModules",
                                            "GetPLModule",
                                            "GetThreadError",
                                            "GetThreadErrorSuspensionState",
                                            "PLClearThreadErrors",
                                            "PLCreateInstance",
                                            "PLGetLastError",
                                            "SetThreadErrorSuspensionState",
                                            "PLCreateStreamOnBytes",
                                            "PLCreateStreamOnOwnedBytes",
                                            "PLCreatePropertyBag",
                                            "CreateXMLFromPropertyBag",
                                            "RestorePropertyBagFromXML",
                                            "PLSignPropertyString",
                                            "PLVerifySignedPropertyString",
                                            "PLConvertDataToHex",
                                            "PLConvertHexToData"};
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

// A host makes a bag through the export and uses it through its interfaces only (on a thread of
// its own, whose end lets the module unload again).
TEST(ExportsTest, PLCreatePropertyBagHandsOutAnEmptyBag) {
    void* library = ::dlopen(KDTRACE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    std::thread([library] {
        auto create = reinterpret_cast<PFN_PLCreatePropertyBag>(::dlsym(library, "PLCreatePropertyBag"));
        auto createInstance = reinterpret_cast<PFN_PLCreateInstance>(::dlsym(library, "PLCreateInstance"));
        ASSERT_NE(create, nullptr);
        EXPECT_HR(create(nullptr), E_POINTER);
        IPLPropertyBag* bag = nullptr;
        ASSERT_HR(create(&bag), S_OK);
        BOOL contains = TRUE;
        EXPECT_HR(bag->ContainsKey(u"Width", &contains), S_FALSE);
        // Values go in and come back as copies, by any case of the name's letters.
        IPLVariant* value = nullptr;
        ASSERT_HR(createInstance(CLSID_PLVariant, IID_IPLVariant, reinterpret_cast<void**>(&value)), S_OK);
        value->SetValueLong(5);
        EXPECT_HR(bag->SetProperty(u"Width", value), S_OK);
        value->Release();
        IPLVariant* out = nullptr;
        ASSERT_HR(bag->GetProperty(u"WIDTH", &out), S_OK);
        LONG width = 0;
        EXPECT_HR(out->GetValueLong(&width), S_OK);
        EXPECT_EQ(width, 5);
        out->Release();
        IPLPersistPropertyBag* persist = nullptr;
        EXPECT_HR(bag->QueryInterface(IID_IPLPersistPropertyBag, reinterpret_cast<void**>(&persist)), S_OK);
        EXPECT_HR(persist->Load(bag), E_NOTIMPL);
        persist->Release();
        EXPECT_EQ(bag->Release(), 0u);
    }).join();
    ::dlclose(library);
}

// A host turns a bag into XML and back through the two exports.
TEST(ExportsTest, BagsGoToXMLAndBack) {
    void* library = ::dlopen(KDTRACE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto createBag = reinterpret_cast<PFN_PLCreatePropertyBag>(::dlsym(library, "PLCreatePropertyBag"));
    auto toXML = reinterpret_cast<PFN_CreateXMLFromPropertyBag>(::dlsym(library, "CreateXMLFromPropertyBag"));
    auto fromXML = reinterpret_cast<PFN_RestorePropertyBagFromXML>(::dlsym(library, "RestorePropertyBagFromXML"));
    ASSERT_TRUE(createBag != nullptr && toXML != nullptr && fromXML != nullptr);
    IPLPropertyBag* bag = nullptr;
    ASSERT_HR(createBag(&bag), S_OK);
    IPLVariant* xml = nullptr;
    ASSERT_HR(toXML(bag, &xml, u"Settings"), S_OK);
    WCHAR text[64] = {};
    EXPECT_HR(xml->GetValueString(text, 64), S_OK);
    EXPECT_EQ(std::u16string(text), u"<Settings/>");
    xml->Release();
    EXPECT_HR(toXML(bag, nullptr, u"Settings"), E_POINTER);
    IPLPropertyBag* back = nullptr;
    ASSERT_HR(fromXML(u"<S><PROPERTY DATATYPE='Long' NAME='Width'>5</PROPERTY></S>", &back), S_OK);
    IPLVariant* width = nullptr;
    ASSERT_HR(back->GetProperty(u"width", &width), S_OK);
    LONGLONG value = 0;
    EXPECT_HR(width->GetValueLongLong(&value), S_OK);
    EXPECT_EQ(value, 5);
    width->Release();
    EXPECT_EQ(back->Release(), 0u);
    EXPECT_EQ(bag->Release(), 0u);
    ::dlclose(library);
}

}  // namespace
