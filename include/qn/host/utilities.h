// Host utilities the library leans on: the fatal-error policy, text helpers,
// charsets, placeholder formatting, URLs.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qn {

// A text encoding known to the converters, by its canonical converter name
// ("UTF-8", "UTF-16", "ISO-8859-1", "windows-1252", ...).
class QN_API StringEncoding {
public:
    static StringEncoding utf8() { return StringEncoding("UTF-8"); }
    static StringEncoding utf16() { return StringEncoding("UTF-16"); }

    const std::string& name() const noexcept { return name_; }
    bool isUTF8() const noexcept { return name_ == "UTF-8"; }
    // Any of the UTF-16 converters (with or without byte order).
    bool isUTF16() const noexcept { return name_.rfind("UTF-16", 0) == 0; }
    friend bool operator==(const StringEncoding&, const StringEncoding&) = default;

    explicit StringEncoding(std::string canonicalName) : name_(std::move(canonicalName)) {}

private:
    std::string name_;
};

class QN_API QNUtilities {
public:
    // What tryRecoverFatalError does with a programming error of generated code.
    enum class FatalErrorPolicy {
        kRaise,    // throw qn::FatalError (the default)
        kRecover,  // log at error level, run the recovery block, return
    };
    static void setFatalErrorPolicy(FatalErrorPolicy policy) noexcept;
    static FatalErrorPolicy fatalErrorPolicy() noexcept;

    // Exception names the library passes.
    static constexpr StringView kGenericExceptionName = u"NSGenericException";
    static constexpr StringView kRangeExceptionName = u"NSRangeException";
    static constexpr StringView kInvalidArgumentExceptionName = u"NSInvalidArgumentException";

    using RecoveryBlock = std::function<bool()>;

    // Reports a programming error. Under Raise: throws FatalError(name,
    // message). Under Recover: logs the message at error level, runs
    // `recovery` (when given) and returns its answer (true when there is no
    // block): whether the caller may continue with a recovered value.
    static bool tryRecoverFatalError(const String& message);
    static bool tryRecoverFatalErrorWithExceptionName(const String& message,
                                                      StringView exceptionName);
    static bool tryRecoverFatalErrorWithRecoveryBlock(const String& message,
                                                      const RecoveryBlock& recovery);
    static bool tryRecoverFatalErrorWithExceptionNameRecoveryBlock(const String& message,
                                                                   StringView exceptionName,
                                                                   const RecoveryBlock& recovery);
    static bool tryRecoverFatalError(const String& message, StringView exceptionName,
                                     const RecoveryBlock& recovery = nullptr) {
        return tryRecoverFatalErrorWithExceptionNameRecoveryBlock(message, exceptionName, recovery);
    }

    // The value's text form: a string itself, anything else its description;
    // "" for Absent and the null marker.
    static String stringFromObject(const Value& value);
    // stringFromObject, but absent when that is empty.
    static std::optional<String> nonEmptyStringFromObject(const Value& value);

    // Splits at the first occurrence of `separator`: true with both sides
    // when found; false (outputs untouched) otherwise or for an empty separator.
    static bool splitStringByFirstOcurrenceOfStringToLeftAndRigth(StringView text,
                                                                  StringView separator,
                                                                  String& left, String& right);

    // The encoding of a charset name (IANA or converter alias, any letter
    // case, surrounding blanks and quotes ignored); absent for an unknown name.
    static std::optional<StringEncoding> stringEncodingFromCharsetString(StringView charset);

    // Placeholder substitution: every "%<digits>" of `format` becomes
    // "#{<digits>}", then each "#{i}" becomes the description of values[i-1]
    // (a string stands for itself). Placeholders without a value stay in
    // their braced form; values without a placeholder are ignored.
    static String stringWithQNFormatValues(StringView format, const std::vector<Value>& values);

    // The absolute text of a URL made from `text`, which may or may not be
    // percent-escaped already: characters that cannot stand in a URL are
    // escaped, existing "%XX" escapes are kept. Absent when `text` has no
    // scheme ("name:" with a letter first) or contains no character after it.
    static std::optional<String> urlFromMaybeEscapedURLString(StringView text);

    // Percent-encodes every character except the unreserved ones
    // (A-Z a-z 0-9 "-" "." "_" "~"), UTF-8 bytes as "%XX": safe as a query
    // parameter value.
    static String urlSimpleEscapeString(StringView text);

    // Marks a path as not to be backed up. This system has no backup
    // attribute; the call answers whether the path exists.
    static bool excludePathFromBackup(const std::string& path);

    // The machine's name.
    static String deviceName();

    // tempPath of the file-system roots joined with a new upper-case UUID;
    // nothing is created (src/files).
    static String createUniqueQNDataTemporaryFilePath();
    // The same with "/" appended.
    static String createUniqueQNDataTemporaryDirectoryPath();
};

// "/"-separated date pattern of a short date-format code: "YMD" "yy/MM/dd",
// "MDY" "MM/dd/yy", "DMY" "dd/MM/yy", "Y4MD" "yyyy/MM/dd", "MDY4" "MM/dd/yyyy",
// "DMY4" "dd/MM/yyyy"; absent for any other code (compared exactly).
QN_API std::optional<String> qnDateFormatForShortQNFormat(StringView code);

}  // namespace qn
