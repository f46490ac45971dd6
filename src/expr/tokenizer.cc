// The text an expression is read as: normalised, then cut into tokens.
//
// Normalisation lower-cases the text and writes its two-character operators
// and the words " and " and " or " as single characters, so that cutting
// needs to know only one-character delimiters and names match whatever their
// case. Each piece is classified as it is cut, in the language's order, and
// constants and variables take their values then; evaluate() and tokenize()
// both read the text through here, so they always see the same tokens.
#include <qn/host/model.h>

#include "core/characters.h"
#include "expr/expression_internal.h"

#include <algorithm>
#include <new>

namespace qn::internal::expr {
namespace {

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

}  // namespace

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

void tokenizeInto(const String& text, const QNExpressionObject::Variables* variables,
                  std::vector<Tok>& out) {
    Tokenizer(text, variables, out).run();
}

}  // namespace qn::internal::expr
