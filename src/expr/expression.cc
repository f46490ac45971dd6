// QNExpressionObject: what callers see of the evaluator.
//
// Evaluation never throws: every failure inside, the evaluator's own or an
// allocation's, becomes errCode and errDescription on the object and a 0
// result. The variables are read into a table once per change of the
// properties, and token lists live in a per-thread workspace, two per
// nesting depth, so a warm evaluation allocates nothing beyond its result.
#include <qn/expr/expression.h>

#include "core/characters.h"
#include "expr/expression_internal.h"

#include <algorithm>
#include <memory>
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

namespace internal::expr {

[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view description) {
    throw QNExpressionError(code, String(description));
}

[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view prefix,
                        std::u16string_view name) {
    String text(prefix);
    text += name;
    throw QNExpressionError(code, std::move(text));
}

}  // namespace internal::expr

void QNExpressionObject::Variables::rebuild(const Ref<QNProperties>& from) {
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

using internal::expr::kCouldNotEvaluate;
using internal::expr::kUnknownError;
using internal::expr::normalizeInto;
using internal::expr::raise;
using internal::expr::reduceTokens;
using internal::expr::Tok;
using internal::expr::tokenizeInto;

namespace {

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
        tokenizeInto(ws->text, variablesTable_.get(), ws->tokens);
        const Decimal result =
            reduceTokens(ws->text, ws->tokens, ws->lists, ws->values, ws->ops, ws->deepest);
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
        tokenizeInto(text, variablesTable_.get(), tokens);
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
