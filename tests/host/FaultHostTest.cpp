// Processor faults as a host sees them: a bad pointer handed to a method of the loaded module, or a
// host listener that faults, gives E_UNEXPECTED and a recorded report, the host lives on, and the
// debugging companion being absent, incomplete or faulty only changes what the report lists.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "HostObjects.h"
#include "support/DumpDir.h"
#include "support/ErrorList.h"

namespace {

kdtest::DumpDirectory g_dumps;

namespace fs = std::filesystem;
using kdhost::Narrow;

// The calling thread's errors, oldest first, through the module's exported functions.
std::vector<kdtest::RecordedError> ThreadErrors(const kdhost::ModuleApi& api) {
    IPLErrorInfo* list = nullptr;
    if (api.GetThreadError(&list) < 0 || list == nullptr) return {};
    auto errors = kdtest::ReadList(list);
    list->Release();
    return errors;
}

// Creates an error item and hands it unreadable text (the "bad pointer" a host might pass) inside
// its guarded Initialize.
HRESULT InitializeWithBadText(const kdhost::ModuleApi& api) {
    static void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    IPLErrorItem* item = nullptr;
    if (api.PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, reinterpret_cast<void**>(&item)) < 0) return E_FAIL;
    const HRESULT hr =
        item->Initialize(u"Module", u"Class", u"Method", E_FAIL, 0, static_cast<const WCHAR*>(page), 0, u"", 0);
    item->Release();
    return hr;
}

bool IsFaultReport(const kdtest::RecordedError& item) {
    return item.result == E_UNEXPECTED && item.className == u"CPLErrorItem" &&
           item.method == u"CPLErrorItem::Initialize" &&
           std::regex_match(Narrow(item.message.c_str()),
                            std::regex("ACCESS_VIOLATION encountered\\. @CALL_STACK: (0x[0-9A-F]{16}~)+"));
}

TEST(FaultHostTest, ABadPointerGivesUnexpectedAReportAndOneLinePerModule) {
    kdhost::ModuleApi api;
    std::string error;
    ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
    ASSERT_EQ(api.PLClearThreadErrors(), S_OK);  // reaching the error functions installs the translator

    const std::size_t reportsBefore = g_dumps.Reports().size();
    ASSERT_EQ(InitializeWithBadText(api), E_UNEXPECTED);
    // The same modules the debugging companion lists: named ones, and the main program.
    int modules = 0;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            int& count = *static_cast<int*>(data);
            if ((info->dlpi_name != nullptr && info->dlpi_name[0] != 0) || count == 0) ++count;
            return 0;
        },
        &modules);
    const auto items = ThreadErrors(api);
    ASSERT_EQ(items.size(), static_cast<std::size_t>(1 + modules));
    EXPECT_TRUE(IsFaultReport(items[0])) << Narrow(items[0].message.c_str());
    bool sawModule = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string line = Narrow(items[i].message.c_str());
        EXPECT_TRUE(std::regex_match(line, std::regex("@@MODULE:.+\\[0x[0-9A-F]{16}\\]"))) << line;
        EXPECT_EQ(items[i].result, E_UNEXPECTED);
        sawModule = sawModule || line.find("/libkdtrace.so[") != std::string::npos;
    }
    EXPECT_TRUE(sawModule);
    EXPECT_EQ(g_dumps.Reports().size(), reportsBefore + 1);

    // Again and again; the host thread and the module keep working.
    for (int i = 0; i < 20; ++i) ASSERT_EQ(InitializeWithBadText(api), E_UNEXPECTED);
    IPLErrorItem* item = nullptr;
    ASSERT_EQ(api.PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, reinterpret_cast<void**>(&item)), S_OK);
    EXPECT_EQ(item->Initialize(u"Module", u"Class", u"Method", E_FAIL, 0, u"fine", 0, u"", 0), S_OK);
    item->Release();
}

// A host listener that faults when told to (1: a null read, 2: a division by zero); the module
// calls it from FireMessage.
struct FaultingListener : IPLTraceListener {
    int refs = 1, calls = 0, fault = 0;
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
        volatile LONG zero = 0;
        if (fault == 1) return *static_cast<volatile LONG*>(nullptr) + first;
        if (fault == 2) return first / zero;
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
    FaultingListener first, second;
    void *firstCookie = nullptr, *secondCookie = nullptr;
    ASSERT_EQ(context->AddListener(&first, &firstCookie), S_OK);
    ASSERT_EQ(context->AddListener(&second, &secondCookie), S_OK);

    for (int fault : {1, 2, 1, 2}) {
        first.fault = fault;
        EXPECT_EQ(context->FireMessage(1, 2), E_UNEXPECTED);
        const auto items = ThreadErrors(api);
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0].className, u"CPLTraceContext");
        EXPECT_EQ(items[0].method, u"FireMessage");
        const std::string message = Narrow(items[0].message.c_str());
        const char* name = fault == 1 ? "ACCESS_VIOLATION" : "INT_DIVIDE_BY_ZERO";
        EXPECT_EQ(message.rfind(std::string(name) + " encountered. @CALL_STACK: 0x", 0), 0u) << message;
    }
    // The delivery ended at the faulting listener and gave its references back; the context keeps
    // working.
    EXPECT_EQ(second.calls, 0);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(second.refs, 1);
    first.fault = 0;
    EXPECT_EQ(context->FireMessage(3, 4), S_OK);
    EXPECT_EQ(first.calls, 5);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(context->RemoveListener(firstCookie), S_OK);
    EXPECT_EQ(context->RemoveListener(secondCookie), S_OK);
    context->Release();
    trace->Release();
    module->Release();
}

// ---- the module copied to a folder of its own, beside a chosen debugging companion ----

// Runs in a child process: loads the copy, faults, and checks what was recorded. Exits 0 when
// everything was as `expectedLines` says (the module lines expected after the report).
[[noreturn]] void FaultInCopy(const std::string& companion, const std::vector<std::string>& expectedLines) {
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
    const std::size_t reportsBefore = g_dumps.Reports().size();
    for (int round = 0; round < 3; ++round) {
        if (InitializeWithBadText(api) != E_UNEXPECTED) fail("the method did not return E_UNEXPECTED");
        const auto items = ThreadErrors(api);
        if (items.empty() || !IsFaultReport(items[0])) fail("no fault report");
        if (items.size() != 1 + expectedLines.size()) fail("recorded " + std::to_string(items.size()) + " items");
        for (std::size_t i = 0; i < expectedLines.size(); ++i)
            if (Narrow(items[i + 1].message.c_str()) != expectedLines[i]) fail("module line");
    }
    // Without a working companion there is no crash report either.
    if (g_dumps.Reports().size() != reportsBefore) fail("a crash report was written");
    fs::remove_all(dir);
    ::_exit(0);
}

TEST(CompanionDeathTest, AMissingIncompleteOrFaultyCompanionOnlyShortensTheReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Missing; exporting neither function; a module set that faults on the second module.
    EXPECT_EXIT(FaultInCopy("", {}), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(FaultInCopy(KDTRACE_TEST_LIB_DIR "/noexports/libkddbghlp.so", {}), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(FaultInCopy(KDTRACE_TEST_LIB_DIR "/faulty/libkddbghlp.so",
                            {"@@MODULE:/fake/first-module.so[0x0000000000010000]"}),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
