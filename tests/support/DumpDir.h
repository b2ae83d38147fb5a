// Crash reports of a test program go to a directory of its own: a program that faults on purpose
// defines one DumpDirectory at namespace scope, so that it is made before main (before anything
// loads the debugging companion) and removed at exit. A death-test child inherits the parent's
// directory through the environment and leaves it in place. Also: reading a text file whole.
#ifndef KDTRACE_TESTS_SUPPORT_DUMP_DIR_H
#define KDTRACE_TESTS_SUPPORT_DUMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace kdtest {

struct DumpDirectory {
    std::string path;
    bool owned = false;
    DumpDirectory() {
        if (const char* inherited = ::getenv("KDTRACE_DUMP_DIR"); inherited != nullptr && inherited[0] != 0) {
            path = inherited;
            return;
        }
        char dir[] = "/tmp/kd-dumps-XXXXXX";
        if (::mkdtemp(dir) == nullptr) return;
        path = dir;
        owned = true;
        ::setenv("KDTRACE_DUMP_DIR", dir, 1);
    }
    ~DumpDirectory() {
        std::error_code ignored;
        if (owned) std::filesystem::remove_all(path, ignored);
    }
    std::set<std::string> Reports() const {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(path)) files.insert(entry.path().string());
        return files;
    }
    std::vector<std::string> ReportsSince(const std::set<std::string>& before) const {
        std::vector<std::string> added;
        for (const std::string& file : Reports())
            if (before.count(file) == 0) added.push_back(file);
        return added;
    }
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_DUMP_DIR_H
