#include "module_base/PLDateNames.h"

#include <array>
#include <new>
#include <utility>

#include "module_base/PLResourceString.h"
#include "module_base/PLSEHException.h"
#include "platform/Thread.h"
#include "platform/Unload.h"

namespace {

constexpr std::size_t kMonths = 12;
constexpr std::size_t kNames = kMonths + 7;
// The messages of January and of Sunday.
constexpr DWORD kFirstMonthMessage = 45;
constexpr DWORD kFirstWeekdayMessage = 168;

// Months first, then the weekdays from Sunday.
const char16_t* const kEnglishNames[kNames] = {u"January",   u"February", u"March",  u"April",     u"May",
                                               u"June",      u"July",     u"August", u"September", u"October",
                                               u"November",  u"December", u"Sunday", u"Monday",    u"Tuesday",
                                               u"Wednesday", u"Thursday", u"Friday", u"Saturday"};

// The names this thread has read in one language, for one value of PLResourceStringGeneration:
// a name is read from the companion (some microseconds) once per thread until the language
// asked for, the default language, the companion's name or the library cache changes, and is
// then read again. Names the companion
// could not give are not kept, so their failures are recorded on every call.
// Per thread, so that readers take no lock; on the heap, because the library's thread-local
// block must stay small (it lies in the static TLS area, of which a library loaded at run time
// gets only a few hundred bytes).
struct KeptNames {
    uint64_t generation = 0;
    LONG language = -1;
    std::array<bool, kNames> known{};
    std::array<std::u16string, kNames> names;
};
thread_local KeptNames* t_kept = nullptr;

void ForgetEndedThread(std::uint32_t) noexcept {
    delete std::exchange(t_kept, nullptr);
}
kd::platform::ThreadExitWatch g_exitWatch(&ForgetEndedThread);

// The unloading thread's names go with the library; other threads' are freed as the threads end
// (those of threads still running at unload stay behind, about a kilobyte each).
void ReleaseCallingThreadNames() noexcept {
    delete std::exchange(t_kept, nullptr);
}
const bool g_releaseRegistered = kd::platform::ReleaseAtUnload(&ReleaseCallingThreadNames);

// Keeps `name` as read in `language` while the generation was `generation`.
void Keep(std::size_t slot, LONG language, uint64_t generation, const std::u16string& name) noexcept {
    if (t_kept == nullptr) {
        t_kept = new (std::nothrow) KeptNames();
        if (t_kept == nullptr) return;
        g_exitWatch.Watch();
    }
    KeptNames& kept = *t_kept;
    if (kept.generation != generation || kept.language != language) {
        kept.known.fill(false);
        kept.generation = generation;
        kept.language = language;
    }
    try {
        kept.names[slot] = name;
        kept.known[slot] = true;
    } catch (...) {
        // Not kept: read again next time.
    }
}

std::u16string_view Name(std::size_t slot, DWORD messageId, LONG language, std::u16string& scratch) {
    static_cast<void>(g_releaseRegistered);
    // Reading a message loads the companion, which installs the fault translator for the
    // thread; a kept name does the same.
    PLInstallSEHTranslator();
    // Taken before the read: a change during the read leaves what it kept under a number that
    // is already out of date.
    const uint64_t generation = PLResourceStringGeneration();
    if (const KeptNames* kept = t_kept;
        kept != nullptr && kept->generation == generation && kept->language == language && kept->known[slot])
        return kept->names[slot];
    PLString text;
    if (PLFormatResourceStringLang(text, messageId, language) >= 0 && text.GetLength() > 0) {
        scratch.assign(text.c_str(), static_cast<std::size_t>(text.GetLength()));
        Keep(slot, language, generation, scratch);
    } else {
        scratch = kEnglishNames[slot];
    }
    return scratch;
}

}  // namespace

std::u16string_view PLMonthName(int32_t month, LONG language, std::u16string& scratch) {
    if (month < 1 || month > 12) return {};
    return Name(static_cast<std::size_t>(month - 1), kFirstMonthMessage + static_cast<DWORD>(month - 1), language,
                scratch);
}

std::u16string_view PLWeekdayName(int32_t index, LONG language, std::u16string& scratch) {
    if (index < 0 || index > 6) return {};
    return Name(kMonths + static_cast<std::size_t>(index), kFirstWeekdayMessage + static_cast<DWORD>(index), language,
                scratch);
}
