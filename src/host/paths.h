// Paths shared by the library's components; not part of the
// public API.
//
// Paths are qn::String (UTF-16) everywhere in the library and become UTF-8
// bytes only at the system call.
#pragma once

#include <qn/core/string.h>

#include <filesystem>
#include <optional>

namespace qn::internal {

// The UTF-8 path the system calls take. A path holding U+0000 maps to the
// empty path, which every system call refuses: the operating system would
// otherwise see the path cut at the NUL.
std::filesystem::path toSystemPath(StringView path);
String fromSystemPath(const std::filesystem::path& path);

// Tilde expanded ("~" and "~/..."), repeated "/" collapsed, "." dropped,
// ".." resolved lexically in an absolute path (kept in a relative one), no
// trailing "/". Symbolic links are not looked at.
String standardizePath(StringView path);
// `base` and `rest` with one "/" between them, repeated "/" collapsed, no
// trailing "/" (except for "/" itself).
String joinPathComponents(StringView base, StringView rest);
// True when `path` is `root` or continues it with "/" (both standardized):
// "<root>X/y" is not inside <root>.
bool pathIsWithinRoot(StringView path, StringView root) noexcept;
// The last component ("/" for "/"; trailing "/" ignored).
String lastPathComponent(StringView path);
// The extension of the last component without the dot; "" when it has none
// (a leading dot starts no extension: ".profile" has none).
String pathExtension(StringView path);

// File URLs: fileURLForPath and pathOfFileURL, in "host/url.h".

}  // namespace qn::internal
