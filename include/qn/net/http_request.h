// The application's own server, as the current HTTP request sees it, and the
// requests the library makes for URLs.
//
// Thread-safe: nothing here keeps state beyond the shared instance.
#pragma once

#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/net/url_session.h>

#include <cstdint>

namespace qn {

// Host, port, path and security of the application model's server base URL,
// computed at every read.
class QN_API QNHttpRequest : public Object {
public:
    static QNHttpRequest& sharedInstance();

    // "" without a model, a base URL or a host.
    String serverHost() const;
    // The explicit port, else 443 when secure, else 80.
    std::int64_t serverPort() const;
    String scriptPath() const;
    // The base URL's scheme is exactly "https".
    bool secure() const;
    String baseURL() const;
};

class QN_API QNHttpRequestHelper {
public:
    // The host's request for a URL under the application's server, else a
    // plain request.
    static QNURLRequest mutableURLRequestForURL(StringView url);
    // Whether the URL lies under the application model's server base URL
    // (scheme and host ignoring case, the port or the scheme's default, and
    // every path component of the base, ignoring case).
    static bool isURLUnderApplicationServer(StringView url);
};

}  // namespace qn
