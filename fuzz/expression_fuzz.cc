// Arbitrary bytes, read as UTF-8, through the expression evaluator with a
// numeric, a mixed-case and a non-numeric variable. Beyond "no crash", the
// contract callers rely on is checked and traps when broken:
// - an error code from 0 to 5, with a description exactly when it is not 0;
//   a failure answers 0 and a success is a number;
// - evaluating again, or on a fresh object with the letters in upper case,
//   gives the same value and error (the text is lower-cased first, and no
//   state leaks between evaluations or objects);
// - tokenize() fails exactly when evaluate() fails on an unknown token, with
//   the same error, and its tokens are the normalised text in order with
//   only spaces between them.

#include <qn/expr.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using qn::Decimal;
using qn::QNExpressionObject;
using qn::String;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// The same value in the same form (1.0 and 1 compare equal but differ).
bool identical(const Decimal& a, const Decimal& b) {
    return a.isNaN() == b.isNaN() && a.isNegative() == b.isNegative() &&
           a.coefficient() == b.coefficient() && a.exponent() == b.exponent();
}

qn::Ref<QNExpressionObject> evaluator(String expression) {
    auto object = QNExpressionObject::init();
    object->setExpression(std::move(expression));
    object->variables()->set(u"a", u"12");
    object->variables()->set(u"Rate", u"1.21");
    object->variables()->set(u"name", u"Ana");
    return object;
}

struct Outcome {
    Decimal value;
    std::int64_t code;
    String description;
};

Outcome evaluate(QNExpressionObject& object) {
    const Decimal value = object.evaluate();
    return {value, object.errCode(), object.errDescription()};
}

bool same(const Outcome& a, const Outcome& b) {
    return identical(a.value, b.value) && a.code == b.code && a.description == b.description;
}

String asciiUpper(String text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return text;
}

bool startsWith(const String& text, std::u16string_view prefix) {
    return text.size() >= prefix.size() &&
           std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

// The tokens are the normalised text cut at runs of spaces and between
// tokens, in order, none empty.
bool layoutMatches(const String& normalized, const std::vector<qn::QNExpressionToken>& tokens) {
    std::size_t at = 0;
    auto skipSpaces = [&] {
        while (at < normalized.size() && normalized[at] == u' ')
            ++at;
    };
    for (const auto& token : tokens) {
        skipSpaces();
        if (token.token.empty() || normalized.compare(at, token.token.size(), token.token) != 0)
            return false;
        at += token.token.size();
    }
    skipSpaces();
    return at == normalized.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const String expression =
        qn::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    auto object = evaluator(expression);

    const Outcome first = evaluate(*object);
    check(first.code >= 0 && first.code <= 5);
    check((first.code == 0) == first.description.empty());
    if (first.code == 0) {
        check(!first.value.isNaN());
    } else {
        check(first.value.isZero() && !first.value.isNaN());
    }

    check(same(evaluate(*object), first));
    check(same(evaluate(*evaluator(asciiUpper(expression))), first));

    const std::optional<std::vector<qn::QNExpressionToken>> tokens = object->tokenize();
    const bool unknownToken = first.code == 3 && startsWith(first.description, u"Unknown token: ");
    check(tokens.has_value() == !unknownToken);
    if (tokens) {
        check(object->errCode() == 0 && object->errDescription().empty());
        check(layoutMatches(QNExpressionObject::normalizedExpression(expression), *tokens));
    } else {
        check(object->errCode() == first.code && object->errDescription() == first.description);
    }
    return 0;
}
