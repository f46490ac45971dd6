// Uses the installed library through public headers of several floors (core,
// host, runtime, data) and one of the old forwarding paths, and checks what
// it computes, so a missing header, symbol or dependency fails here rather
// than in an application.
#include <qn/data.h>
#include <qn/data/json.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include <iostream>
#include <optional>
#include <string>

namespace {

int failures = 0;

void expect(const char* what, const std::string& got, const std::string& want) {
    if (got == want) return;
    std::cerr << what << ": got \"" << got << "\", want \"" << want << "\"\n";
    ++failures;
}

}  // namespace

int main() {
    // Exact decimals: a double would give 0.30000000000000004.
    qn::Decimal sum = qn::Decimal::fromString("0.1") + qn::Decimal::fromString("0.2");
    expect("decimal sum", qn::toUtf8(sum.toString()), "0.3");

    // JSON keeps key order and a number beyond 64 bits to the last digit.
    const std::string json = R"({"total":12345678901234567890.12,"items":[1,"dos",null,true]})";
    std::string error;
    std::optional<qn::Value> parsed = qn::QNJSON::parse(json, &error);
    std::string back = parsed ? qn::QNJSON::generateUtf8(*parsed).value_or("(none)") : error;
    expect("JSON round trip", back, json);

    // Runtime built-ins: 1-based positions in UTF-16 code units.
    expect("substring", qn::toUtf8(qn::qnSubstringFromLength(u"Standard Classes", 10, 7)),
           "Classes");

    // Host utilities: UTF-8 bytes percent-escaped.
    expect("URL escape", qn::toUtf8(qn::QNUtilities::urlSimpleEscapeString(u"a b/\u00fc")),
           "a%20b%2F%C3%BC");

    if (failures != 0) return 1;
    std::cout << "consumer: 0.1 + 0.2 = " << qn::toUtf8(sum.toString())
              << ", JSON round trip, substring and URL escape as expected\n";
    return 0;
}
