#include "net/redirect.h"

#include <cstdint>
#include <optional>

#include "core/ascii.h"
#include "host/url.h"

namespace qn::internal {

namespace {

constexpr std::int64_t kBadURL = -1000;
constexpr std::int64_t kUnsupportedURL = -1002;
constexpr std::int64_t kTooManyRedirects = -1007;
constexpr std::int64_t kInsecureRedirect = -1022;

// Scheme, host and port: what decides whether two URLs reach the same
// server.
struct Origin {
    String scheme;
    String host;
    std::int64_t port = 0;

    bool operator==(const Origin&) const = default;
};

std::optional<URL> parseAbsolute(StringView text) {
    const std::optional<String> escaped = escapeNonASCII(text);
    std::optional<URL> url = escaped ? URL::parse(*escaped) : std::nullopt;
    if (!url || !url->scheme || !url->hasAuthority || url->host.empty()) return std::nullopt;
    return url;
}

Origin originOf(const URL& url) {
    Origin origin{asciiLowercased(*url.scheme), asciiLowercased(url.host), 0};
    origin.port = url.port.value_or(origin.scheme == u"https" ? 443 : 80);
    return origin;
}

// Fields that describe a body: they go when the body goes.
constexpr StringView kBodyFields[] = {u"Content-Type", u"Content-Length", u"Content-Encoding",
                                      u"Content-Language", u"Content-Location"};

}  // namespace

bool isFollowedRedirect(long status) noexcept {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::variant<QNURLRequest, QNURLError> requestForRedirect(const QNURLRequest& request, long status,
                                                          StringView location, int redirectsSoFar) {
    if (redirectsSoFar >= kMaximumRedirects) return QNURLError::withCode(kTooManyRedirects);
    const std::optional<URL> from = parseAbsolute(request.url());
    const std::optional<URL> to = parseAbsolute(location);
    if (!from || !to) return QNURLError::withCode(kBadURL);
    const Origin fromOrigin = originOf(*from);
    const Origin toOrigin = originOf(*to);
    if (toOrigin.scheme != u"http" && toOrigin.scheme != u"https")
        return QNURLError::withCode(kUnsupportedURL);
    // What was asked for over TLS must not come back in the clear.
    if (fromOrigin.scheme == u"https" && toOrigin.scheme != u"https")
        return QNURLError::withCode(kInsecureRedirect);

    QNURLRequest next = request;
    const String& method = request.httpMethod();
    const bool becomesGet = (status == 303 && method != u"GET" && method != u"HEAD") ||
                            ((status == 301 || status == 302) && method == u"POST");
    if (becomesGet) {
        next.setHTTPMethod(u"GET");
        next.setHTTPBody(std::nullopt);
        for (StringView field : kBodyFields)
            next.removeValueForHTTPHeaderField(field);
    }
    if (fromOrigin != toOrigin) {
        // The caller's credentials were meant for the first server only
        // (user and password in the URL stay behind with its authority). An
        // empty Cookie field says "no cookies" and gives nothing away.
        next.removeValueForHTTPHeaderField(u"Authorization");
        if (auto cookie = next.valueForHTTPHeaderField(u"Cookie"); cookie && !cookie->empty())
            next.removeValueForHTTPHeaderField(u"Cookie");
    }
    next.setURL(to->text());
    return next;
}

}  // namespace qn::internal
