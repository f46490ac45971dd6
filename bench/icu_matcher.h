// The raw side of the pattern benchmarks: a precompiled ICU matcher, fed
// texts by read-only alias (what the library does too).
#pragma once

#include <qn/core/string.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <memory>

namespace qn::bench {

inline icu::UnicodeString alias(const String& text) {
    return icu::UnicodeString(false, text.data(), static_cast<std::int32_t>(text.size()));
}

class IcuMatcher {
public:
    explicit IcuMatcher(const String& regex) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        pattern_.reset(icu::RegexPattern::compile(
            icu::UnicodeString(regex.data(), static_cast<std::int32_t>(regex.size())), 0,
            parseError, status));
        if (U_SUCCESS(status)) matcher_.reset(pattern_->matcher(status));
    }
    // The matcher reset onto `text`, which must outlive its use.
    icu::RegexMatcher& on(const icu::UnicodeString& text) { return matcher_->reset(text); }
    bool find(const String& subject) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString text = alias(subject);
        return on(text).find(status);
    }

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
    std::unique_ptr<icu::RegexMatcher> matcher_;
};

}  // namespace qn::bench
