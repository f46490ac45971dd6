// Regular expressions on ICU's engine (RegexPattern / RegexMatcher), run
// straight over the caller's UTF-16 text.
//
// A compiled pattern and one matcher for it are kept per thread, keyed by
// the pattern's text and flags, so a loop over many texts compiles once and
// allocates no matcher per call. The matcher reads the caller's buffer in
// place through a read-only alias; it is pointed back at an empty text
// before the call returns, so a cached matcher never holds on to a text its
// caller may free.
#include <qn/util/regex.h>

#include <unicode/parseerr.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utypes.h>

#include "core/pattern_cache.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qn {

QN_REGISTER_CLASS(QNRegExMatch, Object)

const Ref<QNStringCollection>& QNRegExMatch::groups() const {
    std::call_once(groupsMade_, [this] {
        if (!groupTexts_) return;
        groups_ = makeRef<QNStringCollection>(std::move(*groupTexts_));
        groupTexts_.reset();
    });
    return groups_;
}

void QNRegExMatch::setGroups(Ref<QNStringCollection> groups) {
    groupTexts_.reset();
    groups_ = std::move(groups);
}

String QNRegExMatch::debugDescription() const {
    const Ref<QNStringCollection>& list = groups();
    return u"<" + Object::description() + u"\n\tvalue: " + value_ + u"\n\tgroups: " +
           (list ? list->description() : String(u"(null)")) + u">";
}

namespace {

// Compiled patterns kept per thread: enough for the handful a loop
// alternates between; a thread that makes up patterns keeps a bounded set.
constexpr std::size_t kCacheCapacity = 32;
// Longer patterns are compiled for the call only, so one huge pattern cannot
// pin memory in every thread.
constexpr std::size_t kMaxCachedPatternLength = 4096;

// The work budget of one call, in ICU's time-limit units (ten thousand
// steps of the match engine each). ICU counts from the last reset of the
// matcher, that is across every match of a call, so the budget grows with
// the text: a fixed allowance, far beyond what a sane pattern needs on a
// short text, plus a thousand steps per code unit, where ordinary patterns
// take a few dozen. Exponential backtracking outgrows any such allowance
// within a few dozen characters.
constexpr std::int64_t kBaseTimeLimit = 500;
constexpr std::int64_t kUnitsPerTimeLimitStep = 10;

std::int32_t timeLimitFor(std::size_t textLength) {
    const std::int64_t limit =
        kBaseTimeLimit + static_cast<std::int64_t>(textLength) / kUnitsPerTimeLimitStep;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(limit, std::numeric_limits<std::int32_t>::max()));
}

// --- The error pair ----------------------------------------------------------

// The process-wide error pair. Both halves change under one lock, so a
// reader never sees the code of one failure with the text of another. A
// flag, changed only under the lock, lets the reset at the start of every
// call skip the lock while there is nothing to clear; a reset that misses a
// failure being recorded by another thread at that moment simply comes
// before it.
class ErrorPair {
public:
    void set(std::int64_t code, String description) {
        std::lock_guard lock(mutex_);
        code_ = code;
        description_ = std::move(description);
        set_.store(true, std::memory_order_release);
    }
    void reset() {
        if (!set_.load(std::memory_order_acquire)) return;
        std::lock_guard lock(mutex_);
        code_ = 0;
        description_.clear();
        set_.store(false, std::memory_order_release);
    }
    QNRegExError get() const {
        std::lock_guard lock(mutex_);
        return {code_, description_};
    }

private:
    mutable std::mutex mutex_;
    std::int64_t code_ = 0;
    String description_;
    std::atomic<bool> set_{false};
};

// Never destroyed, so a thread still matching at exit finds it alive.
ErrorPair& errorPair() {
    static ErrorPair* const pair = new ErrorPair();
    return *pair;
}

// ICU's error, the one place it becomes the library's error pair. ICU
// describes its errors by name only; a pattern error adds where it is.
void reportIcuError(UErrorCode code, const UParseError* where = nullptr) {
    std::string text = u_errorName(code);
    if (where != nullptr && where->line > 0) {
        text += " (pattern line " + std::to_string(where->line) + ", offset " +
                std::to_string(where->offset) + ")";
    }
    errorPair().set(static_cast<std::int64_t>(code), String(text.begin(), text.end()));
}

// --- Compiled patterns -----------------------------------------------------------

// A pattern compiled, or the reason it was refused. Immutable once built but
// for the matcher, which one call at a time uses.
struct Compiled {
    UErrorCode error = U_ZERO_ERROR;
    UParseError where{};
    std::int32_t groupCount = 0;
    std::unique_ptr<icu::RegexPattern> regex;
    // Declared after the pattern it belongs to, so it is destroyed first.
    std::unique_ptr<icu::RegexMatcher> matcher;
};

Compiled compile(StringView pattern, std::uint32_t flags) {
    Compiled c;
    if (pattern.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        c.error = U_INPUT_TOO_LONG_ERROR;
        return c;
    }
    // ICU copies the pattern as it compiles, so a read-only alias will do.
    const icu::UnicodeString text(false, pattern.data(), static_cast<std::int32_t>(pattern.size()));
    c.regex.reset(icu::RegexPattern::compile(text, flags, c.where, c.error));
    if (U_FAILURE(c.error)) {
        c.regex.reset();
        return c;
    }
    c.matcher.reset(c.regex->matcher(c.error));
    if (U_FAILURE(c.error)) {
        c.matcher.reset();
        c.regex.reset();
        return c;
    }
    c.groupCount = c.matcher->groupCount();
    return c;
}

// Refusals are cached too, so a loop with a bad pattern does not compile it
// again and again.
using PatternCache = internal::PatternCache<Compiled, kCacheCapacity>;

// The compiled pattern for one call: the cached one, or, for a pattern too
// long to cache, one owned by the call.
class Prepared {
public:
    Prepared(StringView pattern, std::uint32_t flags) {
        if (pattern.size() > kMaxCachedPatternLength) {
            own_.emplace(compile(pattern, flags));
            compiled_ = &*own_;
        } else {
            thread_local PatternCache cache;
            compiled_ = &cache.get(pattern, flags, [&] { return compile(pattern, flags); });
        }
    }
    // A matcher keeps the backtracking stack it grew, up to ICU's limit of
    // 8 MB; one that ran out of budget or stack is replaced by a fresh one
    // (after the call's Subject is gone), so the cache does not hold it.
    ~Prepared() {
        if (!renew_ || own_) return;
        UErrorCode status = U_ZERO_ERROR;
        compiled_->matcher.reset();
        compiled_->matcher.reset(compiled_->regex->matcher(status));
        if (U_FAILURE(status)) {
            compiled_->matcher.reset();
            compiled_->error = status;
        }
    }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    // Null, with the error pair set, when the pattern was refused.
    icu::RegexMatcher* matcher() const {
        if (!compiled_->matcher) reportIcuError(compiled_->error, &compiled_->where);
        return compiled_->matcher.get();
    }
    std::int32_t groupCount() const noexcept { return compiled_->groupCount; }

    // Sets the error pair for a match that failed.
    void failed(UErrorCode status) {
        reportIcuError(status);
        renew_ = status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW;
    }

private:
    std::optional<Compiled> own_;
    Compiled* compiled_ = nullptr;
    bool renew_ = false;
};

// The matcher pointed at the caller's text for the length of one call, with
// the call's work budget. Leaving points it at an empty text, so the cached
// matcher keeps no reference to the caller's buffer.
class Subject {
public:
    Subject(icu::RegexMatcher& matcher, StringView text)
        : matcher_(matcher), input_(aliasOf(text)) {
        matcher_.reset(input_);
        matcher_.setTimeLimit(timeLimitFor(text.size()), status_);
    }
    ~Subject() {
        static const icu::UnicodeString* const kNothing = new icu::UnicodeString();
        matcher_.reset(*kNothing);
    }
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    // The status every step of the call adds to; a failure sticks.
    UErrorCode& status() noexcept { return status_; }
    bool ok() const noexcept { return U_SUCCESS(status_); }

private:
    // A read-only alias of the caller's buffer; the matcher reads it in
    // place. ICU's strings stop at 2^31 - 1 units: longer texts fail the call.
    icu::UnicodeString aliasOf(StringView text) {
        if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            status_ = U_INPUT_TOO_LONG_ERROR;
            return icu::UnicodeString();
        }
        return icu::UnicodeString(false, text.data(), static_cast<std::int32_t>(text.size()));
    }

    icu::RegexMatcher& matcher_;
    UErrorCode status_ = U_ZERO_ERROR;
    const icu::UnicodeString input_;
};

String piece(StringView text, std::int64_t start, std::int64_t end) {
    if (start < 0 || end < start) return String();  // a group that took no part
    return String(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

// A collection holding `items`, dated as adding them one by one would.
Ref<QNObjectCollection> collectionOf(std::vector<Value> items) {
    auto collection = QNObjectCollection::init();
    if (items.empty()) return collection;
    collection->setItems(std::move(items));
    collection->internalMarkAsModified();
    return collection;
}

}  // namespace

bool QNRegEx::isMatchInTextRegExp(StringView text, StringView regExp) {
    resetErrorCodeAndDescription();
    Prepared prepared(regExp, 0);
    icu::RegexMatcher* matcher = prepared.matcher();
    if (!matcher) return false;
    Subject subject(*matcher, text);
    const bool found = subject.ok() && matcher->find(subject.status());
    if (!subject.ok()) {
        prepared.failed(subject.status());
        return false;
    }
    return found;
}

Value QNRegEx::qnIsMatchRegExp(StringView text, StringView regExp) {
    return Value(isMatchInTextRegExp(text, regExp));
}

Ref<QNObjectCollection> QNRegEx::matchInTextRegExp(StringView text, StringView regExp) {
    resetErrorCodeAndDescription();
    Prepared prepared(regExp, 0);
    icu::RegexMatcher* matcher = prepared.matcher();
    if (!matcher) return QNObjectCollection::init();
    const std::int32_t groupCount = prepared.groupCount();
    std::vector<Value> items;
    {
        Subject subject(*matcher, text);
        UErrorCode& status = subject.status();
        while (subject.ok() && matcher->find(status)) {
            std::vector<String> groups;
            groups.reserve(static_cast<std::size_t>(groupCount));
            for (std::int32_t g = 1; g <= groupCount; ++g)
                groups.push_back(
                    piece(text, matcher->start64(g, status), matcher->end64(g, status)));
            String value = piece(text, matcher->start64(status), matcher->end64(status));
            items.emplace_back(makeRef<QNRegExMatch>(std::move(value), std::move(groups)));
        }
        if (!subject.ok()) {
            prepared.failed(status);
            return QNObjectCollection::init();
        }
    }
    return collectionOf(std::move(items));
}

String QNRegEx::replaceInTextRegExpWith(StringView text, StringView regExp, StringView with) {
    resetErrorCodeAndDescription();
    Prepared prepared(regExp, 0);
    icu::RegexMatcher* matcher = prepared.matcher();
    if (!matcher) return String(text);
    if (with.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        reportIcuError(U_INPUT_TOO_LONG_ERROR);
        return String(text);
    }
    const icu::UnicodeString replacement(false, with.data(),
                                         static_cast<std::int32_t>(with.size()));
    Subject subject(*matcher, text);
    UErrorCode& status = subject.status();
    // replaceAll() would do, but its search drops the engine's errors, so a
    // match that runs out of budget would read as the end of the matches.
    icu::UnicodeString result;
    while (subject.ok() && matcher->find(status))
        matcher->appendReplacement(result, replacement, status);
    if (subject.ok()) matcher->appendTail(result);
    // On a bad template ICU leaves the text made so far; the caller gets its
    // own text back instead.
    if (!subject.ok()) {
        prepared.failed(subject.status());
        return String(text);
    }
    return String(result.getBuffer(), static_cast<std::size_t>(result.length()));
}

Ref<QNObjectCollection> QNRegEx::splitTextRegExp(StringView text, StringView regExp) {
    resetErrorCodeAndDescription();
    Prepared prepared(regExp, 0);
    icu::RegexMatcher* matcher = prepared.matcher();
    if (!matcher) return QNObjectCollection::init();
    std::vector<Value> pieces;
    {
        Subject subject(*matcher, text);
        UErrorCode& status = subject.status();
        std::int64_t cursor = 0;
        while (subject.ok() && matcher->find(status)) {
            const std::int64_t start = matcher->start64(status);
            if (start > cursor) pieces.emplace_back(piece(text, cursor, start));
            cursor = matcher->end64(status);
        }
        if (!subject.ok()) {
            prepared.failed(status);
            return QNObjectCollection::init();
        }
        if (static_cast<std::size_t>(cursor) < text.size())
            pieces.emplace_back(piece(text, cursor, static_cast<std::int64_t>(text.size())));
    }
    return collectionOf(std::move(pieces));
}

std::int64_t QNRegEx::lastErrorCode() {
    return errorPair().get().code;
}

String QNRegEx::lastErrorDescription() {
    return errorPair().get().description;
}

QNRegExError QNRegEx::lastError() {
    return errorPair().get();
}

void QNRegEx::resetErrorCodeAndDescription() {
    errorPair().reset();
}

}  // namespace qn
