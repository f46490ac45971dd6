// The one URL reader of the library and the percent-encoding around it.
#include "host/url.h"

#include <cstring>
#include <vector>

#include "core/ascii.h"

namespace qn::internal {

namespace {

bool isSchemeCharacter(char16_t c) noexcept {
    return isAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.';
}

// The authority of `url` from the text between "//" and the path.
bool parseAuthority(StringView authority, URL& url) {
    if (const std::size_t at = authority.rfind(u'@'); at != StringView::npos) {
        url.userinfo = String(authority.substr(0, at));
        authority.remove_prefix(at + 1);
    }
    StringView host = authority;
    StringView port;
    if (!authority.empty() && authority.front() == u'[') {
        const std::size_t close = authority.find(u']');
        if (close == StringView::npos) return false;
        host = authority.substr(0, close + 1);
        const StringView after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != u':') return false;
            port = after.substr(1);
        }
    } else if (const std::size_t colon = authority.rfind(u':'); colon != StringView::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    url.host = String(host);
    if (port.empty()) return true;
    std::int64_t value = 0;
    for (const char16_t c : port) {
        if (!isAsciiDigit(c)) return false;
        value = value * 10 + (c - u'0');
        if (value > 65535) return false;
    }
    url.port = value;
    return true;
}

// RFC 3986, section 5.2.3.
String mergePaths(const URL& base, StringView referencePath) {
    if (base.hasAuthority && base.path.empty()) return u"/" + String(referencePath);
    const std::size_t slash = base.path.rfind(u'/');
    if (slash == String::npos) return String(referencePath);
    return base.path.substr(0, slash + 1) + String(referencePath);
}

}  // namespace

bool isURLScheme(StringView text) noexcept {
    if (text.empty() || !isAsciiAlpha(text.front())) return false;
    for (const char16_t c : text)
        if (!isSchemeCharacter(c)) return false;
    return true;
}

std::optional<String> lowercasedSchemeOf(StringView text) {
    const std::size_t colon = text.find(u':');
    if (colon == StringView::npos || !isURLScheme(text.substr(0, colon))) return std::nullopt;
    return asciiLowercased(text.substr(0, colon));
}

std::optional<URL> URL::parse(StringView text) {
    for (const char16_t c : text)
        if (c <= 0x20 || c >= 0x7F) return std::nullopt;
    URL url;
    StringView rest = text;
    if (const std::size_t hash = rest.find(u'#'); hash != StringView::npos) {
        url.fragment = String(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const std::size_t question = rest.find(u'?'); question != StringView::npos) {
        url.query = String(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    // A scheme only when the text before the first ":" has no "/"; a first
    // segment with a ":" that is no scheme is no reference either.
    const std::size_t colon = rest.find(u':');
    if (colon != StringView::npos && colon > 0 &&
        rest.substr(0, colon).find(u'/') == StringView::npos) {
        if (!isURLScheme(rest.substr(0, colon))) return std::nullopt;
        url.scheme = String(rest.substr(0, colon));
        rest.remove_prefix(colon + 1);
    }
    if (rest.starts_with(u"//")) {
        rest.remove_prefix(2);
        const std::size_t end = rest.find(u'/');
        url.hasAuthority = true;
        if (!parseAuthority(rest.substr(0, end), url)) return std::nullopt;
        rest = end == StringView::npos ? StringView() : rest.substr(end);
    }
    url.path = String(rest);
    return url;
}

URL URL::resolve(const URL& reference) const {
    URL target;
    if (reference.scheme) {
        target = reference;
        target.path = removeDotSegments(reference.path);
        return target;
    }
    if (reference.hasAuthority) {
        target = reference;
        target.path = removeDotSegments(reference.path);
    } else {
        target.hasAuthority = hasAuthority;
        target.userinfo = userinfo;
        target.host = host;
        target.port = port;
        if (reference.path.empty()) {
            target.path = path;
            target.query = reference.query ? reference.query : query;
        } else {
            target.path = removeDotSegments(reference.path.starts_with(u'/')
                                                ? StringView(reference.path)
                                                : StringView(mergePaths(*this, reference.path)));
            target.query = reference.query;
        }
    }
    target.scheme = scheme;
    target.fragment = reference.fragment;
    return target;
}

URL URL::normalized() const {
    URL out = *this;
    if (out.scheme) out.scheme = asciiLowercased(*out.scheme);
    out.path = removeDotSegments(out.path);
    if (out.hasAuthority && out.path.empty()) out.path = u"/";
    return out;
}

String URL::text() const {
    String out;
    if (scheme) out += *scheme + u":";
    if (hasAuthority) {
        out += u"//";
        if (userinfo) out += *userinfo + u"@";
        out += host;
        if (port) out += u":" + asciiString(std::to_string(*port));
    }
    out += path;
    if (query) out += u"?" + *query;
    if (fragment) out += u"#" + *fragment;
    return out;
}

String removeDotSegments(StringView path) {
    if (path.find(u'.') == StringView::npos) return String(path);
    std::vector<StringView> kept;
    const bool absolute = path.starts_with(u'/');
    std::size_t start = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (start <= path.size()) {
        std::size_t end = path.find(u'/', start);
        if (end == StringView::npos) end = path.size();
        const StringView segment = path.substr(start, end - start);
        const bool last = end == path.size();
        if (segment == u".") {
            trailingSlash = last;
        } else if (segment == u"..") {
            if (!kept.empty()) kept.pop_back();
            trailingSlash = last;
        } else {
            kept.push_back(segment);
            trailingSlash = false;
        }
        start = end + 1;
    }
    String out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0 || absolute) out += u'/';
        out += kept[i];
    }
    if (trailingSlash && (!out.empty() || absolute)) out += u'/';
    if (out.empty() && absolute) out = u"/";
    return out;
}

std::optional<String> escapeNonASCII(StringView text, bool escapeBlanks) {
    String out;
    out.reserve(text.size());
    bool ascii = true;
    for (const char16_t c : text) {
        if (c <= 0x20 || c == 0x7F) {
            if (!escapeBlanks) return std::nullopt;
            ascii = false;
        } else if (c >= 0x80) {
            ascii = false;
        }
    }
    if (ascii) return String(text);
    return percentEncoded(text, [](unsigned char c) { return c > 0x20 && c < 0x7F; });
}

bool isUnreservedURLByte(unsigned char c) noexcept {
    return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

void appendPercentEscape(String& out, unsigned char byte) {
    out += u'%';
    out += static_cast<char16_t>(kUpperHexDigits[byte >> 4]);
    out += static_cast<char16_t>(kUpperHexDigits[byte & 15]);
}

std::optional<std::string> percentDecodedBytes(StringView text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x80) return std::nullopt;
        if (c != u'%') {
            bytes += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return bytes;
}

String fileURLForPath(StringView absolutePath) {
    return u"file://" + percentEncoded(absolutePath, [](unsigned char c) {
               return isUnreservedURLByte(c) || (c != '\0' && std::strchr("/!$&'()*+,;=:@", c));
           });
}

std::optional<String> pathOfFileURL(StringView text) {
    if (!startsWithIgnoringASCIICase(text, StringView(u"file:"))) return std::nullopt;
    // Hand-written file URLs carry blanks and characters beyond ASCII as they
    // are: they are escaped here and decoded back with the rest.
    const std::optional<String> escaped = escapeNonASCII(text, true);
    const std::optional<URL> url = escaped ? URL::parse(*escaped) : std::nullopt;
    if (!url) return String();
    // Only this machine's files have a path here.
    if (url->hasAuthority && !url->host.empty() &&
        !equalsIgnoringASCIICase(url->host, u"localhost"))
        return String();
    if (url->userinfo || url->port || !url->path.starts_with(u'/')) return String();
    const std::optional<std::string> bytes = percentDecodedBytes(url->path);
    if (!bytes || bytes->find('\0') != std::string::npos || !isValidUtf8(*bytes)) return String();
    return fromUtf8(*bytes);
}

}  // namespace qn::internal
