// Text services shared inside the library: lower-casing and walking
// user-perceived characters, both by ICU's root-locale rules.
#pragma once

#include <qn/core/string.h>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <cstddef>
#include <cstdint>

namespace qn::internal {

// The full lower-case mapping of the root locale (one unit may become
// several); ASCII text is mapped without ICU. The text itself when ICU fails.
String lowercased(StringView text);

// The calling thread's character (extended grapheme cluster) break iterator;
// null when ICU cannot make one.
icu::BreakIterator* characterIterator();

// Calls f(start, end) for each user-perceived character of `s`, in order.
// False, without a call, when no iterator is available; f may throw, and the
// iterator is detached from `s` however the walk ends.
template <class F>
bool forEachCharacter(StringView s, F&& f) {
    icu::BreakIterator* iterator = characterIterator();
    if (iterator == nullptr) return false;
    UErrorCode status = U_ZERO_ERROR;
    UText text = UTEXT_INITIALIZER;
    utext_openUChars(&text, s.data(), static_cast<std::int64_t>(s.size()), &status);
    iterator->setText(&text, status);
    struct Detach {
        UText* text;
        icu::BreakIterator* iterator;
        ~Detach() {
            utext_close(text);
            iterator->setText(icu::UnicodeString());
        }
    } detach{&text, iterator};
    if (U_FAILURE(status)) return false;
    std::int32_t start = iterator->first();
    for (std::int32_t end = iterator->next(); end != icu::BreakIterator::DONE;
         start = end, end = iterator->next()) {
        f(static_cast<std::size_t>(start), static_cast<std::size_t>(end));
    }
    return true;
}

}  // namespace qn::internal
