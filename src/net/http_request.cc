// The application's own server as requests see it.
//
// The decisions here compare the components of URLs exactly as written (an
// explicit port or none, a scheme or none), as the library's URL reader
// keeps them.
#include <qn/net/http_request.h>

#include <qn/host/model.h>

#include "core/ascii.h"
#include "host/url.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qn {

namespace {

// Characters that may stand in a URL text as written (percent escapes well
// formed); anything else means the text is no URL.
bool isURLText(StringView text) noexcept {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (StringView(u"\"<>\\^`{|}").find(c) != StringView::npos) return false;
        if (c == u'%' && (i + 2 >= text.size() || !internal::isHexDigit(text[i + 1]) ||
                          !internal::isHexDigit(text[i + 2])))
            return false;
    }
    return true;
}

std::optional<internal::URL> parseURL(StringView text) {
    if (text.empty() || !isURLText(text)) return std::nullopt;
    return internal::URL::parse(text);
}

// Percent escapes decoded as UTF-8; the text unchanged when they do not
// decode.
String percentDecoded(StringView text) {
    if (text.find(u'%') == StringView::npos) return String(text);
    const std::optional<std::string> bytes = internal::percentDecodedBytes(text);
    if (!bytes || !isValidUtf8(*bytes)) return String(text);
    return fromUtf8(*bytes);
}

// The path's components as a URL's path components are usually given: "/"
// for a leading slash, then each non-empty segment, decoded.
std::vector<String> pathComponents(StringView path) {
    std::vector<String> components;
    if (path.empty()) return components;
    if (path.front() == u'/') components.emplace_back(u"/");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find(u'/', start);
        if (slash == StringView::npos) slash = path.size();
        if (slash > start) components.push_back(percentDecoded(path.substr(start, slash - start)));
        start = slash + 1;
    }
    return components;
}

bool equalIgnoringCase(StringView a, StringView b) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t order =
        u_strCaseCompare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                         reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()),
                         U_FOLD_CASE_DEFAULT, &status);
    return U_SUCCESS(status) && order == 0;
}

bool sameOptional(const std::optional<String>& a, const std::optional<String>& b) {
    if (!a || !b) return !a && !b;
    return equalIgnoringCase(*a, *b);
}

// The model's server base URL, when there is one that reads as a URL.
std::optional<std::pair<String, internal::URL>> serverBase() {
    auto model = QNApplicationModel::currentModel();
    if (!model || model->serverBaseUrl().empty()) return std::nullopt;
    auto parts = parseURL(model->serverBaseUrl());
    if (!parts) return std::nullopt;
    return std::make_pair(model->serverBaseUrl(), std::move(*parts));
}

}  // namespace

// --- QNHttpRequest ---------------------------------------------------------------

QNHttpRequest& QNHttpRequest::sharedInstance() {
    // Owned by a shared pointer (as every Object is) that lives for the process.
    static auto* instance = new std::shared_ptr<QNHttpRequest>(std::make_shared<QNHttpRequest>());
    return **instance;
}

String QNHttpRequest::serverHost() const {
    auto base = serverBase();
    return base ? base->second.host : String();
}

std::int64_t QNHttpRequest::serverPort() const {
    auto base = serverBase();
    if (base && base->second.port) return *base->second.port;
    return secure() ? 443 : 80;
}

String QNHttpRequest::scriptPath() const {
    auto base = serverBase();
    return base ? base->second.path : String();
}

bool QNHttpRequest::secure() const {
    auto base = serverBase();
    return base && base->second.scheme == u"https";
}

String QNHttpRequest::baseURL() const {
    auto base = serverBase();
    return base ? base->first : String();
}

// --- QNHttpRequestHelper -----------------------------------------------------------

QNURLRequest QNHttpRequestHelper::mutableURLRequestForURL(StringView url) {
    if (isURLUnderApplicationServer(url)) return QNApplicationHelper::requestWithURL(url);
    return QNURLRequest(String(url));
}

bool QNHttpRequestHelper::isURLUnderApplicationServer(StringView url) {
    auto base = serverBase();
    if (!base) return false;
    const internal::URL& b = base->second;
    auto parsed = parseURL(url);
    if (!parsed) return false;
    const internal::URL& u = *parsed;

    if (!sameOptional(b.scheme, u.scheme)) return false;
    if (!equalIgnoringCase(b.host, u.host)) return false;
    if (b.port) {
        if (u.port != b.port) return false;
    } else {
        if (!b.scheme) return false;
        if (u.port) {
            const bool defaultPort = (equalIgnoringCase(*b.scheme, u"http") && *u.port == 80) ||
                                     (equalIgnoringCase(*b.scheme, u"https") && *u.port == 443);
            if (!defaultPort) return false;
        }
    }
    const auto baseComponents = pathComponents(b.path);
    const auto urlComponents = pathComponents(u.path);
    if (urlComponents.size() < baseComponents.size()) return false;
    for (std::size_t i = 0; i < baseComponents.size(); ++i) {
        if (!equalIgnoringCase(baseComponents[i], urlComponents[i])) return false;
    }
    return true;
}

}  // namespace qn
