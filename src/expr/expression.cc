// QNExpressionObject: normalisation, tokens, and the reduction passes.
//
// The passes rewrite token lists exactly as the language defines them, but
// values stay Decimals inside the tokens instead of being written out as
// text and read back (the text form of a Decimal reads back as the same
// number, so nothing changes but the cost). Lists live in a per-thread
// workspace, two per nesting depth, so a warm evaluation allocates nothing
// beyond its result.
//
// Binary operators: the language splits a list at the leftmost operator of
// the loosest level present and reduces both sides, so a chain groups from
// the right. Done literally that is quadratic in the chain's length and
// recursive as deep as the chain is long; here each level's operands are
// reduced left to right and then folded from the right, which gives the same
// values and raises the same first failure, with recursion bounded by the
// five levels.
#include <qn/expr/expression.h>
#include <qn/host/model.h>
#include <qn/runtime/numbers.h>

#include "core/characters.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qn {

QN_REGISTER_CLASS(QNExpressionObject, Object)

std::optional<QNExpressionErrorCode> qnExpressionErrorCodeFromRawValue(std::int64_t raw) noexcept {
    if (raw < 1 || raw > 5) return std::nullopt;
    return static_cast<QNExpressionErrorCode>(raw);
}

const char* QNExpressionError::what() const noexcept {
    try {
        if (what_.empty()) what_ = toUtf8(description_);
        return what_.c_str();
    } catch (...) {
        return "expression error";
    }
}

namespace {

using Type = QNExpressionTokenType;

constexpr char16_t kGreaterOrEqual = u'\u2265';
constexpr char16_t kLessOrEqual = u'\u2264';
constexpr char16_t kNotEqual = u'\u2260';

constexpr std::u16string_view kCouldNotEvaluate = u"Could not evaluate expression";
constexpr std::u16string_view kParameterError = u"Parameter error";
constexpr std::u16string_view kDivideByZero = u"Divide by 0";
constexpr std::u16string_view kUnaryWithoutValue = u"Found unary operator without value";
constexpr std::u16string_view kProceduresNotSupported = u"Calling Procedures not yet supported";
constexpr std::u16string_view kUnknownError = u"Unknown error";

[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view description) {
    throw QNExpressionError(code, String(description));
}

[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view prefix,
                        std::u16string_view name) {
    String text(prefix);
    text += name;
    throw QNExpressionError(code, std::move(text));
}

// --- Text ------------------------------------------------------------------

void replaceAll(String& text, std::u16string_view from, std::u16string_view to) {
    std::size_t at = text.find(from);
    if (at == String::npos) return;
    String out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (at != String::npos) {
        out.append(text, start, at - start);
        out += to;
        start = at + from.size();
        at = text.find(from, start);
    }
    out.append(text, start, String::npos);
    text = std::move(out);
}

bool isOperatorChar(char16_t c) noexcept {
    switch (c) {
        case u'+':
        case u'-':
        case u'*':
        case u'/':
        case u'<':
        case u'>':
        case u'=':
        case kGreaterOrEqual:
        case kLessOrEqual:
        case kNotEqual:
        case u'&':
        case u'|':
            return true;
        default:
            return false;
    }
}

bool isDelimiter(char16_t c) noexcept {
    return isOperatorChar(c) || c == u' ' || c == u'(' || c == u')' || c == u',' || c == u'\'';
}

// Units that are always a character of their own here: ASCII (CR LF is one
// character, but both of its units are ordinary characters either way) and
// the three operators the normalisation writes.
bool isSimpleUnit(char16_t c) noexcept {
    return c < 0x80 || c == kGreaterOrEqual || c == kLessOrEqual || c == kNotEqual;
}

// optional white space, digits with an optional "." (at least one digit),
// an optional exponent, optional white space: a number in form, whether or
// not the Decimal range holds it.
bool looksNumeric(StringView s) noexcept {
    auto space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n && space(s[i]))
        ++i;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
    std::size_t digits = 0;
    while (i < n && digit(s[i]))
        ++i, ++digits;
    if (i < n && s[i] == u'.') {
        ++i;
        while (i < n && digit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < n && (s[i] == u'+' || s[i] == u'-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < n && digit(s[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    while (i < n && space(s[i]))
        ++i;
    return i == n;
}

// --- Tokens ------------------------------------------------------------------

enum class Fn : std::uint8_t {
    none,
    sqrt,
    cos,
    sin,
    tan,
    acos,
    asin,
    atan,
    round,
    floor,
    exp,
    ln,
    log,
    abs,
    int_,
    frac,
    pow,
    max,
    min,
    iif,
    rnd,
};

struct Tok {
    Decimal value;
    std::uint32_t begin = 0;  // the token's text in the normalised expression
    std::uint32_t length = 0;
    Type type = Type::value;
    char16_t op = 0;  // an operator's character
    Fn fn = Fn::none;
};

constexpr std::uint32_t bit(Type t) noexcept {
    return 1u << static_cast<unsigned>(t);
}

Tok valueToken(const Decimal& value) noexcept {
    Tok t;
    t.value = value;
    return t;
}

struct NamedFunction {
    std::u16string_view name;
    Type type;
    Fn fn;
};

constexpr NamedFunction kFunctions[] = {
    {u"iif", Type::ternaryFunction, Fn::iif},   {u"pow", Type::binaryFunction, Fn::pow},
    {u"max", Type::binaryFunction, Fn::max},    {u"min", Type::binaryFunction, Fn::min},
    {u"sqrt", Type::unaryFunction, Fn::sqrt},   {u"cos", Type::unaryFunction, Fn::cos},
    {u"sin", Type::unaryFunction, Fn::sin},     {u"tan", Type::unaryFunction, Fn::tan},
    {u"acos", Type::unaryFunction, Fn::acos},   {u"asin", Type::unaryFunction, Fn::asin},
    {u"atan", Type::unaryFunction, Fn::atan},   {u"round", Type::unaryFunction, Fn::round},
    {u"floor", Type::unaryFunction, Fn::floor}, {u"exp", Type::unaryFunction, Fn::exp},
    {u"ln", Type::unaryFunction, Fn::ln},       {u"log", Type::unaryFunction, Fn::log},
    {u"abs", Type::unaryFunction, Fn::abs},     {u"int", Type::unaryFunction, Fn::int_},
    {u"frac", Type::unaryFunction, Fn::frac},   {u"rnd", Type::nonParametersFunction, Fn::rnd},
};

// pi to eight decimals, as the language defines the constant.
Decimal pi() noexcept {
    static const Decimal value = Decimal::fromString(std::string_view("3.14159265"));
    return value;
}

}  // namespace

// The variables as the last evaluation saw them: lower-cased keys, values
// read as numbers once.
struct QNExpressionObject::Variables {
    struct Entry {
        String key;
        String text;
        Decimal value;
    };
    std::vector<Entry> entries;
    // Built only for longer lists; a short scan is faster.
    std::unordered_map<std::u16string_view, std::size_t> index;
    Ref<QNProperties> source;  // kept alive so its address cannot be reused
    std::uint64_t revision = 0;

    static constexpr std::size_t kIndexFrom = 12;

    void rebuild(const Ref<QNProperties>& from) {
        entries.clear();
        index.clear();
        const Dictionary& map = from->map();
        // Never reallocated below: the index holds views of the keys.
        entries.reserve(map.size());
        const bool indexed = map.size() >= kIndexFrom;
        if (indexed) index.reserve(map.size());
        for (const auto& [key, value] : map) {
            String lower = internal::lowercased(key);
            String text = value.isString() ? value.asString() : value.description();
            const Decimal number = Decimal::fromString(StringView(text));
            // A later key that differs only in case replaces the earlier one.
            if (Entry* same = find(lower)) {
                same->text = std::move(text);
                same->value = number;
                continue;
            }
            entries.push_back({std::move(lower), std::move(text), number});
            if (indexed) index.emplace(entries.back().key, entries.size() - 1);
        }
        source = from;
        revision = from->revision();
    }

    const Entry* find(StringView key) const noexcept {
        if (!index.empty()) {
            auto it = index.find(key);
            return it == index.end() ? nullptr : &entries[it->second];
        }
        for (const Entry& e : entries)
            if (e.key.size() == key.size() && e.key == key) return &e;
        return nullptr;
    }
    Entry* find(StringView key) noexcept {
        return const_cast<Entry*>(std::as_const(*this).find(key));
    }
};

namespace {

// --- Cutting the text into tokens --------------------------------------------

class Tokenizer {
public:
    Tokenizer(const String& text, const QNExpressionObject::Variables* variables,
              std::vector<Tok>& out)
        : s_(text), variables_(variables), out_(out) {}

    void run() {
        out_.clear();
        if (std::all_of(s_.begin(), s_.end(), isSimpleUnit)) {
            for (std::size_t i = 0; i < s_.size(); ++i)
                character(i, i + 1);
        } else {
            graphemes();
        }
        finish();
    }

private:
    void graphemes() {
        const bool walked = internal::forEachCharacter(
            s_, [this](std::size_t a, std::size_t b) { character(a, b); });
        if (!walked) throw std::bad_alloc();
    }

    // One user-perceived character, s_[a, b).
    void character(std::size_t a, std::size_t b) {
        const bool single = b - a == 1;
        const char16_t c = s_[a];
        if (inQuote_) {
            if (single && c == u'\'') {
                append(bufferStart_, b);
                inQuote_ = false;
                bufferStart_ = kNone;
            }
            return;
        }
        if (single && isDelimiter(c)) {
            flush(a);
            if (c == u'\'') {
                bufferStart_ = a;
                inQuote_ = true;
            } else if (c != u' ') {
                append(a, b);
            }
            return;
        }
        if (bufferStart_ == kNone) bufferStart_ = a;
    }

    // The buffer, which ends where a delimiter starts.
    void flush(std::size_t end) {
        if (bufferStart_ == kNone) return;
        const std::size_t start = bufferStart_;
        bufferStart_ = kNone;
        append(start, end);
    }

    void finish() {
        if (bufferStart_ == kNone) return;
        append(bufferStart_, s_.size());
        bufferStart_ = kNone;
    }

    void append(std::size_t a, std::size_t b) {
        // Classified in place: building a token aside and copying it in
        // stalled on the store.
        Tok& t = out_.emplace_back();
        t.begin = static_cast<std::uint32_t>(a);
        t.length = static_cast<std::uint32_t>(b - a);
        if (!classify(StringView(s_).substr(a, b - a), t)) {
            out_.pop_back();
            raise(QNExpressionErrorCode::expression, u"Unknown token: ",
                  StringView(s_).substr(a, b - a));
        }
    }

    // First match wins, in the language's order.
    bool classify(StringView text, Tok& t) const {
        if (text.size() == 1 && isOperatorChar(text[0])) {
            t.type = Type::operator_;
            t.op = text[0];
            return true;
        }
        for (const NamedFunction& f : kFunctions) {
            if (f.name == text) {
                t.type = f.type;
                t.fn = f.fn;
                return true;
            }
        }
        if (text == u"pi") {
            t.type = Type::constant;
            t.value = pi();
            return true;
        }
        if (variables_ != nullptr) {
            if (const auto* v = variables_->find(text)) {
                t.type = Type::variable;
                t.value = v->value;
                return true;
            }
        }
        if (!text.empty()) {
            const Decimal number = Decimal::fromString(text);
            if (!number.isNaN() || looksNumeric(text)) {
                t.type = Type::value;
                t.value = number;  // not-a-number when out of range
                return true;
            }
        }
        if (text.size() == 1) {
            switch (text[0]) {
                case u'(':
                    t.type = Type::openParentheses;
                    return true;
                case u')':
                    t.type = Type::closeParentheses;
                    return true;
                case u',':
                    t.type = Type::comma;
                    return true;
                default:
                    break;
            }
        }
        if (isProcedure(text)) {
            t.type = Type::procedure;
            return true;
        }
        if (text.size() >= 2 && text.front() == u'\'' && text.back() == u'\'') {
            t.type = Type::stringLiteral;
            return true;
        }
        return false;
    }

    // The text is lower-cased, so a procedure is found whatever the case of
    // its name in the model.
    static bool isProcedure(StringView text) {
        if (text.empty()) return false;
        const auto model = QNKBObjectsModel::currentModel();
        if (!model) return false;
        for (const auto& procedure : model->procedures()) {
            const String& name = procedure.name();
            if (name.size() == text.size() && internal::lowercased(name) == text) return true;
        }
        return false;
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    const String& s_;
    const QNExpressionObject::Variables* variables_;
    std::vector<Tok>& out_;
    std::size_t bufferStart_ = kNone;
    bool inQuote_ = false;
};

// --- Reducing token lists ----------------------------------------------------

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
            return x.rounded(0, DecimalRounding::HalfAwayFromZero);
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
        auto output = [&]() -> std::vector<Tok>& {
            std::vector<Tok>& out = *buffers[free];
            free ^= 1;
            out.clear();
            return out;
        };
        const std::uint32_t mask = typesIn(cur);

        if (mask & bit(Type::nonParametersFunction)) {
            for (const Tok& t : cur)
                if (t.type == Type::nonParametersFunction) missingParentheses(t, u"function");
        }
        if (mask & bit(Type::unaryFunction)) {
            std::vector<Tok>& out = output();
            unaryFunctions(depth, cur, out);
            cur = spanOf(out);
        }
        if (mask & bit(Type::binaryFunction)) {
            std::vector<Tok>& out = output();
            functions(depth, cur, out, Type::binaryFunction, 2);
            cur = spanOf(out);
        }
        if (mask & bit(Type::ternaryFunction)) {
            std::vector<Tok>& out = output();
            functions(depth, cur, out, Type::ternaryFunction, 3);
            cur = spanOf(out);
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
            std::vector<Tok>& out = output();
            parentheses(depth, cur, out);
            cur = spanOf(out);
        }
        if (mask & bit(Type::operator_)) {
            std::vector<Tok>& out = output();
            unaryMinus(cur, out);
            cur = spanOf(out);
        }
        return operators(cur.begin(), cur.end(), 0);
    }

    void unaryFunctions(int depth, Span in, std::vector<Tok>& out) {
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

    void functions(int depth, Span in, std::vector<Tok>& out, Type type, int arity) {
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

    void parentheses(int depth, Span in, std::vector<Tok>& out) {
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
    static void unaryMinus(Span in, std::vector<Tok>& out) {
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

// Per-thread working storage, kept warm between evaluations.
struct Workspace {
    std::vector<Tok> tokens;
    std::vector<std::vector<Tok>> lists;
    std::vector<Decimal> values;
    std::vector<char16_t> ops;
    String text;
    int deepest = 0;  // lists beyond 2 * (deepest + 1) were not touched
    bool busy = false;

    Workspace() { lists.resize(2 * (QNExpressionObject::kMaxNesting + 2)); }

    // Large lists are not kept: one huge expression should not pin its
    // memory to the thread.
    void trim() {
        constexpr std::size_t kKeep = 1024;
        const std::size_t used =
            std::min(lists.size(), static_cast<std::size_t>(2 * (deepest + 1)));
        for (std::size_t i = 0; i < used; ++i) {
            if (lists[i].capacity() > kKeep) std::vector<Tok>().swap(lists[i]);
        }
        if (tokens.capacity() > kKeep) std::vector<Tok>().swap(tokens);
        deepest = 0;
        if (values.capacity() > kKeep) std::vector<Decimal>().swap(values);
        if (ops.capacity() > kKeep) std::vector<char16_t>().swap(ops);
        if (text.capacity() > 16 * kKeep) String().swap(text);
    }
};

class WorkspaceLease {
public:
    WorkspaceLease() {
        thread_local Workspace shared;
        if (!shared.busy) {
            ws_ = &shared;
        } else {
            own_ = std::make_unique<Workspace>();
            ws_ = own_.get();
        }
        ws_->busy = true;
        ws_->values.clear();
        ws_->ops.clear();
    }
    ~WorkspaceLease() {
        ws_->trim();
        ws_->busy = false;
    }
    Workspace& operator*() const noexcept { return *ws_; }
    Workspace* operator->() const noexcept { return ws_; }

private:
    Workspace* ws_ = nullptr;
    std::unique_ptr<Workspace> own_;
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

void normalizeInto(StringView text, String& out) {
    out = internal::lowercased(text);
    // One look decides which replacements can apply at all.
    bool less = false, greater = false, bang = false, equal = false, space = false;
    for (char16_t c : out) {
        less |= c == u'<';
        greater |= c == u'>';
        bang |= c == u'!';
        equal |= c == u'=';
        space |= c == u' ';
    }
    if (equal) {
        if (less) replaceAll(out, u"<=", u"\u2264");
        if (greater) replaceAll(out, u">=", u"\u2265");
        if (bang) replaceAll(out, u"!=", u"\u2260");
    }
    if (less && greater) replaceAll(out, u"<>", u"\u2260");
    if (equal) replaceAll(out, u"==", u"=");
    if (space) {
        replaceAll(out, u" and ", u"&");
        replaceAll(out, u" or ", u"|");
    }
}

}  // namespace

QNExpressionObject::QNExpressionObject()
    : variables_(makeRef<QNProperties>()), variablesTable_(std::make_unique<Variables>()) {}

QNExpressionObject::~QNExpressionObject() = default;

void QNExpressionObject::setVariables(Ref<QNProperties> variables) {
    variables_ = variables ? std::move(variables) : makeRef<QNProperties>();
}

String QNExpressionObject::normalizedExpression(StringView text) {
    String out;
    normalizeInto(text, out);
    return out;
}

void QNExpressionObject::refreshVariables() {
    Variables& table = *variablesTable_;
    if (table.source == variables_ && table.revision == variables_->revision()) return;
    table.rebuild(variables_);
}

void QNExpressionObject::fail(const QNExpressionError& error) {
    errCode_ = static_cast<std::int64_t>(error.code());
    errDescription_ = error.description();
}

Decimal QNExpressionObject::evaluate() noexcept {
    errCode_ = 0;
    errDescription_.clear();
    try {
        refreshVariables();
        WorkspaceLease ws;
        normalizeInto(expression_, ws->text);
        Tokenizer(ws->text, variablesTable_.get(), ws->tokens).run();
        // Constants and variables carry their values from the start.
        for (Tok& t : ws->tokens)
            if (t.type == Type::constant || t.type == Type::variable) t.type = Type::value;
        refuseDeepNesting(ws->tokens);
        Reducer reducer(ws->text, ws->lists, ws->values, ws->ops);
        struct Record {
            Workspace& ws;
            const Reducer& reducer;
            ~Record() { ws.deepest = reducer.deepest(); }
        } record{*ws, reducer};
        const Decimal result = reducer.run(ws->tokens);
        // Not-a-number is no answer: an overflow, a function outside its
        // domain, or a variable that holds no number reached the result.
        if (result.isNaN()) raise(QNExpressionErrorCode::evaluation, kCouldNotEvaluate);
        return result;
    } catch (const QNExpressionError& error) {
        fail(error);
    } catch (...) {
        fail(QNExpressionError(QNExpressionErrorCode::unknown, String(kUnknownError)));
    }
    return Decimal();
}

std::optional<std::vector<QNExpressionToken>> QNExpressionObject::tokenize() noexcept {
    errCode_ = 0;
    errDescription_.clear();
    try {
        refreshVariables();
        String text;
        normalizeInto(expression_, text);
        std::vector<Tok> tokens;
        Tokenizer(text, variablesTable_.get(), tokens).run();
        std::vector<QNExpressionToken> out;
        out.reserve(tokens.size());
        for (const Tok& t : tokens)
            out.push_back({text.substr(t.begin, t.length), t.type});
        return out;
    } catch (const QNExpressionError& error) {
        fail(error);
    } catch (...) {
        fail(QNExpressionError(QNExpressionErrorCode::unknown, String(kUnknownError)));
    }
    return std::nullopt;
}

Ref<Dictionary> QNExpressionObject::variablesDictionary() const {
    auto out = makeRef<Dictionary>();
    if (variablesTable_->source == nullptr) return out;
    out->reserve(variablesTable_->entries.size());
    for (const auto& e : variablesTable_->entries)
        out->set(e.key, Value(e.text));
    return out;
}

}  // namespace qn
