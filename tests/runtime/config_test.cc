// The configuration (qnconfig.plist), messages and the language built-ins.
#include <qn/host.h>
#include <qn/runtime.h>

#include "support/test_support.h"

namespace qn {
namespace {

using test::plistDocument;
using test::ScopedBundle;
using test::TempDir;

// A configuration loaded from a bundle holding `body` as qnconfig.plist (no
// file at all when `body` is null).
struct LoadedConfig {
    explicit LoadedConfig(const char* body, std::string_view raw = {}) {
        test::writeSampleBundle(dir);
        std::filesystem::remove(dir.path() / "qnconfig.plist");
        if (body) dir.write("qnconfig.plist", plistDocument(body));
        if (!raw.empty()) dir.write("qnconfig.plist", raw);
        bundle.emplace(dir.path());
        config.loadFromPList();
    }
    TempDir dir;
    std::optional<ScopedBundle> bundle;
    QNConfig config;
};

// The per-language settings: date pattern, time format, decimal and
// thousands separators.
auto settings(QNConfig& config) {
    return std::tuple(config.dateFormat(), config.timeFormat(), config.decimalSeparator(),
                      config.thousandsSeparator());
}
using Settings = std::tuple<String, unsigned, String, String>;
const Settings kDefaults{u"MM/dd/yy", 1, u".", u""};

// Commitment is on only when a file says so; an unreadable file counts as an
// empty dictionary, so without a file autocommit is off and with one it is on.
TEST(ConfigTest, AutocommitOffWithoutAFileOnWithAnUnreadableOne) {
    LoadedConfig none(nullptr);
    EXPECT_FALSE(none.config.autocommit());
    EXPECT_FALSE(none.config.storedYearLimit()) << "nothing was loaded";
    test::ScopedCapturingLogger log;
    for (std::string_view raw : {std::string_view("\x01\x02 definitely not a plist"),
                                 std::string_view("<plist version=\"1.0\"><dict><key>a")}) {
        LoadedConfig c(nullptr, raw);
        EXPECT_TRUE(c.config.autocommit());
        EXPECT_EQ(c.config.storedYearLimit(), 40);
    }
    EXPECT_TRUE(log->contains(u"qnconfig.plist"));
    LoadedConfig array("<array><string>x</string></array>");
    EXPECT_TRUE(array.config.autocommit()) << "a root that is no dictionary counts as empty";
}

TEST(ConfigTest, YearLimitCommitmentAndEscapeCharacter) {
    auto loaded = [](const char* key, const char* value) {
        const std::string body = std::string("<dict><key>") + key + "</key>" + value + "</dict>";
        return std::make_unique<LoadedConfig>(body.c_str());
    };
    // The year limit is the integer value of numbers and numeric strings.
    for (const auto& [value, limit] : {std::pair{"<string>30</string>", 30},
                                       {"<integer>55</integer>", 55},
                                       {"<real>49.9</real>", 49},
                                       {"<string> 25abc</string>", 25}})
        EXPECT_EQ(loaded("QNyear_limit", value)->config.yearLimit(), limit) << value;
    // Commitment is the negation of autocommit.
    EXPECT_FALSE(loaded("QNCommitment", "<true/>")->config.autocommit());
    EXPECT_TRUE(loaded("QNCommitment", "<false/>")->config.autocommit());
    EXPECT_FALSE(loaded("QNCommitment", "<string>YES</string>")->config.autocommit());
    EXPECT_TRUE(LoadedConfig("<dict/>").config.autocommit());
    // The escape character is trimmed of blanks (Unicode space separators
    // too, not line breaks) and kept only when one character long.
    for (const auto& [value, escape] : {std::pair{"<string> \\ </string>", u"\\"},
                                        {"<string>\t!\t</string>", u"!"},
                                        {"<string>\xC2\xA0#\xE2\x80\x83</string>", u"#"},
                                        {"<string>ab</string>", u"%"},
                                        {"<string>   </string>", u"%"},
                                        {"<string>\n\\</string>", u"%"},
                                        {"<integer>5</integer>", u"%"}})
        EXPECT_EQ(loaded("QNlike_escape_char", value)->config.likeEscapeCharacter(), escape)
            << value;
}

constexpr const char* kLanguages = R"(<dict>
  <key>QNlanguage</key><string>English</string><key>QNLanguajesData</key><array>
    <dict><key>QNLanguajeCode</key><string>English</string>
      <key>QNLanguajeSection</key><string>English</string><key>QNCulture</key><string>en_US</string>
      <key>QNDateFormat</key><string>YMD</string><key>QNTimeFormat</key><string>12</string>
      <key>QNDecimalPoint</key><string>.</string><key>QNThousandSep</key><string>,</string></dict>
    <dict><key>QNLanguajeCode</key><string>Spanish</string>
      <key>QNLanguajeSection</key><string>Castellano</string><key>QNCulture</key><string>es_ES</string>
      <key>QNDateFormat</key><string>DMY4</string><key>QNTimeFormat</key><string>24</string>
      <key>QNDecimalPoint</key><string>,</string><key>QNThousandSep</key><string>.</string></dict>
    <dict><key>QNLanguajeCode</key><string>Odd</string><key>QNDateFormat</key><string>XYZ</string>
      <key>QNTimeFormat</key><string></string></dict>
    <dict><key>QNLanguajeSection</key><string>Nameless</string>
      <key>QNCulture</key><string>xx_XX</string></dict>
  </array>
</dict>)";

TEST(ConfigTest, PerLanguageGettersFollowTheCurrentLanguage) {
    LoadedConfig c(kLanguages);
    auto& config = c.config;
    EXPECT_EQ(config.langProperties().size(), 3u) << "an entry without a code is not indexed";
    QNResources::setCurrentLanguageName(u"English");
    EXPECT_EQ(settings(config), Settings(u"yy/MM/dd", 0, u".", u","));
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(settings(config), Settings(u"dd/MM/yyyy", 1, u",", u"."));
    QNResources::setCurrentLanguageName(u"Odd");  // an unknown code: the default pattern
    EXPECT_EQ(settings(config), kDefaults);
    QNResources::setCurrentLanguageName(u"German");
    EXPECT_EQ(config.propertiesForCurrentLanguage(), config.propertiesForLanguage(u"English"))
        << "an unknown language uses the default language's entry";
    EXPECT_EQ(settings(config), Settings(u"yy/MM/dd", 0, u".", u","));

    // A language's locale, by code then by section, in any letter case.
    EXPECT_EQ(config.localeIdentifierFromLanguage(u"Spanish"), u"es_ES");
    EXPECT_EQ(config.localeIdentifierFromLanguage(u"castellano"), u"es_ES");
    EXPECT_EQ(config.localeIdentifierFromLanguage(u"ENGLISH"), u"en_US");
    EXPECT_FALSE(config.localeIdentifierFromLanguage(u"Odd")) << "entry without a culture";
    EXPECT_FALSE(config.localeIdentifierFromLanguage(u"Nameless")) << "not indexed";
    EXPECT_FALSE(config.localeIdentifierFromLanguage(u"German")) << "no default fallback here";
    EXPECT_FALSE(config.localeIdentifierFromLanguage(u""));

    // Without an entry for the default language an unknown one has defaults.
    std::string body = kLanguages;
    body.replace(body.find("<string>English</string>"), 24, "<string>Missing</string>");
    LoadedConfig missing(body.c_str());
    QNResources::setCurrentLanguageName(u"German");
    EXPECT_FALSE(missing.config.propertiesForCurrentLanguage());
    EXPECT_EQ(settings(missing.config), kDefaults);
}

[[noreturn]] void sharedConfigChild() {
    TempDir dir;
    test::writeSampleBundle(dir);
    QNBundle::setMainBundlePath(dir.path());
    std::vector<QNConfig*> seen(8, nullptr);
    std::vector<std::int64_t> limits(8, 0);
    test::onThreads(8, [&](int i) {
        seen[i] = &QNConfig::sharedInstance();
        limits[i] = seen[i]->yearLimit();
    });
    bool ok = true;
    for (int i = 0; i < 8; ++i)
        ok = ok && seen[i] == seen[0] && limits[i] == 30;
    std::exit(ok ? 0 : 1);
}

// In a fresh process so that the shared instance is really created here.
TEST(ConfigOnceTest, ConcurrentFirstCallsShareOneLoadedInstance) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sharedConfigChild(), ::testing::ExitedWithCode(0), "");
}

// The shared configuration is read once per process: make sure it is read
// from the sample bundle, whichever test of this file runs first.
class SampleBundleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::loadSharedConfigurationFromSampleBundle(); }
    void SetUp() override {
        test::writeSampleBundle(dir_);
        bundle_.emplace(dir_.path());
    }
    TempDir dir_;
    std::optional<ScopedBundle> bundle_;
};

using MessagesTest = SampleBundleTest;
using LanguageBuiltinsTest = SampleBundleTest;

TEST_F(MessagesTest, TranslatesInTheCurrentOrNamedLanguageAndFillsPlaceholders) {
    EXPECT_EQ(QNMessages::getMessage(u"bye"), u"Goodbye");
    EXPECT_EQ(QNMessages::getMessage(u"not a key"), u"not a key");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"Spanish"), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessage(u"bye", StringView(u"Spanish")), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"German"), u"Goodbye")
        << "an unknown language falls back to the current one";
    EXPECT_EQ(QNMessages::getMessage(u"hello", std::vector<Value>{Value(u"Ana")}), u"Hello Ana");
    EXPECT_EQ(QNMessages::getMessageArguments(u"pair", {Value(1), Value(u"two")}), u"two then 1");
    EXPECT_EQ(QNMessages::getMessageArguments(u"hello", {}), u"Hello #{1}");
    EXPECT_EQ(QNMessages::getMessageArguments(u"raw %1", {Value(2.5)}), u"raw 2.5")
        << "an untranslated key is still a format";
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(QNMessages::getMessage(u"bye"), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"English"), u"Goodbye");
}

TEST(LocaleOfLanguageTest, ThreeLetterNamesMapExactly) {
    for (const auto& [name, locale] : {std::pair{u"spa", u"es_ES"},
                                       {u"por", u"pt_PT"},
                                       {u"ita", u"it_IT"},
                                       {u"chs", u"zh"},
                                       {u"cht", u"zh"},
                                       {u"jap", u"ja_JP"}})
        EXPECT_EQ(qnLocaleIdentifierWithLanguage(name), locale) << toUtf8(name);
    for (const char16_t* none : {u"eng", u"SPA", u""})
        EXPECT_FALSE(qnLocaleIdentifierWithLanguage(none)) << toUtf8(none);
}

TEST_F(LanguageBuiltinsTest, LanguageItsPropertiesAndTheTheme) {
    EXPECT_EQ(QNThemeHelper::currentThemeName(), u"Blue");
    EXPECT_EQ(QNBuiltins::getLanguage(), u"English");
    EXPECT_EQ(QNBuiltins::getLanguageProperty(u"time_fmt"), u"12");
    EXPECT_EQ(QNBuiltins::getLanguageProperty(u"date_fmt"), u"MDY");
    EXPECT_EQ(QNBuiltins::getLanguageProperty(u"QNNoSuchKey"), u"");
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(QNBuiltins::dateFormatForCurrentLanguage(), 5) << "DMY4";
    EXPECT_EQ(QNBuiltins::timeFormatForCurrentLanguage(), 3);
    // A missing date code counts as month-day-year.
    QNResources::setCurrentLanguageName(u"Plain");
    EXPECT_EQ(QNBuiltins::getLanguageProperty(u"date_fmt"), u"");
    EXPECT_EQ(QNBuiltins::dateFormatForCurrentLanguage(), 2);
    EXPECT_EQ(QNBuiltins::timeFormatForCurrentLanguage(), 2);

    TempDir empty;
    ScopedBundle none(empty.path());
    EXPECT_EQ(QNBuiltins::getLanguage(), u"") << "no language at all";
    EXPECT_EQ(QNThemeHelper::currentThemeName(), u"");
}

}  // namespace
}  // namespace qn
