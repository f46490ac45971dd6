// Arbitrary bytes as a pattern, a replacement template and a text (first
// line, second line, the rest) through every regular-expression operation.
// A call either fails with a whole error pair and the empty result, or its
// results fit together: the matches and the split pieces tile the text, and
// replacing each match by itself ("$0") gives the text back. Runaway
// patterns must end through the work budget, not hang.

#include <qn/util.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// The error pair is whole: both halves set, or both clear.
bool failed() {
    const qn::QNRegExError error = qn::QNRegEx::lastError();
    check((error.code == 0) == error.description.empty());
    return error.code != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto line = [&input] {
        const std::size_t end = input.find('\n');
        const std::string_view head = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        return qn::fromUtf8(head);
    };
    const qn::String pattern = line();
    const qn::String replacement = line();
    const qn::String text = qn::fromUtf8(input);

    const bool found = qn::QNRegEx::isMatchInTextRegExp(text, pattern);
    const bool findFailed = failed();
    if (findFailed) check(!found);

    const auto matches = qn::QNRegEx::matchInTextRegExp(text, pattern);
    const bool matchesFailed = failed();
    std::size_t matched = 0;
    for (const qn::Value& item : matches->items()) {
        const auto match = std::dynamic_pointer_cast<qn::QNRegExMatch>(item.asObject());
        check(match != nullptr && match->groups() != nullptr);
        check(text.find(match->value()) != qn::String::npos);
        matched += match->value().size();
    }
    if (matchesFailed) check(matches->count() == 0);
    if (!findFailed && !matchesFailed) check(found == (matches->count() > 0));

    const auto pieces = qn::QNRegEx::splitTextRegExp(text, pattern);
    const bool splitFailed = failed();
    std::size_t between = 0;
    for (const qn::Value& item : pieces->items()) {
        check(item.isString() && !item.asString().empty());
        between += item.asString().size();
    }
    if (splitFailed) check(pieces->count() == 0);
    if (!matchesFailed && !splitFailed) check(matched + between == text.size());

    const qn::String same = qn::QNRegEx::replaceInTextRegExpWith(text, pattern, u"$0");
    check(same == text);
    failed();
    const qn::String replaced = qn::QNRegEx::replaceInTextRegExpWith(text, pattern, replacement);
    if (failed()) check(replaced == text);
    return 0;
}
