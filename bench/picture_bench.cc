// Picture formatting beside ICU's number formatter doing the same work: one
// LocalizedNumberFormatter built once with the settings the picture stands
// for, formatting the same decimal text into a String. The difference is
// what a call costs around ICU: the current language's locale, the
// formatter looked up for the picture, the padding.
#include <benchmark/benchmark.h>
#include <qn/host.h>
#include <qn/util.h>
#include <unicode/decimfmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace number = icu::number;

// A bundle whose current language is Spanish (Uruguay): "." groups and ","
// separates decimals.
struct PictureBundle {
    PictureBundle() {
        root = std::filesystem::temp_directory_path() /
               ("qn-bench-picture-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        std::ofstream(root / "model.json")
            << R"({"defaultLanguage": "Spanish", "languages": [{"name": "Spanish",
                 "culture": "es_UY", "languageCode": "es", "countryCode": "UY"}]})";
    }
    ~PictureBundle() { std::filesystem::remove_all(root); }
    std::filesystem::path root;
};

// Installs the bundle for one benchmark and puts the previous one back.
class UsingPictureBundle {
public:
    UsingPictureBundle() : previous_(qn::QNBundle::mainBundle()->bundlePath()) {
        static PictureBundle bundle;
        qn::QNBundle::setMainBundlePath(bundle.root);
    }
    ~UsingPictureBundle() { qn::QNBundle::setMainBundlePath(previous_); }

private:
    std::filesystem::path previous_;
};

const qn::String kPicture = u"ZZZ,ZZZ,ZZ9.99";
// What the picture stands for in ICU's terms.
const char16_t kIcuPattern[] = u"#,##0.00";

// Amounts with two to six decimals, so rounding happens.
std::vector<qn::Decimal> amounts() {
    std::vector<qn::Decimal> out;
    for (int i = 0; i < 100; ++i)
        out.push_back(qn::Decimal::fromString(std::to_string(i * 7919 % 1000003) + "." +
                                              std::to_string(125 + i * 37)));
    return out;
}

void BM_FormatNumberDecimal_Qn(benchmark::State& state) {
    UsingPictureBundle bundle;
    std::vector<qn::Value> values;
    for (const qn::Decimal& d : amounts())
        values.emplace_back(d);
    for (auto _ : state) {
        for (const qn::Value& value : values)
            benchmark::DoNotOptimize(qn::QNutil::formatNumber(value, kPicture, true));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FormatNumberDecimal_Qn);

// The formatter the provider answers for the picture and locale, used
// directly: formatNumber without the current language's lookup (three
// locks and three shared references in the host) and the padding.
void BM_FormatNumberDecimal_QnFormatterOnly(benchmark::State& state) {
    std::vector<qn::Value> values;
    for (const qn::Decimal& d : amounts())
        values.emplace_back(d);
    const auto formatter =
        qn::QNNumberFormatter::numberFormatterForQNPictureLocaleIdNumberHasDecimals(
            kPicture, std::string_view("es_UY"), true);
    for (auto _ : state) {
        for (const qn::Value& value : values)
            benchmark::DoNotOptimize(formatter->stringFromNumber(value));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FormatNumberDecimal_QnFormatterOnly);

void BM_FormatNumberDecimal_RawIcu(benchmark::State& state) {
    std::vector<std::string> texts;
    for (const qn::Decimal& d : amounts())
        texts.push_back(d.toStdString());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale("es_UY");
    icu::DecimalFormat pattern(icu::UnicodeString(kIcuPattern),
                               new icu::DecimalFormatSymbols(locale, status), status);
    const number::LocalizedNumberFormatter formatter =
        pattern.toNumberFormatter(status)->roundingMode(UNUM_ROUND_HALFUP).sign(UNUM_SIGN_NEGATIVE);
    if (U_FAILURE(status)) state.SkipWithError(u_errorName(status));
    for (auto _ : state) {
        for (const std::string& text : texts) {
            const icu::UnicodeString out =
                formatter.formatDecimal(icu::StringPiece(text), status).toString(status);
            benchmark::DoNotOptimize(
                qn::String(out.getBuffer(), static_cast<std::size_t>(out.length())));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_FormatNumberDecimal_RawIcu);

// A new ICU formatter for every call: what the per-thread cache saves.
void BM_FormatNumberDecimal_RawIcuUncached(benchmark::State& state) {
    std::vector<std::string> texts;
    for (const qn::Decimal& d : amounts())
        texts.push_back(d.toStdString());
    const icu::Locale locale("es_UY");
    for (auto _ : state) {
        for (const std::string& text : texts) {
            UErrorCode status = U_ZERO_ERROR;
            icu::DecimalFormat pattern(icu::UnicodeString(kIcuPattern),
                                       new icu::DecimalFormatSymbols(locale, status), status);
            const icu::UnicodeString out = pattern.toNumberFormatter(status)
                                               ->roundingMode(UNUM_ROUND_HALFUP)
                                               .formatDecimal(icu::StringPiece(text), status)
                                               .toString(status);
            benchmark::DoNotOptimize(
                qn::String(out.getBuffer(), static_cast<std::size_t>(out.length())));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_FormatNumberDecimal_RawIcuUncached);

}  // namespace
