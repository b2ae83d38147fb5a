// The module exports exactly the host surface.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

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
                                            "PLCreateStreamOnBytes", "PLCreateStreamOnOwnedBytes"};
    EXPECT_EQ(symbols, expected);
}

}  // namespace
