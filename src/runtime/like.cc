// The like operator: a like pattern is translated into an ICU regular
// expression once, compiled once per thread, and searched for in each
// subject.
//
// The translation is text rewriting in fixed order, each step one
// left-to-right pass (done by hand here; the result is the text the
// equivalent regular-expression replacements give):
//
//   1. escape "\" as "\\", then . * [ ] ( ) $ ^ | ? + with a backslash;
//      braces stay as they are, so "a{2}" is a quantifier and "a{" does not
//      compile (the match is then false);
//   2. escapes on: drop leading "%" (match anywhere) or else anchor with "^";
//      a "%" run after anything but a backslash becomes ".*", such a "_"
//      becomes "."; then "\%" becomes "%" and "\_" becomes "_" (after step 1
//      the remaining backslash escapes the sign for the regex);
//   3. escapes off: every "%" run becomes ".*" and every "_" becomes ".".
//
// The "_" step looks at the character before each "_" in the text as it
// stands, rather than consuming it as part of the previous match: otherwise
// "__" would become "._" (one wildcard, one literal) and a "_" right after
// leading "%" signs would stay literal.
#include "runtime/like.h"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <unordered_map>

namespace qn::internal {
namespace {

// Compiled patterns kept per thread. A thread that matches rows against a
// handful of patterns compiles each once; a thread that sees endless distinct
// patterns keeps a bounded set.
constexpr std::size_t kCacheCapacity = 64;
// Longer patterns are compiled for the call only, so one huge pattern cannot
// pin memory in every thread.
constexpr std::size_t kMaxCachedPatternLength = 1024;
// Work budget of one match in ICU's units (ten thousand backtracking steps
// each; 10000 units take about a second). A pattern with several "%" can take
// polynomial time on a long subject that almost matches; past the budget the
// match gives up and counts as no match instead of hanging the caller.
// Ordinary patterns stay far below it.
constexpr std::int32_t kMatchTimeLimit = 10000;

bool isRegexSyntax(char16_t c) {
    switch (c) {
        case u'.':
        case u'*':
        case u'[':
        case u']':
        case u'(':
        case u')':
        case u'$':
        case u'^':
        case u'|':
        case u'?':
        case u'+':
            return true;
        default:
            return false;
    }
}

// Step 1. Doubling backslashes first and then prefixing the other
// characters is the same as one pass, since no prefix is itself escaped.
String escapeRegexSyntax(StringView pattern) {
    String out;
    out.reserve(pattern.size() + pattern.size() / 4 + 2);
    for (char16_t c : pattern) {
        if (c == u'\\' || isRegexSyntax(c)) out += u'\\';
        out += c;
    }
    return out;
}

String translateWithEscapes(String text) {
    // Leading "%": unanchored; otherwise the match starts at the beginning.
    std::size_t leading = 0;
    while (leading < text.size() && text[leading] == u'%')
        ++leading;
    if (leading > 0) {
        text.erase(0, leading);
    } else {
        text.insert(text.begin(), u'^');
    }

    // ([^\\])%+ -> $1.*
    String wild;
    wild.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const char16_t c = text[i++];
        wild += c;
        if (c != u'\\' && i < text.size() && text[i] == u'%') {
            wild += u".*";
            while (i < text.size() && text[i] == u'%')
                ++i;
        }
    }

    // "_" not after a backslash -> "." (see the file comment).
    for (std::size_t i = 0; i < wild.size(); ++i) {
        if (wild[i] == u'_' && (i == 0 || wild[i - 1] != u'\\')) wild[i] = u'.';
    }

    // (\\%)+ -> "%", then \\_ -> "_".
    String out;
    out.reserve(wild.size());
    for (std::size_t i = 0; i < wild.size();) {
        if (wild[i] == u'\\' && i + 1 < wild.size() && wild[i + 1] == u'%') {
            out += u'%';
            i += 2;
            while (i + 1 < wild.size() && wild[i] == u'\\' && wild[i + 1] == u'%')
                i += 2;
        } else {
            out += wild[i++];
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == u'\\' && i + 1 < out.size() && out[i + 1] == u'_') continue;
        out[kept++] = out[i];
    }
    out.resize(kept);
    return out;
}

String translateWithoutEscapes(const String& text) {
    String out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const char16_t c = text[i];
        if (c == u'%') {
            out += u".*";
            while (i < text.size() && text[i] == u'%')
                ++i;
            continue;
        }
        out += c == u'_' ? u'.' : c;
        ++i;
    }
    return out;
}

// One translated, compiled pattern and the matcher reused for its subjects.
struct CompiledLike {
    String pattern;
    bool useEscapes = true;
    std::unique_ptr<icu::RegexPattern> regex;  // null: did not compile
    std::unique_ptr<icu::RegexMatcher> matcher;
};

// ICU builds the shared data of its regex engine once, behind its own
// atomics. Doing that first use inside a function-local static puts every
// thread's later use after it in a way race detectors can see, too.
void prepareRegexEngine() {
    static const bool ready = [] {
        UParseError parseError;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexPattern> regex(
            icu::RegexPattern::compile(icu::UnicodeString(u"^a.*"), 0, parseError, status));
        const icu::UnicodeString subject(u"ab");  // the matcher keeps a reference
        if (U_SUCCESS(status)) {
            std::unique_ptr<icu::RegexMatcher> matcher(regex->matcher(subject, status));
            if (U_SUCCESS(status)) matcher->find(status);
        }
        return true;
    }();
    (void)ready;
}

void compile(CompiledLike& entry) {
    prepareRegexEngine();
    const String regexText = likePatternToRegex(entry.pattern, entry.useEscapes);
    if (regexText.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return;
    const icu::UnicodeString source(false, regexText.data(),
                                    static_cast<std::int32_t>(regexText.size()));
    UParseError parseError;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> regex(
        icu::RegexPattern::compile(source, 0, parseError, status));
    if (U_FAILURE(status) || !regex) return;
    std::unique_ptr<icu::RegexMatcher> matcher(regex->matcher(status));
    if (U_FAILURE(status) || !matcher) return;
    matcher->setTimeLimit(kMatchTimeLimit, status);
    if (U_FAILURE(status)) return;
    entry.regex = std::move(regex);
    entry.matcher = std::move(matcher);
}

bool find(CompiledLike& entry, StringView subject) {
    if (!entry.matcher) return false;
    UErrorCode status = U_ZERO_ERROR;
    UText text = UTEXT_INITIALIZER;
    utext_openUChars(&text, subject.data(), static_cast<std::int64_t>(subject.size()), &status);
    if (U_FAILURE(status)) return false;
    // The matcher keeps a shallow clone of `text`: it refers to `subject`
    // only until the next reset, and is not read in between.
    entry.matcher->reset(&text);
    const bool found = entry.matcher->find(status);
    utext_close(&text);
    return U_SUCCESS(status) && found;
}

// Least recently used entries go first. Thread-compatible: one per thread.
class LikeCache {
public:
    CompiledLike& get(StringView pattern, bool useEscapes) {
        // Rows matched against one pattern hit the front entry every time.
        if (!entries_.empty() && entries_.front().useEscapes == useEscapes &&
            entries_.front().pattern == pattern)
            return entries_.front();

        if (auto it = index_.find(Key{pattern, useEscapes}); it != index_.end()) {
            entries_.splice(entries_.begin(), entries_, it->second);
            return entries_.front();
        }

        // Built completely before it joins the cache, so a failure (out of
        // memory) leaves no half-made entry behind.
        CompiledLike fresh;
        fresh.pattern.assign(pattern);
        fresh.useEscapes = useEscapes;
        compile(fresh);
        if (entries_.size() >= kCacheCapacity) {
            const CompiledLike& last = entries_.back();
            index_.erase(Key{last.pattern, last.useEscapes});
            entries_.pop_back();
        }
        entries_.push_front(std::move(fresh));
        try {
            // The key views the entry's own text, which stays put in its node.
            index_.emplace(Key{entries_.front().pattern, useEscapes}, entries_.begin());
        } catch (...) {
            entries_.pop_front();
            throw;
        }
        return entries_.front();
    }

private:
    struct Key {
        StringView pattern;
        bool useEscapes;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<StringView>{}(key.pattern) ^ static_cast<std::size_t>(key.useEscapes);
        }
    };

    std::list<CompiledLike> entries_;
    std::unordered_map<Key, std::list<CompiledLike>::iterator, KeyHash> index_;
};

}  // namespace

String likePatternToRegex(StringView pattern, bool useEscapes) {
    String escaped = escapeRegexSyntax(pattern);
    return useEscapes ? translateWithEscapes(std::move(escaped)) : translateWithoutEscapes(escaped);
}

bool likeMatches(StringView subject, StringView pattern, bool useEscapes) {
    if (pattern.size() > kMaxCachedPatternLength) {
        CompiledLike once;
        once.pattern.assign(pattern);
        once.useEscapes = useEscapes;
        compile(once);
        return find(once, subject);
    }
    thread_local LikeCache cache;
    return find(cache.get(pattern, useEscapes), subject);
}

}  // namespace qn::internal
