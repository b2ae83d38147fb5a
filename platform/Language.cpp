#include "platform/Language.h"

#include <unicode/uloc.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/AppendOnlyMap.h"
#include "platform/Mutex.h"

namespace kd::platform {
namespace {

constexpr std::uint32_t kUnitedStatesEnglish = 0x0409;

// Locale objects once made are kept for the process: another thread may still be using one
// through uselocale() when a new one is set.
struct ModuleLocaleState {
    kd::platform::Mutex lock;
    std::vector<locale_t> retired GUARDED_BY(lock);
    std::string name GUARDED_BY(lock);
    std::atomic<locale_t> current{static_cast<locale_t>(nullptr)};
};

ModuleLocaleState& LocaleState() {
    static ModuleLocaleState* state = new ModuleLocaleState();
    return *state;
}

// Whether `text` starts with `prefix`, read no further than the first difference (so never
// past the end of a shorter text).
bool StartsWith(const char* text, const char* prefix) noexcept {
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

// The value getenv would give for the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty, or null: one pass over the environment instead of one per variable, as the process
// locale is read on every call that asks for the user or system default locale.
const char* ProcessLocaleVariable() noexcept {
    const char* all = nullptr;
    const char* messages = nullptr;
    const char* lang = nullptr;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* e = *entry;
        if (e[0] != 'L') continue;
        // The first entry of a name is the one getenv finds.
        if (e[1] == 'C') {
            if (all == nullptr && StartsWith(e + 2, "_ALL=")) {
                all = e + 7;
                if (all[0] != 0) return all;  // nothing comes before it
            } else if (messages == nullptr && StartsWith(e + 2, "_MESSAGES=")) {
                messages = e + 12;
            }
        } else if (lang == nullptr && StartsWith(e + 1, "ANG=")) {
            lang = e + 5;
        }
    }
    for (const char* value : {messages, lang}) {
        if (value != nullptr && value[0] != 0) return value;
    }
    return nullptr;
}

// The identifier of a locale variable's value.
std::uint32_t ComputeLanguageId(const char* value) noexcept {
    char name[ULOC_FULLNAME_CAPACITY];
    std::size_t n = 0;
    while (value[n] != 0 && value[n] != '.' && value[n] != '@' && n + 1 < sizeof name) {
        name[n] = value[n];
        ++n;
    }
    name[n] = 0;
    if (n == 0 || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) return kUnitedStatesEnglish;
    return uloc_getLCID(name);
}

// A locale variable's value, as a key compared with the value read.
struct VariableValue {
    std::string text;
    bool operator==(const char* value) const noexcept { return std::strcmp(text.c_str(), value) == 0; }
    bool operator==(const VariableValue& other) const noexcept { return text == other.text; }
};

// ICU's identifier of a locale name takes about a microsecond to look up and never changes, so
// the identifiers of the few values a process meets are kept. Only the lookup is kept: the
// environment is read on every call, so a host that changes LANG or LC_ALL is answered for the
// new value at once.
using KnownValues = AppendOnlyMap<VariableValue, std::uint32_t, 32>;

std::uint32_t LanguageIdOfVariable(const char* value) noexcept {
    static KnownValues* known = new KnownValues();  // kept for the process, as the module's locales are
    if (const std::uint32_t* id = known->Find(value)) return *id;
    const std::uint32_t id = ComputeLanguageId(value);
    try {
        known->Add(VariableValue{value}, id);
    } catch (...) {
        // Not kept: looked up again next time.
    }
    return id;
}

}  // namespace

std::uint32_t SystemDefaultLanguageId() noexcept {
    const char* value = ProcessLocaleVariable();
    return value == nullptr ? kUnitedStatesEnglish : LanguageIdOfVariable(value);
}

std::string PosixLocaleName(std::uint32_t languageId) {
    if (languageId == 0) return {};
    UErrorCode status = U_ZERO_ERROR;
    char locale[ULOC_FULLNAME_CAPACITY];
    const int32_t n = uloc_getLocaleForLCID(languageId, locale, sizeof locale, &status);
    if (U_FAILURE(status) || n <= 0 || n >= static_cast<int32_t>(sizeof locale)) return {};
    char full[ULOC_FULLNAME_CAPACITY];
    status = U_ZERO_ERROR;
    uloc_addLikelySubtags(locale, full, sizeof full, &status);
    const char* source = U_SUCCESS(status) ? full : locale;
    char language[ULOC_LANG_CAPACITY];
    char country[ULOC_COUNTRY_CAPACITY];
    status = U_ZERO_ERROR;
    uloc_getLanguage(source, language, sizeof language, &status);
    if (U_FAILURE(status) || language[0] == 0) return {};
    status = U_ZERO_ERROR;
    uloc_getCountry(source, country, sizeof country, &status);
    if (U_FAILURE(status)) country[0] = 0;
    std::string name = language;
    if (country[0] != 0) {
        name += '_';
        name += country;
    }
    name += ".UTF-8";
    return name;
}

bool SetModuleLocale(const std::string& name) noexcept {
    if (name.empty()) return false;
    try {
        const locale_t made = ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
        if (made == static_cast<locale_t>(nullptr)) return false;
        ModuleLocaleState& state = LocaleState();
        kd::platform::LockGuard guard(state.lock);
        const locale_t old = state.current.exchange(made, std::memory_order_acq_rel);
        if (old != static_cast<locale_t>(nullptr)) state.retired.push_back(old);
        state.name = name;
        return true;
    } catch (...) {
        return false;
    }
}

locale_t ModuleLocale() noexcept {
    return LocaleState().current.load(std::memory_order_acquire);
}

std::string ModuleLocaleName() {
    ModuleLocaleState& state = LocaleState();
    kd::platform::LockGuard guard(state.lock);
    return state.name;
}

}  // namespace kd::platform
