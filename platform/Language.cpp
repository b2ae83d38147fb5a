#include "platform/Language.h"
#include "platform/Mutex.h"

#include <unicode/uloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

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

}  // namespace

std::uint32_t SystemDefaultLanguageId() noexcept {
    const char* value = nullptr;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(variable);
        if (v != nullptr && v[0] != 0) {
            value = v;
            break;
        }
    }
    if (value == nullptr) return kUnitedStatesEnglish;
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
