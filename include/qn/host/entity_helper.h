// The host's entity services that the library registers with and calls.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <functional>
#include <optional>
#include <vector>

namespace qn {

// What the host knows of the image an image field value names, beyond where
// it is.
struct QN_API QNImageDescriptor {
    // Pixels per point of the image; 0 when the host does not know (the
    // image's name then decides: "name@2x.png" is 2).
    double scale = 0;
};

// An image field value resolved: where the image is and, possibly, what the
// host knows of it. Either may be absent.
struct QN_API QNImageFieldValue {
    std::optional<String> url;
    std::optional<QNImageDescriptor> image;
};

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

    // Resolves the text an image variable or field holds.
    using ImageFieldValueResolver = std::function<QNImageFieldValue(StringView value)>;
    // Replaces the resolver (an empty one restores the default).
    static void setImageFieldValueResolver(ImageFieldValueResolver resolver);
    // The URL of an image field value and the host's descriptor of it. By
    // default: an absolute URL of a registered library scheme becomes its
    // file URL; a file URL naming a local path and an http or https URL are
    // the URL themselves; anything else (a plain path among them) resolves
    // to nothing. The default gives no descriptor.
    static QNImageFieldValue imageAndURLFromFieldValue(StringView value);

    // Gives the URL of a web panel of the application by object name and
    // parameters (none when the list is absent); absent when there is none.
    using WebPanelURLProvider =
        std::function<std::optional<String>(StringView name, const std::vector<Value>* parameters)>;
    // Replaces the provider (an empty one restores the default: none).
    static void setWebPanelURLProvider(WebPanelURLProvider provider);
    // The provider's URL; absent without a provider.
    static std::optional<String> webPanelURLFromNameParameters(
        StringView name, const std::vector<Value>* parameters);
};

}  // namespace qn
