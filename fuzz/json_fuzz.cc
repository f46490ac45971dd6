// Arbitrary bytes through the JSON reader. Besides never crashing, a result
// must be self-consistent: a value or an error text, containers no deeper
// than the limit, no not-a-number Decimal, and the UTF-16 entry point must
// agree with the UTF-8 one on any well-formed UTF-8 input.
//
// And through the writer: any parsed value generates (never fails), as
// valid UTF-8, text that parses back to an equal value (an infinity, which
// JSON cannot hold, comes back as null), with keys in the same order, and
// the UTF-16 generator agrees.

#include <qn/data.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// Depth of the deepest container (1 for a flat array or dictionary).
int depthOf(const qn::Value& value) {
    int deepest = 0;
    if (const qn::Array* array = value.asArray()) {
        for (const qn::Value& item : *array) {
            check(!item.isAbsent());
            deepest = std::max(deepest, depthOf(item));
        }
        return deepest + 1;
    }
    if (const qn::Dictionary* dictionary = value.asDictionary()) {
        for (const auto& [key, item] : *dictionary) {
            check(!item.isAbsent());
            deepest = std::max(deepest, depthOf(item));
        }
        return deepest + 1;
    }
    check(!value.isDecimal() || !value.decimalValue().isNaN());
    return 0;
}

// `back` is `original` written and read again.
bool sameAfterRoundTrip(const qn::Value& original, const qn::Value& back) {
    if (original.isDouble() && !std::isfinite(original.doubleValue())) return back.isNull();
    if (const qn::Array* array = original.asArray()) {
        const qn::Array* other = back.asArray();
        if (other == nullptr || other->size() != array->size()) return false;
        for (std::size_t i = 0; i < array->size(); ++i)
            if (!sameAfterRoundTrip(array->at(i), other->at(i))) return false;
        return true;
    }
    if (const qn::Dictionary* dictionary = original.asDictionary()) {
        const qn::Dictionary* other = back.asDictionary();
        if (other == nullptr || other->size() != dictionary->size()) return false;
        // Document order is kept.
        for (std::size_t i = 0; i < dictionary->size(); ++i) {
            const auto& [key, item] = dictionary->entries()[i];
            const auto& [otherKey, otherItem] = other->entries()[i];
            if (key != otherKey || !sameAfterRoundTrip(item, otherItem)) return false;
        }
        return true;
    }
    return original == back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<qn::Value> value = qn::QNJSON::parse(text, &error);
    if (!value) {
        check(!error.empty());
    } else {
        check(error.empty() && !value->isAbsent());
        check(depthOf(*value) <= qn::QNJSON::kMaxDepth);
    }

    if (value) {
        std::string generateError;
        const std::optional<std::string> generated =
            qn::QNJSON::generateUtf8(*value, &generateError);
        check(generated.has_value() && generateError.empty());
        check(qn::isValidUtf8(*generated));
        const std::optional<qn::Value> back = qn::QNJSON::parse(*generated);
        check(back.has_value() && sameAfterRoundTrip(*value, *back));
        // From there on the text is a fixed point (the first round may
        // change a number's kind and so its text: -0.0 writes "-0", which
        // reads as the Int 0).
        const std::optional<std::string> again = qn::QNJSON::generateUtf8(*back);
        check(again.has_value());
        check(qn::QNJSON::generateUtf8(qn::QNJSON::parse(*again).value()) == again);
        check(qn::QNJSON::generate(*value) == qn::fromUtf8(*generated));
    }

    if (qn::isValidUtf8(text)) {
        std::string error16;
        const std::optional<qn::Value> value16 = qn::QNJSON::parse(qn::fromUtf8(text), &error16);
        check(value.has_value() == value16.has_value());
        check(!value || *value == *value16);
        check(error == error16);
    }
    return 0;
}
