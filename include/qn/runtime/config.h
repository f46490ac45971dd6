// The runtime configuration (qnconfig.plist in the bundle) and the
// localisation services around it.
//
// The configuration file gives, per language, the date format, clock, and
// separators, plus a few process-wide settings (two-digit year limit, commit
// mode, the escape character of the like operator). It is read once, on the
// first call of QNConfig::sharedInstance(); the per-language getters look the
// host's current language up on every call, so a language change applies at
// once.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qn {

// Thread-safe once loaded: the shared instance is made and loaded exactly
// once, and only read afterwards. A private instance (tests) is
// thread-compatible until loaded.
class QN_API QNConfig {
public:
    static constexpr std::int64_t kDefaultYearLimit = 40;

    // The one configuration of the process, loaded before any caller sees it.
    static QNConfig& sharedInstance();

    // Every field absent (autocommit false) until loadFromPList runs.
    QNConfig() = default;
    QNConfig(const QNConfig&) = delete;
    QNConfig& operator=(const QNConfig&) = delete;

    // Reads the main bundle's "qnconfig.plist". Without the file nothing
    // changes; a file that is not a dictionary counts as an empty one. A
    // malformed file is logged.
    void loadFromPList();
    // The same from a parsed root (a dictionary; anything else counts as an
    // empty one).
    void loadFromDictionary(const Value& root);

    // The entry of that language code, else the default language's entry,
    // else null.
    Ref<const Dictionary> propertiesForLanguage(StringView language) const;
    Ref<const Dictionary> propertiesForCurrentLanguage() const;

    // Date pattern of the current language's "QNDateFormat"; "MM/dd/yy" when
    // there is none or the code is unknown.
    String dateFormat() const;
    // 0: 12-hour clock ("QNTimeFormat" is "12"); 1: 24-hour clock.
    unsigned timeFormat() const;
    String decimalSeparator() const;
    String thousandsSeparator() const;
    std::int64_t yearLimit() const;
    bool autocommit() const noexcept { return autocommit_; }
    String likeEscapeCharacter() const;
    // The "QNCulture" of the language's entry, found by code or else by
    // section name (case-insensitive); absent when none matches or it has none.
    std::optional<String> localeIdentifierFromLanguage(StringView language) const;

    // The stored fields, as loaded.
    const Dictionary& langProperties() const noexcept { return langProperties_; }
    const std::optional<String>& defaultLanguageCode() const noexcept {
        return defaultLanguageCode_;
    }
    std::optional<std::int64_t> storedYearLimit() const noexcept { return yearLimit_; }
    const std::optional<String>& likeEscapeChar() const noexcept { return likeEscapeChar_; }

private:
    // A string-valued key of the current language's entry, when present.
    std::optional<String> currentLanguageString(StringView key) const;

    Dictionary langProperties_;  // code -> entry (Dictionary)
    std::optional<String> defaultLanguageCode_;
    std::optional<std::int64_t> yearLimit_;
    bool autocommit_ = false;
    std::optional<String> likeEscapeChar_;
};

// Translated messages.
class QN_API QNMessages {
public:
    // The current language's translation of `key`.
    static String getMessage(StringView key);
    // The translation in the named language when the model has it, else in
    // the current language.
    static String getMessageLanguage(StringView key, StringView language);
    static String getMessage(StringView key, StringView language) {
        return getMessageLanguage(key, language);
    }
    // The translation with its "%1".."%N" placeholders filled from `values`.
    static String getMessageArguments(StringView key, const std::vector<Value>& values);
    static String getMessage(StringView key, const std::vector<Value>& values) {
        return getMessageArguments(key, values);
    }
};

// Locale identifier of a three-letter language name: "spa" "es_ES", "por"
// "pt_PT", "ita" "it_IT", "chs" and "cht" "zh", "jap" "ja_JP"; absent for any
// other name (compared exactly).
QN_API std::optional<String> qnLocaleIdentifierWithLanguage(StringView language);

class QN_API QNThemeHelper {
public:
    // The current theme's name; "" when there is none.
    static String currentThemeName();
};

}  // namespace qn
