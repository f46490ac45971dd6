// `qn fmt`: a number formatted for a picture, as generated code's
// formatNumber does; and the demo's section on picture formatting.

#include <qn/host.h>
#include <qn/util.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNutil;
using qn::String;
using qn::toUtf8;

namespace {

constexpr const char* kUsage =
    "usage: qn fmt [--decimals] NUMBER PICTURE [LANGUAGE]\n"
    "  PICTURE: 9 a digit always written, Z z # a digit without leading zeros,\n"
    "  , and . the language's grouping and decimal separators, anything else literal.\n"
    "  LANGUAGE names a language of the bundle ($QN_BUNDLE, else examples/bundle);\n"
    "  without it, ICU's root locale. --decimals keeps decimals a picture without\n"
    "  a point does not place.";

int usage(const std::string& message) {
    std::cerr << "qn fmt: " << message << "\n" << kUsage << "\n";
    return 2;
}

std::string bracketed(const String& text) {
    return "[" + toUtf8(text) + "]";
}

// The picture's text for a number given as text, in the current language.
std::string formatted(std::string_view number, std::u16string_view picture,
                      bool hasDecimals = false) {
    return bracketed(
        QNutil::formatNumber(qn::Value(qn::Decimal::fromString(number)), picture, hasDecimals));
}

}  // namespace

int runFmt(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    bool hasDecimals = false;
    for (const std::string& arg : args) {
        if (arg == "--decimals")
            hasDecimals = true;
        else
            rest.push_back(arg);
    }
    if (rest.size() < 2 || rest.size() > 3) return usage("a number and a picture are needed");
    const qn::Decimal number = qn::Decimal::fromString(rest[0]);
    if (number.isNaN()) return usage("'" + rest[0] + "' is not a number");

    if (rest.size() == 3) {
        const char* env = std::getenv("QN_BUNDLE");
        if (!useBundle(env != nullptr && *env != '\0' ? env : "examples/bundle")) return 1;
        qn::QNResources::setCurrentLanguageName(qn::fromUtf8(rest[2]));
        if (!qn::QNResources::currentLanguage())
            return usage("the bundle has no language '" + rest[2] + "'");
    }
    std::cout << bracketed(
                     QNutil::formatNumber(qn::Value(number), qn::fromUtf8(rest[1]), hasDecimals))
              << "\n";
    return 0;
}

void showPictures(std::ostream& out) {
    const std::optional<String> previous = qn::QNResources::currentLanguageName();
    const std::u16string_view amount = u"ZZZ,ZZZ,ZZ9.99";
    for (const char16_t* language : {u"English", u"Spanish"}) {
        qn::QNResources::setCurrentLanguageName(String(language));
        out << "   " << toUtf8(amount) << " of 1234567.125 in " << toUtf8(language) << " ("
            << qn::QNResources::currentLanguageLocale().value_or("no locale")
            << "): " << formatted("1234567.125", amount) << "\n";
    }
    qn::QNResources::setCurrentLanguageName(u"English");
    out << "   9 of 2.5 and of -2.5 (halves away from zero): " << formatted("2.5", u"9") << " "
        << formatted("-2.5", u"9") << "\n";
    out << "   Z9 of a 38-digit decimal: "
        << formatted("12345678901234567890123456789012345678", u"Z9") << "\n";
    out << "   999 of 123456 (a wide number is not cut): " << formatted("123456", u"999") << "\n";
    out << "   ZZZ9 of 7 (blanks to the picture's length): " << formatted("7", u"ZZZ9") << "\n";
    out << "   $ZZ,ZZ9.99 USD of -1234.5 (literals before and after): "
        << formatted("-1234.5", u"$ZZ,ZZ9.99 USD") << "\n";
    out << "   999-99-9999 of 123456789 (literals among the digits): "
        << formatted("123456789", u"999-99-9999") << "\n";
    out << "   ZZZ9 of 2.25 with and without decimals: " << formatted("2.25", u"ZZZ9", true) << " "
        << formatted("2.25", u"ZZZ9") << "\n";
    out << "   an absent number: " << bracketed(QNutil::formatNumber(qn::Value(), u"ZZ9", false))
        << "\n";
    qn::QNResources::setCurrentLanguageName(previous);
}

}  // namespace qntool
