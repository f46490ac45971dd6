#include <qn/util.h>

#include "support/test_support.h"

namespace qn {
namespace {

// The two languages of the sample application: en_US writes 1,234.5 and
// es_UY writes 1.234,5.
constexpr std::string_view kModel = R"({
  "appName": "Pictures", "defaultLanguage": "English",
  "languages": [
    {"name": "English", "code": "eng", "culture": "en_US", "dateFormat": "ENG",
     "languageCode": "en", "countryCode": "US"},
    {"name": "Spanish", "code": "spa", "culture": "es_UY", "dateFormat": "SPA",
     "languageCode": "es", "countryCode": "UY"}]
})";

std::string fmt(const Value& number, std::u16string_view picture, bool hasDecimals = false) {
    return toUtf8(QNutil::formatNumber(number, picture, hasDecimals));
}

Value dec(std::string_view text) {
    return Value(Decimal::fromString(text));
}

class PictureFormat : public testing::Test {
protected:
    PictureFormat() {
        test::writeSampleBundle(dir_);
        dir_.write("model.json", kModel);
        bundle_.emplace(dir_.path());
        QNResources::setCurrentLanguageName(u"English");
    }
    ~PictureFormat() override { QNResources::setCurrentLanguageName(std::nullopt); }

    test::TempDir dir_;
    std::optional<test::ScopedBundle> bundle_;
};

TEST_F(PictureFormat, SeparatorsFollowTheCurrentLanguage) {
    const std::u16string_view picture = u"ZZZ,ZZZ,ZZ9.99";  // 14 characters
    EXPECT_EQ(fmt(dec("1234567.5"), picture), "  1,234,567.50");
    EXPECT_EQ(fmt(Value(1234), u"Z,ZZ9"), "1,234");
    EXPECT_EQ(fmt(Value(-1234.5), picture), "     -1,234.50");

    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(fmt(dec("1234567.5"), picture), "  1.234.567,50");
    EXPECT_EQ(fmt(Value(1234), u"Z,ZZ9"), "1.234") << "grouped as the picture says";
    EXPECT_EQ(fmt(Value(-1234.5), picture), "     -1.234,50");

    // A language that names no locale formats in ICU's root locale.
    QNResources::setCurrentLanguageName(u"Nowhere");
    EXPECT_EQ(fmt(dec("1234567.5"), picture), "  1,234,567.50");
}

TEST_F(PictureFormat, HalvesRoundAwayFromZero) {
    // ICU's default, half-even, would give 2, -2, 0.12 and 4 here.
    EXPECT_EQ(fmt(dec("2.5"), u"9"), "3");
    EXPECT_EQ(fmt(dec("-2.5"), u"Z9"), "-3");
    EXPECT_EQ(fmt(dec("0.125"), u"9.99"), "0.13");
    EXPECT_EQ(fmt(dec("-0.125"), u"Z9.99"), "-0.13");
    EXPECT_EQ(fmt(Value(2.5), u"9"), "3");
    EXPECT_EQ(fmt(Value(4.5), u"9"), "5");
    // 0.125 is exact in binary; 1.005 is not, but its shortest text is what
    // is rounded, not the binary value just below it.
    EXPECT_EQ(fmt(Value(0.125), u"9.99"), "0.13");
    EXPECT_EQ(fmt(Value(1.005), u"9.99"), "1.01");
    // A negative value that rounds to zero has no sign.
    EXPECT_EQ(fmt(dec("-0.001"), u"9.99"), "0.00");
}

TEST_F(PictureFormat, DigitsAreExactAndNeverCut) {
    const Value big = dec("12345678901234567890123456789012345678");
    EXPECT_EQ(fmt(big, u"Z9"), "12345678901234567890123456789012345678");
    EXPECT_EQ(fmt(big, u"ZZZ,ZZ9"), "12,345,678,901,234,567,890,123,456,789,012,345,678");
    EXPECT_EQ(fmt(dec("-1234567890123456789012345678.9012345678"), u"9.9999999999"),
              "-1234567890123456789012345678.9012345678");
    EXPECT_EQ(fmt(dec("0.12345678901234567890123456789012345678"),
                  u"9.99999999999999999999999999999999999999"),
              "0.12345678901234567890123456789012345678");
    EXPECT_EQ(fmt(Value(std::numeric_limits<std::int64_t>::min()), u"9"), "-9223372036854775808");

    // Wider than the picture: all integer digits; shorter: padded on the left.
    EXPECT_EQ(fmt(Value(123456), u"999"), "123456");
    EXPECT_EQ(fmt(Value(5), u"ZZZ9"), "   5");
    EXPECT_EQ(fmt(Value(5), u"9999"), "0005");
    EXPECT_EQ(fmt(Value(-5), u"ZZZ9"), "  -5");
    EXPECT_EQ(fmt(Value(5), u"Z9ZZ"), " 005") << "zeros from the first 9 on";
    EXPECT_EQ(fmt(Value(0), u"ZZZ"), "  0") << "one digit is always written";
    EXPECT_EQ(fmt(dec("1.5"), u"ZZ9.9Z"), "   1.5") << "Z in the fraction drops trailing zeros";
    EXPECT_EQ(fmt(dec("0.5"), u".99"), ".50");
}

TEST_F(PictureFormat, LiteralsAroundAndAmongTheDigits) {
    EXPECT_EQ(fmt(Value(-1234.5), u"$ZZ,ZZ9.99 USD"), "-$1,234.50 USD");
    EXPECT_EQ(fmt(Value(7), u"'%'- 9"), "'%'- 7") << "affix characters are literal";
    EXPECT_EQ(fmt(Value(42), u"Total: ZZ9"), " Total: 42");

    EXPECT_EQ(fmt(Value(123456789), u"999-99-9999"), "123-45-6789");
    EXPECT_EQ(fmt(Value(1234567890), u"999-99-9999"), "1234-56-7890") << "not cut";
    EXPECT_EQ(fmt(Value(-123456789), u"(999) 99-9999"), "-(123) 45-6789");
    // Suppressed positions take the literals among them along.
    EXPECT_EQ(fmt(Value(1234), u"ZZZ-ZZ-ZZ99"), "       1234");
    EXPECT_EQ(fmt(Value(12345), u"ZZZ-ZZ-ZZ99"), "     1-2345");
    EXPECT_EQ(fmt(dec("3.14159"), u"9.99 99"), "3.14 16");
    EXPECT_EQ(fmt(dec("3.1"), u"9.9Z Z9"), "3.10 00") << "zeros up to the last 9";

    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(fmt(dec("1234567.891"), u"Z,ZZZ,ZZ9.99/9"), "1.234.567,89/1");
}

TEST_F(PictureFormat, HasDecimalsKeepsDigitsThePictureDoesNotPlace) {
    EXPECT_EQ(fmt(dec("2.25"), u"ZZZ9", true), "2.25");
    EXPECT_EQ(fmt(dec("2.25"), u"ZZZ9", false), "   2");
    EXPECT_EQ(fmt(Value(0.1), u"Z,ZZ9", true), "  0.1") << "the double's shortest text";
    EXPECT_EQ(fmt(dec("1234.5"), u"Z,ZZ9", true), "1,234.5");
    EXPECT_EQ(fmt(dec("2.25"), u"9.9", true), "2.3") << "a picture with a point decides";
    EXPECT_EQ(fmt(dec("123456.789"), u"99-99", true), "1234-56.789");

    // No digit positions: the number written plainly after the picture's text.
    EXPECT_EQ(fmt(dec("1234.5"), u"", true), "1234.5");
    EXPECT_EQ(fmt(dec("1234.5"), u"", false), "1235");
    EXPECT_EQ(fmt(Value(3), u"n="), "n=3");
}

TEST_F(PictureFormat, ValuesThatAreNotNumbers) {
    EXPECT_EQ(fmt(Value(), u"ZZ9"), "");
    EXPECT_EQ(fmt(Value::null(), u"ZZ9"), "");
    EXPECT_EQ(fmt(Value(true), u"ZZ9"), "  1");
    EXPECT_EQ(fmt(Value(u"ab"), u"ZZ9"), " ab") << "a description, padded";
    EXPECT_EQ(fmt(Value(Decimal::notANumber()), u"9"), "NaN");
    EXPECT_EQ(fmt(Value(std::numeric_limits<double>::infinity()), u"ZZ9"), "  ∞");
    // More digit positions than ICU takes: no formatter, so the description.
    EXPECT_EQ(fmt(Value(12), String(2000, u'9')), std::string(1998, ' ') + "12");
    EXPECT_EQ(toUtf8(QNutil::formatChar(u"abc", u"XXXXX")), "abc");
}

// Answers its own formatter for one picture and hands every other picture
// to the default provider; records the locales it is asked for.
class MarkingProvider : public QNNumberFormatterProvider {
public:
    struct Marker : QNNumberPictureFormatter {
        std::optional<String> stringFromNumber(const Value& number) const override {
            if (number.isInt() && number.integerValue() == 0) return std::nullopt;
            return u"<" + number.description() + u">";
        }
    };
    std::shared_ptr<const QNNumberPictureFormatter>
    numberFormatterForQNPictureLocaleIdNumberHasDecimals(StringView picture,
                                                         std::optional<std::string_view> localeId,
                                                         bool hasDecimals) override {
        std::lock_guard lock(mutex_);
        locales_.push_back(localeId ? std::string(*localeId) : "(none)");
        if (picture == u"MARK") return std::make_shared<Marker>();
        if (picture == u"NONE") return nullptr;
        return QNNumberFormatter::defaultProvider()
            ->numberFormatterForQNPictureLocaleIdNumberHasDecimals(picture, localeId, hasDecimals);
    }
    std::vector<std::string> locales() {
        std::lock_guard lock(mutex_);
        return locales_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> locales_;
};

TEST_F(PictureFormat, AnInstalledProviderIsAskedUntilTheDefaultIsRestored) {
    auto provider = std::make_shared<MarkingProvider>();
    const auto previous = QNNumberFormatter::setProvider(provider);
    EXPECT_EQ(previous, QNNumberFormatter::defaultProvider());
    EXPECT_EQ(QNNumberFormatter::provider(), provider);

    EXPECT_EQ(fmt(Value(5), u"MARK"), " <5>");
    EXPECT_EQ(fmt(Value(0), u"MARK"), "    ") << "no text: blanks";
    EXPECT_EQ(fmt(dec("12.5"), u"NONE"), "12.5") << "no formatter: the description";
    EXPECT_EQ(fmt(Value(12), u"NONE"), "  12");
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(fmt(dec("1.5"), u"9.9"), "1,5");
    QNResources::setCurrentLanguageName(u"Nowhere");
    EXPECT_EQ(fmt(Value(1), u"9"), "1");
    EXPECT_EQ(provider->locales(),
              (std::vector<std::string>{"en_US", "en_US", "en_US", "en_US", "es_UY", "(none)"}));

    EXPECT_EQ(QNNumberFormatter::setProvider(nullptr), provider);
    EXPECT_EQ(QNNumberFormatter::provider(), QNNumberFormatter::defaultProvider());
    EXPECT_EQ(fmt(Value(5), u"MARK"), "MARK5") << "the default reads it as literal text";
    EXPECT_EQ(provider->locales().size(), 6u);
}

// Every thread formats through its own cache, with more pictures than it
// holds, and gets what one thread alone gets.
TEST_F(PictureFormat, ConcurrentFormattingMatchesOneThread) {
    std::vector<String> pictures;
    for (int i = 0; i < 40; ++i)
        pictures.push_back(i % 2 == 0
                               ? u"ZZZ,ZZ" + String(static_cast<std::size_t>(i % 5), u'9') + u".99"
                               : u"$ 999-99." + String(static_cast<std::size_t>(i % 7), u'Z'));
    const std::vector<Value> numbers = {dec("1234567.125"), Value(-42), Value(0.5),
                                        dec("-98765432109876543210.5")};
    std::vector<std::string> expected;
    for (const String& picture : pictures)
        for (const Value& number : numbers)
            expected.push_back(fmt(number, picture, true));

    std::vector<std::vector<std::string>> got(4);
    test::onThreads(4, [&](int t) {
        for (int round = 0; round < 3; ++round) {
            for (const String& picture : pictures) {
                for (const Value& number : numbers) {
                    const std::string text = fmt(number, picture, true);
                    if (round == 2) got[static_cast<std::size_t>(t)].push_back(text);
                }
            }
        }
    });
    for (const auto& texts : got)
        EXPECT_EQ(texts, expected);
}

}  // namespace
}  // namespace qn
