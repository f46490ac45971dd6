// Arbitrary bytes through the JSON reader. Besides never crashing, a result
// must be self-consistent: a value or an error text, containers no deeper
// than the limit, no not-a-number Decimal, and the UTF-16 entry point must
// agree with the UTF-8 one on any well-formed UTF-8 input.

#include <qn/data.h>

#include <algorithm>
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

    if (qn::isValidUtf8(text)) {
        std::string error16;
        const std::optional<qn::Value> value16 = qn::QNJSON::parse(qn::fromUtf8(text), &error16);
        check(value.has_value() == value16.has_value());
        check(!value || *value == *value16);
        check(error == error16);
    }
    return 0;
}
