// The host's entity services that the library registers with and calls.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <functional>
#include <optional>

namespace qn {

class QN_API QNEntityHelper {
public:
    // Turns an absolute URL of a library scheme into a file URL; absent when
    // it cannot.
    using NSURLConverter = std::function<std::optional<String>(StringView url)>;

    // Registers the converter of a scheme (compared case-insensitively); a
    // later registration replaces an earlier one.
    static void registerNSURLConverterForQNScheme(NSURLConverter converter, StringView scheme);
    // The file URL of a URL whose scheme has a converter; absent otherwise.
    static std::optional<String> convertQNSchemeAbsoluteURL(StringView url);
};

}  // namespace qn
