// Processor faults as a host built the ordinary way (without -fnon-call-exceptions) sees them: a
// bad pointer handed to any method of the loaded module, or a fault in the host's own code that
// the module calls, gives E_UNEXPECTED and a recorded report, and the host lives on; a second copy
// of the module in the process changes nothing; the debugging companion being absent, incomplete
// or faulty only changes what the report lists.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "HostObjects.h"
#include "support/DumpDir.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/Process.h"
#include "support/TraceFakes.h"

namespace {

kdtest::DumpDirectory g_dumps;

namespace fs = std::filesystem;
using kdhost::Narrow;

// An unreadable page: the "bad pointer" a host might pass.
void* const g_bad = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

// The calling thread's errors, oldest first, through the module's exported functions.
const auto ThreadErrors = [](const kdhost::ModuleApi& api) { return kdtest::ReadThreadErrors(api.GetThreadError); };

// "" when `hr` is E_UNEXPECTED and the thread's newest record is the report of the fault `name`,
// else what is wrong.
std::string CheckFaultReport(const kdhost::ModuleApi& api, HRESULT hr, const char* name = "ACCESS_VIOLATION") {
    if (hr != E_UNEXPECTED) return "returned " + kdhost::HResultText(hr);
    const auto items = ThreadErrors(api);
    const std::string expected = std::string(name) + " encountered. @CALL_STACK: 0x";
    if (items.empty() || items[0].result != E_UNEXPECTED || Narrow(items[0].message.c_str()).rfind(expected, 0) != 0)
        return "no fault report";
    return "";
}

// Hands an error item's guarded Initialize unreadable text; "" when that ended with the fault's
// report, recorded under the item's class and method, with a whole call stack.
std::string FaultWithBadText(const kdhost::ModuleApi& api) {
    IPLErrorItem* item = nullptr;
    if (api.PLCreateInstance(CLSID_PLErrorItem, IID_IPLErrorItem, reinterpret_cast<void**>(&item)) < 0)
        return "no item";
    const HRESULT hr =
        item->Initialize(u"Module", u"Class", u"Method", E_FAIL, 0, static_cast<const WCHAR*>(g_bad), 0, u"", 0);
    item->Release();
    if (std::string why = CheckFaultReport(api, hr); !why.empty()) return why;
    const auto report = ThreadErrors(api).at(0);
    const std::regex stack("ACCESS_VIOLATION encountered\\. @CALL_STACK: (0x[0-9A-F]{16}~)+");
    if (report.className != u"CPLErrorItem" || report.method != u"CPLErrorItem::Initialize" ||
        !std::regex_match(Narrow(report.message.c_str()), stack))
        return "not Initialize's report: " + Narrow(report.message.c_str());
    return "";
}

// The exit status of a child process that checked something: 0 when `why` is empty, else 1
// after printing it.
int ExitStatus(const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
    return why.empty() ? 0 : 1;
}

// A new folder holding copies of the module under `names` (the original may be loaded already,
// by earlier tests).
fs::path CopyModule(std::initializer_list<const char*> names) {
    char dir[] = "/tmp/kd-module-copy-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return "/no-temporary-folder";
    for (const char* name : names) fs::copy_file(KDTRACE_MODULE_PATH, fs::path(dir) / name);
    return dir;
}

using FaultHostTest = kdtest::HostModuleTest;

// ---- a fault in a host's code that the module calls ----

std::atomic<int> g_destroyed{0};
// A local with a destructor, as most host code has. (Short text: what an abandoned frame holds
// on the heap would stay there.)
struct Counted {
    std::string text = "abandoned";
    ~Counted() { ++g_destroyed; }
};
[[gnu::noinline]] void Keep(Counted& local) {
    asm volatile("" : : "r"(local.text.data()) : "memory");
}

const char* volatile g_nullText = nullptr;

// A host listener that faults when told to: in OnTraceMessage (1: a null read, 2: a division by
// zero, 3: inside the C runtime, strlen of a null text) or in its QueryInterface, which the
// module calls with the listener list locked (4: strlen of a null text), each with a local that
// has a destructor live across the fault. Heap-allocated, freed at count zero.
struct FaultingListener final : kdtest::HeapTraceListener {
    int calls = 0, fault = 0;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (fault == 4 && (iid == IID_IUnknown || iid == IID_IPLTraceListener)) {
            Counted local;
            Keep(local);
            const std::size_t n = std::strlen(g_nullText);
            Keep(local);
            return n > 0 ? E_FAIL : E_NOINTERFACE;
        }
        return HeapObject::QueryInterface(iid, object);
    }
    HRESULT OnTraceMessage(LONG first, LONG) override {
        ++calls;
        Counted local;
        Keep(local);  // live across the fault: its destructor is due when the frame unwinds
        volatile LONG zero = 0;
        LONG value = 0;
        if (fault == 1) value = *static_cast<volatile LONG*>(nullptr);
        if (fault == 2) value = first / zero;
        if (fault == 3) value = static_cast<LONG>(std::strlen(g_nullText));
        Keep(local);
        return value > 0 ? S_FALSE : S_OK;
    }
};

// ---- methods that read or write the caller's memory, given an unreadable page ----

// A row for each way a method reaches the caller's memory (an identifier or a text read, an
// object called, a text copied out, a value or an interface stored, an item placed, an array
// grown, a cookie written, a BSTR made), with the names each class records its fault under; a
// method that reaches it through the same helper as a row is left out. (An error item's
// Initialize given unreadable text is the fault every test here starts from.)

struct Objects {
    kdhost::ModuleApi& api;
    IPLModule* module = nullptr;
    IPLTraceModule* trace = nullptr;
    IPLTraceContextPriv* context = nullptr;
    IPLTraceContextCollection* collection = nullptr;
    IPLErrorInfo* list = nullptr;
    IPLErrorItem* item = nullptr;
    IKDXErrorItemCore* view = nullptr;
};

// A call, and for one method of each class and the exported functions the group, class and
// method its fault is recorded under.
struct BadPointerCase {
    const char* call;
    HRESULT (*run)(Objects& o, void* bad);
    const char16_t* recorded = nullptr;
};

// clang-format off
const BadPointerCase kBadPointerCases[] = {
    {"GetPLModule(id)", [](Objects& o, void* bad) { IPLModule* m = nullptr; return o.api.GetPLModule(*static_cast<const GUID*>(bad), &m); }},
    {"GetImplementedModules(factory)", [](Objects& o, void* bad) { IPLModuleInfoCollection* c = nullptr; return o.api.GetImplementedModules(static_cast<IPLModuleInfoFactory*>(bad), &c); }},
    {"PLCreateInstance(out)", [](Objects& o, void* bad) { return o.api.PLCreateInstance(CLSID_PLTraceContext, IID_IUnknown, static_cast<void**>(bad)); }, u"||PLCreateInstance"},
    {"GetThreadErrorSuspensionState", [](Objects& o, void* bad) { return o.api.GetThreadErrorSuspensionState(static_cast<BOOL*>(bad)); }, u"Core Services||GetThreadErrorSuspensionState"},
    {"IPLModule::GetFriendlyName", [](Objects& o, void* bad) { return o.module->GetFriendlyName(static_cast<WCHAR*>(bad), 8); }, u"Core|CPLModule|GetFriendlyName"},
    {"IPLTraceModule::GetNamedContext(out)", [](Objects& o, void* bad) { return o.trace->GetNamedContext(u"bad", static_cast<IPLTraceContext**>(bad)); }, u"Trace Services|CPLTraceModule|GetNamedContext"},
    {"IPLTraceContext::GetName", [](Objects& o, void* bad) { return o.context->GetName(static_cast<WCHAR*>(bad), 8); }, u"Trace Services|CPLTraceContext|GetName"},
    {"IPLTraceContext::AddListener(cookie)", [](Objects& o, void* bad) {
        auto* listener = new FaultingListener();
        const HRESULT hr = o.context->AddListener(listener, static_cast<void**>(bad));
        listener->Release();  // (freed here: the context must not keep it)
        return hr; }},
    {"IPLTraceContextCollection::Insert", [](Objects& o, void* bad) { return o.collection->Insert(static_cast<IPLTraceContext*>(bad)); }},
    {"IPLTraceContextCollection::CheckExistsByName", [](Objects& o, void* bad) { return o.collection->CheckExistsByName(u"x", static_cast<BOOL*>(bad)); }, u"Core|CPLDataCollection|CheckExistsByName"},
    {"IPLTraceContextCollection::GetReadOnly", [](Objects& o, void* bad) { return o.collection->GetReadOnly(static_cast<BOOL*>(bad)); }, u"Core Services|CPLDataCollection|GetReadOnly"},
    {"IPLTraceContextCollection::FindAllDuplicates", [](Objects& o, void* bad) { return o.collection->FindAllDuplicates(static_cast<PLItemArray<IPLTraceContext>*>(bad), 0); }},
    {"IPLErrorInfo::GetItem", [](Objects& o, void* bad) { return o.list->GetItem(0, static_cast<IPLErrorItem**>(bad)); }, u"Core|CPLErrorInfo|CPLErrorInfo::GetItem"},
    {"IPLErrorItem::GetMessage", [](Objects& o, void* bad) { return o.item->GetMessage(static_cast<WCHAR*>(bad), 8); }, u"Core|CPLErrorItem|CPLErrorItem::GetMessage"},
    {"IKDXErrorItemCore::get_Member", [](Objects& o, void* bad) { return o.view->get_Member(static_cast<BSTR*>(bad)); }, u"Core|CKDXErrorItemCore|CKDXErrorItemCore::get_Member"},
};
// clang-format on

// "" when the call ended with the fault's report, recorded under the row's names, and the same
// objects answer again afterwards.
std::string CallWithBadPointer(Objects& o, const BadPointerCase& c) {
    if (std::string why = CheckFaultReport(o.api, c.run(o, g_bad)); !why.empty()) return why;
    const auto report = ThreadErrors(o.api).at(0);
    const auto recorded = report.module + u"|" + report.className + u"|" + report.method;
    if (c.recorded != nullptr && recorded != c.recorded) return "recorded under " + Narrow(recorded.c_str());
    ULONG id = 1;
    if (o.context->GetID(&id) != S_OK || o.collection->GetCount() != 1 || o.context->FireMessage(1, 2) != S_OK)
        return "the objects no longer work";
    return "";
}

TEST_F(FaultHostTest, EveryMethodGivenAnUnreadablePointerEndsWithTheFaultAndTheHostLivesOn) {
    Objects o{api};
    ASSERT_HR(api.GetPLModule(GUID_NULL, &o.module), S_OK);
    ASSERT_HR(o.module->InitModule(), S_OK);
    ASSERT_HR(o.module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&o.trace)), S_OK);
    o.context = Create<IPLTraceContextPriv>(CLSID_PLTraceContext, IID_IPLTraceContextPriv);
    o.collection = Create<IPLTraceContextCollection>(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection);
    o.list = Create<IPLErrorInfo>(CLSID_PLErrorInfo, IID_IPLErrorInfo);
    o.item = Create<IPLErrorItem>(CLSID_PLErrorItem, IID_IPLErrorItem);
    ASSERT_TRUE(o.context && o.collection && o.list && o.item);
    ASSERT_HR(o.collection->Insert(o.context), S_OK);
    ASSERT_HR(o.list->AddError(u"M", u"C", u"M", E_FAIL, 0, u"m", 0, u"", 0), S_OK);
    ASSERT_HR(o.item->GetKDXErrorItemCore(&o.view), S_OK);
    ASSERT_NE(g_bad, MAP_FAILED);

    for (const BadPointerCase& c : kBadPointerCases)  // each in a child: one that ends the process names itself
        EXPECT_EQ(kdtest::InChild([&] { return ExitStatus(CallWithBadPointer(o, c)); }), 0) << c.call;
    for (IUnknown* object :
         std::initializer_list<IUnknown*>{o.view, o.item, o.list, o.collection, o.context, o.trace, o.module})
        object->Release();
}

// Faults in the host's code: FireMessage ends with the fault, the host's frames between the fault
// and the module are left without their destructors (this program is built without
// -fnon-call-exceptions; a fault in the C runtime cannot be unwound at all), the delivery stops
// at the faulting listener, references come back, the listener list's lock is free for other
// threads, the floating-point control state is the host's, and the context keeps working.
TEST_F(FaultHostTest, AFaultInAListenerEndsFireMessageWithTheFault) {
    auto* context = Create<IPLTraceContext>(CLSID_PLTraceContext, IID_IPLTraceContext);
    ASSERT_NE(context, nullptr);
    auto *first = new FaultingListener(), *second = new FaultingListener();
    void *firstCookie = nullptr, *secondCookie = nullptr;
    ASSERT_HR(context->AddListener(first, &firstCookie), S_OK);
    ASSERT_HR(context->AddListener(second, &secondCookie), S_OK);
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    for (int fault : {1, 2, 3, 4, 1}) {
        first->fault = fault;
        const int destroyedBefore = g_destroyed;
        const HRESULT hr = context->FireMessage(1, 2);
        EXPECT_EQ(std::fegetround(), FE_UPWARD);
        EXPECT_EQ(CheckFaultReport(api, hr, fault == 2 ? "INT_DIVIDE_BY_ZERO" : "ACCESS_VIOLATION"), "") << fault;
        EXPECT_EQ(ThreadErrors(api).at(0).method, u"FireMessage");
        EXPECT_EQ(g_destroyed, destroyedBefore) << "the abandoned frame ran its destructors";
        // Another thread takes the list's lock: a listener query that faulted gave it back.
        std::thread([&] {
            auto* third = new FaultingListener();
            void* cookie = nullptr;
            EXPECT_HR(context->AddListener(third, &cookie), S_OK);
            EXPECT_HR(context->RemoveListener(cookie), S_OK);
            third->Release();
        }).join();
    }
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(std::tuple(second->calls, first->refs.load(), second->refs.load()), std::tuple(0, 1u, 1u));
    first->fault = 0;
    EXPECT_HR(context->FireMessage(3, 4), S_OK);
    EXPECT_EQ(second->calls, 1);
    for (void* cookie : {firstCookie, secondCookie}) EXPECT_HR(context->RemoveListener(cookie), S_OK);
    for (IUnknown* object : std::initializer_list<IUnknown*>{first, second, context}) object->Release();
}

// The other calls into host code: a collection's sort function and an error list's callback
// (called from a guarded method of the module, as the store's callback would be). Each call ends
// with the fault and leaves the object as it was.
HRESULT FaultingCompare(IPLTraceContext*, IPLTraceContext*, LONG* result) {
    Counted local;
    Keep(local);
    *result = static_cast<LONG>(std::strlen(g_nullText));
    Keep(local);
    return S_OK;
}
void FaultingCallback(uintptr_t, IPLErrorItem*) {
    Counted local;
    Keep(local);
    *static_cast<volatile LONG*>(nullptr) = static_cast<LONG>(std::strlen(g_nullText));
    Keep(local);
}

TEST_F(FaultHostTest, AFaultInASortFunctionOrAnErrorCallbackEndsTheCall) {
    auto* collection = Create<IPLTraceContextCollection>(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection);
    auto* context = Create<IPLTraceContext>(CLSID_PLTraceContext, IID_IPLTraceContext);
    auto* list = Create<IPLErrorInfo>(CLSID_PLErrorInfo, IID_IPLErrorInfo);
    ASSERT_TRUE(collection && context && list);
    for (int i = 0; i < 2; ++i) ASSERT_HR(collection->Insert(context), S_OK);
    EXPECT_EQ(CheckFaultReport(api, collection->Sort(&FaultingCompare)), "");
    EXPECT_EQ(collection->GetCount(), 2);
    ASSERT_HR(list->RegisterErrorEvent(0, &FaultingCallback), S_OK);
    EXPECT_EQ(CheckFaultReport(api, list->AddError(u"M", u"C", u"M", E_FAIL, 0, u"m", 0, u"", 0)), "");
    EXPECT_EQ(kdtest::ReadList(list).size(), 1u);
    for (IUnknown* object : std::initializer_list<IUnknown*>{list, context, collection}) object->Release();
}

// Two copies of a library built on the module base in one process (each with its own fault
// handler, the later one chained to the earlier): each translates the faults of its own
// threads, whichever handler the kernel calls first.
std::string FaultInTwoCopies() {
    const fs::path dir = CopyModule({"libkdtrace-second.so"});
    kdhost::ModuleApi first, second;
    std::string why;
    if (!first.Load(KDTRACE_MODULE_PATH, why) || !second.Load(dir / "libkdtrace-second.so", why)) return why;
    fs::remove_all(dir);
    first.PLClearThreadErrors();  // the first module's handler, then the second's
    std::thread([&] {
        second.PLClearThreadErrors();
        why = FaultWithBadText(second);
    }).join();
    // This thread has only the first module's translator: the second's handler hands the fault on
    // to the first's, which throws through it.
    if (why.empty()) why = FaultWithBadText(first);
    second.PLClearThreadErrors();  // now both
    for (const kdhost::ModuleApi* api : {&first, &second})
        if (why.empty()) why = FaultWithBadText(*api);
    return why;
}

TEST(TwoModulesHostTest, EachModuleTranslatesTheFaultsOfItsThreads) {
    EXPECT_EQ(kdtest::InChild([] { return ExitStatus(FaultInTwoCopies()); }), 0);
}

// Two copies unloaded in either order (the later copy's handler chained to the earlier's): the one
// left still translates its threads' faults, and once both are gone the handler in force before
// them (here the default action) ends the process on a fault. A handler left chained to an
// unloaded copy would end it by a fault in unmapped code instead (SIGSEGV, not SIGFPE).
// The modules run on threads that end before the unloading, which their thread-local objects
// would otherwise hold back.
std::string UnloadBothThenFault(bool earlierFirst) {
    ::signal(SIGFPE, SIG_DFL);
    const fs::path dir = CopyModule({"libkdtrace-first.so", "libkdtrace-second.so"});
    const std::string paths[2] = {dir / "libkdtrace-first.so", dir / "libkdtrace-second.so"};
    kdhost::ModuleApi apis[2];
    std::string why;
    for (int i = 0; i < 2; ++i) {
        if (!apis[i].Load(paths[i], why)) return why;
        std::thread([&] { apis[i].PLClearThreadErrors(); }).join();  // installs its handler
    }
    fs::remove_all(dir);
    const int gone = earlierFirst ? 0 : 1, kept = 1 - gone;
    if (::dlclose(apis[gone].handle) != 0 || ::dlopen(paths[gone].c_str(), RTLD_NOW | RTLD_NOLOAD))
        return "a module stayed loaded";
    std::thread([&] {
        apis[kept].PLClearThreadErrors();
        why = FaultWithBadText(apis[kept]);
    }).join();
    if (!why.empty()) return why;
    if (::dlclose(apis[kept].handle) != 0 || ::dlopen(paths[kept].c_str(), RTLD_NOW | RTLD_NOLOAD))
        return "a module stayed loaded";
    volatile int dividend = 1000, zero = 0;
    return std::to_string(dividend / zero);
}

TEST(TwoModulesDeathTest, UnloadedInEitherOrderLeaveNoHandlerInUnloadedCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const bool earlierFirst : {true, false})
        EXPECT_EXIT(::_exit(ExitStatus(UnloadBothThenFault(earlierFirst))), ::testing::KilledBySignal(SIGFPE), "")
            << (earlierFirst ? "the earlier copy unloaded first" : "the later copy unloaded first");
}

// ---- the module copied to a folder of its own, beside a chosen debugging companion ----

// Loads the copy, faults three times, and checks what was recorded: "" when the report was
// followed by `expectedLines` (the module lines) and no crash report was written (there is none
// without a working companion).
std::string FaultInCopy(const std::string& companion, const std::vector<std::string>& expectedLines) {
    const fs::path dir = CopyModule({"libkdtrace.so"});
    if (!companion.empty()) fs::copy_file(companion, dir / "libkddbghlp.so");
    kdhost::ModuleApi api;
    std::string why;
    if (!api.Load(dir / "libkdtrace.so", why)) return why;
    api.PLClearThreadErrors();
    const std::size_t reportsBefore = g_dumps.Reports().size();
    for (int round = 0; round < 3 && why.empty(); ++round) {
        why = FaultWithBadText(api);
        std::vector<std::string> lines;
        for (const auto& item : ThreadErrors(api)) lines.push_back(Narrow(item.message.c_str()));
        if (why.empty() && std::vector<std::string>(lines.begin() + 1, lines.end()) != expectedLines)
            why = "recorded " + std::to_string(lines.size()) + " items, the last " + lines.back();
    }
    if (why.empty() && g_dumps.Reports().size() != reportsBefore) why = "a crash report was written";
    fs::remove_all(dir);
    return why;
}

TEST(CompanionDeathTest, AMissingIncompleteOrFaultyCompanionOnlyShortensTheReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Missing; exporting neither function; a module set that faults on the second module.
    const std::pair<std::string, std::vector<std::string>> kCompanions[] = {
        {"", {}},
        {KDTRACE_TEST_LIB_DIR "/noexports/libkddbghlp.so", {}},
        {KDTRACE_TEST_LIB_DIR "/faulty/libkddbghlp.so", {"@@MODULE:/fake/first-module.so[0x0000000000010000]"}}};
    for (const auto& [companion, lines] : kCompanions)
        EXPECT_EXIT(::_exit(ExitStatus(FaultInCopy(companion, lines))), ::testing::ExitedWithCode(0), "") << companion;
}

}  // namespace
