// `qn regex`: the regular-expression operations from the command line; and
// the demo's section on them.

#include <qn/util.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNRegEx;
using qn::String;
using qn::toUtf8;

namespace {

constexpr const char* kUsage =
    "usage: qn regex match TEXT PATTERN\n"
    "       qn regex replace TEXT PATTERN TEMPLATE\n"
    "       qn regex split TEXT PATTERN";

int usage(const std::string& message) {
    std::cerr << "qn regex: " << message << "\n" << kUsage << "\n";
    return 2;
}

std::string quoted(const String& s) {
    return "\"" + toUtf8(s) + "\"";
}

// The error pair of the call just made, as a line; "" when it succeeded.
std::string lastError() {
    const qn::QNRegExError error = QNRegEx::lastError();
    if (error.code == 0) return "";
    return "error " + std::to_string(error.code) + ": " + toUtf8(error.description);
}

// Exit status 1, with the error on stderr, when the last call failed.
int status() {
    const std::string error = lastError();
    if (error.empty()) return 0;
    std::cerr << "qn regex: " << error << "\n";
    return 1;
}

// "x1 (x, 1)": a match's text and its groups.
std::string matchLine(const qn::QNRegExMatch& match) {
    std::string line = quoted(match.value());
    const auto& groups = match.groups()->items();
    if (groups.empty()) return line;
    line += " (";
    for (std::size_t g = 0; g < groups.size(); ++g)
        line += (g ? ", " : "") + quoted(groups[g].asString());
    return line + ")";
}

std::vector<std::string> matchLines(const qn::Ref<qn::QNObjectCollection>& matches) {
    std::vector<std::string> lines;
    for (const qn::Value& item : matches->items())
        lines.push_back(matchLine(static_cast<const qn::QNRegExMatch&>(*item.asObject())));
    return lines;
}

std::string pieceList(const qn::Ref<qn::QNObjectCollection>& pieces) {
    std::string out = "[";
    for (std::size_t i = 0; i < pieces->items().size(); ++i)
        out += (i ? ", " : "") + quoted(pieces->items()[i].asString());
    return out + "]";
}

}  // namespace

int runRegex(const std::vector<std::string>& args) {
    if (args.empty()) return usage("a sub-command is needed");
    const std::string& command = args[0];
    if (command == "match") {
        if (args.size() != 3) return usage("match takes a text and a pattern");
        const auto matches =
            QNRegEx::matchInTextRegExp(qn::fromUtf8(args[1]), qn::fromUtf8(args[2]));
        if (const int failed = status()) return failed;
        if (matches->count() == 0) std::cout << "no match\n";
        for (const std::string& line : matchLines(matches))
            std::cout << line << "\n";
        return 0;
    }
    if (command == "replace") {
        if (args.size() != 4) return usage("replace takes a text, a pattern and a template");
        const String result = QNRegEx::replaceInTextRegExpWith(
            qn::fromUtf8(args[1]), qn::fromUtf8(args[2]), qn::fromUtf8(args[3]));
        if (const int failed = status()) return failed;
        std::cout << toUtf8(result) << "\n";
        return 0;
    }
    if (command == "split") {
        if (args.size() != 3) return usage("split takes a text and a pattern");
        const auto pieces = QNRegEx::splitTextRegExp(qn::fromUtf8(args[1]), qn::fromUtf8(args[2]));
        if (const int failed = status()) return failed;
        for (const qn::Value& piece : pieces->items())
            std::cout << toUtf8(piece.asString()) << "\n";
        return 0;
    }
    return usage("unknown sub-command '" + command + "'");
}

void showRegex(std::ostream& out) {
    const String date = u"2024-01-31";
    out << "   isMatch(" << quoted(date) << ", ^\\d{4}-\\d{2}-\\d{2}$): "
        << (QNRegEx::isMatch(date, u"^\\d{4}-\\d{2}-\\d{2}$") ? "true" : "false") << "\n";
    out << "   replace with (\\d+)-(\\d+)-(\\d+) -> $3/$2/$1: "
        << quoted(QNRegEx::replace(date, u"(\\d+)-(\\d+)-(\\d+)", u"$3/$2/$1")) << "\n";
    out << "   matches of ([a-z])(\\d+) in \"x1y22\":";
    for (const std::string& line : matchLines(QNRegEx::matches(u"x1y22", u"([a-z])(\\d+)")))
        out << " " << line;
    out << "\n";
    out << "   split \"a, b,,c ,\" at \\s*,\\s* (empty pieces dropped): "
        << pieceList(QNRegEx::split(u"a, b,,c ,", u"\\s*,\\s*")) << "\n";
    // U+1F600 counts two UTF-16 units, and "." takes it whole.
    const String faces = u"\U0001F600=1 \U0001F601=2";
    out << "   matches of (.)=(\\d) in " << quoted(faces) << ":";
    for (const std::string& line : matchLines(QNRegEx::matches(faces, u"(.)=(\\d)")))
        out << " " << line;
    out << "\n";

    const bool refused = QNRegEx::isMatch(u"(", u"(");
    out << "   a pattern that does not compile, \"(\": " << (refused ? "true" : "false") << ", "
        << lastError() << "\n";
    out << "   the next good call clears the error: split gives "
        << pieceList(QNRegEx::split(u"1;2", u";")) << ", error code " << QNRegEx::lastErrorCode()
        << "\n";
    out << "   a template naming a missing group, $5: "
        << quoted(QNRegEx::replace(u"abab", u"(b)", u"[$5]")) << " unchanged, " << lastError()
        << "\n";
    const String runaway = String(30, u'a') + u"b";
    const bool backtracked = QNRegEx::isMatch(runaway, u"(a+)+$");
    out << "   (a+)+$ on 30 a's and a b (exponential backtracking): "
        << (backtracked ? "true" : "false") << ", " << lastError() << "\n";
    QNRegEx::resetErrorCodeAndDescription();
}

}  // namespace qntool
