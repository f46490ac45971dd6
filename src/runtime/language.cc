// Translated messages, the language-to-locale mapping, the theme name and
// the language built-ins of generated code.

#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/runtime/builtins.h>
#include <qn/runtime/config.h>

namespace qn {

String QNMessages::getMessage(StringView key) {
    return QNResources::translationFor(key);
}

String QNMessages::getMessageLanguage(StringView key, StringView language) {
    auto model = QNKBObjectsModel::currentModel();
    if (auto found = model->resources().languageWithName(language))
        return found->translationFor(key);
    return QNResources::translationFor(key);
}

String QNMessages::getMessageArguments(StringView key, const std::vector<Value>& values) {
    return QNUtilities::stringWithQNFormatValues(getMessage(key), values);
}

std::optional<String> qnLocaleIdentifierWithLanguage(StringView language) {
    if (language == u"spa") return String(u"es_ES");
    if (language == u"por") return String(u"pt_PT");
    if (language == u"ita") return String(u"it_IT");
    if (language == u"chs" || language == u"cht") return String(u"zh");
    if (language == u"jap") return String(u"ja_JP");
    return std::nullopt;
}

String QNThemeHelper::currentThemeName() {
    return QNStyleKBObject::currentStyleObjectName().value_or(String());
}

String QNBuiltins::getLanguage() {
    return QNResources::currentLanguageName().value_or(String());
}

String QNBuiltins::getLanguageProperty(StringView name) {
    StringView key = name;
    if (name == u"time_fmt") key = u"QNTimeFormat";
    if (name == u"date_fmt") key = u"QNDateFormat";
    auto entry = QNConfig::sharedInstance().propertiesForCurrentLanguage();
    if (!entry) return {};
    const Value& v = entry->get(key);
    return v.isString() ? v.asString() : String();
}

namespace {

// The current language's short date code; "MDY" when it has none.
String currentDateCode() {
    return QNUtilities::nonEmptyStringFromObject(
               Value(QNBuiltins::getLanguageProperty(u"QNDateFormat")))
        .value_or(u"MDY");
}

}  // namespace

std::int64_t QNBuiltins::dateFormatForCurrentLanguage() {
    String code = currentDateCode();
    if (code == u"YMD") return 1;
    if (code == u"MDY") return 2;
    if (code == u"DMY") return 3;
    if (code == u"MDY4") return 4;
    if (code == u"DMY4") return 5;
    if (code == u"Y4MD") return 6;
    return 0;
}

std::int64_t QNBuiltins::timeFormatForCurrentLanguage() {
    String code = currentDateCode();
    if (code == u"YMD" || code == u"Y4MD") return 1;
    if (code == u"MDY" || code == u"MDY4") return 2;
    if (code == u"DMY" || code == u"DMY4") return 3;
    return 0;
}

}  // namespace qn
