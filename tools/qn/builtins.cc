// `qn str`, `qn like`, `qn decimal`: the string and number built-ins from the
// shell, and the demo's section on them.

#include <qn/runtime.h>
#include <qn/util.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::String;
using qn::toUtf8;

namespace {

// A number argument as generated code would hold it: an integer when it is
// one, else a decimal (never through a double).
qn::Value numberArgument(const std::string& text) {
    qn::Decimal d = qn::Decimal::fromString(std::string_view(text));
    if (d.isNaN()) return qn::Value();
    if (d.isInteger() && d.exponent() >= 0) {
        auto i = d.toInt64();
        if (qn::Decimal(i) == d) return qn::Value(i);
    }
    return qn::Value(d);
}

bool integerArgument(const std::string& text, std::int64_t& out) {
    qn::Decimal d = qn::Decimal::fromString(std::string_view(text));
    if (d.isNaN() || !d.isInteger()) return false;
    out = d.toInt64();
    return true;
}

}  // namespace

int runStr(const std::vector<std::string>& args) {
    std::int64_t length = 10, decimals = 0;
    if (args.empty() || args.size() > 3 || (args.size() > 1 && !integerArgument(args[1], length)) ||
        (args.size() > 2 && !integerArgument(args[2], decimals))) {
        std::cerr << "usage: qn str NUMBER [LENGTH [DECIMALS]]\n";
        return 2;
    }
    qn::Value number = numberArgument(args[0]);
    if (number.isAbsent()) {
        std::cerr << "qn: '" << args[0] << "' is not a number\n";
        return 1;
    }
    std::cout << "[" << toUtf8(qn::QNutil::str(number, length, decimals)) << "]\n";
    return 0;
}

int runLike(const std::vector<std::string>& args) {
    bool escapes = true;
    std::vector<std::string> rest;
    for (const auto& a : args) {
        if (a == "--no-escape") {
            escapes = false;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2) {
        std::cerr << "usage: qn like SUBJECT PATTERN [--no-escape]\n";
        return 2;
    }
    bool like =
        qn::qnIsLikeStringUseEscapeCharacter(qn::fromUtf8(rest[0]), qn::fromUtf8(rest[1]), escapes);
    std::cout << (like ? "true" : "false") << "\n";
    return like ? 0 : 1;
}

int runDecimal(const std::vector<std::string>& args) {
    // One expression "a OP b" (OP one of + - * / ^), as one argument or three.
    std::string text;
    for (const auto& a : args)
        text += a;
    std::size_t op = std::string::npos;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        bool afterExponent = text[i - 1] == 'e' || text[i - 1] == 'E';
        if ((c == '+' || c == '-') && afterExponent) continue;
        if (c == '+' || c == '-' || c == '*' || c == '/' || c == '^') {
            op = i;
            break;
        }
    }
    if (op == std::string::npos) {
        std::cerr << "usage: qn decimal 'A OP B'   (OP: + - * / ^), e.g. qn decimal '1/3'\n";
        return 2;
    }
    qn::Decimal a = qn::Decimal::fromString(std::string_view(text).substr(0, op));
    qn::Decimal b = qn::Decimal::fromString(std::string_view(text).substr(op + 1));
    if (a.isNaN() || b.isNaN()) {
        std::cerr << "qn: not a number in '" << text << "'\n";
        return 1;
    }
    qn::Decimal result;
    switch (text[op]) {
        case '+':
            result = a + b;
            break;
        case '-':
            result = a - b;
            break;
        case '*':
            result = a * b;
            break;
        case '/':
            result = a / b;
            break;
        default:
            result = qn::qnDecimalToThePower(qn::Value(a), qn::Value(b)).decimalValue();
            break;
    }
    std::cout << result.toStdString() << "\n";
    return 0;
}

void showBuiltins(std::ostream& out) {
    auto row = [&out](const char* call, const String& result) {
        out << "   " << call << std::string(38 - qn::fromUtf8(call).size(), ' ') << "\""
            << toUtf8(result) << "\"\n";
    };
    row("str(12.5, 10, 2)", qn::QNutil::str(qn::Value(qn::Decimal::fromString("12.5")), 10, 2));
    row("str(1234.567, 6, 2)",
        qn::QNutil::str(qn::Value(qn::Decimal::fromString("1234.567")), 6, 2));
    row("str(123456, 3, 0)", qn::QNutil::str(qn::Value(123456), 3, 0));
    row("1 / 3", (qn::Decimal(1) / qn::Decimal(3)).toString());
    row("0.1 + 0.2", (qn::Decimal::fromString("0.1") + qn::Decimal::fromString("0.2")).toString());
    row("round(2.5, 0) half even / away",
        qn::qnRoundedToEvenDecimals(qn::Decimal::fromString("2.5"), 0).toString() + u" / " +
            qn::qnRoundedToDecimals(qn::Decimal::fromString("2.5"), 0).toString());
    row("substr('abcdef', 3, 2)", qn::qnSubstringFromLength(u"abcdef", 3, 2));
    row("padl('7', 3, '0')",
        qn::qnStringOfLengthByAppendingLeftOccurrencesOfString(u"7", 3, qn::StringView(u"0")));
    row("'Riverside' like 'River%'",
        qn::qnIsLikeString(u"Riverside", u"River%") ? u"true" : u"false");
    row("'50%' like '50\\%'", qn::qnIsLikeString(u"50%", u"50\\%") ? u"true" : u"false");
    row("format('%1-%2', 'a', 1)", qn::QNutil::format(u"%1-%2", qn::Value(u"a"), qn::Value(1)));
    row("removeDiacritics('Montevid\xc3\xa9o')",
        qn::qnStringByRemovingDiacritics(u"Montevid\u00e9o"));
}

}  // namespace qntool
