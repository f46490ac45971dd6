// Helpers shared by the files subsystem (file-system objects, files,
// directories, delimited files); not part of the public API.
//
// Paths are qn::String (UTF-16) everywhere in the library and become UTF-8
// bytes only at the system call. Texts in files are bytes in a charset; the
// converters here decode and encode them strictly, so that a file is never
// read or written with characters silently replaced.
#pragma once

#include <qn/core/string.h>
#include <qn/host/utilities.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace qn::internal {

// --- Paths (file_system_object.cc) ------------------------------------------

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
// "file://" and the path percent-encoded (every byte but unreserved
// characters, "/" and the sub-delimiters that may stand in a path).
String fileURLForPath(StringView absolutePath);
// The percent-decoded path of a "file:" URL whose host is empty or
// "localhost"; "" for a "file:" URL that names no local path (another host,
// a relative path, a bad escape, invalid UTF-8, U+0000); absent when `text`
// is not a "file:" URL at all.
std::optional<String> pathOfFileURL(StringView text);

// --- Errors ----------------------------------------------------------------

// The system's text of an error number (strerror), as stored in errDescription.
String errnoText(int error);
String errorCodeText(const std::error_code& error);

// --- Charsets (file.cc) ----------------------------------------------------

// The encoding of a charset name; an unknown, empty or absent name is UTF-8.
StringEncoding encodingForCharset(std::optional<StringView> charset);

// `bytes` decoded. A UTF-8 byte-order mark is skipped; a UTF-16 encoding
// follows a byte-order mark when there is one. Bytes that are not valid in
// the encoding make it fail: absent, with a text naming the encoding in
// `error` when given.
std::optional<String> decodeText(std::string_view bytes, const StringEncoding& encoding,
                                 String* error = nullptr);

// `text` encoded; absent when the encoding cannot represent every character
// (a lone surrogate included). Encodings that carry their byte order in a
// mark ("UTF-16", "UTF-32") are written big-endian, with the mark only when
// `atStartOfFile`, so appended pieces never hold marks in the middle.
std::optional<std::string> encodeText(StringView text, const StringEncoding& encoding,
                                      bool atStartOfFile);

}  // namespace qn::internal
