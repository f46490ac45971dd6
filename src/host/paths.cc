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

}  // namespace qn::internal
