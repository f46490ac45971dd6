// Arithmetic and logical expressions given as text, with named variables,
// evaluated to a Decimal.
//
// The text is lower-cased and its two-character operators ("<=", ">=",
// "!=", "<>", "==") and the words " and " and " or " are replaced by
// one-character operators; it is then cut into tokens and reduced by a fixed
// sequence of passes: functions (unary, binary, ternary), parentheses, unary
// minus, and binary operators by levels. Every sub-expression is reduced by
// the whole sequence again.
//
// Levels, loosest first: + -, then * /, then |, then &, then the
// comparisons < > = >= <= <>. Within a level an expression groups from the
// right: 10-5-2 is 10-(5-2) = 7. Arithmetic is exact Decimal arithmetic;
// sqrt, cos, sin, tan, acos, asin, atan, exp, ln and log (both natural) go
// through double.
//
// evaluate() never throws: a failure answers 0 and sets errCode and
// errDescription.
//
// Thread-compatible: one object serves one caller at a time; separate
// objects are independent.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/decimal.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/data/properties.h>
#include <qn/export.h>

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qn {

enum class QNExpressionTokenType : std::uint8_t {
    operator_,
    ternaryFunction,
    binaryFunction,
    unaryFunction,
    nonParametersFunction,
    value,
    variable,
    constant,
    openParentheses,
    closeParentheses,
    comma,
    procedure,
    stringLiteral,
};

struct QNExpressionToken {
    String token;
    QNExpressionTokenType type;

    friend bool operator==(const QNExpressionToken&, const QNExpressionToken&) = default;
};

// The raw value is the errCode an evaluation reports.
enum class QNExpressionErrorCode : std::int32_t {
    unknown = 1,
    parameter = 2,
    expression = 3,
    evaluation = 4,
    externalFunction = 5,
};

// The code of a raw value; absent outside 1 ... 5.
QN_API std::optional<QNExpressionErrorCode> qnExpressionErrorCodeFromRawValue(
    std::int64_t raw) noexcept;

// What a failed evaluation reports.
class QN_API QNExpressionError : public std::exception {
public:
    QNExpressionError(QNExpressionErrorCode code, String description)
        : code_(code), description_(std::move(description)) {}

    QNExpressionErrorCode code() const noexcept { return code_; }
    const String& description() const noexcept { return description_; }
    const char* what() const noexcept override;

private:
    QNExpressionErrorCode code_;
    String description_;
    mutable std::string what_;
};

class QN_API QNExpressionObject : public Object {
    QN_OBJECT(QNExpressionObject)
public:
    static constexpr std::u16string_view GREATER_OR_EQUAL = u"\u2265";
    static constexpr std::u16string_view LESS_OR_EQUAL = u"\u2264";
    static constexpr std::u16string_view NOT_EQUAL = u"\u2260";
    static constexpr std::array<std::u16string_view, 12> OPERATORS = {
        u"+", u"-", u"*", u"/", u"<", u">", u"=", u"\u2265", u"\u2264", u"\u2260", u"&", u"|"};
    static constexpr std::array<std::u16string_view, 1> CONSTANTS = {u"pi"};
    static constexpr std::array<std::u16string_view, 1> TERNARY_FUNCTIONS = {u"iif"};
    static constexpr std::array<std::u16string_view, 3> BINARY_FUNCTIONS = {u"pow", u"max", u"min"};
    static constexpr std::array<std::u16string_view, 15> UNARY_FUNCTIONS = {
        u"sqrt",  u"cos", u"sin", u"tan", u"acos", u"asin", u"atan", u"round",
        u"floor", u"exp", u"ln",  u"log", u"abs",  u"int",  u"frac"};
    static constexpr std::array<std::u16string_view, 1> NON_PARAMETER_FUNCTIONS = {u"rnd"};

    // Parentheses and function arguments nested deeper than this end the
    // evaluation with an expression error rather than exhausting the stack.
    static constexpr int kMaxNesting = 256;
    static constexpr std::u16string_view kNestingTooDeep = u"Expression nested too deeply";

    QNExpressionObject();
    ~QNExpressionObject() override;

    static Ref<QNExpressionObject> init() { return makeRef<QNExpressionObject>(); }

    std::int64_t errCode() const noexcept { return errCode_; }
    const String& errDescription() const noexcept { return errDescription_; }
    const String& expression() const noexcept { return expression_; }
    void setExpression(String expression) { expression_ = std::move(expression); }
    // Never null: setting null installs a new empty list.
    const Ref<QNProperties>& variables() const noexcept { return variables_; }
    void setVariables(Ref<QNProperties> variables);

    // The value of the expression with the current variables; 0 with errCode
    // and errDescription set on failure. Reads the variables without moving
    // their cursor.
    Decimal evaluate() noexcept;

    // The variables as the last evaluate() saw them: keys lower-cased, a
    // later key that differs only in case replacing an earlier one.
    Ref<Dictionary> variablesDictionary() const;

    // The normalised expression cut into classified tokens, as evaluate()
    // sees it (variables and constants not yet replaced by their values).
    // Absent with errCode and errDescription set when it cannot be cut.
    std::optional<std::vector<QNExpressionToken>> tokenize() noexcept;

    // The text as evaluate() reads it: lower-cased, operators in their
    // one-character form.
    static String normalizedExpression(StringView text);

    // The evaluator's own table of the variables (defined in its source).
    struct Variables;

private:
    void fail(const QNExpressionError& error);
    void refreshVariables();

    std::int64_t errCode_ = 0;
    String errDescription_;
    String expression_;
    Ref<QNProperties> variables_;
    std::unique_ptr<Variables> variablesTable_;
};

}  // namespace qn
