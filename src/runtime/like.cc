// The like operator: a like pattern stands for the ICU regular expression it
// is rewritten into, searched for in each subject. The rewriting is kept as
// text (likePatternToRegex), because its quirks are part of the operator's
// meaning; the match itself does not run through a regex engine.
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
//
// What the translation yields is always a flat sequence: an optional "^",
// then atoms (a literal code point, or "." for any code point but a line
// break), each optionally repeated by "*" or an interval "{n}", "{n,}",
// "{n,m}". A backtracking engine takes time polynomial in the subject's
// length, with the number of "%" as the exponent, on a subject that almost
// matches; it had to be cut off by a work budget, which then answered "not
// like" for subjects that are. Such a sequence is instead compiled here into
// its atoms and run as an automaton over the subject's code points, one pass
// that tracks every live position at once: at most (subject length) x
// (atoms) steps, and every answer exact. Which texts ICU rejects (a stray
// brace, an interval after "*", bounds beyond 2^24 - 1 or in the wrong order)
// is repeated here, so those patterns still match nothing.
#include "runtime/like.h"

#include "core/pattern_cache.h"

#include <unicode/utf16.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace qn::internal {
namespace {

// Compiled patterns kept per thread. A thread that matches rows against a
// handful of patterns compiles each once; a thread that sees endless distinct
// patterns keeps a bounded set.
constexpr std::size_t kCacheCapacity = 64;
// Longer patterns are compiled for the call only, so one huge pattern cannot
// pin memory in every thread.
constexpr std::size_t kMaxCachedPatternLength = 1024;

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

// --- The compiled form ----------------------------------------------------------

// Stands for "." in an atom: any code point but a line break.
constexpr char32_t kAnyButLineBreak = 0xFFFFFFFF;
constexpr std::uint32_t kUnbounded = std::numeric_limits<std::uint32_t>::max();
// ICU's largest interval bound.
constexpr std::uint32_t kMaxIntervalBound = 0xFFFFFF;

// One code point class repeated between `min` and `max` times.
struct Atom {
    char32_t what = kAnyButLineBreak;  // a literal code point, or kAnyButLineBreak
    std::uint32_t min = 1;
    std::uint32_t max = 1;  // kUnbounded for "*" and "{n,}"
};

// A pattern ready to run. Immutable once built.
struct Program {
    bool valid = false;     // false: ICU would not compile it, so nothing matches
    bool anchored = false;  // the match must start at the subject's start
    std::vector<Atom> atoms;
    // Unanchored only: the code units every match starts with (the leading
    // literals, each exactly once), found by a plain search between
    // partial matches. Empty when the first atom is no literal.
    String prefix;
};

// ICU's line terminators, which "." does not match without flags.
bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool accepts(const Atom& atom, char32_t c) {
    return atom.what == kAnyButLineBreak ? !isLineBreak(c) : atom.what == c;
}

// Reads "{n}", "{n,}" or "{n,m}" at regex[i] (the brace), as ICU does: ASCII
// digits only, no blanks, bounds up to kMaxIntervalBound and min <= max.
bool readInterval(StringView regex, std::size_t& i, std::uint32_t& min, std::uint32_t& max) {
    auto number = [&](std::uint32_t& value) {
        const std::size_t first = i;
        std::uint64_t n = 0;
        for (; i < regex.size() && regex[i] >= u'0' && regex[i] <= u'9'; ++i)
            n = std::min<std::uint64_t>(n * 10 + (regex[i] - u'0'), kMaxIntervalBound + 1);
        value = static_cast<std::uint32_t>(n);
        return i > first && n <= kMaxIntervalBound;
    };
    ++i;  // "{"
    if (!number(min)) return false;
    max = min;
    if (i < regex.size() && regex[i] == u',') {
        ++i;
        max = kUnbounded;
        if (i < regex.size() && regex[i] != u'}' && !number(max)) return false;
    }
    if (i >= regex.size() || regex[i] != u'}' || max < min) return false;
    ++i;
    return true;
}

// Compiles the text likePatternToRegex makes; only the constructs it can
// produce are known here ("." "*" "^" "{...}" and backslash escapes).
Program compileRegex(StringView regex) {
    Program program;
    std::size_t i = 0;
    // The anchor is an atom for the purpose of intervals: "^{0}" makes it
    // optional, "^{2}" is still the start.
    bool anchor = false;
    std::uint32_t anchorMin = 1;
    if (!regex.empty() && regex[0] == u'^') {
        anchor = true;
        ++i;
    }
    bool haveAtom = anchor;  // something an interval can repeat
    bool repeated = false;   // and whether it already carries a repeat
    while (i < regex.size()) {
        const char16_t c = regex[i];
        if (c == u'{') {
            std::uint32_t min = 0;
            std::uint32_t max = 0;
            if (!haveAtom || repeated || !readInterval(regex, i, min, max)) return program;
            if (program.atoms.empty()) {
                anchorMin = min;
            } else {
                program.atoms.back().min = min;
                program.atoms.back().max = max;
            }
            repeated = true;
            continue;
        }
        if (c == u'*') {
            // Only ever after "." (a user's "*" is escaped).
            if (!haveAtom || repeated || program.atoms.empty()) return program;
            program.atoms.back().min = 0;
            program.atoms.back().max = kUnbounded;
            repeated = true;
            ++i;
            continue;
        }
        if (c == u'}') return program;  // ICU: a brace that closes nothing

        Atom atom;
        if (c == u'.') {
            ++i;
        } else {
            if (c == u'\\') ++i;  // escapes only ever quote a non-letter
            if (i >= regex.size()) return program;
            UChar32 cp = 0;
            U16_NEXT(regex.data(), i, regex.size(), cp);
            atom.what = static_cast<char32_t>(cp);
        }
        program.atoms.push_back(atom);
        haveAtom = true;
        repeated = false;
    }
    // An atom that may not occur at all stands for nothing: drop "x{0}".
    std::erase_if(program.atoms, [](const Atom& atom) { return atom.max == 0; });
    program.anchored = anchor && anchorMin > 0;
    program.valid = true;

    // A lone trail surrogate may sit inside a pair, where no match starts;
    // and only an atom entered once per time (min 1) can be re-entered at
    // the found place without losing earlier entries.
    const std::vector<Atom>& atoms = program.atoms;
    if (!program.anchored && !atoms.empty() && atoms[0].what != kAnyButLineBreak &&
        atoms[0].min == 1 && !U16_IS_TRAIL(atoms[0].what)) {
        for (std::size_t k = 0; k < atoms.size(); ++k) {
            const Atom& atom = atoms[k];
            if (k > 0 && (atom.what == kAnyButLineBreak || atom.min != 1 || atom.max != 1)) break;
            if (U_IS_BMP(atom.what)) {
                program.prefix += static_cast<char16_t>(atom.what);
            } else {
                program.prefix += static_cast<char16_t>(U16_LEAD(atom.what));
                program.prefix += static_cast<char16_t>(U16_TRAIL(atom.what));
            }
            if (atom.max != 1) break;  // "a{1,3}b": the "b" need not follow the first "a"
        }
    }
    return program;
}

// --- Running a program ------------------------------------------------------------

// The live state of each atom while a subject is read, reused from call to
// call. Time is the number of code points read so far; an atom "entered" at
// time t has, at time T, repeated T - t times if every code point in between
// was one it accepts. Thread-compatible: one per thread.
class Runner {
public:
    bool run(const Program& program, StringView subject) {
        if (!program.valid) return false;
        const std::size_t count = program.atoms.size();
        if (count == 0) return true;
        reset(program.atoms, subject.size());
        // Plain pointers in the loop: the vectors' members would be reloaded
        // after every store.
        const Atom* const atoms = program.atoms.data();
        State* const states = states_.data();
        std::size_t* const ring = ring_.data();
        std::size_t* live = live_.data();  // atoms with entries, ascending
        std::size_t* next = next_.data();
        std::size_t liveCount = 0;
        const StringView prefix = program.prefix;

        std::size_t time = 0;
        std::size_t i = 0;
        for (;;) {
            if (liveCount == 0) {
                // Only a fresh start can match from here on.
                if (program.anchored && time > 0) return false;
                if (!prefix.empty()) {
                    // No match starts before the prefix's next occurrence
                    // (wherever its code points are, its units are too); the
                    // automaton checks the rest. Time need not advance over
                    // the skipped text: no atom holds an entry to measure.
                    const std::size_t at = subject.find(prefix, i);
                    if (at == StringView::npos) return false;
                    i = at;
                }
            }
            // The code point read next. An atom that must repeat at least
            // once and does not accept it would only be entered to be
            // dropped again, so it is not entered at all.
            const bool more = i < subject.size();
            std::size_t after = i;
            UChar32 c = 0;
            if (more) U16_NEXT(subject.data(), after, subject.size(), c);
            const char32_t unit = static_cast<char32_t>(c);

            // Settle the atoms at this time, in pattern order: an atom that
            // has repeated often enough lets the next one start here.
            std::size_t nextCount = 0;
            std::size_t s = 0;
            std::size_t j = 0;
            bool entering = !program.anchored || time == 0;
            if (!entering) j = live[0];
            for (;;) {
                if (s < liveCount && live[s] == j) ++s;
                const Atom& atom = atoms[j];
                State& state = states[j];
                if (entering && (atom.min == 0 || (more && accepts(atom, unit))))
                    enter(state, atom, ring, time);
                if (state.matured != kNone) {
                    next[nextCount++] = j;
                    if (j + 1 == count) return true;  // the end is never anchored
                    ++j;
                    entering = true;
                    continue;
                }
                if (state.pending > 0) next[nextCount++] = j;
                if (s == liveCount) break;
                j = live[s];
                entering = false;
            }
            std::swap(live, next);
            liveCount = nextCount;

            if (!more) return false;
            i = after;
            ++time;
            std::size_t kept = 0;
            for (std::size_t k = 0; k < liveCount; ++k) {
                const std::size_t a = live[k];
                if (step(states[a], atoms[a], ring, unit, time)) live[kept++] = a;
            }
            liveCount = kept;
        }
    }

    // Gives back a large ring buffer after an unusual match.
    void trim() {
        if (ring_.capacity() > kKeptRing) std::vector<std::size_t>().swap(ring_);
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kKeptRing = std::size_t{1} << 16;

    // The entries of one atom: those that have not yet repeated `min` times
    // wait in a ring (oldest first; at most one per time, so at most `min`),
    // and of those that have, only the latest counts: it has repeated the
    // fewest times, so it is the last to pass `max`.
    struct State {
        std::size_t matured = kNone;
        std::size_t head = 0;
        std::size_t pending = 0;
        std::size_t offset = 0;    // of the atom's ring in ring_
        std::size_t capacity = 0;  // min(min, subject length + 1)
    };

    void reset(const std::vector<Atom>& atoms, std::size_t subjectLength) {
        states_.assign(atoms.size(), State{});
        std::size_t total = 0;
        for (std::size_t k = 0; k < atoms.size(); ++k) {
            states_[k].offset = total;
            states_[k].capacity = std::min<std::size_t>(atoms[k].min, subjectLength + 1);
            total += states_[k].capacity;
        }
        if (ring_.size() < total) ring_.resize(total);
        // Each atom is live at most once.
        if (live_.size() < atoms.size()) {
            live_.resize(atoms.size());
            next_.resize(atoms.size());
        }
    }

    static void enter(State& state, const Atom& atom, std::size_t* ring, std::size_t time) {
        if (atom.min == 0) {
            state.matured = time;
            return;
        }
        std::size_t slot = state.head + state.pending;
        if (slot >= state.capacity) slot -= state.capacity;
        ring[state.offset + slot] = time;
        ++state.pending;
    }

    // Reads `c` at `time` - 1 -> `time`; false when the atom has no live
    // entry left (its state is then clear).
    static bool step(State& state, const Atom& atom, std::size_t* ring, char32_t c,
                     std::size_t time) {
        if (!accepts(atom, c)) {
            state.matured = kNone;
            state.pending = 0;
            state.head = 0;
            return false;
        }
        while (state.pending > 0) {
            const std::size_t entered = ring[state.offset + state.head];
            if (time - entered < atom.min) break;
            state.matured = entered;
            if (++state.head == state.capacity) state.head = 0;
            --state.pending;
        }
        if (state.matured != kNone && atom.max != kUnbounded && time - state.matured > atom.max)
            state.matured = kNone;
        return state.pending > 0 || state.matured != kNone;
    }

    std::vector<State> states_;
    std::vector<std::size_t> ring_;
    std::vector<std::size_t> live_;
    std::vector<std::size_t> next_;
};

// What a thread keeps between matches, in one thread-local object (each one
// costs a lookup per call from a shared library).
struct ThreadLike {
    internal::PatternCache<Program, kCacheCapacity> cache;
    Runner runner;

    bool run(const Program& program, StringView subject) {
        const bool found = runner.run(program, subject);
        runner.trim();
        return found;
    }
};

}  // namespace

String likePatternToRegex(StringView pattern, bool useEscapes) {
    String escaped = escapeRegexSyntax(pattern);
    return useEscapes ? translateWithEscapes(std::move(escaped)) : translateWithoutEscapes(escaped);
}

bool likeMatches(StringView subject, StringView pattern, bool useEscapes) {
    thread_local ThreadLike local;
    if (pattern.size() > kMaxCachedPatternLength)
        return local.run(compileRegex(likePatternToRegex(pattern, useEscapes)), subject);
    const Program& program = local.cache.get(
        pattern, useEscapes, [&] { return compileRegex(likePatternToRegex(pattern, useEscapes)); });
    return local.run(program, subject);
}

}  // namespace qn::internal
