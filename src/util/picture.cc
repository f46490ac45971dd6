// Picture formatting of numbers on ICU's number formatter.
//
// A picture is read once into the settings of an ICU decimal pattern: how
// many integer digits are always written, where groups break, how many
// fraction digits are written at least and at most, and the literal text
// before and after the number (as ICU affixes, so a minus sign comes before
// a leading "$" as in the locale's own patterns). ICU then makes every digit
// and does the rounding, from the number's exact decimal text, never through
// a double. Literals between digit positions ("999-99-9999") are beyond what
// an ICU pattern can say: for those ICU still makes the digits, and they are
// laid into the picture's positions here.
#include <qn/util/picture.h>

#include <qn/host/model.h>
#include <qn/util/qnutil.h>

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/formattedvalue.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qn {
namespace {

namespace number = icu::number;
constexpr std::size_t npos = String::npos;

bool isDigitPosition(char16_t c) noexcept {
    return c == u'9' || c == u'Z' || c == u'z' || c == u'#';
}

// A picture, read.
struct Picture {
    String prefix;  // literal text before the first digit position
    String suffix;  // literal text after the last one
    // From the first digit position (or a "." just before it) to the last.
    String body;
    std::size_t point = npos;  // the decimal point within body
    int integerPositions = 0;
    int requiredInteger = 0;  // positions from the first "9" on, zero-filled
    int fractionPositions = 0;
    int requiredFraction = 0;  // fraction positions up to the last "9"
    bool grouping = false;     // a "," among the integer positions
    bool interior = false;     // literal text among the digit positions
};

Picture readPicture(StringView picture) {
    Picture p;
    std::size_t first = npos;
    std::size_t last = npos;
    for (std::size_t i = 0; i < picture.size(); ++i) {
        if (!isDigitPosition(picture[i])) continue;
        if (first == npos) first = i;
        last = i;
    }
    if (first == npos) {
        p.prefix = String(picture);
        return p;
    }
    if (first > 0 && picture[first - 1] == u'.') --first;  // ".99"
    p.prefix = String(picture.substr(0, first));
    p.suffix = String(picture.substr(last + 1));
    p.body = String(picture.substr(first, last + 1 - first));
    p.point = p.body.find(u'.');

    const std::size_t integerEnd = p.point == npos ? p.body.size() : p.point;
    bool required = false;
    for (std::size_t i = 0; i < integerEnd; ++i) {
        const char16_t c = p.body[i];
        if (isDigitPosition(c)) {
            ++p.integerPositions;
            // A zero is written in every position after the first "9" too:
            // a suppressed zero cannot follow a written digit.
            required = required || c == u'9';
            p.requiredInteger += required ? 1 : 0;
        } else if (c == u',') {
            p.grouping = true;
        } else {
            p.interior = true;
        }
    }
    if (p.point != npos) {
        for (std::size_t i = p.point + 1; i < p.body.size(); ++i) {
            const char16_t c = p.body[i];
            if (isDigitPosition(c)) {
                ++p.fractionPositions;
                if (c == u'9') p.requiredFraction = p.fractionPositions;
            } else {
                p.interior = true;
            }
        }
    }
    return p;
}

// An affix of an ICU pattern: the text in quotes, so that no character of
// it ("%", "-", "#", ...) has its pattern meaning.
void appendQuoted(icu::UnicodeString& pattern, StringView text) {
    if (text.empty()) return;
    pattern.append(u'\'');
    for (char16_t c : text) {
        if (c == u'\'') pattern.append(u'\'');
        pattern.append(c);
    }
    pattern.append(u'\'');
}

// The ICU pattern of a picture. With literals among the positions, the
// digits are made without grouping and laid out afterwards.
icu::UnicodeString patternOf(const Picture& p) {
    icu::UnicodeString pattern;
    appendQuoted(pattern, p.prefix);
    if (p.body.empty()) {
        pattern.append(u'0');
    } else if (p.integerPositions == 0) {
        pattern.append(u'#');
    } else {
        const std::size_t integerEnd = p.point == npos ? p.body.size() : p.point;
        int position = 0;
        bool comma = false;
        for (std::size_t i = 0; i < integerEnd; ++i) {
            const char16_t c = p.body[i];
            if (c == u',') {
                comma = !p.interior && position > 0;
            } else if (isDigitPosition(c)) {
                if (comma) pattern.append(u',');
                comma = false;
                const bool required = position >= p.integerPositions - p.requiredInteger;
                pattern.append(required ? u'0' : u'#');
                ++position;
            }
        }
    }
    if (p.fractionPositions > 0) {
        pattern.append(u'.');
        for (int i = 0; i < p.fractionPositions; ++i)
            pattern.append(i < p.requiredFraction ? u'0' : u'#');
    }
    appendQuoted(pattern, p.suffix);
    return pattern;
}

String toString(const icu::UnicodeString& text, std::size_t capacity = 0) {
    String out;
    out.reserve(std::max(capacity, static_cast<std::size_t>(text.length())));
    out.assign(text.getBuffer(), static_cast<std::size_t>(text.length()));
    return out;
}

// The code points of a text, each as a view into it.
std::vector<StringView> codePoints(StringView text) {
    std::vector<StringView> out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t width =
            U16_IS_LEAD(text[i]) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1]) ? 2 : 1;
        out.push_back(text.substr(i, width));
        i += width;
    }
    return out;
}

// One picture in one locale, on ICU. Immutable once made.
class IcuPictureFormatter final : public QNNumberPictureFormatter {
public:
    // Null when ICU cannot make a formatter of the picture (a picture of
    // more digit positions than ICU takes).
    static std::shared_ptr<const IcuPictureFormatter> make(StringView picture,
                                                           std::optional<std::string_view> localeId,
                                                           bool hasDecimals) {
        auto made = std::shared_ptr<IcuPictureFormatter>(new IcuPictureFormatter);
        made->picture_ = readPicture(picture);
        made->pictureLength_ = picture.size();
        const icu::Locale locale =
            localeId ? icu::Locale(std::string(*localeId).c_str()) : icu::Locale::getRoot();
        UErrorCode status = U_ZERO_ERROR;
        auto symbols = std::make_unique<icu::DecimalFormatSymbols>(
            locale.isBogus() ? icu::Locale::getRoot() : locale, status);
        if (U_FAILURE(status)) return nullptr;
        made->groupingSymbol_ =
            toString(symbols->getConstSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
        made->decimalSymbol_ =
            toString(symbols->getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));

        // The pattern formatter is kept: the number formatter made from it
        // reads its affixes.
        made->pattern_ = std::make_unique<icu::DecimalFormat>(patternOf(made->picture_),
                                                              symbols.release(), status);
        if (U_FAILURE(status)) return nullptr;
        const number::LocalizedNumberFormatter* base = made->pattern_->toNumberFormatter(status);
        if (U_FAILURE(status) || base == nullptr) return nullptr;
        // Half away from zero, not ICU's half-even; no "-0" for a negative
        // number that rounds to zero.
        made->formatter_ = base->roundingMode(UNUM_ROUND_HALFUP).sign(UNUM_SIGN_NEGATIVE);
        if (made->picture_.fractionPositions == 0) {
            made->formatter_ = made->formatter_.precision(
                hasDecimals ? number::Precision(number::Precision::unlimited())
                            : number::Precision(number::Precision::integer()));
        }
        return made;
    }

    std::optional<String> stringFromNumber(const Value& value) const override {
        UErrorCode status = U_ZERO_ERROR;
        number::FormattedNumber result;
        switch (value.kind()) {
            case ValueKind::kBool:
            case ValueKind::kInt:
                result = formatter_.formatInt(value.integerValue(), status);
                break;
            case ValueKind::kDouble: {
                const double d = value.doubleValue();
                if (!std::isfinite(d)) {
                    result = formatter_.formatDouble(d, status);
                    break;
                }
                // The shortest text that reads back as the same double.
                char buffer[32];
                const auto end = std::to_chars(buffer, buffer + sizeof buffer, d);
                result = formatter_.formatDecimal(
                    icu::StringPiece(buffer, static_cast<std::int32_t>(end.ptr - buffer)), status);
                break;
            }
            case ValueKind::kDecimal: {
                const Decimal d = value.decimalValue();
                if (d.isNaN()) {
                    result =
                        formatter_.formatDouble(std::numeric_limits<double>::quiet_NaN(), status);
                    break;
                }
                char buffer[Decimal::kMaxTextLength];
                const std::size_t length = d.toChars(buffer);
                result = formatter_.formatDecimal(
                    icu::StringPiece(buffer, static_cast<std::int32_t>(length)), status);
                break;
            }
            default:
                return std::nullopt;
        }
        icu::UnicodeString text = result.toTempString(status);
        if (U_FAILURE(status)) return std::nullopt;
        if (picture_.interior) layOut(result, text);
        // Room for formatNumber's padding, so it need not move the text.
        return toString(text, pictureLength_);
    }

private:
    IcuPictureFormatter() = default;

    // Puts the digits of ICU's text into the picture's positions, in place
    // of ICU's number part (its sign and affixes stay). Integer digits fill
    // positions from the right, fraction digits from the left; a literal is
    // written only between written digits, so suppressed leading positions
    // take their literals with them. Digits beyond the positions are kept:
    // extra integer digits go in front, extra fraction digits at the end.
    void layOut(const number::FormattedNumber& result, icu::UnicodeString& text) const {
        UErrorCode status = U_ZERO_ERROR;
        icu::ConstrainedFieldPosition field;
        field.constrainCategory(UFIELD_CATEGORY_NUMBER);
        std::int32_t start = std::numeric_limits<std::int32_t>::max();
        std::int32_t limit = -1;
        StringView integer;
        StringView fraction;
        const StringView all(text.getBuffer(), static_cast<std::size_t>(text.length()));
        while (result.nextPosition(field, status) && U_SUCCESS(status)) {
            const std::int32_t id = field.getField();
            if (id != UNUM_INTEGER_FIELD && id != UNUM_FRACTION_FIELD &&
                id != UNUM_DECIMAL_SEPARATOR_FIELD)
                continue;
            start = std::min(start, field.getStart());
            limit = std::max(limit, field.getLimit());
            const StringView piece =
                all.substr(static_cast<std::size_t>(field.getStart()),
                           static_cast<std::size_t>(field.getLimit() - field.getStart()));
            if (id == UNUM_INTEGER_FIELD) integer = piece;
            if (id == UNUM_FRACTION_FIELD) fraction = piece;
        }
        if (U_FAILURE(status) || limit < 0) return;  // not a finite number: ICU's text

        const std::vector<StringView> integerDigits = codePoints(integer);
        const std::vector<StringView> fractionDigits = codePoints(fraction);
        const String& body = picture_.body;
        const std::size_t integerEnd = picture_.point == npos ? body.size() : picture_.point;

        std::vector<StringView> reversed;  // the integer positions, right to left
        std::size_t left = integerDigits.size();
        for (std::size_t i = integerEnd; i-- > 0;) {
            const char16_t c = body[i];
            if (isDigitPosition(c)) {
                if (left > 0) reversed.push_back(integerDigits[--left]);
            } else if (left > 0) {
                reversed.push_back(c == u',' ? StringView(groupingSymbol_)
                                             : StringView(body).substr(i, 1));
            }
        }
        String out;
        for (std::size_t i = 0; i < left; ++i)
            out += integerDigits[i];
        for (auto it = reversed.rbegin(); it != reversed.rend(); ++it)
            out += *it;

        if (!fractionDigits.empty()) {
            out += decimalSymbol_;
            std::size_t next = 0;
            if (picture_.point != npos) {
                for (std::size_t i = picture_.point + 1; i < body.size(); ++i) {
                    if (next == fractionDigits.size()) break;
                    const char16_t c = body[i];
                    if (isDigitPosition(c))
                        out += fractionDigits[next++];
                    else
                        out +=
                            c == u',' ? StringView(groupingSymbol_) : StringView(body).substr(i, 1);
                }
            }
            for (; next < fractionDigits.size(); ++next)
                out += fractionDigits[next];
        }
        text.replace(start, limit - start, out.data(), static_cast<std::int32_t>(out.size()));
    }

    Picture picture_;
    std::size_t pictureLength_ = 0;
    String groupingSymbol_;
    String decimalSymbol_;
    std::unique_ptr<icu::DecimalFormat> pattern_;
    number::LocalizedNumberFormatter formatter_;
};

// Formatters kept per thread, most recently used first: enough for the
// handful of pictures a screen alternates between. Looking one up costs a
// few comparisons and no allocation; building one costs about fifty
// formatting calls. Not core/pattern_cache.h: its key is one text, and
// joining picture and locale into one on every call cost a fifth of the
// whole call.
constexpr std::size_t kCacheCapacity = 16;
// Longer pictures are built for the call only, so a huge picture cannot pin
// memory in every thread.
constexpr std::size_t kMaxCachedPictureLength = 256;

class FormatterCache {
public:
    // The slot's formatter: valid until the thread's next call.
    const std::shared_ptr<const QNNumberPictureFormatter>& get(
        StringView picture, std::optional<std::string_view> localeId, bool hasDecimals) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const Slot& slot = slots_[i];
            if (slot.hasDecimals != hasDecimals || slot.picture != picture ||
                slot.hasLocale != localeId.has_value() || (localeId && slot.locale != *localeId))
                continue;
            if (i > 0)
                std::rotate(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(i),
                            slots_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return slots_.front().formatter;
        }
        // Built completely before it joins, so a failure leaves no half-made
        // entry; a picture ICU cannot take is remembered as none.
        Slot fresh{String(picture), localeId ? std::string(*localeId) : std::string(),
                   localeId.has_value(), hasDecimals,
                   IcuPictureFormatter::make(picture, localeId, hasDecimals)};
        if (slots_.size() >= kCacheCapacity) slots_.pop_back();
        slots_.insert(slots_.begin(), std::move(fresh));
        return slots_.front().formatter;
    }

private:
    struct Slot {
        String picture;
        std::string locale;
        bool hasLocale;
        bool hasDecimals;
        std::shared_ptr<const QNNumberPictureFormatter> formatter;
    };
    std::vector<Slot> slots_;
};

FormatterCache& threadCache() {
    thread_local FormatterCache cache;
    return cache;
}

class IcuFormatterProvider final : public QNNumberFormatterProvider {
public:
    std::shared_ptr<const QNNumberPictureFormatter>
    numberFormatterForQNPictureLocaleIdNumberHasDecimals(StringView picture,
                                                         std::optional<std::string_view> localeId,
                                                         bool hasDecimals) override {
        if (picture.size() > kMaxCachedPictureLength)
            return IcuPictureFormatter::make(picture, localeId, hasDecimals);
        return threadCache().get(picture, localeId, hasDecimals);
    }
};

struct ProviderState {
    std::mutex mutex;
    std::shared_ptr<QNNumberFormatterProvider> current = QNNumberFormatter::defaultProvider();
    // Whether `current` is the default, readable without the lock: the
    // common case then takes no lock and no reference counts.
    std::atomic<bool> usingDefault{true};
};

ProviderState& providerState() {
    static ProviderState state;
    return state;
}

}  // namespace

std::shared_ptr<QNNumberFormatterProvider> QNNumberFormatter::defaultProvider() {
    static const auto provider = std::make_shared<IcuFormatterProvider>();
    return provider;
}

std::shared_ptr<QNNumberFormatterProvider> QNNumberFormatter::provider() {
    auto& state = providerState();
    std::lock_guard lock(state.mutex);
    return state.current;
}

std::shared_ptr<QNNumberFormatterProvider> QNNumberFormatter::setProvider(
    std::shared_ptr<QNNumberFormatterProvider> provider) {
    if (!provider) provider = defaultProvider();
    auto& state = providerState();
    std::shared_ptr<QNNumberFormatterProvider> previous;
    {
        std::lock_guard lock(state.mutex);
        state.usingDefault.store(provider == defaultProvider(), std::memory_order_release);
        previous = std::exchange(state.current, std::move(provider));
    }
    // Released outside the lock: its destructor may be the application's.
    return previous;
}

std::shared_ptr<const QNNumberPictureFormatter>
QNNumberFormatter::numberFormatterForQNPictureLocaleIdNumberHasDecimals(
    StringView picture, std::optional<std::string_view> localeId, bool hasDecimals) {
    return provider()->numberFormatterForQNPictureLocaleIdNumberHasDecimals(picture, localeId,
                                                                            hasDecimals);
}

String QNutil::formatChar(StringView text, StringView /*picture*/) {
    return String(text);
}

String QNutil::formatNumber(const Value& number, StringView picture, bool hasDecimals) {
    if (number.isAbsentOrNull()) return String();
    String text;
    if (number.isNumber()) {
        const std::optional<std::string> locale = QNResources::currentLanguageLocale();
        const std::optional<std::string_view> localeId =
            locale ? std::optional<std::string_view>(*locale) : std::nullopt;
        // The default provider's formatter straight from the thread's cache;
        // `own` holds one that no cache keeps.
        std::shared_ptr<const QNNumberPictureFormatter> own;
        const QNNumberPictureFormatter* formatter = nullptr;
        if (!providerState().usingDefault.load(std::memory_order_acquire)) {
            own = QNNumberFormatter::numberFormatterForQNPictureLocaleIdNumberHasDecimals(
                picture, localeId, hasDecimals);
            formatter = own.get();
        } else if (picture.size() > kMaxCachedPictureLength) {
            own = IcuPictureFormatter::make(picture, localeId, hasDecimals);
            formatter = own.get();
        } else {
            formatter = threadCache().get(picture, localeId, hasDecimals).get();
        }
        if (formatter)
            text = formatter->stringFromNumber(number).value_or(String());
        else
            text = number.description();
    } else {
        text = number.description();
    }
    if (text.size() < picture.size()) text.insert(0, picture.size() - text.size(), u' ');
    return text;
}

}  // namespace qn
