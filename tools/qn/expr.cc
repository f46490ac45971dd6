// `qn eval`: one expression through the expression evaluator, with variables
// from the command line; and the demo's section on expressions.

#include <qn/expr.h>

#include <iomanip>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNExpressionObject;
using qn::String;
using qn::toUtf8;

namespace {

int usageError(const std::string& message) {
    std::cerr << "qn eval: " << message << "\n"
              << "usage: qn eval 'EXPRESSION' [NAME=VALUE ...]\n";
    return 2;
}

// "error <code>: <description>" for a failed evaluation, else the value.
std::string outcome(QNExpressionObject& expression, const qn::Decimal& value) {
    if (expression.errCode() == 0) return value.toStdString();
    return "error " + std::to_string(expression.errCode()) + ": " +
           toUtf8(expression.errDescription());
}

}  // namespace

int runEval(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("an expression is needed");
    auto expression = QNExpressionObject::init();
    expression->setExpression(qn::fromUtf8(args[0]));
    for (std::size_t i = 1; i < args.size(); ++i) {
        // The first "=" ends the name, so a value may hold "=" itself.
        const std::size_t equals = args[i].find('=');
        if (equals == std::string::npos || equals == 0)
            return usageError("a variable is NAME=VALUE, not '" + args[i] + "'");
        expression->variables()->set(qn::fromUtf8(args[i].substr(0, equals)),
                                     qn::fromUtf8(args[i].substr(equals + 1)));
    }
    const qn::Decimal value = expression->evaluate();
    if (expression->errCode() != 0) {
        std::cerr << outcome(*expression, value) << "\n";
        return 1;
    }
    std::cout << value.toStdString() << "\n";
    return 0;
}

void showExpressions(std::ostream& out) {
    struct Example {
        const char16_t* text;
        const char* note;
    };
    // clang-format off
    const Example examples[] = {
        {u"2+3*4",                                "* before +"},
        {u"10-5-2",                               "a level groups from the right: 10-(5-2)"},
        {u"1<2+3",                                "comparisons bind tightest: (1<2)+3"},
        {u"0.1+0.2",                              "exact decimals"},
        {u"1/3",                                  "38 significant digits"},
        {u"Price * qty",                          "variables in any case"},
        {u"iif(QTY > 2, price * 0.9, price)",     "10% off from three on"},
        {u"max(price, 1000) + min(qty, 2)",       ""},
        {u"round(2.5) + floor(-2.5) + abs(-4)",   "halves away from zero, floor down"},
        {u"1/0",                                  "a failure answers 0"},
        {u"sqrt 4",                               ""},
    };
    // clang-format on
    auto expression = QNExpressionObject::init();
    // Keys are matched whatever their case, and so are the names in the text.
    expression->variables()->set(u"PRICE", u"1250.50");
    expression->variables()->set(u"Qty", u"3");
    out << "   variables: PRICE = 1250.50, Qty = 3\n";
    for (const Example& example : examples) {
        expression->setExpression(example.text);
        const qn::Decimal value = expression->evaluate();
        out << "   " << std::left << std::setw(36) << toUtf8(example.text) << " -> "
            << outcome(*expression, value);
        if (*example.note != '\0') out << "   (" << example.note << ")";
        out << "\n";
    }
}

}  // namespace qntool
