// Delimited files: one shared reader/writer over a QNFile.
//
// Reading takes the file's whole text once, at the open (the snapshot an
// openread would load), and walks it in place: a line and each field are
// views into that text, so reading a record copies only the texts handed to
// the caller. Splitting the text into a collection of line strings and
// copying each line out again would cost more than the reading itself.
//
// Every operation holds the instance's mutex from start to end: the state is
// one record cursor, and a half-finished operation must never be visible to
// another thread.
#include <qn/files/delimited_file.h>
#include <qn/files/file.h>
#include <qn/host/dates.h>
#include <qn/host/utilities.h>
#include <qn/runtime/numbers.h>

#include <unicode/uchar.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <limits>
#include <mutex>

#include "core/ascii.h"

namespace qn {

namespace {

constexpr std::int64_t kOk = 0;
constexpr std::int64_t kWrongState = -1;
constexpr std::int64_t kOpenForWritingFailed = -2;
constexpr std::int64_t kEndOfFile = -4;
constexpr std::int64_t kNotDelimited = -5;
constexpr std::int64_t kTooLong = -6;
constexpr std::int64_t kNotADate = -7;
constexpr std::int64_t kNothingPut = -9;
constexpr std::int64_t kNoDatePattern = -10;

constexpr int kReading = 0;
constexpr int kWriting = 1;

// No field is this long; a larger length is a caller's mistake that would
// otherwise pad a string to gigabytes. Such a call answers -1 and changes
// nothing.
constexpr std::int64_t kMaxFieldLength = std::int64_t{1} << 24;

// A length as the operations read it: absent or negative is 0; beyond the
// limit it is absent (the call is refused).
std::optional<std::size_t> fieldLength(std::optional<std::int64_t> length) {
    const std::int64_t n = std::max<std::int64_t>(length.value_or(0), 0);
    if (n > kMaxFieldLength) return std::nullopt;
    return static_cast<std::size_t>(n);
}

// The TR35 pattern of a short date code (any case) with "/" replaced by the
// separator ("-" when absent); absent for a code without a pattern.
std::optional<String> datePattern(StringView code, std::optional<StringView> separator) {
    std::optional<String> pattern = qnDateFormatForShortQNFormat(internal::asciiUppercased(code));
    if (!pattern) return std::nullopt;
    const StringView sep = separator.value_or(u"-");
    if (sep == u"/") return pattern;
    String out;
    out.reserve(pattern->size() + 2 * sep.size());
    for (char16_t c : *pattern) {
        if (c == u'/')
            out.append(sep);
        else
            out.push_back(c);
    }
    return out;
}

// The integer at the start of a field, by the rule of a string's
// integerValue (qnIntValue): white space, a sign, then digits up to the
// first other character; 0 without digits, saturated at the limits. Read in
// place, as qnIntValue would first copy the field.
std::int64_t leadingInteger(StringView field) noexcept {
    auto white = [](char16_t c) {
        return c < 0x80 ? c == u' ' || (c >= 0x09 && c <= 0x0D) : u_isUWhiteSpace(c) != 0;
    };
    std::size_t i = 0;
    while (i < field.size() && white(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) negative = field[i++] == u'-';
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
    std::uint64_t magnitude = 0;
    for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
        const unsigned digit = static_cast<unsigned>(field[i] - u'0');
        if (magnitude > (kLimit - digit) / 10) {
            magnitude = kLimit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (magnitude >= kLimit)
        return negative ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max();
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

// The characters that end a line when a file is read line by line
// (QNFile::readalllines): LF, VT, FF, CR, U+0085, U+2028, U+2029.
bool isLineBreak(char16_t c) noexcept {
    if (c > 0x0D) return c == 0x85 || (c | 1) == 0x2029;
    return c >= 0x0A;
}

// The first line break in [p, end), or `end`. Finding the line is most of
// the work of reading a record, so eight units are tested at a time where
// the processor allows: a block with no unit at or below CR, no U+0085 and no
// U+2028/U+2029 holds no break.
const char16_t* findLineBreak(const char16_t* p, const char16_t* end) noexcept {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi16(0x0D);
    const __m128i nel = _mm_set1_epi16(static_cast<short>(0x85));
    const __m128i paragraph = _mm_set1_epi16(0x2029);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 8; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i candidates =
            _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(v, cr), zero),
                         _mm_or_si128(_mm_cmpeq_epi16(v, nel),
                                      _mm_cmpeq_epi16(_mm_or_si128(v, one), paragraph)));
        if (_mm_movemask_epi8(candidates) == 0) continue;
        for (int i = 0; i < 8; ++i)  // a tab is a candidate but no break
            if (isLineBreak(p[i])) return p + i;
    }
#endif
    while (p != end && !isLineBreak(*p))
        ++p;
    return p;
}

}  // namespace

struct QNDelimitedFile::Impl {
    std::mutex mutex;
    Ref<QNFile> file;
    std::int64_t lineLength = 1024;
    String fieldDelimiter = u",";
    String stringDelimiter = u"\"";
    int currentMode = kReading;
    // `currentLine`: `rest` (reading) or `line` (writing) when hasLine;
    // none otherwise.
    bool hasLine = false;
    // Reading: the file's text, where the next line starts, and the unread
    // rest of the current line (a view into `text`).
    String text;
    std::size_t nextLine = 0;
    StringView rest;
    // Writing: the line being built.
    String line;

    bool reading() const noexcept { return file && currentMode == kReading; }
    bool writing() const noexcept { return file && currentMode == kWriting; }
    bool canTakeField() const noexcept { return reading() && hasLine; }

    void setDelimiters(std::optional<StringView> field, std::optional<StringView> string) {
        fieldDelimiter = String(field.value_or(u","));
        stringDelimiter = String(string.value_or(u"\""));
    }

    void clear() noexcept {
        hasLine = false;
        String().swap(text);  // a read file's text can be large: give it back
        nextLine = 0;
        rest = {};
        line.clear();
    }

    // The next line of the text, as QNFile::readline would give it: every
    // line break ends a line, and a final break starts no further line.
    bool readLine() {
        if (nextLine >= text.size()) return false;
        const char16_t* const begin = text.data() + nextLine;
        const char16_t* const end = text.data() + text.size();
        const char16_t* const p = findLineBreak(begin, end);
        rest = StringView(begin, static_cast<std::size_t>(p - begin));
        nextLine += rest.size() + 1;
        hasLine = true;
        return true;
    }

    // The text up to the next field delimiter (the whole rest when there is
    // none, which ends the line). The string delimiter plays no part. The
    // view stays valid while the file is open.
    StringView takeField() {
        const std::size_t at =
            fieldDelimiter.empty() ? StringView::npos : rest.find(fieldDelimiter);
        StringView field = rest.substr(0, at);
        if (at == StringView::npos) {
            hasLine = false;
            rest = {};
        } else {
            rest.remove_prefix(at + fieldDelimiter.size());
        }
        return field;
    }

    // A new field of the line being written starts with the delimiter, except
    // the first.
    void startField() {
        if (hasLine) {
            line.append(fieldDelimiter);
        } else {
            line.clear();
            hasLine = true;
        }
    }
};

QNDelimitedFile::QNDelimitedFile() : d_(std::make_unique<Impl>()) {}
QNDelimitedFile::~QNDelimitedFile() = default;

QNDelimitedFile& QNDelimitedFile::sharedInstance() {
    static QNDelimitedFile instance;
    return instance;
}

// --- Reading ------------------------------------------------------------------

std::int64_t QNDelimitedFile::dfropenLengthFiledDelimiterStringDelimiterEncoding(
    StringView path, std::optional<std::int64_t> length, std::optional<StringView> fieldDelimiter,
    std::optional<StringView> stringDelimiter, std::optional<StringView> encoding) {
    std::lock_guard lock(d_->mutex);
    if (d_->file) return kWrongState;
    d_->lineLength = length.value_or(1024);
    d_->setDelimiters(fieldDelimiter, stringDelimiter);
    d_->currentMode = kReading;
    d_->clear();
    d_->file = makeRef<QNFile>(String(path));
    // The text an openread would split into lines; a file that cannot be
    // read has none, so the first dfrnext answers -4.
    d_->text = d_->file->readalltext(encoding);
    return kOk;
}

std::int64_t QNDelimitedFile::dfrnext() {
    std::lock_guard lock(d_->mutex);
    if (!d_->reading()) return kWrongState;
    return d_->readLine() ? kOk : kEndOfFile;
}

std::int64_t QNDelimitedFile::dfrgtxtLength(String& text, std::optional<std::int64_t> length) {
    std::lock_guard lock(d_->mutex);
    const std::optional<std::size_t> width = fieldLength(length);
    if (!d_->canTakeField() || !width) return kWrongState;
    StringView field = d_->takeField();
    const StringView quote = d_->stringDelimiter;
    if (!quote.empty()) {
        if (field.size() < 2 * quote.size() + 1 || !field.starts_with(quote) ||
            !field.ends_with(quote))
            return kNotDelimited;
        field = field.substr(quote.size(), field.size() - 2 * quote.size());
    }
    if (field.size() > *width) return kTooLong;
    text.assign(field);
    text.append(*width - field.size(), u' ');
    return kOk;
}

std::int64_t QNDelimitedFile::dfrgnum(std::int64_t& number) {
    std::lock_guard lock(d_->mutex);
    if (!d_->canTakeField()) return kWrongState;
    number = leadingInteger(d_->takeField());
    return kOk;
}

std::int64_t QNDelimitedFile::dfrgdecimal(Decimal& number) {
    std::lock_guard lock(d_->mutex);
    if (!d_->canTakeField()) return kWrongState;
    number = Decimal::fromString(d_->takeField());
    return kOk;
}

std::int64_t QNDelimitedFile::dfrgdateFormatSeparator(DateTime& date, StringView format,
                                                      std::optional<StringView> separator) {
    std::lock_guard lock(d_->mutex);
    if (!d_->canTakeField()) return kWrongState;
    const std::optional<String> pattern = datePattern(format, separator);
    if (!pattern) return kNoDatePattern;
    const StringView field = d_->takeField();
    const std::optional<DateTime> parsed =
        dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(*pattern)->dateFromString(
            field);
    if (!parsed) return kNotADate;
    date = *parsed;
    return kOk;
}

std::int64_t QNDelimitedFile::dfrclose() {
    std::lock_guard lock(d_->mutex);
    if (!d_->reading()) return kWrongState;
    d_->file.reset();
    d_->clear();
    return kOk;
}

// --- Writing ------------------------------------------------------------------

std::int64_t QNDelimitedFile::dfwopenFiledDelimiterStringDelimiterAppendEncoding(
    StringView path, std::optional<StringView> fieldDelimiter,
    std::optional<StringView> stringDelimiter, bool append, std::optional<StringView> encoding) {
    std::lock_guard lock(d_->mutex);
    if (d_->file) return kWrongState;
    d_->setDelimiters(fieldDelimiter, stringDelimiter);
    d_->currentMode = kWriting;
    auto file = makeRef<QNFile>(String(path));
    if (!append && file->exists()) {
        // Writes always go to the end of the file, so a file that could not
        // be removed (outside the sandbox, say) would silently get the new
        // lines after its old ones: refuse instead.
        file->deleteFile();
        if (file->errCode() != 0) return kOpenForWritingFailed;
    }
    file->openwrite(encoding.value_or(StringView()));
    if (file->errCode() != 0) return kOpenForWritingFailed;
    d_->clear();
    d_->file = std::move(file);
    return kOk;
}

std::int64_t QNDelimitedFile::dfwptxtLength(StringView text, std::optional<std::int64_t> length) {
    std::lock_guard lock(d_->mutex);
    const std::optional<std::size_t> width = fieldLength(length);
    if (!d_->writing() || !width) return kWrongState;
    d_->startField();
    String& line = d_->line;
    line.append(d_->stringDelimiter);
    line.append(text.substr(0, *width));
    if (text.size() < *width) line.append(*width - text.size(), u' ');
    line.append(d_->stringDelimiter);
    return kOk;
}

std::int64_t QNDelimitedFile::dfwpnumDecimals(const Value& number,
                                              std::optional<std::int64_t> decimals) {
    std::lock_guard lock(d_->mutex);
    if (!d_->writing()) return kWrongState;
    d_->startField();
    d_->line.append(qnRoundedToDecimals(number.decimalValue(), decimals.value_or(0)).toString());
    return kOk;
}

std::int64_t QNDelimitedFile::dfwpdateFormatSeparator(DateTime date, StringView format,
                                                      std::optional<StringView> separator) {
    std::lock_guard lock(d_->mutex);
    if (!d_->writing()) return kWrongState;
    const std::optional<String> pattern = datePattern(format, separator);
    if (!pattern) return kNoDatePattern;
    d_->startField();
    d_->line.append(
        dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(*pattern)->stringFromDate(
            date));
    return kOk;
}

std::int64_t QNDelimitedFile::dfwnext() {
    std::lock_guard lock(d_->mutex);
    if (!d_->writing()) return kWrongState;
    if (!d_->hasLine) return kNothingPut;
    d_->file->writeline(d_->line);
    d_->hasLine = false;
    d_->line.clear();
    return kOk;
}

std::int64_t QNDelimitedFile::dfwclose() {
    std::lock_guard lock(d_->mutex);
    if (!d_->writing()) return kWrongState;
    if (d_->hasLine) d_->file->writeline(d_->line);
    d_->file->close();
    d_->file.reset();
    d_->clear();
    return kOk;
}

}  // namespace qn
