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

    // Gives the URL of an application's static resource from its relative
    // path; absent when there is none.
    using StaticResourceURLProvider = std::function<std::optional<String>(StringView path)>;
    // Replaces the provider (an empty one restores the default).
    static void setStaticResourceURLProvider(StaticResourceURLProvider provider);
    // The URL of a static resource: by default the application server's
    // "static/" folder (the model's server base URL, then "static/" and the
    // path with each segment percent-encoded); absent when the model names
    // no server or the path is empty.
    static std::optional<String> staticResourceURLWithRelativePath(StringView path);
};

}  // namespace qn
