// The like matcher as it was before the linear-time one: the pattern is
// rewritten into an ICU regular expression and searched for with ICU's
// backtracking engine under a work budget. Kept as the oracle for the
// differential test and as the "before" of the benchmarks; on the short
// patterns and subjects the test draws, the budget is never reached, so its
// answers are the intended ones.
//
// Header-only, over ICU and the standard library alone.
#pragma once

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace qn::like_reference {

inline bool isRegexSyntax(char16_t c) {
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

inline std::u16string escapeRegexSyntax(std::u16string_view pattern) {
    std::u16string out;
    out.reserve(pattern.size() + pattern.size() / 4 + 2);
    for (char16_t c : pattern) {
        if (c == u'\\' || isRegexSyntax(c)) out += u'\\';
        out += c;
    }
    return out;
}

inline std::u16string translateWithEscapes(std::u16string text) {
    std::size_t leading = 0;
    while (leading < text.size() && text[leading] == u'%')
        ++leading;
    if (leading > 0) {
        text.erase(0, leading);
    } else {
        text.insert(text.begin(), u'^');
    }

    std::u16string wild;
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

    for (std::size_t i = 0; i < wild.size(); ++i) {
        if (wild[i] == u'_' && (i == 0 || wild[i - 1] != u'\\')) wild[i] = u'.';
    }

    std::u16string out;
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

inline std::u16string translateWithoutEscapes(const std::u16string& text) {
    std::u16string out;
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

inline std::u16string likePatternToRegex(std::u16string_view pattern, bool useEscapes) {
    std::u16string escaped = escapeRegexSyntax(pattern);
    return useEscapes ? translateWithEscapes(std::move(escaped)) : translateWithoutEscapes(escaped);
}

// One pattern compiled once, matched against many subjects.
// Thread-compatible.
class Matcher {
public:
    // The work budget of the old matcher, in ICU's units (about a second).
    static constexpr std::int32_t kMatchTimeLimit = 10000;

    Matcher(std::u16string_view pattern, bool useEscapes) {
        const std::u16string regexText = likePatternToRegex(pattern, useEscapes);
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
        regex_ = std::move(regex);
        matcher_ = std::move(matcher);
    }

    bool compiled() const { return matcher_ != nullptr; }

    bool matches(std::u16string_view subject) {
        if (!matcher_) return false;
        UErrorCode status = U_ZERO_ERROR;
        UText text = UTEXT_INITIALIZER;
        utext_openUChars(&text, subject.data(), static_cast<std::int64_t>(subject.size()), &status);
        if (U_FAILURE(status)) return false;
        matcher_->reset(&text);
        const bool found = matcher_->find(status);
        utext_close(&text);
        return U_SUCCESS(status) && found;
    }

private:
    std::unique_ptr<icu::RegexPattern> regex_;
    std::unique_ptr<icu::RegexMatcher> matcher_;
};

inline bool likeMatches(std::u16string_view subject, std::u16string_view pattern, bool useEscapes) {
    return Matcher(pattern, useEscapes).matches(subject);
}

}  // namespace qn::like_reference
