#include <qn/expr.h>
#include <qn/host.h>

#include <cctype>
#include <iterator>

#include "support/test_support.h"

namespace qn {
namespace {

using Type = QNExpressionTokenType;

Decimal dec(std::string_view text) {
    return Decimal::fromString(text);
}

String repeated(std::u16string_view part, int count) {
    String out;
    for (int i = 0; i < count; ++i)
        out += part;
    return out;
}

Ref<QNProperties> props(std::initializer_list<std::pair<String, String>> pairs) {
    auto out = QNProperties::init();
    for (const auto& [key, value] : pairs)
        out->set(key, value);
    return out;
}

// Evaluates `text` on a fresh object and checks that it succeeds.
Decimal value(StringView text, Ref<QNProperties> variables = nullptr) {
    QNExpressionObject expr;
    expr.setVariables(std::move(variables));
    expr.setExpression(String(text));
    const Decimal result = expr.evaluate();
    EXPECT_EQ(expr.errCode(), 0) << toUtf8(text) << ": " << toUtf8(expr.errDescription());
    return result;
}

void expectValue(StringView text, std::string_view expected) {
    const Decimal result = value(text);
    EXPECT_EQ(result, dec(expected)) << toUtf8(text) << " gave " << result.toStdString();
}

// Evaluates `text` on a fresh object and checks the failure it reports.
void expectFailure(StringView text, std::int64_t code, StringView description,
                   Ref<QNProperties> variables = nullptr) {
    QNExpressionObject expr;
    expr.setVariables(std::move(variables));
    expr.setExpression(String(text));
    const Decimal result = expr.evaluate();
    EXPECT_EQ(expr.errCode(), code) << toUtf8(text);
    EXPECT_EQ(expr.errDescription(), description) << toUtf8(text);
    EXPECT_TRUE(result.isZero()) << toUtf8(text) << " answered " << result.toStdString();
}

TEST(ExpressionValues, OperatorsGroupByLevelAndFromTheRight) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"2+3*4", "14"},      {u"(2+3)*4", "20"},     {u"2*3+4", "10"},     {u"10-5-2", "7"},
        {u"8/4/2", "4"},       {u"1-2+3", "-4"},       {u"1<2+3", "4"},      {u"1+2=3", "1"},
        {u"3*2>1", "3"},       {u"3 > 2 > 1", "1"},    {u"1 | 0 & 0", "1"},  {u"1 & 2 > 1", "1"},
        {u"5 >= 5", "1"},      {u"4 <= 3", "0"},       {u"2 <> 3", "1"},     {u"2 != 2", "0"},
        {u"1 == 1", "1"},      {u"1 and 0", "0"},      {u"1 or 0", "1"},     {u"1 AND 1", "1"},
        {u"5 \u2265 5", "1"},  {u"4 \u2264 3", "0"},   {u"2 \u2260 3", "1"}, {u"-3+5", "2"},
        {u"2*-3", "-6"},       {u"2--3", "5"},         {u"-(2+3)", "-5"},    {u"-sqrt(4)", "-2"},
        {u"pi", "3.14159265"}, {u"PI*2", "6.2831853"}, {u"  7  ", "7"},      {u".5*2", "1"},
        {u"1e2+1", "101"},     {u"0.1+0.2", "0.3"},    {u"1e100/1e100", "1"}};
    for (const auto& [text, expected] : cases)
        expectValue(text, expected);
}

TEST(ExpressionValues, ExactFunctions) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"round(2.5)", "3"},
        {u"round(-2.5)", "-3"},
        {u"floor(-2.5)", "-3"},
        {u"floor(-3)", "-3"},
        {u"int(-2.7)", "-2"},
        {u"frac(-2.75)", "-0.75"},
        {u"abs(-4)", "4"},
        {u"pow(1.1, 2)", "1.21"},
        {u"pow(2,-1)", "0.5"},
        {u"pow(4,0.5)", "2"},
        {u"max(-1,-2)", "-1"},
        {u"min(-1,-2)", "-2"},
        {u"iif(1>2,10,20)", "20"},
        {u"iif(0.5,10,20)", "10"},
        {u"iif(-1,10,20)", "10"},
        {u"max(2,min(5,3))", "3"},
        // A not-a-number argument that is not chosen does no harm.
        {u"iif(-1>0, sqrt(-1), 7)", "7"},
        {u"iif(0, 1e999, 7)", "7"},
        // Exact beyond 64 bits.
        {u"int(-123456789012345678901234.5)", "-123456789012345678901234"},
        {u"frac(123456789012345678901234.5)", "0.5"}};
    for (const auto& [text, expected] : cases)
        expectValue(text, expected);
}

TEST(ExpressionValues, TranscendentalFunctionsGoThroughDouble) {
    using F = double (*)(double);
    const std::pair<const char16_t*, F> cases[] = {{u"sqrt", [](double x) { return std::sqrt(x); }},
                                                   {u"cos", [](double x) { return std::cos(x); }},
                                                   {u"sin", [](double x) { return std::sin(x); }},
                                                   {u"tan", [](double x) { return std::tan(x); }},
                                                   {u"acos", [](double x) { return std::acos(x); }},
                                                   {u"asin", [](double x) { return std::asin(x); }},
                                                   {u"atan", [](double x) { return std::atan(x); }},
                                                   {u"exp", [](double x) { return std::exp(x); }},
                                                   {u"ln", [](double x) { return std::log(x); }},
                                                   {u"log", [](double x) { return std::log(x); }}};
    for (const auto& [name, f] : cases) {
        const String text = String(name) + u"(0.5)";
        EXPECT_EQ(value(text), Decimal::fromDouble(f(0.5))) << toUtf8(text);
    }
}

TEST(ExpressionValues, DivisionKeeps38DigitsAndLongFlatExpressions) {
    EXPECT_EQ(value(u"1/3").toStdString(), "0." + std::string(38, '3'));
    EXPECT_EQ(value(u"2/3").toStdString(), "0." + std::string(37, '6') + "7");
    EXPECT_EQ(value(u"(1/3)*3").toStdString(), "0." + std::string(38, '9'));
    EXPECT_EQ(value(u"1/3*3").toStdString(), "0." + std::string(38, '1')) << "1/(3*3)";
    const int terms = 100000;
    EXPECT_EQ(value(u"1" + repeated(u"+1", terms - 1)), Decimal(terms));
    // Grouped from the right: 1-(1-(1-...)) alternates between 1 and 0.
    EXPECT_EQ(value(u"1" + repeated(u"-1", terms)), Decimal(1));
}

// The operator passes done literally: values travel as text, a list is split
// at the leftmost operator of the loosest level present and both sides are
// reduced by the whole sequence again. The library folds each level instead;
// the two must agree on every value and on the first failure.
struct Literal {
    struct Failure {
        std::int64_t code;
        std::string description;
    };
    enum Kind { kValue, kOperator, kOpen, kClose };
    struct Tok {
        Kind kind;
        std::string text;
    };
    using List = std::vector<Tok>;

    static std::string reduce(const List& in) {
        if (in.empty()) throw Failure{3, "Could not evaluate expression"};
        List list;
        for (std::size_t i = 0; i < in.size();) {
            if (in[i].kind != kOpen) {
                list.push_back(in[i++]);
                continue;
            }
            std::size_t j = i + 1;
            for (int depth = 0;; ++j) {
                if (j == in.size()) throw Failure{2, "Parameter error"};
                if (in[j].kind == kClose && depth == 0) break;
                depth += in[j].kind == kOpen ? 1 : in[j].kind == kClose ? -1 : 0;
            }
            list.push_back({kValue, reduce(List(in.begin() + i + 1, in.begin() + j))});
            i = j + 1;
        }
        List signed_;
        for (std::size_t i = 0; i < list.size();) {
            const bool unary = list[i].kind == kOperator && list[i].text == "-" &&
                               (i == 0 || list[i - 1].kind == kOperator);
            if (!unary) {
                signed_.push_back(list[i++]);
                continue;
            }
            if (i + 1 >= list.size() || list[i + 1].kind != kValue)
                throw Failure{3, "Found unary operator without value"};
            signed_.push_back({kValue, (dec(list[i + 1].text) * Decimal(-1)).toStdString()});
            i += 2;
        }
        for (std::string_view level : {"+-", "*/", "|", "&", "<>=\u2265\u2264\u2260"}) {
            for (std::size_t i = 0; i < signed_.size(); ++i) {
                if (signed_[i].kind != kOperator ||
                    level.find(signed_[i].text) == std::string_view::npos)
                    continue;
                if (i + 1 == signed_.size()) throw Failure{4, "Could not evaluate expression"};
                const Decimal a = dec(reduce(List(signed_.begin(), signed_.begin() + i)));
                const Decimal b = dec(reduce(List(signed_.begin() + i + 1, signed_.end())));
                return apply(signed_[i].text, a, b).toStdString();
            }
        }
        if (signed_.size() == 1 && signed_[0].kind == kValue) return signed_[0].text;
        throw Failure{4, "Could not evaluate expression"};
    }

    static Decimal apply(const std::string& op, const Decimal& a, const Decimal& b) {
        if (op == "+") return a + b;
        if (op == "-") return a - b;
        if (op == "*") return a * b;
        if (op == "/") {
            if (b.isZero()) throw Failure{4, "Divide by 0"};
            return a / b;
        }
        if (a.isNaN() || b.isNaN()) return Decimal::notANumber();
        const int c = a.compare(b);
        const bool r = op == "<"   ? c < 0
                       : op == "=" ? c == 0
                       : op == ">" ? c > 0
                       : op == "&" ? !a.isZero() && !b.isZero()
                                   : !a.isZero() || !b.isZero();
        return Decimal(r ? 1 : 0);
    }
};

TEST(ExpressionValues, AgreesWithTheLiteralPassesOnRandomLists) {
    const char* const alphabet[] = {"0", "1", "2", "3", "0.5", "+", "-", "*",
                                    "/", "<", ">", "=", "&",   "|", "(", ")"};
    std::uint64_t seed = 42;
    auto next = [&seed](std::uint64_t n) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (seed >> 33) % n;
    };
    QNExpressionObject expr;
    for (int round = 0; round < 4000; ++round) {
        Literal::List list;
        std::string text;
        const std::uint64_t length = 1 + next(11);
        for (std::uint64_t k = 0; k < length; ++k) {
            const std::string token = alphabet[next(std::size(alphabet))];
            const Literal::Kind kind = token == "("   ? Literal::kOpen
                                       : token == ")" ? Literal::kClose
                                       : std::isdigit(static_cast<unsigned char>(token[0]))
                                           ? Literal::kValue
                                           : Literal::kOperator;
            list.push_back({kind, token});
            text += token + " ";
        }
        std::int64_t code = 0;
        std::string want;
        try {
            want = Literal::reduce(list);
            if (dec(want).isNaN()) code = 4, want = "Could not evaluate expression";
        } catch (const Literal::Failure& f) {
            code = f.code;
            want = f.description;
        }
        expr.setExpression(fromUtf8(text));
        const Decimal got = expr.evaluate();
        ASSERT_EQ(expr.errCode(), code) << text;
        if (code == 0) {
            ASSERT_EQ(got, dec(want)) << text;
        } else {
            ASSERT_EQ(toUtf8(expr.errDescription()), want) << text;
        }
    }
}

TEST(ExpressionErrors, FailuresReportCodeAndDescription) {
    const String couldNot = u"Could not evaluate expression";
    const String missingFn = u"Missing open or close parentheses for function ";
    struct Group {
        int code;
        String description;
        std::vector<const char16_t*> texts;
    };
    const Group groups[] = {
        {3, couldNot, {u"", u"   ", u"+5", u"()", u"sqrt()"}},
        {3, u"Found unary operator without value", {u"- -3", u"2*-"}},
        {3, missingFn + u"sqrt", {u"SQRT 4"}},
        {3, missingFn + u"max", {u"max 1"}},
        {3, missingFn + u"iif", {u"iif"}},
        {3, missingFn + u"rnd", {u"rnd()", u"1 + rnd"}},
        {2, u"Parameter error", {u"sqrt(4", u"(1", u"max(1)", u"iif(1,2)"}},
        {4, u"Divide by 0", {u"1/0", u"1/(2-2)", u"iif(1, 1, 1/0)", u"1/0+1+"}},
        // Left over tokens; an operator last (its left operand is not
        // reduced); a string literal, which nothing consumes.
        {4, couldNot, {u"1 2", u"1,2", u"1)", u"1+", u"1/0+", u"'a'", u"2 * 'a b'"}},
        // Not-a-number never becomes an answer.
        {4,
         couldNot,
         {u"sqrt(-1)", u"ln(0)", u"1e999", u"1e100*1e100", u"pow(0,-1)", u"0*sqrt(-1)",
          u"sqrt(-1) > 0", u"sqrt(-1) = sqrt(-1)", u"max(sqrt(-1), 1)", u"min(1, ln(0))",
          u"iif(sqrt(-1), 1, 2)", u"sqrt(-1) | 1"}}};
    for (const Group& g : groups)
        for (const char16_t* text : g.texts)
            expectFailure(text, g.code, g.description);

    expectFailure(u"v + 1", 4, couldNot, props({{u"v", u"abc"}}));
    expectFailure(u"v", 4, couldNot, props({{u"v", u""}}));

    // Unknown tokens; an operator or digit with a combining mark is another
    // character.
    const std::pair<const char16_t*, const char16_t*> unknown[] = {{u"x*2", u"x"},
                                                                   {u"2 x", u"x"},
                                                                   {u"2X", u"2x"},
                                                                   {u"1e", u"1e"},
                                                                   {u"1.2.3", u"1.2.3"},
                                                                   {u"$", u"$"},
                                                                   {u"'abc", u"'abc"},
                                                                   {u"(1)and(1)", u"and"},
                                                                   {u"prctotals(1)", u"prctotals"},
                                                                   {u"1 +\u0301 2", u"+\u0301"},
                                                                   {u"1 + 2\u0301", u"2\u0301"}};
    for (const auto& [text, token] : unknown)
        expectFailure(text, 3, String(u"Unknown token: ") + token);
}

TEST(ExpressionErrors, NextSuccessResetsTheError) {
    QNExpressionObject expr;
    expr.setExpression(u"1/0");
    EXPECT_TRUE(expr.evaluate().isZero());
    EXPECT_EQ(expr.errCode(), 4);
    expr.setExpression(u"6*7");
    EXPECT_EQ(expr.evaluate(), Decimal(42));
    EXPECT_EQ(test::errorOf(expr), test::ErrorPair(0, u""));
}

TEST(ExpressionErrors, NestingIsBounded) {
    const int limit = QNExpressionObject::kMaxNesting;
    auto nested = [](std::u16string_view open, int depth, std::u16string_view inner) {
        return repeated(open, depth) + String(inner) + repeated(u")", depth);
    };
    EXPECT_EQ(value(nested(u"(", limit, u"1+1")), Decimal(2));
    EXPECT_EQ(value(nested(u"sqrt(", limit, u"16")), Decimal(1));
    const String tooDeep(QNExpressionObject::kNestingTooDeep);
    expectFailure(nested(u"(", limit + 1, u"1+1"), 3, tooDeep);
    // Far beyond what the stack would take without the bound (sizes kept
    // moderate: each level up to the bound copies the rest of the list).
    expectFailure(nested(u"(", 10000, u"1"), 3, tooDeep);
    expectFailure(nested(u"sqrt(", 10000, u"1"), 3, tooDeep);
    expectFailure(nested(u"max(1,", 1000, u"1"), 3, tooDeep);
}

TEST(ExpressionVariables, AnyLetterCaseAndTheLaterKeyWins) {
    EXPECT_EQ(value(u"x*2", props({{u"X", u"7"}})), Decimal(14));
    EXPECT_EQ(value(u"X*2", props({{u"x", u"7"}})), Decimal(14));
    EXPECT_EQ(value(u"GR\u00d6\u00dfE*3", props({{u"Gr\u00f6\u00dfe", u"2"}})), Decimal(6));
    EXPECT_EQ(value(u"e\u0301 + 1", props({{u"E\u0301", u"2"}})), Decimal(3));

    QNExpressionObject expr;
    expr.setVariables(props({{u"X", u"1"}, {u"x", u"2"}}));
    expr.setExpression(u"x");
    EXPECT_EQ(expr.evaluate(), Decimal(2));
    EXPECT_EQ(expr.variablesDictionary()->description(), u"{x = 2;}");
    expr.setVariables(props({{u"x", u"2"}, {u"X", u"1"}}));
    EXPECT_EQ(expr.evaluate(), Decimal(1));

    // A longer list, looked up by index rather than by scan.
    auto many = QNProperties::init();
    for (int i = 0; i < 20; ++i)
        many->set(u"v" + fromUtf8(std::to_string(i)), fromUtf8(std::to_string(i)));
    many->set(u"V5", u"50");
    expr.setVariables(many);
    expr.setExpression(u"v5 + V19 + v0");
    EXPECT_EQ(expr.evaluate(), Decimal(69));
    EXPECT_EQ(expr.variablesDictionary()->size(), 20u);
}

TEST(ExpressionVariables, ChangesBetweenEvaluationsAreSeenAndTheCursorIsNotMoved) {
    QNExpressionObject expr;
    expr.setExpression(u"a*2");
    expr.variables()->set(u"a", u"1");
    EXPECT_EQ(expr.evaluate(), Decimal(2));
    expr.variables()->set(u"a", u"5");
    EXPECT_EQ(expr.evaluate(), Decimal(10));
    expr.variables()->remove(u"a");
    expr.evaluate();
    EXPECT_EQ(expr.errDescription(), u"Unknown token: a");

    // Another list, and new contents assigned into the list seen last.
    auto first = props({{u"a", u"1"}});
    auto second = props({{u"a", u"7"}});
    expr.setVariables(first);
    EXPECT_EQ(expr.evaluate(), Decimal(2));
    expr.setVariables(second);
    EXPECT_EQ(expr.evaluate(), Decimal(14));
    expr.setVariables(first);
    EXPECT_EQ(expr.evaluate(), Decimal(2));
    *first = *second;
    EXPECT_EQ(expr.evaluate(), Decimal(14));

    expr.setVariables(nullptr);
    ASSERT_TRUE(expr.variables());
    EXPECT_EQ(expr.variables()->itemCount(), 0);
    expr.evaluate();
    EXPECT_EQ(expr.errDescription(), u"Unknown token: a");

    // The variables' cursor is not moved.
    auto vars = props({{u"a", u"1"}, {u"b", u"2"}, {u"c", u"3"}});
    expr.setVariables(vars);
    expr.setExpression(u"a+b+c");
    EXPECT_TRUE(vars->eof());
    EXPECT_EQ(expr.evaluate(), Decimal(6));
    EXPECT_TRUE(vars->eof());
    EXPECT_EQ(vars->first()->key(), u"a");
    vars->set(u"c", u"30");
    EXPECT_EQ(expr.evaluate(), Decimal(33));
    EXPECT_EQ(vars->next()->key(), u"b");

    // An empty key never matches.
    auto empty = props({{u"", u"5"}});
    EXPECT_EQ(value(u"1 + 2", empty), Decimal(3));
    EXPECT_EQ(value(u" 1  +  2 ", empty), Decimal(3));
    expectFailure(u"''", 4, u"Could not evaluate expression", empty);
}

TEST(ExpressionTokens, ClassifiesAgainstVariablesAndTheModel) {
    test::TempDir dir;
    test::writeSampleBundle(dir);
    test::ScopedBundle bundle(dir.path());

    QNExpressionObject expr;
    expr.setVariables(props({{u"X", u"1"}}));
    // Only cut, not evaluated: the order of the tokens does not matter.
    expr.setExpression(u"IIF(x, pi, -2.5) | Max Sqrt rnd >= PrcTotals 'Lit'");
    const std::vector<QNExpressionToken> expected = {{u"iif", Type::ternaryFunction},
                                                     {u"(", Type::openParentheses},
                                                     {u"x", Type::variable},
                                                     {u",", Type::comma},
                                                     {u"pi", Type::constant},
                                                     {u",", Type::comma},
                                                     {u"-", Type::operator_},
                                                     {u"2.5", Type::value},
                                                     {u")", Type::closeParentheses},
                                                     {u"|", Type::operator_},
                                                     {u"max", Type::binaryFunction},
                                                     {u"sqrt", Type::unaryFunction},
                                                     {u"rnd", Type::nonParametersFunction},
                                                     {u"\u2265", Type::operator_},
                                                     {u"prctotals", Type::procedure},
                                                     {u"'lit'", Type::stringLiteral}};
    EXPECT_EQ(expr.tokenize(), expected);
    EXPECT_EQ(QNExpressionObject::normalizedExpression(u"1<=2 AND 3>=4 OR 5!=6 and 7<>8 == 9"),
              u"1\u22642&3\u22654|5\u22606&7\u22608 = 9");

    expr.setExpression(u"2x");
    EXPECT_EQ(expr.tokenize(), std::nullopt);
    EXPECT_EQ(test::errorOf(expr), test::ErrorPair(3, u"Unknown token: 2x"));

    const String missing = u"Missing open or close parentheses for procedure ";
    const std::pair<const char16_t*, String> failures[] = {
        {u"PrcTotals(1)", u"Calling Procedures not yet supported"},
        {u"1 + prctotals()", u"Calling Procedures not yet supported"},
        {u"prctotals", missing + u"prctotals"},
        {u"prcempty(", missing + u"prcempty"},
        {u"sqrt(PRCEMPTY)", missing + u"prcempty"}};
    for (const auto& [text, description] : failures)
        expectFailure(text, 3, description);
}

TEST(ExpressionConcurrent, SeparateObjectsOnManyThreads) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    std::atomic<int> wrong{0};
    test::onThreads(kThreads, [&wrong](int t) {
        QNExpressionObject expr;
        for (int i = 0; i < kRounds; ++i) {
            const int x = t * kRounds + i;
            expr.variables()->set(u"X", fromUtf8(std::to_string(x)));
            // Non-ASCII text takes the per-thread character iterator.
            expr.setExpression(i % 2 ? u"x * 2 + sqrt(16) - iif(x \u2265 3, 1, 0)"
                                     : u"x * 2 + sqrt(16) - iif(x >= 3, 1, 0)");
            if (expr.evaluate() != Decimal(2 * x + 4 - (x >= 3 ? 1 : 0))) ++wrong;
            expr.setExpression(u"x / (x - x)");
            if (!expr.evaluate().isZero() || expr.errCode() != 4) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qn
