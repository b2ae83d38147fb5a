// Parses, adjusts and formats dates in two locales (U.S. English and German): each locale gives
// its own date mask ("SYSTEMDATE"), the same day is read from each locale's text, moved on by
// 20 days and 36 hours, and written in the locale's form and in the sortable form.
//
// Date masks are the module's own language, not strftime: "%y" is the four-digit year and "%2y"
// the two-digit one, "%m" and "%d" have no leading zero and "%2m" and "%2d" do.
//
//   example_dates_in_two_locales [MODULE]
#include <cstdio>
#include <string>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

using kdtrace::host::ComPtr;
using kdtrace::host::ToUtf8;

namespace {

struct Locale {
    const char* name;
    LCID id;
    const char16_t* text;  // 14 March 2026 as the locale writes it
    const char* expected;  // 4 April 2026, after adjusting, in the locale's form
};

std::string Format(IPLDateTime* date, const char16_t* mask) {
    WCHAR buffer[128];
    return SUCCEEDED(date->Format(mask, buffer, 128)) ? ToUtf8(buffer) : "(cannot format)";
}

}  // namespace

int main(int argc, char** argv) {
    kdtrace::host::Module module;
    if (!module.Load(argc > 1 ? argv[1] : "")) {
        std::fprintf(stderr, "%s\n", module.Error().c_str());
        return 1;
    }
    const Locale locales[] = {{"en-US", 0x0409, u"3/14/2026", "4/4/2026"},
                              {"de-DE", 0x0407, u"14.03.2026", "04.04.2026"}};
    bool ok = true;
    for (const Locale& locale : locales) {
        // The locale is set through the library's own view of a date-time, IPLDateTimePriv.
        ComPtr<IPLDateTimePriv> date = module.Create<IPLDateTimePriv>(CLSID_PLDateTime);
        if (!date || FAILED(date->SetLocale(locale.id))) return 1;
        WCHAR mask[64];
        date->GetLocaleDateTimeFormatString(TRUE, mask, 64);

        if (FAILED(date->InitializeFromString(locale.text, u"SYSTEMDATE"))) {
            std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
            return 1;
        }
        LONG day = 0, month = 0, year = 0;
        date->GetDay(&day), date->GetMonth(&month), date->GetYear(&year);
        ok = ok && day == 14 && month == 3 && year == 2026;

        date->Adjust(20, 36, 0, 0);  // 20 days and 36 hours (a day and a half): 4 April 2026, 12:00
        const std::string local = Format(date.Get(), u"SYSTEMDATE");
        ok = ok && local == locale.expected;
        std::printf("%s  mask %-12s  read \"%s\"  +20 days 36 hours: %s  (%s, %s, two-digit year %s)\n", locale.name,
                    ToUtf8(mask).c_str(), ToUtf8(locale.text).c_str(), local.c_str(),
                    Format(date.Get(), u"%y-%2m-%2d %H:%M:%S").c_str(),
                    Format(date.Get(), u"%m-%d-%y %h:%M:%S %p").c_str(), Format(date.Get(), u"%2y").c_str());
    }

    // A text that does not fit the mask fails, and the reason is in the thread's error list.
    ComPtr<IPLDateTime> bad = module.Create<IPLDateTime>(CLSID_PLDateTime);
    const bool refused = FAILED(bad->InitializeFromString(u"02-30-2026", u"%m-%d-%y"));
    std::printf("\"02-30-2026\" with \"%%m-%%d-%%y\" is refused:\n%s", module.TakeErrorText().c_str());
    ok = ok && refused;

    std::puts(ok ? "ok" : "MISMATCH");
    return ok ? 0 : 1;
}
