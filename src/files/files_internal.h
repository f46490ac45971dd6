// Helpers shared by the files subsystem (file-system objects, files,
// directories, delimited files); not part of the public API.
//
// Paths are qn::String (UTF-16) everywhere in the library and become UTF-8
// bytes only at the system call. Texts in files are bytes in a charset; the
// converters here decode and encode them strictly, so that a file is never
// read or written with characters silently replaced.
#pragma once

#include <qn/core/string.h>
#include <qn/files/file_system_object.h>
#include <qn/host/utilities.h>

#include "host/paths.h"
#include "host/url.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace qn::internal {

// --- Errors ----------------------------------------------------------------

// The system's text of an error number (strerror), as stored in errDescription.
String errnoText(int error);
String errorCodeText(const std::error_code& error);

// --- Read-only paths (file_system_object.cc) -------------------------------

// Whether a logical path names the bundle's resources ("$RESOURCES/", with
// either slash, as resolution reads it). Those are read, never changed.
bool namesResource(StringView path);

// For an operation about to write, create, remove or move what `target` (a
// logical path) names: false, with 100 "Security error" set on `object`,
// when the target is a resource; true, with the error pair untouched,
// otherwise.
bool allowsChangeTo(QNFileSystemObject& object, StringView target);

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
