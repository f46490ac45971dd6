// Text as generated code sees it: a sequence of UTF-16 code units.
//
// Every length and position of the built-ins counts UTF-16 code units, so the
// library's string type is a std::u16string; ICU reads it without copying.
// UTF-8 appears only at the edges (files, JSON, the network, the console),
// and crosses into and out of this form through the two functions below.
#pragma once

#include <qn/export.h>

#include <string>
#include <string_view>

namespace qn {

using String = std::u16string;
using StringView = std::u16string_view;

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD: the result is always
// valid UTF-8, never truncated.
QN_API std::string toUtf8(StringView text);

// UTF-8 to UTF-16. Each invalid or truncated sequence becomes U+FFFD.
QN_API String fromUtf8(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
QN_API bool isValidUtf8(std::string_view text);

// ASCII-only literal to String, for keys and fixed texts known at compile time.
inline String asciiString(std::string_view ascii) {
    return String(ascii.begin(), ascii.end());
}

}  // namespace qn
