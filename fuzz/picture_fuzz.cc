// Arbitrary bytes as a picture and a number (the text before and after the
// first NUL byte; the byte after the last NUL picks hasDecimals), formatted
// as an Int, a Decimal and a Double. Beyond "no crash, no hang", what
// callers rely on is checked: the text is never shorter than the picture,
// an absent number gives "", and no digit of an integer is lost: its
// digits appear, in order, in the text (there is no bundle, so ICU's root
// locale writes ASCII digits).
#include <qn/util.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// Bigger pictures only repeat what smaller ones exercise.
constexpr std::size_t kMaxInput = 4096;

bool digitsKept(std::int64_t value, const qn::String& text) {
    std::string digits = std::to_string(value);
    if (value < 0) digits.erase(0, 1);
    std::size_t next = 0;
    for (char16_t c : text)
        if (next < digits.size() && c == static_cast<char16_t>(digits[next])) ++next;
    return next == digits.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const qn::String picture = qn::fromUtf8(input.substr(0, nul));
    std::string_view numberText = nul == std::string_view::npos ? "" : input.substr(nul + 1);
    bool hasDecimals = false;
    if (const std::size_t flag = numberText.find('\0'); flag != std::string_view::npos) {
        hasDecimals = flag + 1 < numberText.size() && (numberText[flag + 1] & 1) != 0;
        numberText = numberText.substr(0, flag);
    }
    const qn::Decimal number = qn::Decimal::fromString(numberText);

    const qn::Value values[] = {qn::Value(number), qn::Value(number.toInt64()),
                                qn::Value(number.toDouble()), qn::Value(!number.isZero())};
    for (const qn::Value& value : values) {
        const qn::String text = qn::QNutil::formatNumber(value, picture, hasDecimals);
        check(text.size() >= picture.size());
        if (value.isInt()) check(digitsKept(value.integerValue(), text));
    }
    check(qn::QNutil::formatNumber(qn::Value(), picture, hasDecimals).empty());
    return 0;
}
