// The expression evaluator beside muparser (double precision, bytecode
// compiled). evaluate() reads the text afresh every call, so its
// counterpart is muparser's SetExpr + Eval; Eval alone on an expression set
// once is the floor of a compile-once evaluator. Suffixes _Qn and _MuParser
// pair up by name. Each pair checks once, outside the timed loop, that both
// give the same number.
#include <qn/expr.h>

#include <benchmark/benchmark.h>
#include <muParser.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <string>

namespace {

// The same expression in both syntaxes. The evaluator groups a level from
// the right and binds comparisons tightest; neither matters here.
constexpr char16_t kShortQn[] = u"iif(a > 10, a * 1.21, b / 3) + max(a, b)";
constexpr char kShortMu[] = "(a > 10 ? a * 1.21 : b / 3) + max(a, b)";

// Twenty terms, nine of them function calls. Only "+" between terms, so the
// right grouping gives the usual value.
constexpr char16_t kLongQn[] =
    u"a * 2 + b / 4 + abs(a - b) + max(a, b) * 3 + min(a, b) + sqrt(a * b) + 1.5 + "
    u"iif(a < b, a, b) + a * b / 10 + (a + b) * 0.25 + pow(a, 2) + 7 + b * 1.1 + "
    u"abs(b - 100) + max(a * 2, b * 3) + 12.75 + a / 8 + min(a + 1, b + 1) + "
    u"exp(1) + b";
constexpr char kLongMu[] =
    "a * 2 + b / 4 + abs(a - b) + max(a, b) * 3 + min(a, b) + sqrt(a * b) + 1.5 + "
    "(a < b ? a : b) + a * b / 10 + (a + b) * 0.25 + a ^ 2 + 7 + b * 1.1 + "
    "abs(b - 100) + max(a * 2, b * 3) + 12.75 + a / 8 + min(a + 1, b + 1) + "
    "exp(1) + b";

constexpr double kA = 12;
constexpr double kB = 7;

// Values a loop would feed in: both sides of the iif's condition.
constexpr std::size_t kSteps = 16;  // a power of two: the index wraps with a mask
struct Step {
    const char16_t* a;
    const char16_t* b;
    double da;
    double db;
};
constexpr std::array<Step, kSteps> kStepValues = {{
    {u"3", u"8", 3, 8},
    {u"12", u"7", 12, 7},
    {u"10.5", u"2.25", 10.5, 2.25},
    {u"-4", u"9", -4, 9},
    {u"99", u"100", 99, 100},
    {u"0.75", u"3", 0.75, 3},
    {u"11", u"11", 11, 11},
    {u"250.5", u"1", 250.5, 1},
    {u"7", u"-7", 7, -7},
    {u"10", u"30", 10, 30},
    {u"1234.5", u"6", 1234.5, 6},
    {u"0", u"0", 0, 0},
    {u"42", u"4.2", 42, 4.2},
    {u"5.5", u"66", 5.5, 66},
    {u"13", u"0.5", 13, 0.5},
    {u"-20.25", u"-1", -20.25, -1},
}};

bool close(const qn::Decimal& value, double expected) {
    const double got = value.toDouble();
    return std::fabs(got - expected) <= 1e-9 * std::fmax(1.0, std::fabs(expected));
}

qn::Ref<qn::QNExpressionObject> qnObject(const char16_t* expression) {
    auto object = qn::QNExpressionObject::init();
    object->setExpression(expression);
    object->variables()->set(u"a", u"12");
    object->variables()->set(u"b", u"7");
    return object;
}

// A parser with a and b bound to `a` and `b`.
struct MuParser {
    double a = kA;
    double b = kB;
    mu::Parser parser;

    explicit MuParser(const char* expression) {
        parser.DefineVar("a", &a);
        parser.DefineVar("b", &b);
        parser.SetExpr(expression);
    }
};

// The value muparser gives, or NaN when it fails.
double muValue(const char* expression, double a, double b) {
    try {
        MuParser mu(expression);
        mu.a = a;
        mu.b = b;
        return mu.parser.Eval();
    } catch (const mu::Parser::exception_type&) {
        return std::nan("");
    }
}

// One evaluation of `expression` on the library's side matches muparser's.
bool agrees(const char16_t* qnText, const char* muText) {
    auto object = qnObject(qnText);
    const qn::Decimal value = object->evaluate();
    return object->errCode() == 0 && close(value, muValue(muText, kA, kB));
}

void evaluateQn(benchmark::State& state, const char16_t* qnText, const char* muText) {
    if (!agrees(qnText, muText)) {
        state.SkipWithError("the evaluator and muparser disagree");
        return;
    }
    auto object = qnObject(qnText);
    for (auto _ : state) {
        qn::Decimal value = object->evaluate();
        benchmark::DoNotOptimize(value);
    }
}

void setAndEvaluateMu(benchmark::State& state, const char16_t* qnText, const char* muText) {
    if (!agrees(qnText, muText)) {
        state.SkipWithError("the evaluator and muparser disagree");
        return;
    }
    MuParser mu(muText);
    const std::string text(muText);
    for (auto _ : state) {
        mu.parser.SetExpr(text);
        double value = mu.parser.Eval();
        benchmark::DoNotOptimize(value);
    }
}

void BM_ExpressionEvaluate_Qn(benchmark::State& state) {
    evaluateQn(state, kShortQn, kShortMu);
}
BENCHMARK(BM_ExpressionEvaluate_Qn);

void BM_ExpressionSetAndEval_MuParser(benchmark::State& state) {
    setAndEvaluateMu(state, kShortQn, kShortMu);
}
BENCHMARK(BM_ExpressionSetAndEval_MuParser);

// Reference: the expression compiled once, evaluated again and again.
void BM_ExpressionEvalOnly_MuParser(benchmark::State& state) {
    MuParser mu(kShortMu);
    for (auto _ : state) {
        double value = mu.parser.Eval();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExpressionEvalOnly_MuParser);

// A loop body: new value texts for a and b, then the evaluation (the
// variables are read again because they changed).
void BM_ExpressionChangingVariables_Qn(benchmark::State& state) {
    auto object = qnObject(kShortQn);
    for (const Step& step : kStepValues) {
        object->variables()->set(u"a", step.a);
        object->variables()->set(u"b", step.b);
        const qn::Decimal value = object->evaluate();
        if (object->errCode() != 0 || !close(value, muValue(kShortMu, step.da, step.db))) {
            state.SkipWithError("the evaluator and muparser disagree");
            return;
        }
    }
    std::size_t i = 0;
    for (auto _ : state) {
        const Step& step = kStepValues[i++ & (kSteps - 1)];
        object->variables()->set(u"a", step.a);
        object->variables()->set(u"b", step.b);
        qn::Decimal value = object->evaluate();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExpressionChangingVariables_Qn);

// The same loop with muparser re-reading the text each time, as evaluate()
// does.
void BM_ExpressionChangingVariables_MuParser(benchmark::State& state) {
    MuParser mu(kShortMu);
    const std::string text(kShortMu);
    std::size_t i = 0;
    for (auto _ : state) {
        const Step& step = kStepValues[i++ & (kSteps - 1)];
        mu.a = step.da;
        mu.b = step.db;
        mu.parser.SetExpr(text);
        double value = mu.parser.Eval();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExpressionChangingVariables_MuParser);

void BM_ExpressionLong_Qn(benchmark::State& state) {
    evaluateQn(state, kLongQn, kLongMu);
}
BENCHMARK(BM_ExpressionLong_Qn);

void BM_ExpressionLong_MuParser(benchmark::State& state) {
    setAndEvaluateMu(state, kLongQn, kLongMu);
}
BENCHMARK(BM_ExpressionLong_MuParser);

// Generated code that creates its evaluator where it needs one: object,
// variables, expression and evaluation every time.
void BM_ExpressionFreshObject_Qn(benchmark::State& state) {
    if (!agrees(kShortQn, kShortMu)) {
        state.SkipWithError("the evaluator and muparser disagree");
        return;
    }
    for (auto _ : state) {
        auto object = qnObject(kShortQn);
        qn::Decimal value = object->evaluate();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExpressionFreshObject_Qn);

void BM_ExpressionFreshParser_MuParser(benchmark::State& state) {
    for (auto _ : state) {
        MuParser mu(kShortMu);
        double value = mu.parser.Eval();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ExpressionFreshParser_MuParser);

}  // namespace
