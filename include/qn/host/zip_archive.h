// ZipArchive: extracts a zip archive into a folder (the prepared blob archive
// an application ships beside its prepared database).
//
// Archives are untrusted input. An entry is extracted only when its name is
// relative, has no ".." component and lands inside the destination once
// symbolic links already there are resolved; symbolic-link entries, and
// entries whose size or compression ratio passes the bounds below, are
// skipped. Each file is written beside its target and renamed over it, so a
// reader sees the old file or the whole new one. Skipped entries make
// UnzipFileToOverWrite answer false; the good ones are still extracted.
//
// Thread-compatible: one archive is used by one thread at a time.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <memory>

namespace qn {

class QN_API ZipArchive {
public:
    // The most bytes one archive may extract in all, and the largest ratio
    // of an entry's size to its compressed size (past 1 MiB).
    static constexpr std::uint64_t kMaximumTotalSize = std::uint64_t{4} << 30;
    static constexpr std::uint64_t kMaximumCompressionRatio = 100;

    ZipArchive();
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Opens the archive (closing one already open); false when it is not a
    // readable zip archive.
    bool UnzipOpenFile(StringView path);
    // Extracts every acceptable entry under `destination` (created when
    // missing); an existing file is replaced only with `overwrite`. False
    // without an open archive, or when any entry was skipped or failed.
    bool UnzipFileToOverWrite(StringView destination, bool overwrite);
    bool UnzipCloseFile();

    // Sets the bounds (tests use small ones); 0 restores the default.
    void setMaximumTotalSize(std::uint64_t bytes) noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace qn
