// URLs as the library's components read and write them: one reader of URL
// references (the HTTP client's targets, the application server's address,
// file URLs), resolution of a reference against a base, and percent-encoding.
//
// The reader keeps every component exactly as written (an explicit port or
// none, a scheme or none, escapes undecoded), because the decisions built on
// it compare what an application configured; and it splits relative
// references too, which readers that insist on absolute URLs refuse.
// Not part of the public API (exported for the white-box tests).
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qn::internal {

// A URL reference split into its components (RFC 3986, section 3).
// A value type; immutable in use.
struct QN_API URL {
    std::optional<String> scheme;    // without its ":"
    bool hasAuthority = false;       // "//" was written
    std::optional<String> userinfo;  // without its "@"
    String host;                     // "" without an authority; "[...]" for IPv6
    std::optional<std::int64_t> port;
    String path;
    std::optional<String> query;     // without its "?"
    std::optional<String> fragment;  // without its "#"

    // The reference in `text`; absent when the text has a blank, a control
    // character or a character beyond ASCII (escape those first), a scheme
    // that is not one, an unclosed "[" or a port that is not a number up to
    // 65535. An empty port ("host:") is no port.
    static std::optional<URL> parse(StringView text);

    // `reference` resolved against this URL, which must have a scheme
    // (RFC 3986, section 5.2); dot segments removed.
    URL resolve(const URL& reference) const;

    // The form a transport sends: scheme in lower case, dot segments removed,
    // "/" for the empty path of a URL with a host.
    URL normalized() const;

    // The components written back (RFC 3986, section 5.3).
    String text() const;
};

// A scheme: a letter, then letters, digits, "+", "-" or ".".
QN_API bool isURLScheme(StringView text) noexcept;
// The scheme a text starts with (what precedes its first ":", when that is
// a scheme), lower-cased; absent otherwise.
QN_API std::optional<String> lowercasedSchemeOf(StringView text);

// RFC 3986, section 5.2.4.
QN_API String removeDotSegments(StringView path);

// `text` with every byte of its UTF-8 form beyond ASCII percent-encoded, so
// that text with such characters still makes a URL (in the UTF-8 servers
// expect). Blanks and control characters are escaped too when
// `escapeBlanks`; otherwise they make no URL and the answer is absent.
QN_API std::optional<String> escapeNonASCII(StringView text, bool escapeBlanks = false);

// Unreserved characters: letters, digits, "-", ".", "_", "~".
QN_API bool isUnreservedURLByte(unsigned char c) noexcept;

// Appends "%XX" (upper-case digits) for `byte`.
QN_API void appendPercentEscape(String& out, unsigned char byte);

// The UTF-8 form of `text` with every byte for which `keep` is false
// percent-encoded.
template <class Keep>
String percentEncoded(StringView text, Keep keep) {
    const std::string utf8 = toUtf8(text);
    String out;
    out.reserve(utf8.size() + 16);
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (keep(c))
            out += static_cast<char16_t>(c);
        else
            appendPercentEscape(out, c);
    }
    return out;
}

// The bytes `text` stands for with its escapes decoded; absent when an
// escape is malformed or the text has a character beyond ASCII.
QN_API std::optional<std::string> percentDecodedBytes(StringView text);

// "file://" and the path percent-encoded (every byte but unreserved
// characters, "/" and the sub-delimiters that may stand in a path).
QN_API String fileURLForPath(StringView absolutePath);

// The percent-decoded path of a "file:" URL whose host is empty or
// "localhost"; "" for a "file:" URL that names no local path (another host,
// a relative path, a bad escape, invalid UTF-8, U+0000); absent when `text`
// is not a "file:" URL at all.
QN_API std::optional<String> pathOfFileURL(StringView text);

}  // namespace qn::internal
