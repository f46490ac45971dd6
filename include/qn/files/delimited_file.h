// Record-oriented access to delimited text files (comma-separated and the
// like): open for reading, step line by line and take the fields of the
// current line one after another as text, integer, decimal or date; or open
// for writing, put fields into the current line and write it.
//
// Every operation answers a return code:
//    0 success
//   -1 wrong state (already open, other mode, nothing open, no line or no
//      field left)
//   -2 the file could not be opened for writing
//   -4 end of file
//   -5 a text field is not enclosed in the string delimiter
//   -6 a text field is longer than the length asked for
//   -7 the field is not a date in the format
//   -9 nothing was put since the last line was written
//  -10 the format code has no date pattern
//
// One process-wide instance serves generated code, so at most one delimited
// file is open at a time in the process. Generated code calls
// QNDelimitedFile::sharedInstance().dfrnext() and so on (a C++ class cannot
// have a static and a member function of the same name and arguments).
//
// Fields: reading splits at the first field delimiter (the string delimiter
// plays no part, so a delimiter inside quotes still splits); an empty field
// delimiter makes the whole line one field. Lengths count UTF-16 code units;
// an absent or negative length is 0, and a length beyond 2^24 (no field is
// that long) answers -1 and changes nothing.
//
// Thread-safe: the instance's state is behind a lock held for each whole
// operation, so calls from several threads never race; they still share the
// one open file and its current line.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

class QN_API QNDelimitedFile {
public:
    QNDelimitedFile();
    ~QNDelimitedFile();
    QNDelimitedFile(const QNDelimitedFile&) = delete;
    QNDelimitedFile& operator=(const QNDelimitedFile&) = delete;

    static QNDelimitedFile& sharedInstance();

    // --- Reading ------------------------------------------------------------

    // Opens the file at a logical path for reading. The record length
    // defaults to 1024 (kept, not used), the delimiters to "," and "\"". A
    // file that cannot be opened reads as empty.
    std::int64_t dfropenLengthFiledDelimiterStringDelimiterEncoding(
        StringView path, std::optional<std::int64_t> length = std::nullopt,
        std::optional<StringView> fieldDelimiter = std::nullopt,
        std::optional<StringView> stringDelimiter = std::nullopt,
        std::optional<StringView> encoding = std::nullopt);
    // The next line becomes the current one; -4 at the end.
    std::int64_t dfrnext();
    // The next field, without its string delimiters, padded with spaces to
    // `length`. -5 (not enclosed, or an empty quoted field) and -6 (longer
    // than `length`) still take the field and leave `text` unchanged.
    std::int64_t dfrgtxtLength(String& text, std::optional<std::int64_t> length);
    // The integer at the start of the next field (0 when there is none).
    std::int64_t dfrgnum(std::int64_t& number);
    // The next field as a decimal ("." separator; not-a-number when it is no
    // number).
    std::int64_t dfrgdecimal(Decimal& number);
    // The next field as a date in the short format code, any case ("YMD",
    // "DMY4", ...; the pattern's "/" replaced by `separator`, "-" by
    // default), read strictly in UTC. -10 for an unknown code takes no
    // field; -7 takes it and leaves `date` unchanged.
    std::int64_t dfrgdateFormatSeparator(DateTime& date, StringView format,
                                         std::optional<StringView> separator = std::nullopt);
    std::int64_t dfrclose();

    // --- Writing ------------------------------------------------------------

    // Opens the file for writing: appended to when `append`, else replaced.
    // -2 when the file cannot be opened, or when it is to be replaced and
    // cannot be removed (a file outside the sandbox roots may be written but
    // not removed; appending to it instead would mix old and new records).
    std::int64_t dfwopenFiledDelimiterStringDelimiterAppendEncoding(
        StringView path, std::optional<StringView> fieldDelimiter = std::nullopt,
        std::optional<StringView> stringDelimiter = std::nullopt, bool append = false,
        std::optional<StringView> encoding = std::nullopt);
    // The text cut or padded to exactly `length`, between string delimiters.
    std::int64_t dfwptxtLength(StringView text, std::optional<std::int64_t> length);
    // The number rounded to `decimals` (absent: 0), halves away from zero;
    // "." separator, no grouping, no trailing zeros ("NaN" for not a number).
    std::int64_t dfwpnumDecimals(const Value& number, std::optional<std::int64_t> decimals);
    std::int64_t dfwpdateFormatSeparator(DateTime date, StringView format,
                                         std::optional<StringView> separator = std::nullopt);
    // Writes the current line and starts a new one.
    std::int64_t dfwnext();
    // Writes a pending line and closes.
    std::int64_t dfwclose();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace qn
