#include <qn/data.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qn {
namespace {

using namespace std::string_view_literals;
using Texts = std::initializer_list<std::string_view>;

Value list(std::initializer_list<Value> items) {
    return Value(std::make_shared<Array>(std::vector<Value>(items)));
}

Value parsed(std::string_view text) {
    std::string error;
    std::optional<Value> value = QNJSON::parse(text, &error);
    EXPECT_TRUE(value.has_value()) << text << " -> " << error;
    return value.value_or(Value());
}

std::string failure(std::string_view text) {
    std::string error;
    std::optional<Value> value = QNJSON::parse(text, &error);
    EXPECT_FALSE(value.has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
    return error;
}

std::string decimalText(const Value& v) {
    return v.decimalValue().toStdString();
}

TEST(JsonNumbers, IntegersThatFit64BitsAreInts) {
    for (auto [text, expected] : {std::pair{"0"sv, INT64_C(0)},
                                  {"-0"sv, 0},
                                  {"-17"sv, -17},
                                  {"9223372036854775807"sv, INT64_MAX},
                                  {"-9223372036854775808"sv, INT64_MIN}}) {
        Value v = parsed(text);
        EXPECT_TRUE(v.isInt()) << text;
        EXPECT_EQ(v.integerValue(), expected) << text;
    }
}

TEST(JsonNumbers, OtherNumbersAreExactDecimals) {
    const std::string googol = "1" + std::string(100, '0');
    for (auto [text, expected] : {
             std::pair{"9223372036854775808"sv, "9223372036854775808"sv},
             {"-9223372036854775809"sv, "-9223372036854775809"},
             {"0.1"sv, "0.1"},
             {"12345678901234567890.12"sv, "12345678901234567890.12"},
             {"0.30000000000000000001"sv, "0.30000000000000000001"},
             {"1.5e3"sv, "1500"},
             {"25E-3"sv, "0.025"},
             {"1e+2"sv, "100"},
             {"-0.0"sv, "0"},
             {"1e100"sv, std::string_view(googol)},
         }) {
        Value v = parsed(text);
        EXPECT_TRUE(v.isDecimal()) << text;
        EXPECT_EQ(decimalText(v), expected) << text;
    }
    EXPECT_EQ(parsed("0.1").decimalValue(), Decimal::fromParts(false, 1, -1));
}

TEST(JsonNumbers, BeyondTheDecimalRangeIsADouble) {
    Value big = parsed("1e200");
    EXPECT_TRUE(big.isDouble());
    EXPECT_EQ(big.doubleValue(), 1e200);
    EXPECT_EQ(parsed("-2.5E300").doubleValue(), -2.5e300);

    // Past the double range: the infinity of the sign, whatever the spelling.
    const std::string huge = "1" + std::string(400, '0') + "e-10";
    for (std::string_view text : Texts{"1e400", "1e99999999999999999999", huge}) {
        Value v = parsed(text);
        EXPECT_TRUE(v.isDouble() && std::isinf(v.doubleValue()) && v.doubleValue() > 0) << text;
    }
    EXPECT_EQ(parsed("-1e400").doubleValue(), -HUGE_VAL);
}

TEST(JsonNumbers, TinyNumbersKeepTheirValue) {
    // Exact at the bottom of the Decimal range.
    EXPECT_TRUE(parsed("1e-128").isDecimal());
    EXPECT_EQ(parsed("1e-128").decimalValue(), Decimal::fromParts(false, 1, -128));
    // Below it a Decimal would round them away (to 0, to 2e-128): Double.
    for (auto [text, expected] : {std::pair{"1e-130"sv, 1e-130},
                                  {"-1.5e-128"sv, -1.5e-128},
                                  {"0.0000012345e-125"sv, 0.0000012345e-125}}) {
        Value v = parsed(text);
        EXPECT_TRUE(v.isDouble()) << text;
        EXPECT_EQ(v.doubleValue(), expected) << text;
    }
    // Still many more digits than a double would keep: Decimal.
    const std::string longFraction = "1." + std::string(60, '3') + "e-100";
    EXPECT_TRUE(parsed(longFraction).isDecimal());
    EXPECT_NEAR(parsed(longFraction).doubleValue() / 1.3333333333333333e-100, 1.0, 1e-15);

    // Past the double range, and zeros however written.
    const std::string tiny = "0." + std::string(400, '0') + "1e10";
    for (std::string_view text :
         Texts{"1e-400", "-1e-99999999999999999999", tiny, "0e99999999999", "-0.000e-999"}) {
        Value v = parsed(text);
        EXPECT_TRUE(v.isNumber()) << text;
        EXPECT_EQ(v.doubleValue(), 0.0) << text;
    }
}

TEST(JsonNumbers, MalformedNumbersAreErrors) {
    for (std::string_view text : Texts{"01", "1.", ".5", "-", "+1", "1e", "1e+", "NaN", "Infinity",
                                       "-Infinity", "0x10", "1_000", "[1.e3]"}) {
        failure(text);
    }
}

TEST(JsonStructure, NestedContainersKeepDocumentOrder) {
    Value v = parsed(R"({"z": [1, {"b": null, "a": true}, []], "y": {}, "x": "s", "w": false})");
    const Dictionary* root = v.asDictionary();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->keys(), (std::vector<String>{u"z", u"y", u"x", u"w"}));
    const Array* z = root->get(u"z").asArray();
    ASSERT_NE(z, nullptr);
    ASSERT_EQ(z->size(), 3u);
    EXPECT_EQ(z->at(0).integerValue(), 1);
    const Dictionary* inner = z->at(1).asDictionary();
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->keys(), (std::vector<String>{u"b", u"a"}));
    EXPECT_TRUE(inner->get(u"b").isNull());
    EXPECT_TRUE(inner->get(u"a").isBool() && inner->get(u"a").boolValue());
    EXPECT_TRUE(z->at(2).isArray() && z->at(2).asArray()->empty());
    EXPECT_TRUE(root->get(u"y").isDictionary() && root->get(u"y").asDictionary()->empty());
    EXPECT_EQ(root->get(u"x").asString(), u"s");
    EXPECT_TRUE(root->get(u"w").isBool() && !root->get(u"w").boolValue());
}

TEST(JsonStructure, DuplicateKeyKeepsFirstPlaceAndLastValue) {
    Value v = parsed(R"({"a": 1, "b": 2, "a": {"c": 1, "c": [3]}})");
    const Dictionary* d = v.asDictionary();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->keys(), (std::vector<String>{u"a", u"b"}));
    const Dictionary* a = d->get(u"a").asDictionary();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->size(), 1u);
    EXPECT_EQ(a->get(u"c"), list({3}));

    // Large enough for the dictionary's hash index.
    std::string text = "{";
    for (int i = 0; i < 40; ++i)
        text += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ",";
    text += "\"k7\": \"again\"}";
    const Value bigValue = parsed(text);
    const Dictionary* big = bigValue.asDictionary();
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->size(), 40u);
    EXPECT_EQ(big->entries()[7].first, u"k7");
    EXPECT_EQ(big->entries()[7].second.asString(), u"again");
}

TEST(JsonStructure, TopLevelScalars) {
    EXPECT_EQ(parsed(" 42 ").integerValue(), 42);
    EXPECT_EQ(parsed("\"text\"").asString(), u"text");
    EXPECT_TRUE(parsed("true").boolValue());
    EXPECT_TRUE(parsed("false").isBool());
    EXPECT_TRUE(parsed("\r\n\tnull ").isNull());
    EXPECT_EQ(decimalText(parsed("2.5")), "2.5");
}

TEST(JsonStrings, EscapesDecode) {
    EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t")").asString(), u"\"\\/\b\f\n\r\t");
    EXPECT_EQ(parsed(R"("caf\u00e9 \u20AC")").asString(), u"café €");
    EXPECT_EQ(parsed(R"("a\u0000b")").asString(), String(u"a\0b", 3));
    // Raw UTF-8 beside escapes.
    EXPECT_EQ(parsed("\"é\\n😀\\t€\"").asString(), u"é\n😀\t€");
    // Quotes and backslashes in neighbouring strings and keys.
    Value v = parsed(R"({"k\"": ["\\", "\\\"", "x\\\\"], "\\": "\"\""})");
    const Dictionary* d = v.asDictionary();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->keys(), (std::vector<String>{u"k\"", u"\\"}));
    EXPECT_EQ(d->get(u"k\""), list({u"\\", u"\\\"", u"x\\\\"}));
    EXPECT_EQ(d->get(u"\\").asString(), u"\"\"");
}

TEST(JsonStrings, SurrogateEscapesAreCodeUnits) {
    EXPECT_EQ(parsed(R"("\uD83D\uDE00")").asString(), u"😀");
    EXPECT_EQ(parsed(R"("\ud83d\ude00!")").asString(), u"😀!");
    // Lone surrogates stay as they are, and never swallow what follows.
    EXPECT_EQ(parsed(R"("\uD800\u0041")").asString(), (String{char16_t(0xD800), u'A'}));
    EXPECT_EQ(parsed(R"("\uDC00")").asString(), (String{char16_t(0xDC00)}));
    EXPECT_EQ(parsed(R"("x\uD800")").asString(), (String{u'x', char16_t(0xD800)}));
    EXPECT_EQ(parsed(R"(["\uDE00\uD83D", 1])").asArray()->at(0).asString(),
              (String{char16_t(0xDE00), char16_t(0xD83D)}));
}

TEST(JsonStrings, InvalidUtf8IsAnError) {
    for (std::string_view text : Texts{
             "\"\xFF\""sv,
             "\"\xC0\x80\""sv,          // overlong NUL
             "\"\xED\xA0\x80\""sv,      // encoded surrogate
             "\"\xF4\x90\x80\x80\""sv,  // above U+10FFFF
             "\"\xE2\x82\""sv,          // truncated
             "{\"\xC1\xBF\": 1}"sv,     // in a key
             "[\"\\n\xC0\x80\"]"sv,     // beside an escape
             "\xC3\xA9"sv,              // outside a string
         }) {
        failure(text);
    }
}

TEST(JsonStrings, Utf16InputReadsLikeUtf8) {
    Value v = QNJSON::parse(u"{\"é\": [\"😀\", 1.25]}"sv).value_or(Value());
    EXPECT_EQ(v, parsed("{\"é\": [\"😀\", 1.25]}"));
    EXPECT_FALSE(QNJSON::parse(u"[1,]"sv).has_value());
}

TEST(JsonErrors, MalformedTextGivesAbsentAndAMessage) {
    for (std::string_view text : Texts{"[",
                                       "]",
                                       "{",
                                       "{\"a\"}",
                                       "{\"a\":}",
                                       "{a:1}",
                                       "[1,]",
                                       "[1 2]",
                                       "{\"a\":1,}",
                                       "1 2",
                                       "[1]x",
                                       "tru",
                                       "nul",
                                       "'a'",
                                       "\"abc",
                                       "\"a\nb\"",
                                       "\"\\x\"",
                                       "\"\\u12\"",
                                       "/* c */ 1",
                                       "// c\n1",
                                       "\0"sv,
                                       "[1]\0"sv,
                                       "\xEF\xBB\xBF\xEF\xBB\xBF 1"}) {
        std::string error = failure(text);
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(error.back()))) << error;
    }
    EXPECT_NE(failure("1 2").find("trailing garbage"), std::string::npos);
    EXPECT_FALSE(QNJSON::parse("[1,]"sv, nullptr).has_value());
}

TEST(JsonErrors, EmptyTextHasItsOwnMessage) {
    for (std::string_view text : Texts{"", " \n\t\r ", "\xEF\xBB\xBF"}) {
        EXPECT_NE(failure(text).find("empty"), std::string::npos);
    }
    // A byte order mark before a value is skipped.
    EXPECT_EQ(parsed("\xEF\xBB\xBF[7]").asArray()->at(0).integerValue(), 7);
}

std::string nested(int depth, std::string_view open, std::string_view close) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    text += "0";
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST(JsonErrors, NestingIsLimited) {
    Value deepest = parsed(nested(QNJSON::kMaxDepth, "[", "]"));
    for (int i = 1; i < QNJSON::kMaxDepth; ++i) {
        Value inner = deepest.asArray()->at(0);
        deepest = std::move(inner);
    }
    EXPECT_EQ(deepest.asArray()->at(0).integerValue(), 0);
    parsed(nested(QNJSON::kMaxDepth, "{\"a\":", "}"));

    const std::string depthError = failure(nested(QNJSON::kMaxDepth + 1, "[", "]"));
    EXPECT_NE(depthError.find(std::to_string(QNJSON::kMaxDepth)), std::string::npos);
    EXPECT_EQ(failure(nested(QNJSON::kMaxDepth + 1, "{\"a\":", "}")), depthError);
    EXPECT_EQ(failure(std::string(100000, '[')), depthError);
    EXPECT_EQ(failure(nested(100000, "[{\"k\":", "}]")), depthError);
}

TEST(JsonConcurrent, ParsesFromManyThreads) {
    const std::string text = R"({"a": [1, 2.5, "x", {"b": null}], "c": "\u00e9"})";
    const Value expected = parsed(text);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (QNJSON::parse(text).value_or(Value()) != expected) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace qn
