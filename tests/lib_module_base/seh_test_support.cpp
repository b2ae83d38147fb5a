#include "tests/lib_module_base/seh_test_support.h"

#include <stdlib.h>

#include <filesystem>

#include "inc_module_base/PLError.h"
#include "platform/text.h"

HRESULT TestEventSource::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IPLEventSource)) return E_NOINTERFACE;
    *object = static_cast<IPLEventSource*>(this);
    return S_OK;
}

HRESULT TestEventSource::AddListener(REFIID iid, IUnknown* object, void** cookie) {
    if (object == nullptr || cookie == nullptr) return E_POINTER;
    IUnknown* listener = nullptr;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&listener));
    if (hr < 0) return hr;
    AppendListenerRecord(listener, object, iid);
    *cookie = listener;
    listener->Release();  // the list holds no reference
    return S_OK;
}

HRESULT TestEventSource::Fire(LONG kind) {
    return PLGuard("Trace Services", "TestEventSource", "Fire", [&](HRESULT& hr) {
        hr = FireEvent<ITestFaultListener>(IID_ITestFaultListener,
                                           [&](ITestFaultListener* listener) { listener->OnEvent(kind); });
    });
}

std::vector<RecordedError> ThreadErrorsOldestFirst() {
    std::vector<RecordedError> errors;
    IPLErrorInfo* list = nullptr;
    if (GetThreadError(&list) < 0 || list == nullptr) return errors;
    LONG count = 0;
    list->GetCount(&count);
    for (LONG i = count - 1; i >= 0; --i) {
        IPLErrorItem* item = nullptr;
        if (list->GetItem(i, &item) < 0 || item == nullptr) continue;
        RecordedError e;
        std::u16string buffer(16384, u'\0');
        const auto text = [&](HRESULT (IPLErrorItem::*get)(WCHAR*, LONG)) {
            buffer[0] = 0;
            (item->*get)(buffer.data(), static_cast<LONG>(buffer.size()));
            return std::u16string(buffer.c_str());
        };
        item->GetHRESULT(&e.result);
        e.module = text(&IPLErrorItem::GetModuleName);
        e.className = text(&IPLErrorItem::GetClassName);
        e.method = text(&IPLErrorItem::GetMethodName);
        e.message = text(&IPLErrorItem::GetMessage);
        errors.push_back(e);
        item->Release();
    }
    list->Release();
    return errors;
}

std::string Narrow(const std::u16string& text) {
    return kd::platform::Utf16ToUtf8(text);
}

namespace {

// Crash reports of this program go to a directory of its own. A death-test child inherits the
// parent's directory through the environment.
struct DumpDirectory {
    std::string path;
    bool owned = false;
    DumpDirectory() {
        if (const char* inherited = ::getenv("KDTRACE_DUMP_DIR"); inherited != nullptr && inherited[0] != 0) {
            path = inherited;
            return;
        }
        char dir[] = "/tmp/kd-seh-tests-XXXXXX";
        if (::mkdtemp(dir) != nullptr) {
            path = dir;
            owned = true;
            ::setenv("KDTRACE_DUMP_DIR", dir, 1);
        }
    }
    ~DumpDirectory() {
        std::error_code ignored;
        if (owned) std::filesystem::remove_all(path, ignored);
    }
};

DumpDirectory& Dumps() {
    static DumpDirectory dumps;
    return dumps;
}

// Made before main, so before anything loads the debugging companion.
const bool g_dumpsReady = !Dumps().path.empty();

}  // namespace

const std::string& TestDumpDirectory() {
    return Dumps().path;
}
