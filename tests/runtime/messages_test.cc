#include <gtest/gtest.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include "support/test_support.h"

namespace qn {
namespace {

using test::ScopedBundle;
using test::TempDir;

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

TEST_F(MessagesTest, TranslatesInTheCurrentOrTheNamedLanguage) {
    EXPECT_EQ(QNMessages::getMessage(u"bye"), u"Goodbye");
    EXPECT_EQ(QNMessages::getMessage(u"not a key"), u"not a key");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"Spanish"), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessage(u"bye", StringView(u"Spanish")), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"German"), u"Goodbye")
        << "an unknown language falls back to the current one";
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(QNMessages::getMessage(u"bye"), u"Adi\u00f3s");
    EXPECT_EQ(QNMessages::getMessageLanguage(u"bye", u"English"), u"Goodbye");
}

TEST_F(MessagesTest, ArgumentsFillNumberedPlaceholders) {
    EXPECT_EQ(QNMessages::getMessage(u"hello", std::vector<Value>{Value(u"Ana")}), u"Hello Ana");
    EXPECT_EQ(QNMessages::getMessageArguments(u"pair", {Value(1), Value(u"two")}), u"two then 1");
    EXPECT_EQ(QNMessages::getMessageArguments(u"hello", {}), u"Hello #{1}");
    EXPECT_EQ(QNMessages::getMessageArguments(u"raw %1", {Value(2.5)}), u"raw 2.5")
        << "an untranslated key is still a format";
}

TEST(LocaleOfLanguageTest, ThreeLetterNamesMapExactly) {
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"spa"), u"es_ES");
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"por"), u"pt_PT");
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"ita"), u"it_IT");
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"chs"), u"zh");
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"cht"), u"zh");
    EXPECT_EQ(qnLocaleIdentifierWithLanguage(u"jap"), u"ja_JP");
    EXPECT_FALSE(qnLocaleIdentifierWithLanguage(u"eng"));
    EXPECT_FALSE(qnLocaleIdentifierWithLanguage(u"SPA"));
    EXPECT_FALSE(qnLocaleIdentifierWithLanguage(u""));
}

TEST_F(LanguageBuiltinsTest, ThemeName) {
    EXPECT_EQ(QNThemeHelper::currentThemeName(), u"Blue");
    TempDir empty;
    ScopedBundle none(empty.path());
    EXPECT_EQ(QNThemeHelper::currentThemeName(), u"");
}

TEST_F(LanguageBuiltinsTest, LanguageAndItsProperties) {
    EXPECT_EQ(QNutil::getLanguage(), u"English");
    EXPECT_EQ(QNutil::getLanguageProperty(u"QNDecimalPoint"), u".");
    EXPECT_EQ(QNutil::getLanguageProperty(u"time_fmt"), u"12");
    EXPECT_EQ(QNutil::getLanguageProperty(u"date_fmt"), u"MDY");
    EXPECT_EQ(QNutil::getLanguageProperty(u"QNNoSuchKey"), u"");
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(QNutil::getLanguage(), u"Spanish");
    EXPECT_EQ(QNutil::getLanguageProperty(u"QNCulture"), u"es_ES");
    EXPECT_EQ(QNutil::dateFormatForCurrentLanguage(), 5) << "DMY4";
    EXPECT_EQ(QNutil::timeFormatForCurrentLanguage(), 3);
    EXPECT_EQ(QNutil::dateTimeFormatForCurrentLanguage(), 3);
    QNResources::setCurrentLanguageName(u"English");
    EXPECT_EQ(QNutil::dateFormatForCurrentLanguage(), 2) << "MDY";
    EXPECT_EQ(QNutil::timeFormatForCurrentLanguage(), 2);
}

TEST_F(LanguageBuiltinsTest, MissingDateCodeCountsAsMonthDayYear) {
    QNResources::setCurrentLanguageName(u"Plain");
    EXPECT_EQ(QNutil::getLanguageProperty(u"date_fmt"), u"");
    EXPECT_EQ(QNutil::dateFormatForCurrentLanguage(), 2);
    EXPECT_EQ(QNutil::timeFormatForCurrentLanguage(), 2);
    TempDir empty;
    ScopedBundle none(empty.path());
    EXPECT_EQ(QNutil::getLanguage(), u"") << "no language at all";
}

}  // namespace
}  // namespace qn
