// The application's own server as requests see it.
//
// URLs are split with a small RFC 3986 reader rather than a full URL library:
// the decisions here need the components exactly as written (an explicit
// port or none, a scheme or none), and relative texts without a scheme must
// still split, which URL libraries that insist on absolute URLs refuse.
#include <qn/net/http_request.h>

#include <qn/host/model.h>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qn {

namespace {

// The components of a URL reference, each as written; absent when the text
// does not carry it.
struct URLParts {
    std::optional<String> scheme;
    std::optional<String> host;
    std::optional<std::int64_t> port;
    String path;
};

bool isAsciiAlpha(char16_t c) noexcept {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(char16_t c) noexcept {
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(char16_t c) noexcept {
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Characters that may stand in a URL text as written (percent escapes well
// formed); anything else means the text is no URL.
bool isURLText(StringView text) noexcept {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c <= 0x20 || c >= 0x7F) return false;
        switch (c) {
            case u'"':
            case u'<':
            case u'>':
            case u'\\':
            case u'^':
            case u'`':
            case u'{':
            case u'|':
            case u'}':
                return false;
            case u'%':
                if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
                    return false;
                break;
            default:
                break;
        }
    }
    return true;
}

std::optional<URLParts> parseURL(StringView text) {
    if (text.empty() || !isURLText(text)) return std::nullopt;
    URLParts parts;
    StringView rest = text;
    rest = rest.substr(0, rest.find(u'#'));

    // scheme ":" — only when the text before the first ":" is a scheme and
    // comes before any "/", "?".
    const std::size_t colon = rest.find(u':');
    if (colon != StringView::npos && colon > 0 &&
        rest.substr(0, colon).find_first_of(u"/?") == StringView::npos) {
        StringView scheme = rest.substr(0, colon);
        bool valid = isAsciiAlpha(scheme.front());
        for (char16_t c : scheme)
            valid = valid &&
                    (isAsciiAlpha(c) || isAsciiDigit(c) || c == u'+' || c == u'-' || c == u'.');
        if (!valid) return std::nullopt;
        parts.scheme = String(scheme);
        rest.remove_prefix(colon + 1);
    }

    // "//" authority: [userinfo "@"] host [":" port]
    if (rest.substr(0, 2) == u"//") {
        rest.remove_prefix(2);
        const std::size_t end = rest.find_first_of(u"/?");
        StringView authority = rest.substr(0, end);
        rest = end == StringView::npos ? StringView() : rest.substr(end);
        if (std::size_t at = authority.rfind(u'@'); at != StringView::npos)
            authority.remove_prefix(at + 1);
        StringView host = authority;
        StringView port;
        if (!authority.empty() && authority.front() == u'[') {
            const std::size_t close = authority.find(u']');
            if (close == StringView::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
            StringView after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != u':') return std::nullopt;
                port = after.substr(1);
            }
        } else if (std::size_t portColon = authority.rfind(u':'); portColon != StringView::npos) {
            host = authority.substr(0, portColon);
            port = authority.substr(portColon + 1);
        }
        if (!host.empty()) parts.host = String(host);
        // An empty port ("host:") is no port.
        if (!port.empty()) {
            std::int64_t value = 0;
            for (char16_t c : port) {
                if (!isAsciiDigit(c)) return std::nullopt;
                value = value * 10 + (c - u'0');
                if (value > 65535) return std::nullopt;
            }
            parts.port = value;
        }
    }
    parts.path = String(rest.substr(0, rest.find(u'?')));
    return parts;
}

// Percent escapes decoded as UTF-8; the text unchanged when they do not
// decode.
String percentDecoded(StringView text) {
    if (text.find(u'%') == StringView::npos) return String(text);
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && isHexDigit(text[i + 1]) &&
            isHexDigit(text[i + 2])) {
            auto hex = [](char16_t c) {
                return isAsciiDigit(c) ? c - u'0' : (c | 0x20) - u'a' + 10;
            };
            bytes += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            bytes += static_cast<char>(text[i]);
        }
    }
    if (!isValidUtf8(bytes)) return String(text);
    return fromUtf8(bytes);
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
std::optional<std::pair<String, URLParts>> serverBase() {
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
    return base && base->second.host ? *base->second.host : String();
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
    const URLParts& b = base->second;
    auto parsed = parseURL(url);
    if (!parsed) return false;
    const URLParts& u = *parsed;

    if (!sameOptional(b.scheme, u.scheme)) return false;
    if (!sameOptional(b.host, u.host)) return false;
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
