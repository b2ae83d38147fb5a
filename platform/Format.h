// A type-safe printf over UTF-16 text with the dialect of the system's messages.
//
//   %s %ls %ws   wide text (char16_t*, std::u16string_view, or anything convertible to them);
//                narrow (UTF-8) text is accepted too
//   %hs %S       narrow text (const char*, std::string_view); wide text is accepted too
//   %c %lc %wc   a character (any integer); %hc %C a narrow character
//   %d %i        signed integer;  %u %x %X %o  unsigned integer
//                size: none or l = 32 bits, h = 16, hh = 8, ll / I64 / j / L = 64, I / z / t = 64
//   %f %F %e %E %g %G %a %A   floating point (an integer argument is converted)
//   %p           pointer, 16 upper-case hex digits;   %%  a percent sign
//   flags - + space # 0, width and precision as digits or *
//
// Arguments are captured with their types, so a mismatch never reads the wrong thing: an
// integer is cut or extended to the size the conversion names (as printf would see it), and an
// argument that cannot serve its conversion, or a missing one, prints a visible placeholder
// such as "%!d(bad argument)". %n is not supported and prints a placeholder.
#ifndef KD_PLATFORM_FORMAT_H
#define KD_PLATFORM_FORMAT_H

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace kd::platform {

class FormatArg {
public:
    enum class Kind : std::uint8_t { Signed, Unsigned, Double, Wide, Narrow, Pointer };

    template <std::integral T>
    FormatArg(T v) noexcept {  // NOLINT(google-explicit-constructor)
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            i_ = static_cast<std::int64_t>(v);
        } else {
            kind_ = Kind::Unsigned;
            u_ = static_cast<std::uint64_t>(v);
        }
    }
    template <class E>
    requires std::is_enum_v<E> FormatArg(E v)
    noexcept : FormatArg(static_cast<std::underlying_type_t<E>>(v)) {}
    FormatArg(double v) noexcept : kind_(Kind::Double), d_(v) {}
    FormatArg(float v) noexcept : kind_(Kind::Double), d_(v) {}
    FormatArg(const char16_t* s) noexcept : kind_(Kind::Wide), ws_(s), len_(-1) {}
    FormatArg(std::u16string_view s) noexcept
        : kind_(Kind::Wide), ws_(s.data()), len_(static_cast<std::int64_t>(s.size())) {}
    FormatArg(const std::u16string& s) noexcept : FormatArg(std::u16string_view(s)) {}
    FormatArg(const char* s) noexcept : kind_(Kind::Narrow), ns_(s), len_(-1) {}
    FormatArg(std::string_view s) noexcept
        : kind_(Kind::Narrow), ns_(s.data()), len_(static_cast<std::int64_t>(s.size())) {}
    FormatArg(const std::string& s) noexcept : FormatArg(std::string_view(s)) {}
    FormatArg(const void* p) noexcept : kind_(Kind::Pointer), p_(p) {}
    FormatArg(std::nullptr_t) noexcept : kind_(Kind::Pointer), p_(nullptr) {}

    Kind kind() const noexcept { return kind_; }
    std::int64_t AsSigned() const noexcept { return i_; }
    std::uint64_t AsUnsigned() const noexcept { return u_; }
    double AsDouble() const noexcept { return d_; }
    const char16_t* AsWide() const noexcept { return ws_; }
    const char* AsNarrow() const noexcept { return ns_; }
    const void* AsPointer() const noexcept { return p_; }
    // Explicit length of a string argument, or -1 when it is zero-terminated.
    std::int64_t Length() const noexcept { return len_; }

private:
    Kind kind_;
    union {
        std::int64_t i_;
        std::uint64_t u_;
        double d_;
        const char16_t* ws_;
        const char* ns_;
        const void* p_;
    };
    std::int64_t len_ = -1;
};

using FormatArgs = std::span<const FormatArg>;

// Appends the formatted text to `out`.
void FormatAppend(std::u16string& out, std::u16string_view format, FormatArgs args);
// Narrow (UTF-8) format strings are widened first.
void FormatAppend(std::u16string& out, std::string_view format, FormatArgs args);

inline std::u16string FormatToString(std::u16string_view format, FormatArgs args) {
    std::u16string out;
    FormatAppend(out, format, args);
    return out;
}

template <class... A>
std::u16string Format(std::u16string_view format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return FormatToString(format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatToString(format, list);
    }
}

template <class... A>
std::u16string Format(std::string_view format, const A&... args) {
    std::u16string out;
    if constexpr (sizeof...(A) == 0) {
        FormatAppend(out, format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        FormatAppend(out, format, list);
    }
    return out;
}

}  // namespace kd::platform

#endif  // KD_PLATFORM_FORMAT_H
