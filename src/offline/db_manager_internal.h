// What the database manager shares with the offline floor's own files and
// with the tests; not part of the public API.
#pragma once

#include <qn/export.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace qn::internal {

// Points of a creation a test can stop at (and be killed at).
enum class CreationStep {
    kCopying,    // a chunk of the prepared database was copied: done, total bytes
    kCommitted,  // the reorganization's work was committed, the fingerprint not yet stored
};
using CreationObserver =
    std::function<void(CreationStep step, std::uint64_t done, std::uint64_t total)>;
// Installs the observer (null removes it). Called on the creating thread.
QN_API void setCreationObserver(CreationObserver observer);

// Opens the database at `path` on a handle of its own, checkpoints its WAL
// into the main file (TRUNCATE) and closes it; true when the WAL holds
// nothing the main file lacks afterwards (also when there is no database or
// no WAL).
QN_API bool checkpointDatabaseFile(const std::filesystem::path& path);

// Whether the file is an SQLite database that passes quick_check; `problem`
// gets the first line of what is wrong.
QN_API bool databaseFilePassesQuickCheck(const std::filesystem::path& path, std::string* problem);

}  // namespace qn::internal
