#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/host/utilities.h>

#include <unicode/ucnv.h>

#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>

#include "core/ascii.h"
#include "host/url.h"

namespace qn {

namespace {

std::atomic<QNUtilities::FatalErrorPolicy>& policyState() {
    static std::atomic<QNUtilities::FatalErrorPolicy> policy{QNUtilities::FatalErrorPolicy::kRaise};
    return policy;
}

// Characters that may stand in a URL as they are (RFC 3986 reserved and
// unreserved).
bool isURLCharacter(unsigned char c) {
    if (internal::isUnreservedURLByte(c)) return true;
    switch (c) {
        case ':':
        case '/':
        case '?':
        case '#':
        case '[':
        case ']':
        case '@':
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}

void replaceAll(String& text, StringView key, StringView replacement) {
    if (key.empty()) return;
    std::size_t pos = 0;
    while ((pos = text.find(key, pos)) != String::npos) {
        text.replace(pos, key.size(), replacement);
        pos += replacement.size();
    }
}

// Looked-up charset names are remembered; the table is bounded because the
// names can come from the network (response content types).
constexpr std::size_t kMaxRememberedCharsets = 256;

}  // namespace

void QNUtilities::setFatalErrorPolicy(FatalErrorPolicy policy) noexcept {
    policyState().store(policy);
}

QNUtilities::FatalErrorPolicy QNUtilities::fatalErrorPolicy() noexcept {
    return policyState().load();
}

bool QNUtilities::tryRecoverFatalErrorWithExceptionNameRecoveryBlock(
    const String& message, StringView exceptionName, const RecoveryBlock& recovery) {
    const StringView name = exceptionName.empty() ? kGenericExceptionName : exceptionName;
    QNLog::loggerService()->logMessage(u"Fatal error (" + String(name) + u"): " + message,
                                       QNLogTypeFiles, QNLogLevelError, true);
    if (fatalErrorPolicy() == FatalErrorPolicy::kRaise) throw FatalError(String(name), message);
    return recovery ? recovery() : true;
}

bool QNUtilities::tryRecoverFatalError(const String& message) {
    return tryRecoverFatalErrorWithExceptionNameRecoveryBlock(message, kGenericExceptionName,
                                                              nullptr);
}

bool QNUtilities::tryRecoverFatalErrorWithExceptionName(const String& message,
                                                        StringView exceptionName) {
    return tryRecoverFatalErrorWithExceptionNameRecoveryBlock(message, exceptionName, nullptr);
}

bool QNUtilities::tryRecoverFatalErrorWithRecoveryBlock(const String& message,
                                                        const RecoveryBlock& recovery) {
    return tryRecoverFatalErrorWithExceptionNameRecoveryBlock(message, kGenericExceptionName,
                                                              recovery);
}

String QNUtilities::stringFromObject(const Value& value) {
    if (value.isAbsentOrNull()) return {};
    if (value.isString()) return value.asString();
    return value.description();
}

std::optional<String> QNUtilities::nonEmptyStringFromObject(const Value& value) {
    String s = stringFromObject(value);
    if (s.empty()) return std::nullopt;
    return s;
}

bool QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(StringView text,
                                                                    StringView separator,
                                                                    String& left, String& right) {
    if (separator.empty()) return false;
    auto pos = text.find(separator);
    if (pos == StringView::npos) return false;
    left.assign(text.substr(0, pos));
    right.assign(text.substr(pos + separator.size()));
    return true;
}

std::optional<StringEncoding> QNUtilities::stringEncodingFromCharsetString(StringView charset) {
    // Trim blanks and the quotes a content type may put around the name.
    std::size_t begin = 0, end = charset.size();
    auto trimmable = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'"' || c == u'\'' || c == u'\r' || c == u'\n';
    };
    while (begin < end && trimmable(charset[begin]))
        ++begin;
    while (end > begin && trimmable(charset[end - 1]))
        --end;
    std::string name;
    for (std::size_t i = begin; i < end; ++i) {
        char16_t c = charset[i];
        if (c >= 0x80 || c == 0) return std::nullopt;  // charset names are ASCII
        name.push_back(static_cast<char>(c));
    }
    if (name.empty() || name.size() > 64) return std::nullopt;

    static std::mutex mutex;
    static std::map<std::string, std::optional<StringEncoding>> remembered;
    {
        std::lock_guard lock(mutex);
        if (auto it = remembered.find(name); it != remembered.end()) return it->second;
    }

    std::optional<StringEncoding> result;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (U_SUCCESS(status) && converter != nullptr) {
        const char* canonical = ucnv_getName(converter, &status);
        if (U_SUCCESS(status) && canonical != nullptr) {
            // Prefer the IANA name ("windows-1252") over ICU's internal one.
            UErrorCode standardStatus = U_ZERO_ERROR;
            const char* iana = ucnv_getStandardName(canonical, "IANA", &standardStatus);
            std::string chosen = (U_SUCCESS(standardStatus) && iana) ? iana : canonical;
            result = StringEncoding(chosen);
        }
    }
    if (converter != nullptr) ucnv_close(converter);

    std::lock_guard lock(mutex);
    if (remembered.size() < kMaxRememberedCharsets) remembered.emplace(name, result);
    return result;
}

String QNUtilities::stringWithQNFormatValues(StringView format, const std::vector<Value>& values) {
    // "%<digits>" -> "#{<digits>}".
    String text;
    text.reserve(format.size() + 8);
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == u'%' && i + 1 < format.size() && internal::isAsciiDigit(format[i + 1])) {
            std::size_t j = i + 1;
            while (j < format.size() && internal::isAsciiDigit(format[j]))
                ++j;
            text += u"#{";
            text.append(format.substr(i + 1, j - i - 1));
            text += u'}';
            i = j;
        } else {
            text += format[i++];
        }
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        String key = u"#{" + asciiString(std::to_string(i + 1)) + u"}";
        if (text.find(key) == String::npos) continue;
        const Value& v = values[i];
        replaceAll(text, key, v.isString() ? v.asString() : v.description());
    }
    return text;
}

std::optional<String> QNUtilities::urlFromMaybeEscapedURLString(StringView text) {
    // A scheme, then ":" and something after it.
    const std::size_t colon = text.find(u':');
    if (colon == StringView::npos || colon + 1 >= text.size() ||
        !internal::isURLScheme(text.substr(0, colon)))
        return std::nullopt;

    std::string utf8 = toUtf8(text);
    String out;
    out.reserve(utf8.size() + 16);
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '%') {
            if (i + 2 < utf8.size() && internal::isHexDigit(utf8[i + 1]) &&
                internal::isHexDigit(utf8[i + 2])) {
                out += u'%';  // already escaped: keep
            } else {
                internal::appendPercentEscape(out, c);
            }
        } else if (isURLCharacter(c)) {
            out += static_cast<char16_t>(c);
        } else {
            internal::appendPercentEscape(out, c);
        }
    }
    return out;
}

String QNUtilities::urlSimpleEscapeString(StringView text) {
    return internal::percentEncoded(text, internal::isUnreservedURLByte);
}

bool QNUtilities::excludePathFromBackup(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

String QNUtilities::deviceName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return u"localhost";
    return fromUtf8(buffer);
}

std::optional<String> qnDateFormatForShortQNFormat(StringView code) {
    if (code == u"YMD") return String(u"yy/MM/dd");
    if (code == u"MDY") return String(u"MM/dd/yy");
    if (code == u"DMY") return String(u"dd/MM/yy");
    if (code == u"Y4MD") return String(u"yyyy/MM/dd");
    if (code == u"MDY4") return String(u"MM/dd/yyyy");
    if (code == u"DMY4") return String(u"dd/MM/yyyy");
    return std::nullopt;
}

}  // namespace qn
