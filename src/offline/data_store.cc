// Cursors, data-store helpers and the provider.
#include <qn/core/containers.h>
#include <qn/core/string.h>
#include <qn/host/errors.h>
#include <qn/host/utilities.h>
#include <qn/offline/data_store.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <string>

namespace qn {

QN_REGISTER_CLASS(QNDataStoreHelperBase, Object)

QNCursor::~QNCursor() = default;
QNDataStoreHelperProtocol::~QNDataStoreHelperProtocol() = default;

String QNDataStoreHelperBase::addWhere(StringView where, StringView condition) {
    String clause(where);
    clause += where.empty() ? u" WHERE " : u" AND ";
    clause += condition;
    return clause;
}

namespace {

constexpr std::uint32_t kClosedStatus = QN_STATUS_NO_ROWS;

// The first occurrence of `pattern` in `text` under simple case folding,
// one code point against one, so the match's range is exact in `text`.
// Answers [begin, end) in `text`, or begin == npos.
std::pair<std::size_t, std::size_t> findIgnoringCase(StringView text, StringView pattern) {
    const auto* t = reinterpret_cast<const UChar*>(text.data());
    const auto* p = reinterpret_cast<const UChar*>(pattern.data());
    const auto tn = static_cast<std::int32_t>(text.size());
    const auto pn = static_cast<std::int32_t>(pattern.size());
    for (std::int32_t start = 0; start < tn;) {
        std::int32_t i = start;
        std::int32_t j = 0;
        while (i < tn && j < pn) {
            UChar32 a;
            UChar32 b;
            U16_NEXT(t, i, tn, a);
            U16_NEXT(p, j, pn, b);
            if (u_foldCase(a, U_FOLD_CASE_DEFAULT) != u_foldCase(b, U_FOLD_CASE_DEFAULT)) break;
            if (j == pn) return {static_cast<std::size_t>(start), static_cast<std::size_t>(i)};
        }
        if (pn == 0) return {static_cast<std::size_t>(start), static_cast<std::size_t>(start)};
        U16_FWD_1(t, start, tn);
    }
    return {String::npos, String::npos};
}

bool allowedOperator(StringView op) {
    return op == u"<" || op == u"<=" || op == u">" || op == u">=" || op == u"=" || op == u"<>" ||
           op == u"like";
}

bool equalsIgnoringASCIICase(StringView a, StringView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Applies `runtime` to `statement`; false when a substitution fails. `out`
// is set only when the text changed, so the caller goes on with the
// statement itself otherwise (no copy per run).
bool applyOperators(StringView statement, const QNRuntimeOperators& runtime,
                    std::optional<String>& out, String* refused) {
    if (runtime.empty() || statement == QNCursor::kDynamicMarker) return true;
    String result(statement);
    for (const auto& [name, op] : runtime) {
        const String placeholder = u"{{" + name + u"}}";
        const auto [begin, end] = findIgnoringCase(result, placeholder);
        if (begin == String::npos) {
            if (refused) *refused = u"no placeholder " + placeholder;
            return false;
        }
        if (!allowedOperator(op)) {
            if (refused) *refused = u"operator \"" + op + u"\" is not allowed";
            return false;
        }
        std::size_t quotes = 0;
        for (std::size_t i = 0; i < begin; ++i)
            quotes += result[i] == u'\'' ? 1 : 0;
        if (quotes % 2 != 0) {
            if (refused) *refused = placeholder + u" is inside a quoted literal";
            return false;
        }
        result.replace(begin, end - begin, op);
    }
    out = std::move(result);
    return true;
}

}  // namespace

std::optional<String> QNDataStoreProvider::applyRuntimeOperators(
    StringView statement, const QNRuntimeOperators& runtime) {
    std::optional<String> out;
    if (!applyOperators(statement, runtime, out, nullptr)) return std::nullopt;
    return out ? std::move(*out) : String(statement);
}

QNDataStoreProvider::QNDataStoreProvider() : buffers_(1) {}

QNDataStoreProvider::QNDataStoreProvider(std::shared_ptr<QNDataStoreHelperProtocol> helper,
                                         std::vector<std::vector<Value>> buffers)
    : helper_(std::move(helper)), buffers_(std::move(buffers)) {}

QNDataStoreProvider::~QNDataStoreProvider() = default;

void QNDataStoreProvider::execute(std::int64_t cursor, const std::vector<Value>& parameters,
                                  const std::vector<bool>& nullFlags,
                                  const QNRuntimeOperators& runtime) {
    // A run that makes no command must not leave the previous one readable:
    // the program would go on through the old rows as if this had worked.
    auto closeCursor = [&] {
        if (auto open = openCursors_.find(cursor); open != openCursors_.end()) {
            open->second->close();
            openCursors_.erase(open);
        }
    };
    if (!helper_) return closeCursor();
    const std::shared_ptr<const QNCursor> definition = helper_->getCursor(cursor);
    if (!definition) return closeCursor();

    std::optional<String> applied;
    String refused;
    if (!applyOperators(definition->statement(), runtime, applied, &refused)) {
        QNThreadErrorHandler::errorHandler().addErrorWithCodeDescription(
            0, u"Cursor " + definition->name() + u": " + refused);
        return closeCursor();
    }
    StringView text = applied ? StringView(*applied) : StringView(definition->statement());

    const std::vector<Value>* values = &parameters;
    const std::vector<bool>* flags = &nullFlags;
    std::vector<Value> keptValues;
    std::vector<bool> keptFlags;
    std::optional<String> dynamicText;
    if (equalsIgnoringASCIICase(text, QNCursor::kDynamicMarker)) {
        // Without a usable dynamic text the marker itself runs, and the
        // database's refusal is the status.
        if (auto dynamic = dynStatements_.find(cursor); dynamic != dynStatements_.end()) {
            if (applyOperators(dynamic->second, runtime, dynamicText, nullptr))
                text = dynamicText ? StringView(*dynamicText) : StringView(dynamic->second);
        }
        // Parameters and their null flags are filtered together.
        if (auto bind = dynStatementParams_.find(cursor);
            bind != dynStatementParams_.end() && !parameters.empty()) {
            const std::vector<std::int64_t>& keep = bind->second;
            for (std::size_t i = 0; i < parameters.size() && i < keep.size(); ++i) {
                if (keep[i] != 0) continue;
                keptValues.push_back(parameters[i]);
                if (i < nullFlags.size()) keptFlags.push_back(nullFlags[i]);
            }
        }
        values = &keptValues;
        flags = &keptFlags;
    }

    auto connection =
        QNDBManager::sharedInstance().connectionForDatastore(QNDBManager::kDefaultDatastoreName);
    if (!connection) return closeCursor();
    Ref<QNDBCommand> command = connection->commandWithSQLStatement(text);
    if (!values->empty()) command->setParameters(QNProcedureHelper::objectParameters(*values));
    if (!flags->empty()) command->setNullParameters(*flags);
    command->execute();
    openCursors_[cursor] = std::move(command);
}

void QNDataStoreProvider::readNext(std::int64_t cursor) {
    if (auto open = openCursors_.find(cursor); open != openCursors_.end()) open->second->fetch();
}

void QNDataStoreProvider::close(std::int64_t cursor) {
    if (auto open = openCursors_.find(cursor); open != openCursors_.end()) {
        open->second->close();
        openCursors_.erase(open);
    }
}

std::int64_t QNDataStoreProvider::getStatus(std::int64_t cursor) {
    auto open = openCursors_.find(cursor);
    return open == openCursors_.end() ? kClosedStatus : open->second->status();
}

Ref<QNDBCommand> QNDataStoreProvider::getDBCommand(std::int64_t cursor) {
    if (auto open = openCursors_.find(cursor); open != openCursors_.end()) return open->second;
    QNUtilities::tryRecoverFatalError(u"getDBCommand: cursor " + fromUtf8(std::to_string(cursor)) +
                                      u" is not open");
    // A command on no connection: empty values, status 101.
    return makeRef<QNSQLiteCommand>();
}

void QNDataStoreProvider::dynParam(std::int64_t cursor,
                                   const std::vector<std::vector<Value>>& values) {
    if (values.empty() || !helper_) return;
    const std::vector<Value> answer = helper_->getDynamicStatement(cursor, values.front());
    if (answer.size() != 2) return;
    if (answer[0].isString()) dynStatements_[cursor] = answer[0].asString();
    if (const Array* flags = answer[1].asArray()) {
        std::vector<std::int64_t> bind;
        bind.reserve(flags->size());
        for (const Value& flag : *flags) {
            if (!flag.isNumber()) return;
            bind.push_back(flag.integerValue());
        }
        dynStatementParams_[cursor] = std::move(bind);
    }
}

void QNDataStoreProvider::addInsertedBlobURLAbsoluteString(StringView url) {
    if (auto connection = QNDBManager::sharedInstance().connectionForDatastore(
            QNDBManager::kDefaultDatastoreName))
        connection->addInsertedBlobURLAbsoluteString(url);
}

void QNDataStoreProvider::addDeletedBlobURLAbsoluteString(StringView url) {
    if (auto connection = QNDBManager::sharedInstance().connectionForDatastore(
            QNDBManager::kDefaultDatastoreName))
        connection->addDeletedBlobURLAbsoluteString(url);
}

}  // namespace qn
