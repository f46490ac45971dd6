// QNFile: text files read and written through a POSIX descriptor, and the
// strict charset conversions every file text goes through.
#include <qn/files/file.h>
#include <qn/host/dates.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/base64.h"
#include "core/utf8.h"
#include "files/files_internal.h"
#include "host/internal.h"

namespace qn {

namespace fs = std::filesystem;

QN_REGISTER_CLASS(QNFile, QNFileSystemObject)

// ---------------------------------------------------------------------------
// Charsets

namespace internal {

namespace {

using ConverterPtr = std::unique_ptr<UConverter, decltype(&ucnv_close)>;

ConverterPtr openConverter(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name.c_str(), &status), &ucnv_close);
    if (U_FAILURE(status)) converter.reset();
    return converter;
}

// ICU's UTF-8 decoder takes 32-bit lengths; larger texts go in pieces.
constexpr std::size_t kChunk = std::size_t{1} << 26;

bool decodeUtf8(std::string_view bytes, String& out) {
    out.resize(bytes.size());  // never more UTF-16 units than UTF-8 bytes
    std::size_t written = 0;
    while (!bytes.empty()) {
        std::size_t n = std::min(bytes.size(), kChunk);
        // Cut before a sequence's continuation bytes, never inside one.
        for (int back = 0; back < 3 && n < bytes.size() && n > 1 &&
                           (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80;
             ++back)
            --n;
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        // Strict: an ill-formed sequence is an error, never a U+FFFD.
        u_strFromUTF8(out.data() + written,
                      static_cast<int32_t>(std::min<std::size_t>(out.size() - written, INT32_MAX)),
                      &length, bytes.data(), static_cast<int32_t>(n), &status);
        if (U_FAILURE(status)) return false;
        written += static_cast<std::size_t>(length);
        bytes.remove_prefix(n);
    }
    out.resize(written);
    return true;
}

bool encodeUtf8(StringView text, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + text.size() * 3);
    const char16_t* const end = text.data() + text.size();
    const internal::Utf16Prefix done =
        internal::encodeUtf8<internal::LoneSurrogate::kStop>(text.data(), end, out.data() + start);
    if (done.stop != end) return false;  // a lone surrogate
    out.resize(static_cast<std::size_t>(done.out - out.data()));
    return true;
}

bool hasUtf16ByteOrderMark(std::string_view bytes) {
    if (bytes.size() < 2) return false;
    auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    return (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF);
}

}  // namespace

StringEncoding encodingForCharset(std::optional<StringView> charset) {
    if (!charset) return StringEncoding::utf8();
    return QNUtilities::stringEncodingFromCharsetString(*charset).value_or(StringEncoding::utf8());
}

std::optional<String> decodeText(std::string_view bytes, const StringEncoding& encoding,
                                 String* error) {
    auto fail = [&]() -> std::optional<String> {
        if (error) *error = u"The file is not valid " + fromUtf8(encoding.name()) + u" text";
        return std::nullopt;
    };
    String out;
    if (encoding.isUTF8()) {
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
        if (!decodeUtf8(bytes, out)) return fail();
        return out;
    }
    // The mark decides the byte order whatever the name said; the generic
    // converter reads it and drops it.
    std::string name = encoding.name();
    if (encoding.isUTF16() && hasUtf16ByteOrderMark(bytes)) name = "UTF-16";
    ConverterPtr converter = openConverter(name);
    if (!converter) return fail();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    out.resize(bytes.size() + 16);
    const char* source = bytes.data();
    const char* sourceLimit = bytes.data() + bytes.size();
    std::size_t written = 0;
    for (;;) {
        UChar* target = out.data() + written;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(converter.get(), &target, out.data() + out.size(), &source, sourceLimit,
                       nullptr, true, &status);
        written = static_cast<std::size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status)) return fail();
        break;
    }
    out.resize(written);
    return out;
}

std::optional<std::string> encodeText(StringView text, const StringEncoding& encoding,
                                      bool atStartOfFile) {
    std::string out;
    if (encoding.isUTF8()) {
        if (!encodeUtf8(text, out)) return std::nullopt;
        return out;
    }
    std::string name = encoding.name();
    if (name == "UTF-16") {
        name = "UTF-16BE";
        if (atStartOfFile) out = "\xFE\xFF";
    } else if (name == "UTF-32") {
        name = "UTF-32BE";
        if (atStartOfFile) out.assign("\0\0\xFE\xFF", 4);
    }
    ConverterPtr converter = openConverter(name);
    if (!converter) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
    std::size_t written = out.size();
    out.resize(written +
               text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter.get())) + 16);
    const UChar* source = text.data();
    const UChar* sourceLimit = text.data() + text.size();
    for (;;) {
        char* target = out.data() + written;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter.get(), &target, out.data() + out.size(), &source, sourceLimit,
                         nullptr, true, &status);
        written = static_cast<std::size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status)) return std::nullopt;  // a character the charset lacks
        break;
    }
    out.resize(written);
    return out;
}

}  // namespace internal

// ---------------------------------------------------------------------------
// Reading helpers

namespace {

bool writesByteOrderMark(const StringEncoding& encoding) {
    return encoding.name() == "UTF-16" || encoding.name() == "UTF-32";
}

// The whole content behind `fd`, read from offset 0 into one buffer sized
// from the file's length.
bool readAllFrom(int fd, std::string& out, int& error) {
    struct stat info {};
    std::size_t expected = 0;
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        expected = static_cast<std::size_t>(info.st_size);
    out.resize(expected + 1);  // one spare byte notices a file that grew
    std::size_t filled = 0;
    for (;;) {
        if (filled == out.size()) out.resize(out.size() * 2);
        ssize_t n =
            ::pread(fd, out.data() + filled, out.size() - filled, static_cast<off_t>(filled));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    out.resize(filled);
    return true;
}

// Every line break ends a line (so CR LF leaves an empty line between them);
// a final empty piece is dropped. Text arrives in pieces; a line may span
// several of them.
class LineCollector {
public:
    void add(const char16_t* p, const char16_t* end) {
        const char16_t* start = p;
        while ((p = nextBreak(p, end)) != end) {
            if (pending_.empty()) {
                lines_.emplace_back(String(start, p));
            } else {
                pending_.append(start, p);
                lines_.emplace_back(std::move(pending_));
                pending_.clear();
            }
            start = ++p;
        }
        pending_.append(start, end);
    }

    void reserve(std::size_t lines) { lines_.reserve(lines); }
    std::size_t count() const noexcept { return lines_.size(); }

    Ref<QNStringCollection> finish() {
        if (!pending_.empty()) lines_.emplace_back(std::move(pending_));
        auto collection = makeRef<QNStringCollection>();
        collection->setItems(std::move(lines_));
        return collection;
    }

private:
    static bool isBreak(char16_t c) noexcept {
        // Most characters lie above CR and are none of the three others.
        if (c > 0x0D) return c == 0x85 || (c | 1) == 0x2029;
        return c >= 0x0A;
    }

    // The first line break in [p, end), or end. Eight units are tested at a
    // time: lines are long next to the cost of one test.
    static const char16_t* nextBreak(const char16_t* p, const char16_t* end) noexcept {
        using Units = std::uint16_t __attribute__((vector_size(16)));
        for (; end - p >= 8; p += 8) {
            Units v;
            std::memcpy(&v, p, sizeof v);
            const auto hit = ((v - 0x0A) <= 3) | (v == 0x85) | ((v | 1) == 0x2029);
            std::uint64_t halves[2];
            std::memcpy(halves, &hit, sizeof halves);
            if ((halves[0] | halves[1]) != 0) break;
        }
        for (; p != end; ++p)
            if (isBreak(*p)) return p;
        return end;
    }

    std::vector<Value> lines_;
    String pending_;
};

// The length of the UTF-8 bytes [0, size) that ends on a sequence boundary:
// an incomplete sequence at the end waits for the next piece. Valid text is
// never cut inside a character, and text that is not valid stays invalid in
// some piece whatever the cut.
std::size_t wholeSequences(const char* bytes, std::size_t size) noexcept {
    std::size_t lead = size;
    while (lead > 0 && size - lead < 3 &&
           (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0) return size;
    const auto b = static_cast<unsigned char>(bytes[lead - 1]);
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return size - (lead - 1) < length ? lead - 1 : size;
}

// The lines of the UTF-8 text behind `fd` (from offset 0), read and decoded
// a piece at a time, so neither the file's bytes nor its whole UTF-16 text
// is ever held: only the lines. Strict as decodeText is. False with `error`
// set to an errno value, or to 0 for text that is not UTF-8.
bool readUtf8Lines(int fd, LineCollector& lines, int& error) {
    constexpr std::size_t kPiece = std::size_t{64} << 10;
    constexpr std::size_t kCarry = 3;  // the most bytes of a sequence a piece leaves over
    const auto bytes = std::make_unique_for_overwrite<char[]>(kCarry + kPiece);
    const auto units = std::make_unique_for_overwrite<char16_t[]>(kCarry + kPiece);
    struct stat info {};
    const std::size_t expected =
        ::fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
    std::size_t kept = 0;
    std::uint64_t offset = 0;
    bool first = true;
    for (;;) {
        const ssize_t n = ::pread(fd, bytes.get() + kept, kPiece, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        const bool last = n == 0;
        offset += static_cast<std::uint64_t>(n);
        std::size_t have = kept + static_cast<std::size_t>(n);
        const char* data = bytes.get();
        if (first) {
            if (have < 3 && !last) {  // too short to tell a byte order mark yet
                kept = have;
                continue;
            }
            first = false;
            if (std::string_view(data, have).starts_with("\xEF\xBB\xBF")) {
                data += 3;
                have -= 3;
            }
        }
        const std::size_t whole = last ? have : wholeSequences(data, have);
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8(units.get(), static_cast<int32_t>(kCarry + kPiece), &length, data,
                      static_cast<int32_t>(whole), &status);
        if (U_FAILURE(status)) {
            error = 0;
            return false;
        }
        const std::size_t linesBefore = lines.count();
        lines.add(units.get(), units.get() + length);
        if (offset == static_cast<std::uint64_t>(n) && expected > offset)
            // Room for as many lines again per byte as the first piece had.
            lines.reserve((lines.count() - linesBefore + 1) * (expected / offset + 1));
        if (last) return true;
        kept = have - whole;
        std::memmove(bytes.get(), data + whole, kept);
    }
}

// The decoded text behind `fd`; absent with the error pair set on failure.
std::optional<String> readTextFrom(QNFile& file, int fd, std::optional<StringView> charset) {
    std::string bytes;
    int error = 0;
    if (!readAllFrom(fd, bytes, error)) {
        file.setUnknownErrorWithLocalizedDescription(internal::errnoText(error));
        return std::nullopt;
    }
    String reason;
    auto text = internal::decodeText(bytes, internal::encodingForCharset(charset), &reason);
    if (!text) file.setUnknownErrorWithLocalizedDescription(reason);
    return text;
}

// The decoded text split into lines; absent with the error pair set on
// failure.
std::optional<Ref<QNStringCollection>> readLinesFrom(QNFile& file, int fd,
                                                     std::optional<StringView> charset) {
    const StringEncoding encoding = internal::encodingForCharset(charset);
    LineCollector lines;
    if (encoding.isUTF8()) {
        int error = 0;
        if (!readUtf8Lines(fd, lines, error)) {
            file.setUnknownErrorWithLocalizedDescription(
                error != 0 ? internal::errnoText(error)
                           : u"The file is not valid " + fromUtf8(encoding.name()) + u" text");
            return std::nullopt;
        }
        return lines.finish();
    }
    const auto text = readTextFrom(file, fd, charset);
    if (!text) return std::nullopt;
    lines.add(text->data(), text->data() + text->size());
    return lines.finish();
}

int openRetrying(const fs::path& path, int flags) {
    for (;;) {
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

String systemPathText(const QNFileSystemObject& object) {
    return internal::standardizePath(object.absoluteFilePath());
}

}  // namespace

// ---------------------------------------------------------------------------
// QNFile

struct QNFile::Impl {
    int fd = -1;
    String charset;
    Ref<QNStringCollection> content;
    std::uint64_t position = 0;

    // Keeps a new handle and, for the reading modes, a snapshot of the lines.
    void adopt(QNFile& file, int handle, StringView name, bool loadLines);

    ~Impl() {
        if (fd >= 0) ::close(fd);
    }
};

enum class OpenMode { ReadWrite, Read, Write };

QNFile::QNFile() : d_(std::make_unique<Impl>()) {}
QNFile::QNFile(String source)
    : QNFileSystemObject(std::move(source)), d_(std::make_unique<Impl>()) {}
QNFile::~QNFile() = default;

bool QNFile::isOpen() const noexcept {
    return d_->fd >= 0;
}

namespace {

// `read` (file, descriptor) on the file at `path`; absent with the error
// pair set when it cannot be opened.
template <class Read>
auto readAt(QNFile& file, const String& path, Read read) -> decltype(read(file, 0)) {
    int fd = openRetrying(internal::toSystemPath(path), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        file.setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
        return std::nullopt;
    }
    auto result = read(file, fd);
    ::close(fd);
    return result;
}

// The opening steps up to a handle: -1, with the error pair set, when there
// is none.
int openHandle(QNFile& file, OpenMode mode) {
    if (file.isOpen()) {
        file.setUnknownErrorWithDescription(u"The file is already open");
        return -1;
    }
    if (mode != OpenMode::Read && !internal::allowsChangeTo(file, file.source())) return -1;
    String path = file.absoluteFilePath();
    if (path.empty()) {
        // The check names why (1 or 100); a missing resource passes it and
        // still has nothing to open.
        if (file.checkFileAndSetError())
            file.setUnknownErrorWithDescription(u"Could not open file at path " + path);
        return -1;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::ReadWrite:
            flags |= O_RDWR | O_CREAT | O_APPEND;
            break;
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::Write:
            flags |= O_WRONLY | O_CREAT | O_APPEND;
            break;
    }
    // exists() runs the plain check, which clears an earlier error; a
    // missing file is then created by O_CREAT.
    if (mode != OpenMode::Read) file.exists();
    int fd = openRetrying(internal::toSystemPath(internal::standardizePath(path)), flags);
    if (fd < 0) {
        file.setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        file.setUnknownErrorWithLocalizedDescription(internal::errnoText(EISDIR));
        return -1;
    }
    return fd;
}

}  // namespace

void QNFile::Impl::adopt(QNFile& file, int handle, StringView name, bool loadLines) {
    fd = handle;
    charset = String(name);
    content.reset();
    position = 0;
    if (loadLines)
        content = readLinesFrom(file, handle, name).value_or(makeRef<QNStringCollection>());
}

void QNFile::open(StringView charset) {
    if (int fd = openHandle(*this, OpenMode::ReadWrite); fd >= 0)
        d_->adopt(*this, fd, charset, true);
}

void QNFile::openread(StringView charset) {
    if (int fd = openHandle(*this, OpenMode::Read); fd >= 0) d_->adopt(*this, fd, charset, true);
}

void QNFile::openwrite(StringView charset) {
    if (int fd = openHandle(*this, OpenMode::Write); fd >= 0) d_->adopt(*this, fd, charset, false);
}

void QNFile::close() {
    if (d_->fd >= 0) ::close(d_->fd);  // never retried: the descriptor is gone either way
    d_->fd = -1;
    d_->charset.clear();
    d_->content.reset();
    d_->position = 0;
}

String QNFile::readline() {
    if (d_->fd < 0) {
        setUnknownErrorWithDescription(u"The file should be opened first");
        return {};
    }
    if (eof()) return {};
    ++d_->position;
    return d_->content->stringAtIndex(static_cast<std::int64_t>(d_->position));
}

bool QNFile::eof() const noexcept {
    return !d_->content || d_->position >= d_->content->count();
}

String QNFile::readalltext(std::optional<StringView> charset) {
    return readAt(*this, systemPathText(*this),
                  [&](QNFile& file, int fd) { return readTextFrom(file, fd, charset); })
        .value_or(String());
}

std::optional<String> QNFile::readAllTextForLoading(String* failure) {
    auto text = readAt(*this, systemPathText(*this), [&](QNFile& file, int fd) {
        return readTextFrom(file, fd, StringView(u"utf-8"));
    });
    if (!text) {
        if (failure)
            *failure =
                errDescription().empty() ? String(u"Could not read the file") : errDescription();
        return std::nullopt;
    }
    return text;
}

Ref<QNStringCollection> QNFile::readalllines(std::optional<StringView> charset) {
    return readAt(*this, systemPathText(*this),
                  [&](QNFile& file, int fd) { return readLinesFrom(file, fd, charset); })
        .value_or(makeRef<QNStringCollection>());
}

void QNFile::writeText(StringView text) {
    if (d_->fd < 0) {
        setUnknownErrorWithDescription(u"The file should be opened first");
        return;
    }
    // A resource opened for reading has a handle too.
    if (!internal::allowsChangeTo(*this, source())) return;
    StringEncoding encoding = internal::encodingForCharset(d_->charset);
    bool atStart = false;
    if (writesByteOrderMark(encoding)) {
        struct stat info {};
        atStart = ::fstat(d_->fd, &info) == 0 && info.st_size == 0;
    }
    auto bytes = internal::encodeText(text, encoding, atStart);
    if (!bytes || bytes->empty()) return;  // not representable: nothing written, as documented
    // O_APPEND puts every write at the end, whatever was read or written before.
    if (!internal::writeAll(d_->fd, *bytes))
        setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
}

void QNFile::writeline(StringView text) {
    String line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back(u'\n');
    writeText(line);
}

void QNFile::appendalltextEncoding(StringView text, StringView charset) {
    openwrite(charset);
    // Without a handle the open's own error says more than "should be
    // opened first" would.
    if (!isOpen()) return;
    writeText(text);
    close();
}

void QNFile::appendalllinesEncoding(const QNObjectCollection& lines, StringView charset) {
    openwrite(charset);
    if (!isOpen()) return;
    // Each line is encoded on its own (one the charset cannot hold is left
    // out, as writeline would), and the bytes go out in large writes.
    StringEncoding encoding = internal::encodingForCharset(d_->charset);
    bool atStart = false;
    if (writesByteOrderMark(encoding)) {
        struct stat info {};
        atStart = ::fstat(d_->fd, &info) == 0 && info.st_size == 0;
    }
    std::string buffer;
    bool failed = false;
    auto flush = [&] {
        if (!failed && !buffer.empty() && !internal::writeAll(d_->fd, buffer)) {
            setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
            failed = true;
        }
        buffer.clear();
    };
    String line;
    for (const Value& item : lines.items()) {
        line = QNUtilities::stringFromObject(item);
        line.push_back(u'\n');
        if (auto bytes = internal::encodeText(line, encoding, atStart)) {
            buffer += *bytes;
            atStart = false;
        }
        if (buffer.size() >= (1u << 20)) flush();
    }
    flush();
    close();
}

void QNFile::writealltextEncoding(StringView text, StringView charset) {
    deleteFile();
    create();
    appendalltextEncoding(text, charset);
}

void QNFile::writealllinesEncoding(const QNObjectCollection& lines, StringView charset) {
    deleteFile();
    create();
    appendalllinesEncoding(lines, charset);
}

void QNFile::create() {
    if (!internal::allowsChangeTo(*this, source())) return;
    String path = absoluteFilePath();
    if (path.empty()) return;
    int fd = openRetrying(internal::toSystemPath(internal::standardizePath(path)),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
}

void QNFile::deleteFile() {
    if (!checkSandboxFileAndSetError()) return;
    std::error_code ec;
    // A file, a link (not its target) or an empty folder; a file object does
    // not remove a whole tree.
    if (!fs::remove(internal::toSystemPath(systemPathText(*this)), ec) && !ec)
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
    if (ec) setUnknownErrorWithLocalizedDescription(internal::errorCodeText(ec));
}

void QNFile::copyToPath(StringView destination) {
    if (!checkFileAndSetError()) return;
    String from = absoluteFilePath();
    if (from.empty()) {
        setErrorWithCodeLocalizedDescription(2, u"File does not exist");
        return;
    }
    if (!internal::allowsChangeTo(*this, destination)) return;
    String to = absoluteFilePathForRelativePath(destination);
    if (to.empty()) {
        setErrorWithCodeLocalizedDescription(3, u"File does not exist");
        return;
    }
    fs::path target = internal::toSystemPath(to);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) {
        ec = std::make_error_code(std::errc::file_exists);
    } else {
        ec.clear();
        fs::copy(internal::toSystemPath(internal::standardizePath(from)), target,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    }
    if (ec) setUnknownErrorWithLocalizedDescription(internal::errorCodeText(ec));
}

std::int64_t QNFile::getLength() {
    if (!checkFileAndSetError()) return 0;
    struct stat info {};
    if (::stat(internal::toSystemPath(systemPathText(*this)).c_str(), &info) != 0) {
        setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
        return 0;
    }
    return static_cast<std::int64_t>(info.st_size);
}

DateTime QNFile::getLastModified() {
    if (!checkFileAndSetError()) return qnEmptyDate();
    struct stat info {};
    if (::stat(internal::toSystemPath(systemPathText(*this)).c_str(), &info) != 0) {
        setUnknownErrorWithLocalizedDescription(internal::errnoText(errno));
        return qnEmptyDate();
    }
    return DateTime::fromTimeIntervalSince1970(static_cast<double>(info.st_mtim.tv_sec) +
                                               static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

String QNFile::getPath() {
    if (!checkFileAndSetError()) return {};
    String path = absoluteFilePath();
    std::size_t slash = path.rfind(u'/');
    if (slash == String::npos) {
        setUnknownErrorWithDescription(u"Undefined error");
        return {};
    }
    return path.substr(0, slash);
}

bool QNFile::frombase64string(StringView text) {
    if (!internal::allowsChangeTo(*this, source())) return false;
    auto bytes = internal::base64DecodeStrict(text);
    if (!bytes) return false;
    fs::path path = internal::toSystemPath(systemPathText(*this));
    if (path.empty()) return false;
    // Readers see the old content or the new one, never a torn file.
    return internal::writeFileAtomically(path, *bytes);
}

String QNFile::qnFileName(StringView path) {
    return internal::lastPathComponent(path);
}

String QNFile::qnFileExt(StringView path) {
    return internal::pathExtension(path);
}

void QNFile::setUnknownErrorWithLocalizedDescription(StringView text) {
    setErrorWithCodeLocalizedDescription(-1, text);
}

void QNFile::setUnknownErrorWithDescription(StringView text) {
    setErrorWithCodeDescription(-1, text);
}

void QNFile::setErrorWithCodeLocalizedDescription(std::int64_t code, StringView text) {
    setErrCode(code);
    setErrDescription(String(text));
}

void QNFile::setErrorWithCodeDescription(std::int64_t code, StringView text) {
    setErrCode(code);
    setErrDescription(QNResources::translationFor(text));
}

}  // namespace qn
