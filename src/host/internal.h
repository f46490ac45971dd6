// Helpers shared by the host layer's own files; not part of the public API.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/string.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qn::internal {

// "yyyy-MM-ddTHH:mm:ssZ" (fractions of a second allowed, "Z" or an offset
// "+hh:mm" optional) to an instant; absent for anything else.
std::optional<DateTime> parseISO8601UTC(std::string_view text);
// "yyyy-MM-ddTHH:mm:ssZ" of an instant (whole seconds, toward the past).
std::string formatISO8601UTC(DateTime date);

// Writes `contents` to a new file beside `path`, flushes it to disk and
// renames it over `path`: readers see the old file or the new one. Creates
// the parent folder when missing. False (and `path` untouched) on failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         std::string* error = nullptr);

// Flushes a folder's entries (a rename or a new file in it) to disk; errors
// are ignored, as there is nothing a caller could do about them.
void syncFolder(const std::filesystem::path& folder) noexcept;

// Writes all of `data` to `fd`, resuming after partial writes and signals;
// false (errno set) on the first real failure.
bool writeAll(int fd, std::string_view data) noexcept;

// Reads a whole file; absent when it cannot be read or exceeds `maxBytes`.
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    std::string* error = nullptr);

// Counts changes of what the current language depends on (the main bundle,
// the chosen language): a reader may keep an answer while the count stays.
std::uint64_t languageGeneration() noexcept;
void bumpLanguageGeneration() noexcept;

// Logs `text` at error level as a host line.
void logError(int type, const std::string& text);

}  // namespace qn::internal
