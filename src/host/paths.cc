// Paths and file URLs as the library's components see them: standardizing,
// joining and containment tests on UTF-16 path texts, and the UTF-8 form the
// system calls take.
#include "host/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/ascii.h"

namespace qn::internal {

namespace fs = std::filesystem;

fs::path toSystemPath(StringView path) {
    if (path.find(u'\0') != StringView::npos) return {};
    return fs::path(toUtf8(path));
}

String fromSystemPath(const fs::path& path) {
    return fromUtf8(path.native());
}

namespace {

String homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fromUtf8(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return fromUtf8(pw->pw_dir);
    return {};
}

}  // namespace

String standardizePath(StringView path) {
    String expanded;
    if (!path.empty() && path[0] == u'~' && (path.size() == 1 || path[1] == u'/')) {
        String home = homeDirectory();
        if (!home.empty()) {
            expanded = home;
            expanded.append(path.substr(1));
            path = expanded;
        }
    }
    if (path.empty()) return {};
    const bool absolute = path[0] == u'/';
    std::vector<StringView> parts;
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t j = path.find(u'/', i);
        if (j == StringView::npos) j = path.size();
        StringView part = path.substr(i, j - i);
        i = j + 1;
        if (part.empty() || part == u".") continue;
        // ".." is resolved only in an absolute path; "/.." is "/".
        if (part == u".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    String out;
    out.reserve(path.size());
    if (absolute) out.push_back(u'/');
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k > 0) out.push_back(u'/');
        out.append(parts[k]);
    }
    if (out.empty() && !absolute) out = u".";
    return out;
}

String joinPathComponents(StringView base, StringView rest) {
    String out;
    out.reserve(base.size() + rest.size() + 1);
    auto append = [&out](StringView text) {
        for (char16_t c : text) {
            if (c == u'/' && !out.empty() && out.back() == u'/') continue;
            out.push_back(c);
        }
    };
    append(base);
    if (!rest.empty()) {
        if (!out.empty() && out.back() != u'/') out.push_back(u'/');
        append(rest);
    }
    if (out.size() > 1 && out.back() == u'/') out.pop_back();
    return out;
}

bool pathIsWithinRoot(StringView path, StringView root) noexcept {
    if (root.empty() || !path.starts_with(root)) return false;
    return path.size() == root.size() || root.back() == u'/' || path[root.size()] == u'/';
}

String lastPathComponent(StringView path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    path = path.substr(0, end);
    if (path == u"/") return String(path);
    std::size_t slash = path.rfind(u'/');
    return String(slash == StringView::npos ? path : path.substr(slash + 1));
}

String pathExtension(StringView path) {
    String name = lastPathComponent(path);
    std::size_t dot = name.rfind(u'.');
    if (dot == String::npos || dot == 0 || name == u"/") return {};
    return name.substr(dot + 1);
}

namespace {

bool isPathByteKept(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr && c != '\0';
}

}  // namespace

String fileURLForPath(StringView absolutePath) {
    std::string bytes = toUtf8(absolutePath);
    String out = u"file://";
    out.reserve(out.size() + bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (isPathByteKept(c)) {
            out.push_back(c);
        } else {
            out.push_back(u'%');
            out.push_back(static_cast<char16_t>(kUpperHexDigits[c >> 4]));
            out.push_back(static_cast<char16_t>(kUpperHexDigits[c & 15]));
        }
    }
    return out;
}

std::optional<String> pathOfFileURL(StringView text) {
    if (text.size() < 5 || !equalsIgnoringASCIICase(text.substr(0, 5), u"file:"))
        return std::nullopt;
    StringView rest = text.substr(5);
    if (rest.starts_with(u"//")) {
        rest.remove_prefix(2);
        std::size_t slash = rest.find(u'/');
        StringView host = rest.substr(0, slash);
        // Only this machine's files have a path here.
        if (!host.empty() && !equalsIgnoringASCIICase(host, u"localhost")) return String();
        rest = slash == StringView::npos ? StringView() : rest.substr(slash);
    }
    rest = rest.substr(0, rest.find_first_of(u"?#"));
    if (rest.empty() || rest[0] != u'/') return String();
    // "%" and hex digits are ASCII: decoding the UTF-8 form keeps every
    // other character as it was.
    const std::string encoded = toUtf8(rest);
    std::string bytes;
    bytes.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            bytes.push_back(encoded[i]);
            continue;
        }
        if (i + 2 >= encoded.size()) return String();
        int hi = hexValue(encoded[i + 1]), lo = hexValue(encoded[i + 2]);
        if (hi < 0 || lo < 0) return String();
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    if (bytes.find('\0') != std::string::npos || !isValidUtf8(bytes)) return String();
    return fromUtf8(bytes);
}

}  // namespace qn::internal
