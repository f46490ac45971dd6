#include <gtest/gtest.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include <thread>

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

TEST(ConfigTest, WithoutAFileEveryGetterGivesItsDefaultAndAutocommitIsOff) {
    LoadedConfig c(nullptr);
    EXPECT_EQ(c.config.dateFormat(), u"MM/dd/yy");
    EXPECT_EQ(c.config.timeFormat(), 1u);
    EXPECT_EQ(c.config.decimalSeparator(), u".");
    EXPECT_EQ(c.config.thousandsSeparator(), u"");
    EXPECT_EQ(c.config.yearLimit(), 40);
    EXPECT_FALSE(c.config.storedYearLimit()) << "nothing was loaded";
    EXPECT_TRUE(c.config.langProperties().empty());
    EXPECT_FALSE(c.config.defaultLanguageCode());
    EXPECT_FALSE(c.config.likeEscapeChar());
    EXPECT_EQ(c.config.likeEscapeCharacter(), u"%");
    EXPECT_FALSE(c.config.autocommit());
    EXPECT_FALSE(c.config.propertiesForCurrentLanguage());
}

TEST(ConfigTest, UnreadableFileCountsAsEmptyDictionarySoAutocommitIsOn) {
    test::ScopedCapturingLogger log;
    for (std::string_view raw : {std::string_view("\x01\x02 definitely not a plist"),
                                 std::string_view("<plist version=\"1.0\"><dict><key>a")}) {
        LoadedConfig c(nullptr, raw);
        EXPECT_TRUE(c.config.autocommit());
        EXPECT_EQ(c.config.yearLimit(), 40);
        EXPECT_EQ(c.config.storedYearLimit(), 40);
        EXPECT_EQ(c.config.likeEscapeCharacter(), u"%");
        EXPECT_EQ(c.config.decimalSeparator(), u".");
    }
    EXPECT_TRUE(log->contains(u"qnconfig.plist"));
    LoadedConfig array("<array><string>x</string></array>");
    EXPECT_TRUE(array.config.autocommit()) << "a root that is no dictionary counts as empty";
}

TEST(ConfigTest, YearLimitTakesTheIntegerValueOfNumbersAndNumericStrings) {
    EXPECT_EQ(
        LoadedConfig("<dict><key>QNyear_limit</key><string>30</string></dict>").config.yearLimit(),
        30);
    EXPECT_EQ(LoadedConfig("<dict><key>QNyear_limit</key><integer>55</integer></dict>")
                  .config.yearLimit(),
              55);
    EXPECT_EQ(
        LoadedConfig("<dict><key>QNyear_limit</key><real>49.9</real></dict>").config.yearLimit(),
        49);
    EXPECT_EQ(LoadedConfig("<dict><key>QNyear_limit</key><string> 25abc</string></dict>")
                  .config.yearLimit(),
              25);
    EXPECT_EQ(LoadedConfig("<dict/>").config.yearLimit(), 40);
}

TEST(ConfigTest, CommitmentIsTheNegationOfAutocommit) {
    EXPECT_FALSE(LoadedConfig("<dict><key>QNCommitment</key><true/></dict>").config.autocommit());
    EXPECT_TRUE(LoadedConfig("<dict><key>QNCommitment</key><false/></dict>").config.autocommit());
    EXPECT_FALSE(LoadedConfig("<dict><key>QNCommitment</key><string>YES</string></dict>")
                     .config.autocommit());
    EXPECT_TRUE(LoadedConfig("<dict/>").config.autocommit());
}

TEST(ConfigTest, EscapeCharacterIsTrimmedAndKeptOnlyWhenOneCharacterLong) {
    auto escape = [](const char* value) {
        std::string body = std::string("<dict><key>QNlike_escape_char</key>") + value + "</dict>";
        return LoadedConfig(body.c_str()).config.likeEscapeCharacter();
    };
    EXPECT_EQ(escape("<string> \\ </string>"), u"\\");
    EXPECT_EQ(escape("<string>\t!\t</string>"), u"!");
    EXPECT_EQ(escape("<string>\xC2\xA0#\xE2\x80\x83</string>"), u"#") << "Unicode space separators";
    EXPECT_EQ(escape("<string>ab</string>"), u"%");
    EXPECT_EQ(escape("<string>   </string>"), u"%");
    EXPECT_EQ(escape("<string></string>"), u"%");
    EXPECT_EQ(escape("<string>\n\\</string>"), u"%") << "a line break is not trimmed";
    EXPECT_EQ(escape("<integer>5</integer>"), u"%");
}

constexpr const char* kLanguages = R"(<dict>
  <key>QNlanguage</key><string>English</string>
  <key>QNLanguajesData</key><array>
    <dict><key>QNLanguajeCode</key><string>English</string>
          <key>QNLanguajeSection</key><string>English</string>
          <key>QNCulture</key><string>en_US</string>
          <key>QNDateFormat</key><string>YMD</string>
          <key>QNTimeFormat</key><string>12</string>
          <key>QNDecimalPoint</key><string>.</string>
          <key>QNThousandSep</key><string>,</string></dict>
    <dict><key>QNLanguajeCode</key><string>Spanish</string>
          <key>QNLanguajeSection</key><string>Castellano</string>
          <key>QNCulture</key><string>es_ES</string>
          <key>QNDateFormat</key><string>DMY4</string>
          <key>QNTimeFormat</key><string>24</string>
          <key>QNDecimalPoint</key><string>,</string>
          <key>QNThousandSep</key><string>.</string></dict>
    <dict><key>QNLanguajeCode</key><string>Odd</string>
          <key>QNDateFormat</key><string>XYZ</string>
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
    EXPECT_EQ(config.dateFormat(), u"yy/MM/dd");
    EXPECT_EQ(config.timeFormat(), 0u);
    EXPECT_EQ(config.decimalSeparator(), u".");
    EXPECT_EQ(config.thousandsSeparator(), u",");

    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(config.dateFormat(), u"dd/MM/yyyy");
    EXPECT_EQ(config.timeFormat(), 1u);
    EXPECT_EQ(config.decimalSeparator(), u",");
    EXPECT_EQ(config.thousandsSeparator(), u".");

    QNResources::setCurrentLanguageName(u"Odd");
    EXPECT_EQ(config.dateFormat(), u"MM/dd/yy") << "an unknown code gives the default pattern";
    EXPECT_EQ(config.timeFormat(), 1u);
    EXPECT_EQ(config.decimalSeparator(), u".");

    QNResources::setCurrentLanguageName(u"German");
    EXPECT_EQ(config.propertiesForCurrentLanguage(), config.propertiesForLanguage(u"English"))
        << "an unknown language uses the default language's entry";
    EXPECT_EQ(config.decimalSeparator(), u".");
    EXPECT_EQ(config.timeFormat(), 0u);
}

TEST(ConfigTest, UnknownLanguageWithoutDefaultEntryGivesDefaults) {
    std::string body = kLanguages;
    body.replace(body.find("<string>English</string>"), 24, "<string>Missing</string>");
    LoadedConfig c(body.c_str());
    QNResources::setCurrentLanguageName(u"German");
    EXPECT_FALSE(c.config.propertiesForCurrentLanguage());
    EXPECT_EQ(c.config.decimalSeparator(), u".");
    EXPECT_EQ(c.config.thousandsSeparator(), u"");
    EXPECT_EQ(c.config.dateFormat(), u"MM/dd/yy");
    EXPECT_EQ(c.config.timeFormat(), 1u);
}

TEST(ConfigTest, LocaleOfALanguageByCodeThenBySectionIgnoringCase) {
    LoadedConfig c(kLanguages);
    EXPECT_EQ(c.config.localeIdentifierFromLanguage(u"Spanish"), u"es_ES");
    EXPECT_EQ(c.config.localeIdentifierFromLanguage(u"castellano"), u"es_ES");
    EXPECT_EQ(c.config.localeIdentifierFromLanguage(u"ENGLISH"), u"en_US");
    EXPECT_FALSE(c.config.localeIdentifierFromLanguage(u"Odd")) << "entry without a culture";
    EXPECT_FALSE(c.config.localeIdentifierFromLanguage(u"Nameless")) << "not indexed";
    EXPECT_FALSE(c.config.localeIdentifierFromLanguage(u"German")) << "no default fallback here";
    EXPECT_FALSE(c.config.localeIdentifierFromLanguage(u""));
}

[[noreturn]] void sharedConfigChild() {
    TempDir dir;
    test::writeSampleBundle(dir);
    QNBundle::setMainBundlePath(dir.path());
    std::vector<QNConfig*> seen(8, nullptr);
    std::vector<std::int64_t> limits(8, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            seen[i] = &QNConfig::sharedInstance();
            limits[i] = seen[i]->yearLimit();
        });
    }
    for (auto& t : threads)
        t.join();
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

}  // namespace
}  // namespace qn
