// ZipArchive on libzip.
#include <qn/host/zip_archive.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "host/internal.h"
#include "host/paths.h"

namespace qn {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kRatioFloor = std::uint64_t{1} << 20;  // smaller entries: any ratio

// A relative name of plain components: no root, no "..", no backslash (a
// name written on another system's separator), no NUL.
bool acceptableName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

bool isSymlinkEntry(zip_t* archive, zip_uint64_t index) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0)
        return false;
    return system == ZIP_OPSYS_UNIX && S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

}  // namespace

struct ZipArchive::Impl {
    zip_t* archive = nullptr;
    std::uint64_t maximumTotalSize = kMaximumTotalSize;

    void close() {
        if (archive) zip_discard(archive);  // read-only: nothing to write back
        archive = nullptr;
    }

    // Writes one entry through a temporary file beside `target`; false on
    // any failure (the target then untouched). `budget` is what the archive
    // may still extract.
    bool extract(zip_uint64_t index, std::uint64_t declared, const fs::path& target,
                 std::uint64_t& budget) {
        zip_file_t* entry = zip_fopen_index(archive, index, 0);
        if (!entry) return false;
        std::string temporary = target.string() + ".XXXXXX";
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0) {
            zip_fclose(entry);
            return false;
        }
        bool ok = true;
        std::uint64_t written = 0;
        std::vector<char> buffer(1 << 16);
        while (true) {
            const zip_int64_t got = zip_fread(entry, buffer.data(), buffer.size());
            if (got < 0) {
                ok = false;  // a bad CRC or a broken stream
                break;
            }
            if (got == 0) break;
            written += static_cast<std::uint64_t>(got);
            // The header may lie about the size: the bounds hold for the bytes.
            if (written > declared || written > budget) {
                ok = false;
                break;
            }
            if (!internal::writeAll(
                    fd, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
                ok = false;
                break;
            }
        }
        zip_fclose(entry);
        ok = ok && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
        if (!ok) {
            ::unlink(temporary.c_str());
            return false;
        }
        budget -= written;
        return true;
    }
};

ZipArchive::ZipArchive() : d_(std::make_unique<Impl>()) {}

ZipArchive::~ZipArchive() {
    d_->close();
}

bool ZipArchive::UnzipOpenFile(StringView path) {
    d_->close();
    int error = 0;
    d_->archive = zip_open(toUtf8(path).c_str(), ZIP_RDONLY, &error);
    return d_->archive != nullptr;
}

bool ZipArchive::UnzipCloseFile() {
    d_->close();
    return true;
}

void ZipArchive::setMaximumTotalSize(std::uint64_t bytes) noexcept {
    d_->maximumTotalSize = bytes == 0 ? kMaximumTotalSize : bytes;
}

bool ZipArchive::UnzipFileToOverWrite(StringView destination, bool overwrite) {
    if (!d_->archive || destination.empty()) return false;
    std::error_code error;
    fs::create_directories(toUtf8(destination), error);
    const fs::path root = fs::weakly_canonical(toUtf8(destination), error);
    if (error || !fs::is_directory(root, error)) return false;

    bool all = true;
    std::uint64_t budget = d_->maximumTotalSize;
    const zip_int64_t count = zip_get_num_entries(d_->archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(d_->archive, index, 0, &stat) != 0 || !stat.name ||
            !acceptableName(stat.name) || isSymlinkEntry(d_->archive, index)) {
            all = false;
            continue;
        }
        const std::string_view name(stat.name);
        const fs::path target = (root / fs::path(std::string(name))).lexically_normal();
        if (target == root || !internal::pathIsWithinRoot(internal::fromSystemPath(target),
                                                          internal::fromSystemPath(root))) {
            all = false;
            continue;
        }
        // The folders on the way, resolved through any link already there,
        // must stay under the root before anything is created in them.
        const fs::path parent = target.parent_path();
        const fs::path realParent = fs::weakly_canonical(parent, error);
        if (error || !internal::pathIsWithinRoot(internal::fromSystemPath(realParent),
                                                 internal::fromSystemPath(root))) {
            all = false;
            continue;
        }
        if (name.back() == '/') {
            fs::create_directories(target, error);
            if (error) all = false;
            continue;
        }
        const bool sized = (stat.valid & ZIP_STAT_SIZE) != 0;
        const bool compressedSized = (stat.valid & ZIP_STAT_COMP_SIZE) != 0;
        if (!sized || stat.size > budget ||
            (stat.size > kRatioFloor && (!compressedSized || stat.comp_size == 0 ||
                                         stat.size / stat.comp_size > kMaximumCompressionRatio))) {
            all = false;
            continue;
        }
        fs::create_directories(parent, error);
        if (error || fs::weakly_canonical(parent, error) != realParent) {
            all = false;
            continue;
        }
        const auto status = fs::symlink_status(target, error);
        if (fs::exists(status)) {
            if (!overwrite) continue;  // kept, as asked
            if (fs::is_directory(status)) {
                all = false;
                continue;
            }
        }
        if (!d_->extract(index, stat.size, target, budget)) all = false;
    }
    return all;
}

}  // namespace qn
