#include <qn/host/log.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <random>

#include "host/internal.h"

namespace qn::internal {

namespace fs = std::filesystem;

namespace {

bool readInt(std::string_view& text, std::size_t digits, int& out) {
    if (text.size() < digits) return false;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    text.remove_prefix(digits);
    return true;
}

bool expect(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

std::string errnoText(const fs::path& path, const char* what) {
    return path.string() + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

std::optional<DateTime> parseISO8601UTC(std::string_view text) {
    CivilDateTime c;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Years before 1000 may come unpadded ("1-01-01"): read 1 to 4 digits.
    std::size_t yearDigits = 0;
    while (yearDigits < text.size() && yearDigits < 4 && text[yearDigits] >= '0' &&
           text[yearDigits] <= '9')
        ++yearDigits;
    if (yearDigits == 0 || !readInt(text, yearDigits, year) || !expect(text, '-') ||
        !readInt(text, 2, month) || !expect(text, '-') || !readInt(text, 2, day) ||
        !expect(text, 'T') || !readInt(text, 2, hour) || !expect(text, ':') ||
        !readInt(text, 2, minute) || !expect(text, ':') || !readInt(text, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    double fraction = 0;
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
        double scale = 0.1;
        std::size_t n = 0;
        while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
            fraction += (text.front() - '0') * scale;
            scale /= 10;
            text.remove_prefix(1);
            ++n;
        }
        if (n == 0) return std::nullopt;
    }
    int offsetSeconds = 0;
    if (!text.empty() && text.front() == 'Z') {
        text.remove_prefix(1);
    } else if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        int sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
        int oh = 0, om = 0;
        if (!readInt(text, 2, oh)) return std::nullopt;
        expect(text, ':');
        if (!readInt(text, 2, om)) return std::nullopt;
        offsetSeconds = sign * (oh * 3600 + om * 60);
    }
    if (!text.empty()) return std::nullopt;
    c.year = year;
    c.month = month;
    c.day = day;
    c.hour = hour;
    c.minute = minute;
    c.second = second;
    DateTime base = DateTime::fromCivilUTC(c);
    return DateTime(base.timeIntervalSinceReferenceDate() + fraction - offsetSeconds);
}

std::string formatISO8601UTC(DateTime date) {
    CivilDateTime c = date.toCivilUTC();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                  static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
    return buffer;
}

bool writeAll(int fd, std::string_view data) noexcept {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool writeFileAtomically(const fs::path& path, std::string_view contents, std::string* error) {
    auto fail = [&](std::string reason) {
        if (error) *error = std::move(reason);
        return false;
    };
    std::error_code ec;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
        if (ec) return fail(path.parent_path().string() + ": " + ec.message());
    }
    std::random_device rd;
    fs::path temp = path;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(rd());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return fail(errnoText(temp, "open"));
    if (!writeAll(fd, contents)) {
        std::string reason = errnoText(temp, "write");
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(reason);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        std::string reason = errnoText(temp, "sync");
        ::unlink(temp.c_str());
        return fail(reason);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string reason = errnoText(path, "rename");
        ::unlink(temp.c_str());
        return fail(reason);
    }
    // Make the rename itself durable.
    if (path.has_parent_path()) syncFolder(path.parent_path());
    return true;
}

void syncFolder(const fs::path& folder) noexcept {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::optional<std::string> readFile(const fs::path& path, std::size_t maxBytes,
                                    std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errnoText(path, "open");
        return std::nullopt;
    }
    std::string out;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errnoText(path, "read");
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
            if (error) *error = path.string() + ": file too large";
            ::close(fd);
            return std::nullopt;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

void logError(int type, const std::string& text) {
    QNLog::loggerService()->logMessage(fromUtf8(text), type, QNLogLevelError, false);
}

}  // namespace qn::internal
