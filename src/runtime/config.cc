#include <qn/host/bundle.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/runtime/config.h>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace qn {

namespace {

const String kLanguagesKey = u"QNLanguajesData";
const String kDefaultLanguageKey = u"QNlanguage";
const String kYearLimitKey = u"QNyear_limit";
const String kCommitmentKey = u"QNCommitment";
const String kLikeEscapeKey = u"QNlike_escape_char";
const String kLanguageCodeKey = u"QNLanguajeCode";
const String kLanguageSectionKey = u"QNLanguajeSection";
const String kCultureKey = u"QNCulture";
const String kDateFormatKey = u"QNDateFormat";
const String kTimeFormatKey = u"QNTimeFormat";
const String kDecimalPointKey = u"QNDecimalPoint";
const String kThousandSepKey = u"QNThousandSep";

// Space separators and tab: what the escape setting is trimmed of.
bool isEscapeBlank(char16_t c) {
    return c == u'\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

String trimEscapeBlanks(StringView s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && isEscapeBlank(s[begin]))
        ++begin;
    while (end > begin && isEscapeBlank(s[end - 1]))
        --end;
    return String(s.substr(begin, end - begin));
}

bool equalsIgnoringCase(StringView a, StringView b) {
    UErrorCode status = U_ZERO_ERROR;
    int result = u_strCaseCompare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                  static_cast<int32_t>(b.size()), U_FOLD_CASE_DEFAULT, &status);
    return U_SUCCESS(status) && result == 0;
}

}  // namespace

QNConfig& QNConfig::sharedInstance() {
    // Made and loaded once; never destroyed, so it outlives every static
    // object that might still read it at exit.
    static QNConfig* const instance = [] {
        auto* config = new QNConfig();
        config->loadFromPList();
        return config;
    }();
    return *instance;
}

void QNConfig::loadFromPList() {
    auto bundle = QNBundle::mainBundle();
    auto path = bundle->pathForResourceOfType("qnconfig", "plist");
    if (!path) return;
    std::string error;
    auto root = QNPropertyList::readFile(*path, &error);
    if (!root || !root->isDictionary()) {
        QNLog::loggerService()->logMessage(u"qnconfig.plist read as empty: " +
                                               fromUtf8(error.empty() ? "not a dictionary" : error),
                                           QNLogTypeFiles, QNLogLevelError);
    }
    loadFromDictionary(root ? *root : Value());
}

void QNConfig::loadFromDictionary(const Value& root) {
    static const Dictionary kEmpty;
    const Dictionary* d = root.asDictionary();
    const Dictionary& config = d ? *d : kEmpty;

    langProperties_.clear();
    if (const Array* languages = config.get(kLanguagesKey).asArray()) {
        for (const auto& entry : *languages) {
            const Dictionary* e = entry.asDictionary();
            if (e == nullptr) continue;
            // An entry is indexed by its code; one without a code cannot be
            // indexed and is left out.
            String code = QNUtilities::stringFromObject(e->get(kLanguageCodeKey));
            if (code.empty()) continue;
            langProperties_.set(std::move(code), entry);
        }
    }

    const Value& defaultLanguage = config.get(kDefaultLanguageKey);
    defaultLanguageCode_ =
        defaultLanguage.isAbsentOrNull()
            ? std::nullopt
            : std::optional<String>(QNUtilities::stringFromObject(defaultLanguage));

    const Value& yearLimit = config.get(kYearLimitKey);
    yearLimit_ = yearLimit.isAbsentOrNull() ? kDefaultYearLimit : yearLimit.integerValue();

    autocommit_ = !config.get(kCommitmentKey).boolValue();

    const Value& escape = config.get(kLikeEscapeKey);
    likeEscapeChar_.reset();
    if (escape.isString()) {
        String trimmed = trimEscapeBlanks(escape.asString());
        if (trimmed.size() == 1) likeEscapeChar_ = std::move(trimmed);
    }
}

Ref<const Dictionary> QNConfig::propertiesForLanguage(StringView language) const {
    if (auto entry = langProperties_.get(language).as<Dictionary>()) return entry;
    if (defaultLanguageCode_) {
        if (auto entry = langProperties_.get(*defaultLanguageCode_).as<Dictionary>()) return entry;
    }
    return nullptr;
}

Ref<const Dictionary> QNConfig::propertiesForCurrentLanguage() const {
    auto language = QNResources::currentLanguageName();
    return propertiesForLanguage(language ? StringView(*language) : StringView());
}

std::optional<String> QNConfig::currentLanguageString(StringView key) const {
    auto entry = propertiesForCurrentLanguage();
    if (!entry) return std::nullopt;
    const Value& v = entry->get(key);
    if (!v.isString()) return std::nullopt;
    return v.asString();
}

String QNConfig::dateFormat() const {
    if (auto code = currentLanguageString(kDateFormatKey)) {
        if (auto pattern = qnDateFormatForShortQNFormat(*code)) return *pattern;
    }
    return u"MM/dd/yy";
}

unsigned QNConfig::timeFormat() const {
    auto format = currentLanguageString(kTimeFormatKey);
    return (format && *format == u"12") ? 0u : 1u;
}

String QNConfig::decimalSeparator() const {
    return currentLanguageString(kDecimalPointKey).value_or(u".");
}

String QNConfig::thousandsSeparator() const {
    return currentLanguageString(kThousandSepKey).value_or(u"");
}

std::int64_t QNConfig::yearLimit() const {
    return yearLimit_.value_or(kDefaultYearLimit);
}

String QNConfig::likeEscapeCharacter() const {
    return likeEscapeChar_.value_or(u"%");
}

std::optional<String> QNConfig::localeIdentifierFromLanguage(StringView language) const {
    const Dictionary* entry = langProperties_.get(language).asDictionary();
    if (entry == nullptr) {
        for (const auto& [code, value] : langProperties_) {
            const Dictionary* candidate = value.asDictionary();
            if (candidate == nullptr) continue;
            const Value& section = candidate->get(kLanguageSectionKey);
            if (section.isString() && equalsIgnoringCase(section.asString(), language)) {
                entry = candidate;
                break;
            }
        }
    }
    if (entry == nullptr) return std::nullopt;
    const Value& culture = entry->get(kCultureKey);
    if (!culture.isString()) return std::nullopt;
    return culture.asString();
}

}  // namespace qn
