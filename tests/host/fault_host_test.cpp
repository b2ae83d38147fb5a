// Processor faults as a host sees them: a bad pointer handed to a method of the loaded module
// gives E_UNEXPECTED and a recorded report, the host lives on, and the debugging companion being
// absent, incomplete or faulty only changes what the report lists.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host_objects.h"

namespace {

namespace fs = std::filesystem;

struct Item {
    HRESULT result;
    std::string className, method, message;
};

// The calling thread's errors, oldest first, through the module's exported functions.
std::vector<Item> ThreadErrors(const kdhost::ModuleApi& api) {
    std::vector<Item> items;
    IPLErrorInfo* list = nullptr;
    if (api.GetThreadError(&list) < 0 || list == nullptr) return items;
    LONG count = 0;
    list->GetCount(&count);
    for (LONG i = count - 1; i >= 0; --i) {
        IPLErrorItem* item = nullptr;
        if (list->GetItem(i, &item) < 0) continue;
        std::u16string buffer(16384, u'\0');
        Item e{};
        item->GetHRESULT(&e.result);
        item->GetClassName(buffer.data(), 16384);
        e.className = kdhost::Narrow(buffer.c_str());
        item->GetMethodName(buffer.data(), 16384);
        e.method = kdhost::Narrow(buffer.c_str());
        item->GetMessage(buffer.data(), 16384);
        e.message = kdhost::Narrow(buffer.c_str());
        items.push_back(e);
        item->Release();
    }
    list->Release();
    return items;
}

int CountModules(dl_phdr_info* info, std::size_t, void* data) {
    // The same modules the debugging companion lists: named ones, and the main program.
    auto* count = static_cast<int*>(data);
    if ((info->dlpi_name != nullptr && info->dlpi_name[0] != 0) || *count == 0) ++*count;
    return 0;
}

// A page the process may not read: the "bad pointer" a host might pass.
const WCHAR* UnreadableText() {
    static void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return static_cast<const WCHAR*>(page);
}

// Creates an error item and hands it unreadable text inside its guarded Initialize.
HRESULT InitializeWithBadText(const kdhost::ModuleApi& api) {
    IPLErrorItem* item = nullptr;
    if (api.PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, reinterpret_cast<void**>(&item)) < 0) return E_FAIL;
    const HRESULT hr = item->Initialize(u"Module", u"Class", u"Method", E_FAIL, 0, UnreadableText(), 0, u"", 0);
    item->Release();
    return hr;
}

bool IsFaultReport(const Item& item) {
    return item.result == E_UNEXPECTED && item.className == "CPLErrorItem" &&
           item.method == "CPLErrorItem::Initialize" &&
           std::regex_match(item.message,
                            std::regex("ACCESS_VIOLATION encountered\\. @CALL_STACK: (0x[0-9A-F]{16}~)+"));
}

// Crash reports of this program go to a directory of its own (children inherit it).
struct DumpDirectory {
    std::string path;
    bool owned = false;
    DumpDirectory() {
        if (const char* inherited = ::getenv("KDTRACE_DUMP_DIR"); inherited != nullptr && inherited[0] != 0) {
            path = inherited;
            return;
        }
        char dir[] = "/tmp/kd-fault-host-XXXXXX";
        if (::mkdtemp(dir) == nullptr) return;
        path = dir;
        owned = true;
        ::setenv("KDTRACE_DUMP_DIR", dir, 1);
    }
    ~DumpDirectory() {
        std::error_code ignored;
        if (owned) fs::remove_all(path, ignored);
    }
} g_dumps;

std::size_t CrashReportCount() {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(g_dumps.path)) n += entry.is_regular_file() ? 1 : 0;
    return n;
}

TEST(FaultHostTest, ABadPointerGivesUnexpectedAReportAndOneLinePerModule) {
    kdhost::ModuleApi api;
    std::string error;
    ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
    ASSERT_EQ(api.PLClearThreadErrors(),
              S_OK);  // reaching the error functions installs the translator

    const std::size_t reportsBefore = CrashReportCount();
    ASSERT_EQ(InitializeWithBadText(api), E_UNEXPECTED);
    int modules = 0;
    ::dl_iterate_phdr(CountModules, &modules);
    const auto items = ThreadErrors(api);
    ASSERT_EQ(items.size(), static_cast<std::size_t>(1 + modules));
    EXPECT_TRUE(IsFaultReport(items[0])) << items[0].message;
    bool sawModule = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
        EXPECT_TRUE(std::regex_match(items[i].message, std::regex("@@MODULE:.+\\[0x[0-9A-F]{16}\\]")))
            << items[i].message;
        EXPECT_EQ(items[i].result, E_UNEXPECTED);
        if (items[i].message.find("/libkdtrace.so[") != std::string::npos) sawModule = true;
    }
    EXPECT_TRUE(sawModule) << items.back().message;
    EXPECT_EQ(CrashReportCount(), reportsBefore + 1);

    // Again and again; the host thread and the module keep working.
    for (int i = 0; i < 20; ++i) ASSERT_EQ(InitializeWithBadText(api), E_UNEXPECTED);
    IPLErrorItem* item = nullptr;
    ASSERT_EQ(api.PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, reinterpret_cast<void**>(&item)), S_OK);
    EXPECT_EQ(item->Initialize(u"Module", u"Class", u"Method", E_FAIL, 0, u"fine", 0, u"", 0), S_OK);
    item->Release();
}

// A host listener that faults when told to; the module calls it from FireMessage.
struct FaultingListener : IPLTraceListener {
    int refs = 1;
    int calls = 0;
    bool fault = false;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != IID_IPLTraceListener) return E_NOINTERFACE;
        *object = static_cast<IPLTraceListener*>(this);
        ++refs;
        return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    HRESULT OnTraceMessage(LONG first, LONG) override {
        ++calls;
        if (fault) return *static_cast<volatile LONG*>(nullptr) + first;
        return S_OK;
    }
};

TEST(FaultHostTest, AFaultInAListenerEndsFireMessageWithUnexpected) {
    kdhost::ModuleApi api;
    std::string error;
    ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
    api.PLClearThreadErrors();
    IPLModule* module = nullptr;
    ASSERT_EQ(api.GetPLModule(GUID_NULL, &module), S_OK);
    IPLTraceModule* trace = nullptr;
    ASSERT_EQ(module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)), S_OK);
    IPLTraceContext* context = nullptr;
    ASSERT_EQ(trace->GetNamedContext(u"faulting", &context), S_OK);
    FaultingListener listener;
    void* cookie = nullptr;
    ASSERT_EQ(context->AddListener(&listener, &cookie), S_OK);

    listener.fault = true;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(context->FireMessage(1, 2), E_UNEXPECTED);
    const auto items = ThreadErrors(api);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0].className, "CPLTraceContext");
    EXPECT_EQ(items[0].method, "FireMessage");
    EXPECT_EQ(items[0].message.rfind("ACCESS_VIOLATION encountered. @CALL_STACK: 0x", 0), 0u) << items[0].message;
    // The delivery gave its reference back, and the context keeps working.
    EXPECT_EQ(listener.refs, 1);
    listener.fault = false;
    EXPECT_EQ(context->FireMessage(3, 4), S_OK);
    EXPECT_EQ(listener.calls, 6);
    EXPECT_EQ(context->RemoveListener(cookie), S_OK);
    context->Release();
    trace->Release();
    module->Release();
}

// ---- the module copied to a folder of its own, beside a chosen debugging companion ----

// Runs in a child process: loads the copy, faults, and checks what was recorded. Exits 0 when
// everything was as `expectedLines` says (the module lines expected after the report).
[[noreturn]] void FaultInCopy(const std::string& companion, const std::vector<std::string>& expectedLines,
                              bool expectCrashReport) {
    const auto fail = [](const std::string& why) {
        std::fprintf(stderr, "%s\n", why.c_str());
        ::_exit(1);
    };
    char dirTemplate[] = "/tmp/kd-module-copy-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) fail("no temporary folder");
    const fs::path dir = dirTemplate;
    fs::copy_file(KDTRACE_MODULE_PATH, dir / "libkdtrace.so");
    if (!companion.empty()) fs::copy_file(companion, dir / "libkddbghlp.so");
    kdhost::ModuleApi api;
    std::string error;
    if (!api.Load((dir / "libkdtrace.so").string(), error)) fail(error);
    api.PLClearThreadErrors();
    const std::size_t reportsBefore = CrashReportCount();
    for (int round = 0; round < 3; ++round) {
        if (InitializeWithBadText(api) != E_UNEXPECTED) fail("the method did not return E_UNEXPECTED");
        const auto items = ThreadErrors(api);
        if (items.empty() || !IsFaultReport(items[0])) fail("no fault report");
        if (items.size() != 1 + expectedLines.size()) fail("recorded " + std::to_string(items.size()) + " items");
        for (std::size_t i = 0; i < expectedLines.size(); ++i)
            if (items[i + 1].message != expectedLines[i]) fail("module line: " + items[i + 1].message);
    }
    if ((CrashReportCount() > reportsBefore) != expectCrashReport) fail("crash reports do not match");
    fs::remove_all(dir);
    ::_exit(0);
}

class CompanionDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(CompanionDeathTest, WithoutTheDebuggingCompanionTheReportStandsAlone) {
    EXPECT_EXIT(FaultInCopy("", {}, false), ::testing::ExitedWithCode(0), "");
}

TEST_F(CompanionDeathTest, ACompanionWithoutItsExportsIsLikeNone) {
    EXPECT_EXIT(FaultInCopy(KDTRACE_TEST_LIB_DIR "/noexports/libkddbghlp.so", {}, false), ::testing::ExitedWithCode(0),
                "");
}

TEST_F(CompanionDeathTest, AFaultWhileTheReportIsBuiltEndsTheReportNotTheHost) {
    // The faulty module set answers the first module and faults on the second.
    EXPECT_EXIT(FaultInCopy(KDTRACE_TEST_LIB_DIR "/faulty/libkddbghlp.so",
                            {"@@MODULE:/fake/first-module.so[0x0000000000010000]"}, false),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
