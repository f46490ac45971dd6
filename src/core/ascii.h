// ASCII classification, hexadecimal digits and ASCII case folding, for the
// protocol texts the library reads (URLs, headers, keys, UUIDs, charset
// names). They work on any character type, never consult a locale, and treat
// every unit above 0x7F as a letter of no case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qn::internal {

template <class Char>
constexpr bool isAsciiDigit(Char c) noexcept {
    return c >= Char('0') && c <= Char('9');
}

template <class Char>
constexpr bool isAsciiAlpha(Char c) noexcept {
    return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

template <class Char>
constexpr bool isAsciiAlnum(Char c) noexcept {
    return isAsciiDigit(c) || isAsciiAlpha(c);
}

// The value of a hexadecimal digit of either case; -1 for anything else.
template <class Char>
constexpr int hexValue(Char c) noexcept {
    if (c >= Char('0') && c <= Char('9')) return static_cast<int>(c - Char('0'));
    if (c >= Char('a') && c <= Char('f')) return static_cast<int>(c - Char('a')) + 10;
    if (c >= Char('A') && c <= Char('F')) return static_cast<int>(c - Char('A')) + 10;
    return -1;
}

template <class Char>
constexpr bool isHexDigit(Char c) noexcept {
    return hexValue(c) >= 0;
}

// Upper-case digits, as escapes and canonical texts write them.
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
// Lower-case digits, as keys and data descriptions write them.
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

template <class Char>
constexpr Char asciiLower(Char c) noexcept {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <class Char>
constexpr Char asciiUpper(Char c) noexcept {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - ('a' - 'A')) : c;
}

// `text` with each unit mapped through `map`.
template <class Char, class Map>
std::basic_string<Char> asciiMapped(std::basic_string_view<Char> text, Map map) {
    std::basic_string<Char> out(text);
    for (Char& c : out)
        c = map(c);
    return out;
}

inline std::u16string asciiLowercased(std::u16string_view text) {
    return asciiMapped(text, asciiLower<char16_t>);
}

inline std::string asciiLowercased(std::string_view text) {
    return asciiMapped(text, asciiLower<char>);
}

inline std::u16string asciiUppercased(std::u16string_view text) {
    return asciiMapped(text, asciiUpper<char16_t>);
}

// Equal but for the case of ASCII letters.
template <class Char>
constexpr bool equalsIgnoringASCIICase(std::basic_string_view<Char> a,
                                       std::basic_string_view<Char> b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

inline constexpr bool equalsIgnoringASCIICase(std::u16string_view a,
                                              std::u16string_view b) noexcept {
    return equalsIgnoringASCIICase<char16_t>(a, b);
}

inline constexpr bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) noexcept {
    return equalsIgnoringASCIICase<char>(a, b);
}

template <class Char>
constexpr bool startsWithIgnoringASCIICase(std::basic_string_view<Char> text,
                                           std::basic_string_view<Char> prefix) noexcept {
    return text.size() >= prefix.size() &&
           equalsIgnoringASCIICase(text.substr(0, prefix.size()), prefix);
}

}  // namespace qn::internal
