// The module exports exactly the host surface.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"

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
                                            "PLCreatePropertyBag"};
    EXPECT_EQ(symbols, expected);
}

// A host makes a bag through the export and uses it through its interfaces only.
TEST(ExportsTest, PLCreatePropertyBagHandsOutAnEmptyBag) {
    void* library = ::dlopen(KDTRACE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto create = reinterpret_cast<PFN_PLCreatePropertyBag>(::dlsym(library, "PLCreatePropertyBag"));
    ASSERT_NE(create, nullptr);
    EXPECT_HR(create(nullptr), E_POINTER);
    IPLPropertyBag* bag = nullptr;
    ASSERT_HR(create(&bag), S_OK);
    BOOL contains = TRUE;
    EXPECT_HR(bag->ContainsKey(u"Width", &contains), S_FALSE);
    EXPECT_EQ(contains, FALSE);
    // Values go in and come back as copies, by any case of the name's letters.
    auto createInstance = reinterpret_cast<PFN_PLCreateInstance>(::dlsym(library, "PLCreateInstance"));
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
    ::dlclose(library);
}

}  // namespace
