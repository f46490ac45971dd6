// Regular expressions for generated code: is-match, every match with its
// capture groups, replace and split, as class operations on strings.
//
// Patterns and replacement templates use ICU's syntax, compiled with no
// options: case-sensitive, "^" and "$" at the ends of the whole text only,
// "." not matching line ends. In a template "$n" is capture group n and "\"
// escapes the next character. Positions and lengths count UTF-16 code units
// of the whole text.
//
// Failures never throw. A pattern that does not compile, a template that
// names a group the pattern lacks, and a match that runs out of its work
// budget or backtracking stack all leave the same trace: the process-wide
// error pair holds ICU's error code and name, and the operation answers its
// empty result (false, an empty collection, the text unchanged). Every call
// first clears the pair, so it always tells about the latest call from any
// thread.
//
// The work budget is counted in the engine's match steps, not in time, so
// the outcome is the same on any machine: a fixed allowance per call plus a
// share per code unit of the text. A pattern that backtracks exponentially
// (such as "(a+)+$" against a run of a's that ends in something else) stops
// there instead of hanging the caller.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qn {

// One match: the matched text and the text of capture groups 1..n in group
// order ("" for a group that took no part in the match). Thread-compatible;
// a match made from group texts makes its groups collection on first use,
// safely even when several threads read it at once.
class QN_API QNRegExMatch : public Object {
    QN_OBJECT(QNRegExMatch)
public:
    QNRegExMatch() = default;
    QNRegExMatch(String value, Ref<QNStringCollection> groups)
        : value_(std::move(value)), groups_(std::move(groups)) {}
    // The groups as texts; the collection is made when first asked for, so
    // code that reads only the values pays for no collections.
    QNRegExMatch(String value, std::vector<String> groupTexts)
        : value_(std::move(value)), groupTexts_(std::move(groupTexts)) {}

    // initWithValue:groups:
    static Ref<QNRegExMatch> initWithValueGroups(String value, Ref<QNStringCollection> groups) {
        return makeRef<QNRegExMatch>(std::move(value), std::move(groups));
    }

    const String& value() const noexcept { return value_; }
    void setValue(String value) { value_ = std::move(value); }
    const Ref<QNStringCollection>& groups() const;
    void setGroups(Ref<QNStringCollection> groups);

    // "<<QNRegExMatch>\n\tvalue: ...\n\tgroups: ...>".
    String debugDescription() const override;

private:
    String value_;
    mutable std::once_flag groupsMade_;
    mutable Ref<QNStringCollection> groups_;
    mutable std::optional<std::vector<String>> groupTexts_;
};

// The error pair read at one instant.
struct QNRegExError {
    std::int64_t code = 0;  // 0: no error
    String description;     // "": no error
};

// Thread-safe. Compiled patterns are kept per thread (a small bounded set),
// so a loop over many texts with one pattern compiles it once per thread.
class QN_API QNRegEx {
public:
    // True when the pattern matches anywhere in the text.
    static bool isMatchInTextRegExp(StringView text, StringView regExp);
    // The same, boxed.
    static Value qnIsMatchRegExp(StringView text, StringView regExp);
    // One QNRegExMatch per non-overlapping match, left to right.
    static Ref<QNObjectCollection> matchInTextRegExp(StringView text, StringView regExp);
    // Every match replaced by the template.
    static String replaceInTextRegExpWith(StringView text, StringView regExp, StringView with);
    // The non-empty pieces of text between matches, as strings.
    static Ref<QNObjectCollection> splitTextRegExp(StringView text, StringView regExp);

    // The short names, forwarding to the operations above.
    static Ref<QNObjectCollection> matches(StringView text, StringView regExp) {
        return matchInTextRegExp(text, regExp);
    }
    static bool isMatch(StringView text, StringView regExp) {
        return isMatchInTextRegExp(text, regExp);
    }
    static Ref<QNObjectCollection> split(StringView text, StringView regExp) {
        return splitTextRegExp(text, regExp);
    }
    static String replace(StringView text, StringView regExp, StringView with) {
        return replaceInTextRegExpWith(text, regExp, with);
    }

    // The error pair of the latest call: ICU's error code (0 when none) and
    // its name with, for a pattern, where it went wrong ("" when none).
    static std::int64_t lastErrorCode();
    static String lastErrorDescription();
    // Both halves read together, so a caller racing other threads never
    // sees the code of one failure with the text of another.
    static QNRegExError lastError();
    static void resetErrorCodeAndDescription();
};

}  // namespace qn
