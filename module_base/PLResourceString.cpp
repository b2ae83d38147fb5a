// Resource strings from the language companion and the default language.
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <kdtrace/msgtable.h>

#include "module_base/PLError.h"
#include "module_base/PLResourceString.h"
#include "module_base/PLVersion.h"
#include "platform/DebugOutput.h"
#include "platform/Language.h"
#include "platform/Mutex.h"
#include "platform/TickCount.h"
#include "platform/Unload.h"

namespace {

constexpr LONG kEnglish = 9;
constexpr ULONG kMessageCapacity = 2048;

std::atomic<LONG> g_defaultLanguage{kEnglish};

// The name of the language companion.
struct ResourceLibrary {
    kd::platform::Mutex lock;
    PLString name GUARDED_BY(lock){u"kdlocale"};
};

ResourceLibrary* g_resourceLibrary = nullptr;
// Counts the changes of the default language and of the language companion's name: twice per
// change, once as it begins and once when it is done, so that the count is odd while a change
// is under way.
std::atomic<uint64_t> g_changes{0};

// Marks a change of what messages read for its whole length.
class ChangeUnderWay {
public:
    ChangeUnderWay() noexcept { g_changes.fetch_add(1, std::memory_order_acq_rel); }
    // After the change: whoever sees the new number reads what was changed.
    ~ChangeUnderWay() { g_changes.fetch_add(1, std::memory_order_release); }
    ChangeUnderWay(const ChangeUnderWay&) = delete;
    ChangeUnderWay& operator=(const ChangeUnderWay&) = delete;
};

void ReleaseResourceLibrary() noexcept {
    delete g_resourceLibrary;
    g_resourceLibrary = nullptr;
}

ResourceLibrary& TheResourceLibrary() {
    static ResourceLibrary* library = [] {
        g_resourceLibrary = new ResourceLibrary();
        kd::platform::ReleaseAtUnload(&ReleaseResourceLibrary);
        return g_resourceLibrary;
    }();
    return *library;
}

// The arguments in the companion's form, which takes zero-terminated text: counted text is
// copied into `storage`. Pointer arguments print as numbers.
struct ArgumentStorage {
    std::deque<std::u16string> wide;
    std::deque<std::string> narrow;
};

std::vector<PLMessageArgument> ToMessageArguments(kd::platform::FormatArgs arguments, ArgumentStorage& storage) {
    std::vector<PLMessageArgument> out(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const kd::platform::FormatArg& a = arguments[i];
        PLMessageArgument& m = out[i];
        switch (a.kind()) {
            case kd::platform::FormatArg::Kind::Signed:
                m.kind = PLMSGARG_SIGNED;
                m.value.i = a.AsSigned();
                break;
            case kd::platform::FormatArg::Kind::Unsigned:
                m.kind = PLMSGARG_UNSIGNED;
                m.value.u = a.AsUnsigned();
                break;
            case kd::platform::FormatArg::Kind::Double:
                m.kind = PLMSGARG_DOUBLE;
                m.value.d = a.AsDouble();
                break;
            case kd::platform::FormatArg::Kind::Wide:
                m.kind = PLMSGARG_WIDE;
                m.value.wide = a.AsWide();
                if (a.Length() >= 0 && a.AsWide() != nullptr)
                    m.value.wide = storage.wide.emplace_back(a.AsWide(), static_cast<std::size_t>(a.Length())).c_str();
                break;
            case kd::platform::FormatArg::Kind::Narrow:
                m.kind = PLMSGARG_NARROW;
                m.value.narrow = a.AsNarrow();
                if (a.Length() >= 0 && a.AsNarrow() != nullptr)
                    m.value.narrow =
                        storage.narrow.emplace_back(a.AsNarrow(), static_cast<std::size_t>(a.Length())).c_str();
                break;
            case kd::platform::FormatArg::Kind::Pointer:
                m.kind = PLMSGARG_UNSIGNED;
                m.value.u = reinterpret_cast<uintptr_t>(a.AsPointer());
                break;
        }
    }
    return out;
}

// The low word of a Win32-facility result is the system error number.
LONG SystemErrorOf(HRESULT hr) {
    if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u) return static_cast<LONG>(hr & 0xFFFF);
    return static_cast<LONG>(hr);
}

bool StartsWithPlaceholder(const WCHAR* text) {
    return text[0] == u'S' && text[1] == u'T' && text[2] == u'R' && text[3] == u'_';
}

}  // namespace

// ---- default language ----

LONG PLSetDefaultLanguage(LONG language) noexcept {
    LONG result = 0;
    ::PLGuard(PL_GUARD_SITE("lib_module_base"), [&](HRESULT&) {
        const uint32_t system = language == -1 ? kd::platform::SystemDefaultLanguageId() : 0;
        {
            const ChangeUnderWay change;
            if (language == -1) {
                if (system != 0) g_defaultLanguage.store(static_cast<LONG>(system), std::memory_order_relaxed);
            } else {
                g_defaultLanguage.store(language, std::memory_order_relaxed);
            }
            // The traditional-Chinese identifiers share one message language.
            const LONG current = g_defaultLanguage.load(std::memory_order_relaxed);
            if (current == 0x0C04 || current == 0x1404 || current == 0x0404 || current == 0x7C04)
                g_defaultLanguage.store(0x0404, std::memory_order_relaxed);
        }
        const std::string name =
            kd::platform::PosixLocaleName(static_cast<uint32_t>(g_defaultLanguage.load(std::memory_order_relaxed)));
        if (!name.empty() && kd::platform::SetModuleLocale(name)) result = 1;
    });
    return result;
}

LONG PLGetDefaultLanguage() noexcept {
    return g_defaultLanguage.load(std::memory_order_relaxed);
}

// ---- resource strings ----

HRESULT CResourceString::FormatMessageW(PLString& text, kd::platform::FormatArgs arguments) const noexcept {
    return FormatMessageW(text, PLGetDefaultLanguage(), arguments);
}

HRESULT CResourceString::FormatMessageW(PLString& text, LONG language,
                                        kd::platform::FormatArgs arguments) const noexcept {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(""), [&](HRESULT& hr) {
        void* library = nullptr;
        hr = PLVersionedLoadLibrary(GetCurrentModuleName(), PLGetLanguageResourceLibraryName(), &library);
        PL_THROW_ERROR(hr, "Failed to load language resource module.", 0);

        const auto format =
            reinterpret_cast<PFN_PLLOCALE_FormatMessage>(PLGetProcAddress(library, "PLLOCALE_FormatMessage"));
        ArgumentStorage storage;
        const std::vector<PLMessageArgument> messageArguments = ToMessageArguments(arguments, storage);
        const std::unique_ptr<WCHAR[]> buffer(new WCHAR[kMessageCapacity]);
        buffer[0] = 0;
        ULONG length = 0;
        const auto formatIn = [&](LONG lang) -> HRESULT {
            if (format == nullptr) return PL_E_PROC_NOT_FOUND;
            buffer[0] = 0;
            length = 0;
            return format(m_messageId, static_cast<DWORD>(lang), messageArguments.data(),
                          static_cast<ULONG>(messageArguments.size()), buffer.get(), kMessageCapacity, &length);
        };
        HRESULT formatted = formatIn(language);
        if (formatted < 0 || StartsWithPlaceholder(buffer.get())) {
            formatted = formatIn(kEnglish);
            if (formatted < 0) {
                hr = E_FAIL;
                PL_THROW_ERROR_FORMAT(hr, 1, "Failed to format message string for ID=%ld, error = %ld.", m_messageId,
                                      SystemErrorOf(formatted));
            }
        }
        if (length > kMessageCapacity - 1) length = kMessageCapacity - 1;
        if (length >= 2 && buffer[length - 2] == u'\r' && buffer[length - 1] == u'\n') length -= 2;
        text = PLString(buffer.get(), static_cast<int32_t>(length));
        hr = S_OK;
    });
}

// ---- the language companion ----

PLString PLGetLanguageResourceLibraryName() {
    ResourceLibrary& current = TheResourceLibrary();
    kd::platform::LockGuard guard(current.lock);
    return current.name;
}

void PLSetLanguageResourceLibraryName(const WCHAR* name) noexcept {
    try {
        ResourceLibrary& current = TheResourceLibrary();
        PLString changed = name != nullptr && name[0] != 0 ? PLString(name) : PLString(u"kdlocale");
        const ChangeUnderWay change;
        kd::platform::LockGuard guard(current.lock);
        current.name = std::move(changed);
    } catch (...) {
    }
}

bool PLResourceStringChanging() noexcept {
    return (g_changes.load(std::memory_order_acquire) & 1) != 0;
}

uint64_t PLResourceStringGeneration() noexcept {
    // Both counts only grow, so their sum changes whenever either does.
    return g_changes.load(std::memory_order_acquire) + PLLibraryCacheGeneration();
}
