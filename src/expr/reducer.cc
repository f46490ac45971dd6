// Reduction: a token list to its value, by the language's fixed passes.
//
// The passes (functions, parentheses, unary minus, then binary operators by
// level) rewrite token lists exactly as the language defines them, and every
// sub-expression goes through all of them again. Values stay Decimals inside
// the tokens instead of being written out as text and read back (the text
// form of a Decimal reads back as the same number, so nothing changes but the
// cost).
//
// Binary operators: the language splits a list at the leftmost operator of
// the loosest level present and reduces both sides, so a chain groups from
// the right. Done literally that is quadratic in the chain's length and
// recursive as deep as the chain is long; here each level's operands are
// reduced left to right and then folded from the right, which gives the same
// values and raises the same first failure, with recursion bounded by the
// five levels.
#include <qn/runtime/numbers.h>

#include "expr/expression_internal.h"

#include <cmath>

namespace qn::internal::expr {
namespace {

constexpr std::uint32_t bit(Type t) noexcept {
    return 1u << static_cast<unsigned>(t);
}

Tok valueToken(const Decimal& value) noexcept {
    Tok t;
    t.value = value;
    return t;
}

Decimal floorOf(const Decimal& x) noexcept {
    const Decimal whole = x.integralPart();
    if (x.isNegative() && whole.compare(x) != 0) return whole.subtract(Decimal(1));
    return whole;
}

Decimal throughDouble(double (*f)(double), const Decimal& x) noexcept {
    if (x.isNaN()) return x;
    return Decimal::fromDouble(f(x.toDouble()));
}

Decimal applyUnary(Fn fn, const Decimal& x) {
    switch (fn) {
        case Fn::sqrt:
            return throughDouble(std::sqrt, x);
        case Fn::cos:
            return throughDouble(std::cos, x);
        case Fn::sin:
            return throughDouble(std::sin, x);
        case Fn::tan:
            return throughDouble(std::tan, x);
        case Fn::acos:
            return throughDouble(std::acos, x);
        case Fn::asin:
            return throughDouble(std::asin, x);
        case Fn::atan:
            return throughDouble(std::atan, x);
        case Fn::exp:
            return throughDouble(std::exp, x);
        case Fn::ln:
        case Fn::log:
            return throughDouble(std::log, x);
        case Fn::round:
            return x.rounded(0, DecimalRounding::kHalfAwayFromZero);
        case Fn::floor:
            return floorOf(x);
        case Fn::abs:
            return x.isNegative() ? x.multiply(Decimal(-1)) : x;
        case Fn::int_:
            // Exact at any size: a 64-bit cut would be wrong beyond 2^63.
            return x.integralPart();
        case Fn::frac:
            return x.subtract(x.integralPart());
        default:
            raise(QNExpressionErrorCode::unknown, kUnknownError);
    }
}

Decimal power(const Decimal& base, const Decimal& exponent) {
    if (base.isNaN() || exponent.isNaN()) return Decimal::notANumber();
    return qnDecimalToThePower(Value(base), Value(exponent)).decimalValue();
}

Decimal applyBinary(Fn fn, const Decimal& a, const Decimal& b) {
    switch (fn) {
        case Fn::pow:
            return power(a, b);
        case Fn::max:
            if (a.isNaN() || b.isNaN()) return Decimal::notANumber();
            return a.compare(b) >= 0 ? a : b;
        case Fn::min:
            if (a.isNaN() || b.isNaN()) return Decimal::notANumber();
            return a.compare(b) < 0 ? a : b;
        default:
            raise(QNExpressionErrorCode::unknown, kUnknownError);
    }
}

Decimal truth(bool b) noexcept {
    return Decimal(b ? 1 : 0);
}

Decimal applyOperator(char16_t op, const Decimal& a, const Decimal& b) {
    switch (op) {
        case u'+':
            return a.add(b);
        case u'-':
            return a.subtract(b);
        case u'*':
            return a.multiply(b);
        case u'/':
            if (b.isZero()) raise(QNExpressionErrorCode::evaluation, kDivideByZero);
            return a.divide(b);
        default:
            break;
    }
    // Not-a-number compares with nothing: it goes on rather than turning
    // into a 0 or 1 that looks like an answer.
    if (a.isNaN() || b.isNaN()) return Decimal::notANumber();
    const int c = a.compare(b);
    switch (op) {
        case u'<':
            return truth(c < 0);
        case u'>':
            return truth(c > 0);
        case u'=':
            return truth(c == 0);
        case kGreaterOrEqual:
            return truth(c >= 0);
        case kLessOrEqual:
            return truth(c <= 0);
        case kNotEqual:
            return truth(c != 0);
        case u'&':
            return truth(!a.isZero() && !b.isZero());
        case u'|':
            return truth(!a.isZero() || !b.isZero());
        default:
            raise(QNExpressionErrorCode::unknown, kUnknownError);
    }
}

// The level of an operator, loosest first; -1 for none.
int levelOf(char16_t op) noexcept {
    switch (op) {
        case u'+':
        case u'-':
            return 0;
        case u'*':
        case u'/':
            return 1;
        case u'|':
            return 2;
        case u'&':
            return 3;
        default:
            return 4;
    }
}

constexpr int kLevels = 5;

// A run of tokens owned by a list further up (or by this depth's buffers).
struct Span {
    const Tok* data = nullptr;
    std::size_t size = 0;

    const Tok& operator[](std::size_t i) const noexcept { return data[i]; }
    const Tok* begin() const noexcept { return data; }
    const Tok* end() const noexcept { return data + size; }
    Span part(std::size_t from, std::size_t to) const noexcept { return {data + from, to - from}; }
};

Span spanOf(const std::vector<Tok>& list) noexcept {
    return {list.data(), list.size()};
}

// Where a pass writes. A pass never writes more tokens than it reads, so its
// buffer is made as long as its input first and filled by position, with no
// capacity check per token.
struct Output {
    Tok* start;
    Tok* next;

    void push_back(const Tok& t) noexcept { *next++ = t; }
    Span span() const noexcept { return {start, static_cast<std::size_t>(next - start)}; }
};

class Reducer {
public:
    Reducer(const String& text, std::vector<std::vector<Tok>>& lists, std::vector<Decimal>& values,
            std::vector<char16_t>& ops)
        : text_(text), lists_(lists), values_(values), ops_(ops) {}

    // The whole token list; constants and variables already carry their values.
    Decimal run(const std::vector<Tok>& tokens) { return reduce(0, spanOf(tokens)); }
    // The deepest nesting reached.
    int deepest() const noexcept { return deepest_; }

private:
    StringView textOf(const Tok& t) const noexcept {
        return StringView(text_).substr(t.begin, t.length);
    }

    [[noreturn]] void missingParentheses(const Tok& t, std::u16string_view what) const {
        String prefix = u"Missing open or close parentheses for ";
        prefix += what;
        prefix += u' ';
        raise(QNExpressionErrorCode::expression, prefix, textOf(t));
    }

    // The position of the token of type `wanted` that closes the part that
    // starts at `from`, at depth 0; Parameter error when the list ends first.
    static std::size_t match(Span list, std::size_t from, Type wanted) {
        int depth = 0;
        for (std::size_t i = from; i < list.size; ++i) {
            const Type type = list[i].type;
            if (type == wanted && depth == 0) return i;
            if (type == Type::openParentheses) {
                ++depth;
            } else if (type == Type::closeParentheses) {
                --depth;
            }
        }
        raise(QNExpressionErrorCode::parameter, kParameterError);
    }

    // list[from, to) reduced by the whole sequence, one depth down. The part
    // is read in place: copying it at every depth would cost depth x length.
    Decimal sub(int depth, Span list, std::size_t from, std::size_t to) {
        if (to - from == 1 && list[from].type == Type::value) return list[from].value;
        if (depth + 1 > QNExpressionObject::kMaxNesting) {
            raise(QNExpressionErrorCode::expression, QNExpressionObject::kNestingTooDeep);
        }
        if (depth + 1 > deepest_) deepest_ = depth + 1;
        return reduce(depth + 1, list.part(from, to));
    }

    static std::uint32_t typesIn(Span list) noexcept {
        std::uint32_t mask = 0;
        for (const Tok& t : list)
            mask |= bit(t.type);
        return mask;
    }

    // Each pass reads `cur` and writes into this depth's next free buffer,
    // which becomes `cur`; the input of depth 0 and of every part belongs to
    // the caller and is never written.
    Decimal reduce(int depth, Span cur) {
        if (cur.size == 0) raise(QNExpressionErrorCode::expression, kCouldNotEvaluate);
        std::vector<Tok>* buffers[2] = {&lists_[static_cast<std::size_t>(2 * depth)],
                                        &lists_[static_cast<std::size_t>(2 * depth + 1)]};
        int free = 0;
        auto output = [&]() -> Output {
            std::vector<Tok>& buffer = *buffers[free];
            free ^= 1;
            if (buffer.size() < cur.size) buffer.resize(cur.size);
            return {buffer.data(), buffer.data()};
        };
        const std::uint32_t mask = typesIn(cur);

        if (mask & bit(Type::nonParametersFunction)) {
            for (const Tok& t : cur)
                if (t.type == Type::nonParametersFunction) missingParentheses(t, u"function");
        }
        if (mask & bit(Type::unaryFunction)) {
            Output out = output();
            unaryFunctions(depth, cur, out);
            cur = out.span();
        }
        if (mask & bit(Type::binaryFunction)) {
            Output out = output();
            functions(depth, cur, out, Type::binaryFunction, 2);
            cur = out.span();
        }
        if (mask & bit(Type::ternaryFunction)) {
            Output out = output();
            functions(depth, cur, out, Type::ternaryFunction, 3);
            cur = out.span();
        }
        if (mask & bit(Type::procedure)) {
            for (std::size_t i = 0; i < cur.size; ++i) {
                if (cur[i].type != Type::procedure) continue;
                if (cur.size - i - 1 >= 2 && cur[i + 1].type == Type::openParentheses) {
                    raise(QNExpressionErrorCode::expression, kProceduresNotSupported);
                }
                missingParentheses(cur[i], u"procedure");
            }
        }
        if (mask & bit(Type::openParentheses)) {
            Output out = output();
            parentheses(depth, cur, out);
            cur = out.span();
        }
        if (mask & bit(Type::operator_)) {
            Output out = output();
            unaryMinus(cur, out);
            cur = out.span();
        }
        return operators(cur.begin(), cur.end(), 0);
    }

    void unaryFunctions(int depth, Span in, Output& out) {
        for (std::size_t i = 0; i < in.size;) {
            const Tok& t = in[i];
            if (t.type != Type::unaryFunction) {
                out.push_back(t);
                ++i;
                continue;
            }
            if (i + 1 >= in.size || in[i + 1].type != Type::openParentheses) {
                missingParentheses(t, u"function");
            }
            const std::size_t close = match(in, i + 2, Type::closeParentheses);
            const Decimal argument = sub(depth, in, i + 2, close);
            out.push_back(valueToken(applyUnary(t.fn, argument)));
            i = close + 1;
        }
    }

    void functions(int depth, Span in, Output& out, Type type, int arity) {
        for (std::size_t i = 0; i < in.size;) {
            const Tok& t = in[i];
            if (t.type != type) {
                out.push_back(t);
                ++i;
                continue;
            }
            if (in.size - i - 1 < 2 || in[i + 1].type != Type::openParentheses) {
                missingParentheses(t, u"function");
            }
            // Every argument is found, then every one is reduced.
            std::size_t bounds[4];
            bounds[0] = i + 1;
            for (int k = 1; k <= arity; ++k) {
                bounds[k] =
                    match(in, bounds[k - 1] + 1, k < arity ? Type::comma : Type::closeParentheses);
            }
            Decimal args[3];
            for (int k = 0; k < arity; ++k)
                args[k] = sub(depth, in, bounds[k] + 1, bounds[k + 1]);
            Decimal result;
            if (arity == 3) {
                result = args[0].isNaN()    ? Decimal::notANumber()
                         : args[0].isZero() ? args[2]
                                            : args[1];
            } else {
                result = applyBinary(t.fn, args[0], args[1]);
            }
            out.push_back(valueToken(result));
            i = bounds[arity] + 1;
        }
    }

    void parentheses(int depth, Span in, Output& out) {
        for (std::size_t i = 0; i < in.size;) {
            if (in[i].type != Type::openParentheses) {
                out.push_back(in[i]);
                ++i;
                continue;
            }
            const std::size_t close = match(in, i + 1, Type::closeParentheses);
            out.push_back(valueToken(sub(depth, in, i + 1, close)));
            i = close + 1;
        }
    }

    // A "-" first in the list or after another operator (as the list came
    // in) negates the value that follows it.
    static void unaryMinus(Span in, Output& out) {
        for (std::size_t i = 0; i < in.size;) {
            const Tok& t = in[i];
            const bool unary = t.type == Type::operator_ && t.op == u'-' &&
                               (i == 0 || in[i - 1].type == Type::operator_);
            if (!unary) {
                out.push_back(t);
                ++i;
                continue;
            }
            if (i + 1 >= in.size || in[i + 1].type != Type::value) {
                raise(QNExpressionErrorCode::expression, kUnaryWithoutValue);
            }
            out.push_back(valueToken(in[i + 1].value.multiply(Decimal(-1))));
            i += 2;
        }
    }

    // [b, e) holds only values, operators and tokens no pass consumes; its
    // operators are of level `from` or higher.
    Decimal operators(const Tok* b, const Tok* e, int from) {
        if (b == e) raise(QNExpressionErrorCode::expression, kCouldNotEvaluate);
        unsigned present = 0;
        for (const Tok* t = b; t != e; ++t)
            if (t->type == Type::operator_) present |= 1u << levelOf(t->op);
        int level = from;
        while (level < kLevels && (present & (1u << level)) == 0)
            ++level;
        if (level == kLevels) {
            if (e - b == 1 && b->type == Type::value) return b->value;
            raise(QNExpressionErrorCode::evaluation, kCouldNotEvaluate);
        }
        auto splits = [level](const Tok* t) {
            return t->type == Type::operator_ && levelOf(t->op) == level;
        };

        // Ending with an operator: the last split leaves nothing on its
        // right, which is a failure once the operands before it are reduced.
        if (splits(e - 1)) {
            const Tok* start = b;
            const Tok* last = e - 1;
            const Tok* previous = nullptr;  // the split before the last
            for (const Tok* t = b; t != last; ++t)
                if (splits(t)) previous = t;
            if (previous != nullptr) {
                for (const Tok* t = b; t != previous; ++t) {
                    if (!splits(t)) continue;
                    operators(start, t, level + 1);
                    start = t + 1;
                }
                operators(start, previous, level + 1);
            }
            raise(QNExpressionErrorCode::evaluation, kCouldNotEvaluate);
        }

        // Operands left to right, then folded from the right.
        const std::size_t base = values_.size();
        const Tok* start = b;
        for (const Tok* t = b; t != e; ++t) {
            if (!splits(t)) continue;
            const Decimal operand = operators(start, t, level + 1);
            values_.push_back(operand);
            ops_.push_back(t->op);
            start = t + 1;
        }
        Decimal result = operators(start, e, level + 1);
        while (values_.size() > base) {
            result = applyOperator(ops_.back(), values_.back(), result);
            values_.pop_back();
            ops_.pop_back();
        }
        return result;
    }

    const String& text_;
    std::vector<std::vector<Tok>>& lists_;
    std::vector<Decimal>& values_;
    std::vector<char16_t>& ops_;
    int deepest_ = 0;
};

// Parentheses nested deeper than the limit are refused before any reduction:
// reducing them would copy the rest of the list once per level first.
void refuseDeepNesting(const std::vector<Tok>& tokens) {
    int depth = 0;
    for (const Tok& t : tokens) {
        if (t.type == Type::openParentheses) {
            if (++depth > QNExpressionObject::kMaxNesting) {
                raise(QNExpressionErrorCode::expression, QNExpressionObject::kNestingTooDeep);
            }
        } else if (t.type == Type::closeParentheses) {
            --depth;
        }
    }
}

}  // namespace

Decimal reduceTokens(const String& text, std::vector<Tok>& tokens,
                     std::vector<std::vector<Tok>>& lists, std::vector<Decimal>& values,
                     std::vector<char16_t>& ops, int& deepest) {
    // Constants and variables carry their values from the start.
    for (Tok& t : tokens)
        if (t.type == Type::constant || t.type == Type::variable) t.type = Type::value;
    refuseDeepNesting(tokens);
    Reducer reducer(text, lists, values, ops);
    struct Record {
        int& deepest;
        const Reducer& reducer;
        ~Record() { deepest = reducer.deepest(); }
    } record{deepest, reducer};
    return reducer.run(tokens);
}

}  // namespace qn::internal::expr
