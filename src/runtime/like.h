// The like operator of generated code, internal to the library.
//
// A like pattern stands for an ICU regular expression ("%" any run, "_" any
// one character, "\%" and "\_" the literal signs) that is searched for
// anywhere in the subject; only the start is anchored, and only with escapes
// on. The expression is run by the library's own linear-time matcher, not by
// a regex engine.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

namespace qn::internal {

// The ICU regular expression a like pattern stands for (exported for tests).
QN_API String likePatternToRegex(StringView pattern, bool useEscapes);

// Whether `subject` is like `pattern`; false when the expression does not
// compile. Takes at most (subject length) x (pattern length) steps. Compiled
// patterns are kept in a small per-thread cache, so matching many subjects
// against one pattern compiles it once.
QN_API bool likeMatches(StringView subject, StringView pattern, bool useEscapes);

}  // namespace qn::internal
