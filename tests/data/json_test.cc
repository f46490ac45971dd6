#include <qn/data.h>

#include "support/test_support.h"

#include <cctype>
#include <initializer_list>
#include <stdexcept>

namespace qn {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using Texts = std::initializer_list<std::string_view>;

Value list(std::initializer_list<Value> items) {
    return Value(makeRef<Array>(Array(items)));
}
Value map(std::initializer_list<Dictionary::Entry> entries) {
    return Value(makeRef<Dictionary>(Dictionary(entries)));
}

Value parsed(std::string_view text) {
    std::string error;
    std::optional<Value> value = QNJSON::parse(text, &error);
    EXPECT_TRUE(value.has_value()) << text << " -> " << error;
    return value.value_or(Value());
}

std::string failure(std::string_view text) {
    std::string error;
    EXPECT_FALSE(QNJSON::parse(text, &error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
    return error;
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

TEST(JsonValues, ScalarsKeepTheirKindAndNumbersTheirExactValue) {
    using K = ValueKind;
    const std::string zeros127(127, '0');
    // text, kind, description
    const std::tuple<std::string, K, std::string> cases[] = {
        {" 42 ", K::kInt, "42"},
        {"\"text\"", K::kString, "text"},
        {"true", K::kBool, "1"},
        {"false", K::kBool, "0"},
        {"\r\n\tnull ", K::kNull, "<null>"},
        // Integers that fit 64 bits are Ints.
        {"-0", K::kInt, "0"},
        {"9223372036854775807", K::kInt, "9223372036854775807"},
        {"-9223372036854775808", K::kInt, "-9223372036854775808"},
        // Any other number in the Decimal range is an exact Decimal.
        {"9223372036854775808", K::kDecimal, "9223372036854775808"},
        {"-9223372036854775809", K::kDecimal, "-9223372036854775809"},
        {"0.1", K::kDecimal, "0.1"},
        {"0.30000000000000000001", K::kDecimal, "0.30000000000000000001"},
        {"1.5e3", K::kDecimal, "1500"},
        {"25E-3", K::kDecimal, "0.025"},
        {"1e+2", K::kDecimal, "100"},
        {"-0.0", K::kDecimal, "0"},
        {"1e100", K::kDecimal, "1" + std::string(100, '0')},
        {"1e-128", K::kDecimal, "0." + zeros127 + "1"},
        // Still many more digits than a double would keep.
        {"1." + std::string(60, '3') + "e-100", K::kDecimal,
         "0." + std::string(99, '0') + "1" + std::string(28, '3')},
        // Below the range a Decimal would round them away (to 0, to 2e-128).
        {"1e-130", K::kDouble, "1e-130"},
        {"-1.5e-128", K::kDouble, "-1.5e-128"},
        {"0.0000012345e-125", K::kDouble, "1.2345e-131"},
        // Above it a Double; past the double range the infinity of the sign.
        {"1e200", K::kDouble, "1e+200"},
        {"1e400", K::kDouble, "inf"},
        {"1e99999999999999999999", K::kDouble, "inf"},
        {"1" + std::string(400, '0') + "e-10", K::kDouble, "inf"},
        {"-1e400", K::kDouble, "-inf"}};
    for (const auto& [text, kind, description] : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        const Value v = parsed(text);
        EXPECT_EQ(v.kind(), kind);
        EXPECT_EQ(toUtf8(v.description()), description);
    }
    // Zeros however written, and numbers too small for a double.
    for (const std::string& text : {"1e-400"s, "-1e-99999999999999999999"s, "0e99999999999"s,
                                    "-0.000e-999"s, "0." + std::string(400, '0') + "1e10"}) {
        const Value v = parsed(text);
        EXPECT_TRUE(v.isNumber() && v.doubleValue() == 0.0) << text.substr(0, 60);
    }
}

TEST(JsonValues, ContainersKeepDocumentOrderAndDuplicateKeysTheFirstPlace) {
    const Value v =
        parsed(R"({"z": [1, {"b": null, "a": true}, []], "y": {}, "x": "s", "w": false})");
    EXPECT_EQ(v.description(), u"{z = (1, {b = <null>; a = 1;}, ()); y = {}; x = s; w = 0;}");
    EXPECT_TRUE(v.asDictionary()->get(u"z").asArray()->at(1).asDictionary()->get(u"a").isBool());
    EXPECT_TRUE(v.asDictionary()->get(u"w").isBool());

    EXPECT_EQ(parsed(R"({"a": 1, "b": 2, "a": {"c": 1, "c": [3]}})").description(),
              u"{a = {c = (3);}; b = 2;}");
    // Large enough for the dictionary's hash index.
    std::string text = "{";
    for (int i = 0; i < 40; ++i)
        text += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ",";
    const Value big = parsed(text + "\"k7\": \"again\"}");
    ASSERT_EQ(big.asDictionary()->size(), 40u);
    EXPECT_EQ(big.asDictionary()->entries()[7].first, u"k7");
    EXPECT_EQ(big.asDictionary()->entries()[7].second, Value(u"again"));
}

TEST(JsonStrings, EscapesDecodeAndSurrogateEscapesAreCodeUnits) {
    const std::pair<std::string_view, Value> cases[] = {
        {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
        {R"("caf\u00e9 \u20AC")", u"café €"},
        {R"("a\u0000b")", String(u"a\0b", 3)},
        {"\"é\\n😀\\t€\"", u"é\n😀\t€"},  // raw UTF-8 beside escapes
        // Every UTF-8 length, before and after ASCII runs.
        {"\"\xC2\xA2\xE0\xA4\xB9\xF0\x90\x8D\x88 an ASCII run of some length \xEF\xBF\xBD\"",
         u"\u00A2\u0939\U00010348 an ASCII run of some length \uFFFD"},
        // Quotes and backslashes in neighbouring strings and keys.
        {R"({"k\"": ["\\", "\\\"", "x\\\\"], "\\": "\"\""})",
         map({{u"k\"", list({u"\\", u"\\\"", u"x\\\\"})}, {u"\\", u"\"\""}})},
        {R"("\uD83D\uDE00")", u"😀"},
        {R"("\ud83d\ude00!")", u"😀!"},
        // Lone surrogates stay as they are, and never swallow what follows.
        {R"("\uD800\u0041")", String{char16_t(0xD800), u'A'}},
        {R"("\uDC00")", String{char16_t(0xDC00)}},
        {R"("x\uD800")", String{u'x', char16_t(0xD800)}},
        {R"(["\uDE00\uD83D", 1])", list({String{char16_t(0xDE00), char16_t(0xD83D)}, 1})}};
    for (const auto& [text, expected] : cases) {
        const Value v = parsed(text);
        EXPECT_TRUE(v == expected && v.kind() == expected.kind()) << text;
    }
    EXPECT_EQ(QNJSON::parse(u"{\"é\": [\"😀\", 1.25]}"sv), parsed("{\"é\": [\"😀\", 1.25]}"));
    EXPECT_FALSE(QNJSON::parse(u"[1,]"sv).has_value());
}

TEST(JsonErrors, MalformedTextGivesAbsentAndAMessage) {
    for (std::string_view text :
         Texts{// Numbers JSON does not allow.
               "01", "1.", ".5", "-", "+1", "1e", "1e+", "NaN", "Infinity", "-Infinity", "0x10",
               "1_000", "[1.e3]",
               // Ill-formed UTF-8, in strings and keys, beside escapes and outside strings.
               "\"\xFF\"", "\"\xC0\x80\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"",
               "\"\xE2\x82\"", "{\"\xC1\xBF\": 1}", "[\"\\n\xC0\x80\"]", "\xC3\xA9",
               // Structure, literals, strings, comments and stray bytes.
               "[", "]", "{", "{\"a\"}", "{\"a\":}", "{a:1}", "[1,]", "[1 2]", "{\"a\":1,}", "1 2",
               "[1]x", "tru", "nul", "'a'", "\"abc", "\"a\nb\"", "\"\\x\"", "\"\\u12\"",
               "/* c */ 1", "// c\n1", "\0"sv, "[1]\0"sv, "\xEF\xBB\xBF\xEF\xBB\xBF 1"}) {
        const std::string error = failure(text);
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(error.back()))) << error;
    }
    EXPECT_NE(failure("1 2").find("trailing garbage"), std::string::npos);
    EXPECT_FALSE(QNJSON::parse("[1,]"sv, nullptr).has_value());
    for (std::string_view text : Texts{"", " \n\t\r ", "\xEF\xBB\xBF"})
        EXPECT_NE(failure(text).find("empty"), std::string::npos);
    // A byte order mark before a value is skipped.
    EXPECT_EQ(parsed("\xEF\xBB\xBF[7]"), list({7}));
}

// Containers are read by a faster reader than lone scalars, which leaves
// any text it does not take as it stands to the reader of lone scalars.
// The two must agree: a token reads the same (or fails) alone, as an
// array item and as a member value, whatever blanks surround it, and a
// string token reads the same as a key.
TEST(JsonReaders, ATokenReadsAlikeAloneAndInsideContainers) {
    for (std::string_view token :
         Texts{// Numbers, well- and ill-formed.
               "0", "-0", "12", "-9223372036854775808", "9223372036854775808", "1.5", "-0.0e+0",
               "1E400", "-1e-400", "123456789012345678901234567890123456789012", "01", "1.", ".5",
               "-", "+1", "1e", "1e+", "-a", "0x1", "1.5.2", "1e5e5", "2-1",
               // Literals, near misses and glued ones.
               "true", "false", "null", "tru", "nul", "truex", "nullnull", "True", "t",
               // Strings: escapes, surrogates, raw UTF-8 and bytes JSON forbids.
               R"("")", R"("plain")", R"("\"\\\/\b\f\n\r\t")", R"("\u00e9\u20AC")",
               R"("\uD83D\uDE00")", R"("\uD800\u0041")", R"("\uDC00")", R"("x\uD800")",
               R"("a\u0000b")", "\"caf\xC3\xA9\"", R"("\x")", R"("\u12")", R"("\u12G4")", R"("\")",
               R"("a\\")", R"("a\\\"")", "\"a\nb\"", "\"a\tb\"", "\"\x1F\"", "\"\x7F\"",
               "\"\xC0\x80\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"", "\"\xFF\"",
               "\"\xE2\x82\"", "\"a\"b\"", "\"a\" \"b\"", "'a'", "\"unterminated"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(token)));
        const std::string text(token);
        const std::optional<Value> alone = QNJSON::parse(text);
        const bool isString = !text.empty() && text.front() == '"';
        for (const std::string_view blank : Texts{"", " ", "\n\t\r "}) {
            const std::string spaced = std::string(blank) + text + std::string(blank);
            const std::optional<Value> item = QNJSON::parse("[" + spaced + "]");
            const std::optional<Value> member = QNJSON::parse("{\"k\":" + spaced + "}");
            const std::optional<Value> items = QNJSON::parse("[0," + spaced + ",{}]");
            ASSERT_EQ(item.has_value(), alone.has_value());
            ASSERT_EQ(member.has_value(), alone.has_value());
            ASSERT_EQ(items.has_value(), alone.has_value());
            if (isString) {
                const std::optional<Value> key = QNJSON::parse("{" + spaced + ":1}");
                ASSERT_EQ(key.has_value(), alone.has_value());
                if (key) {
                    EXPECT_EQ(key->asDictionary()->entries()[0].first, alone->asString());
                }
            }
            if (!alone) continue;
            EXPECT_EQ(*item, list({*alone}));
            EXPECT_EQ(item->asArray()->at(0).kind(), alone->kind());
            EXPECT_EQ(*member, map({{u"k", *alone}}));
            EXPECT_EQ(*items, list({0, *alone, map({})}));
        }
    }
}

// Whatever follows or breaks a container fails as it did with one reader,
// with the same message.
TEST(JsonReaders, MalformedContainersKeepTheirMessages) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"[1]x", "trailing garbage"},
        {"{\"a\":1} 2", "trailing garbage"},
        {"[1,]", "unallowed token"},
        {"[1 2]", "after array element"},
        // A string value followed by a colon, as if it were a key.
        {"[\"k\": 1]", "after array element"},
        {"[[\"k\": [[{}]]}]]", "after array element"},
        {"{\"a\":\"b\": 1, \"c\": 2}", "after key and value"},
        {"{\"a\" 1}", "object key and value must be separated by a colon"},
        {"{1:2}", "invalid object key"},
        {"[\"\xC0\x80\"]", "invalid bytes in UTF8 string"},
        {"{\"\xFF\":1}", "invalid bytes in UTF8 string"},
        {"[\"a\x01\"]", "invalid character inside string"}};
    for (const auto& [text, message] : cases) {
        EXPECT_NE(failure(text).find(message), std::string::npos) << text << ": " << failure(text);
    }
}

// ---------------------------------------------------------------------------
// Generation

std::string generated(const Value& value) {
    std::string error;
    std::optional<std::string> text = QNJSON::generateUtf8(value, &error);
    EXPECT_TRUE(text.has_value()) << error;
    return text.value_or("");
}

std::string generationFailure(const Value& value) {
    std::string error;
    EXPECT_FALSE(QNJSON::generateUtf8(value, &error).has_value());
    EXPECT_FALSE(QNJSON::generate(value).has_value());
    EXPECT_FALSE(yajl_JSONString(value).has_value());
    EXPECT_FALSE(error.empty());
    return error;
}

// An object whose JSON form is whatever `make` gives for it.
class Source : public Object, public QNJSONValueSource {
public:
    explicit Source(std::function<Value(const Source&)> make) : make_(std::move(make)) {}
    Value jsonValue() const override { return make_(*this); }
    Value self() const { return Value(std::const_pointer_cast<Object>(shared_from_this())); }

private:
    std::function<Value(const Source&)> make_;
};

Value source(std::function<Value(const Source&)> make) {
    return Value(makeRef<Source>(std::move(make)));
}

class Described : public Object {
public:
    String description() const override { return u"plain \"one\" \u00e9"; }
};

TEST(JsonGenerate, CompactTextAsYajlWritesIt) {
    const std::pair<Value, std::string_view> cases[] = {
        {map({{u"z", list({1, u"a/b", Value::null(), true, false, Value()})},
              {u"y", map({{u"k\"", map({})}})},
              {u"x", list({})}}),
         R"({"z":[1,"a/b",null,true,false,null],"y":{"k\"":{}},"x":[]})"},
        {Value(), "null"},
        {Value::null(), "null"},
        {u"", R"("")"},
        // The escapes YAJL writes; DEL and "/" stay as they are.
        {String(u"\"\\\b\f\n\r\t\x01\x1f\x7f/\0", 12),
         "\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u001F\x7f/\\u0000\""},
        // Non-ASCII as UTF-8: two, three and four bytes.
        {map({{u"caf\u00e9", u"\u20ac \U0001F600 \u00ba"}}),
         "{\"caf\xC3\xA9\":\"\xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xBA\"}"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(generated(value), text);
    EXPECT_EQ(QNJSON::generate(list({u"\u00e9", 2})), u"[\"\u00e9\",2]");
    EXPECT_EQ(yajl_JSONString(map({{u"a", 1}})), u"{\"a\":1}");
}

TEST(JsonGenerate, NumbersKeepTheirExactValue) {
    const Decimal tenth = Decimal::fromString("0.1");
    const Decimal big = Decimal::fromString("12345678901234567890.12");
    const std::pair<Value, std::string> cases[] = {
        {Value(INT64_MAX), "9223372036854775807"},
        {Value(INT64_MIN), "-9223372036854775808"},
        {Value(UINT64_MAX), "18446744073709551615"},
        {Value(tenth), "0.1"},
        {Value(big), "12345678901234567890.12"},
        {Value(Decimal::fromString("-1e-128")), "-0." + std::string(127, '0') + "1"},
        {Value(Decimal::notANumber()), "null"},
        // Doubles in their shortest round-trip form.
        {Value(0.1), "0.1"},
        {Value(1e300), "1e+300"},
        {Value(5e-324), "5e-324"},
        {Value(1.0 / 3), "0.3333333333333333"},
        // JSON has no infinities or not-a-number.
        {Value(std::numeric_limits<double>::infinity()), "null"},
        {Value(std::numeric_limits<double>::quiet_NaN()), "null"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(generated(value), text);
        if (text == "null") continue;
        // Read back to the same number, and Ints and Decimals to their kind.
        const Value back = parsed(text);
        EXPECT_EQ(back, value) << text;
        if (!value.isDouble()) {
            EXPECT_EQ(back.kind(), value.kind()) << text;
        }
    }
}

TEST(JsonGenerate, EveryKindRoundTripsAndSurrogatesSurvive) {
    const String lone{char16_t(0xD800)};
    const String reversed{char16_t(0xDE00), char16_t(0xD83D)};
    const String mixed = u"x\xDC00\"\n/\x01\u00e9\xD83D\xDE00\xDBFF";
    // Lone surrogates are escaped; pairs are the character in UTF-8.
    EXPECT_EQ(generated(lone), R"("\uD800")");
    EXPECT_EQ(generated(reversed), R"("\uDE00\uD83D")");
    EXPECT_EQ(generated(mixed), "\"x\\uDC00\\\"\\n/\\u0001\xC3\xA9\xF0\x9F\x98\x80\\uDBFF\"");
    EXPECT_EQ(generated(map({{lone, mixed}, {u"b", lone}})),
              R"({"\uD800":")" + generated(mixed).substr(1) + R"(,"b":"\uD800"})");
    // Each kind of unit at every place in ASCII runs long enough for the
    // runs-at-a-time conversion.
    const std::pair<String, std::string> odd[] = {{u"\u00e9", "\xC3\xA9"},
                                                  {u"\u4e2d", "\xE4\xB8\xAD"},
                                                  {u"\U0001F600", "\xF0\x9F\x98\x80"},
                                                  {String{char16_t(0xDBFF)}, "\\uDBFF"},
                                                  {String{char16_t(0xDC00)}, "\\uDC00"}};
    for (std::size_t at = 0; at <= 20; ++at) {
        for (const auto& [unit, utf8] : odd) {
            String text(20, u'a');
            text.insert(at, unit);
            std::string expected(20, 'a');
            expected.insert(at, utf8);
            EXPECT_EQ(generated(text), '"' + expected + '"') << at;
        }
    }

    const Value tree =
        map({{u"null", Value::null()},
             {u"bools", list({true, false})},
             {u"ints", list({0, -1, INT64_MAX, INT64_MIN})},
             {u"doubles", list({0.1, -1e300, 1e-130, 2.5})},
             {u"decimals",
              list({Decimal::fromString("0.1"), Decimal::fromString("12345678901234567890.12"),
                    Decimal::fromString("-99999999999999999999999999999999999999")})},
             {u"strings", list({u"", u"plain", u"\U0001F600", lone, reversed, mixed})},
             {mixed, map({{reversed, list({list({}), map({})})}})}});
    const Value back = parsed(generated(tree));
    EXPECT_EQ(back, tree);
    // Document order is kept.
    EXPECT_EQ(back.asDictionary()->keys(), tree.asDictionary()->keys());
    EXPECT_EQ(QNJSON::parse(*QNJSON::generate(tree)), tree);
}

TEST(JsonGenerate, DatesDataUuidsAndObjectsWriteTheirDescription) {
    const QNUUID uuid = *QNUUID::fromString("0f8fad5b-d9cb-469f-a165-70867728950e");
    const Value values = list(
        {DateTime(0.0), Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}, uuid, Value(makeRef<Described>())});
    EXPECT_EQ(generated(values),
              "[\"2001-01-01 00:00:00 +0000\",\"<0a1b2c3d 4e>\","
              "\"0F8FAD5B-D9CB-469F-A165-70867728950E\",\"plain \\\"one\\\" \xC3\xA9\"]");
}

TEST(JsonGenerate, ValueSourcesWriteTheirJsonValueInTheirPlace) {
    const Value record = source([](const Source&) {
        return map({{u"name", u"Ana"},
                    {u"tags", list({1, source([](const Source&) { return Value(u"inner"); })})}});
    });
    const Value chain = source([](const Source&) {
        return source([](const Source&) { return Value(Decimal::fromString("0.5")); });
    });
    EXPECT_EQ(generated(record), R"({"name":"Ana","tags":[1,"inner"]})");
    EXPECT_EQ(generated(list({record, chain, map({{u"r", record}})})),
              R"([{"name":"Ana","tags":[1,"inner"]},0.5,{"r":{"name":"Ana","tags":[1,"inner"]}}])");
    EXPECT_EQ(generated(source([](const Source&) { return Value(); })), "null");
    // A source may generate JSON text itself, and may throw: the exception
    // passes through and the next generation is unaffected.
    const Value nested = source([](const Source&) {
        return Value(*yajl_JSONString(list({1, String{u'a', char16_t(0xD800)}})));
    });
    EXPECT_EQ(generated(list({nested, 2})), R"(["[1,\"a\\uD800\"]",2])");
    EXPECT_THROW(QNJSON::generateUtf8(list({1, source([](const Source&) -> Value {
                                                throw std::runtime_error("no JSON form");
                                            })})),
                 std::runtime_error);
    EXPECT_EQ(generated(list({record})), R"([{"name":"Ana","tags":[1,"inner"]}])");

    // Trees that contain themselves end in an error, not a stack overflow.
    const std::string depthError = generationFailure(source([](const Source& self) {
        return list({1, map({{u"again", self.self()}})});
    }));
    EXPECT_NE(depthError.find(std::to_string(QNJSON::kMaxDepth)), std::string::npos);
    EXPECT_EQ(generationFailure(source([](const Source& self) { return self.self(); })),
              depthError);
    const Ref<Dictionary> cycle = makeRef<Dictionary>();
    cycle->set(u"self", Value(cycle));
    EXPECT_EQ(generationFailure(Value(cycle)), depthError);
    cycle->clear();
}

// An object that writes its JSON form through an emitter.
class Streamer : public Object, public QNJSONStreamSource {
public:
    explicit Streamer(std::function<bool(QNJSONEmitter&)> write) : write_(std::move(write)) {}
    bool writeJSON(QNJSONEmitter& out) const override { return write_(out); }

private:
    std::function<bool(QNJSONEmitter&)> write_;
};

Value streamer(std::function<bool(QNJSONEmitter&)> write) {
    return Value(makeRef<Streamer>(std::move(write)));
}

// `levels` arrays, each holding its level number and the next one.
bool nestedArrays(QNJSONEmitter& out, int levels) {
    if (levels == 0) return out.value(Value(0));
    return out.beginArray(2) && out.value(Value(levels)) &&
           out.value(
               streamer([levels](QNJSONEmitter& e) { return nestedArrays(e, levels - 1); })) &&
           out.endArray();
}

TEST(JsonGenerate, StreamSourcesWriteAsTheTreeTheyStandFor) {
    const auto body = [](QNJSONEmitter& out) {
        return out.beginObject(3) && out.key(u"name") && out.value(Value(u"Ana")) &&
               out.key(u"tags") && out.value(list({1, map({{u"k", Value::null()}})})) &&
               out.key(u"inner") && out.value(streamer([](QNJSONEmitter& e) {
                   return e.beginArray(0) && e.value(Value(Decimal::fromString("0.5"))) &&
                          e.endArray();
               })) &&
               out.key(u"name") && out.value(Value(u"Bo")) && out.endObject();
    };
    // Text written as it comes keeps both "name" members; the tree keeps
    // the later value in the first one's place, as a parsed object does.
    EXPECT_EQ(toUtf8(*QNJSON::generateWith(body)),
              R"({"name":"Ana","tags":[1,{"k":null}],"inner":[0.5],"name":"Bo"})");
    QNJSONTreeBuilder tree;
    ASSERT_TRUE(body(tree));
    EXPECT_EQ(generated(tree.result()), R"({"name":"Bo","tags":[1,{"k":null}],"inner":[0.5]})");
    // Inside a tree written by generate, a stream source writes in place.
    EXPECT_EQ(generated(list({streamer(body), 2})),
              R"([{"name":"Ana","tags":[1,{"k":null}],"inner":[0.5],"name":"Bo"},2])");

    // A body that fails, or leaves a container open, gives no text; the
    // next generation is unaffected.
    std::string error;
    EXPECT_FALSE(
        QNJSON::generateWith([](QNJSONEmitter& e) { return e.beginArray(0) && false; }, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(QNJSON::generateWith([](QNJSONEmitter& e) { return e.beginArray(0); }));
    EXPECT_FALSE(QNJSON::generateUtf8(list({streamer([](QNJSONEmitter&) { return false; })})));
    EXPECT_EQ(toUtf8(*QNJSON::generateWith([](QNJSONEmitter& e) { return e.value(Value(7)); })),
              "7");
}

TEST(JsonNesting, StreamSourcesNestAsDeepAsTreesAndNoDeeper) {
    constexpr int kMax = QNJSON::kMaxDepth;
    // Across the levels where one YAJL generator hands over to the next.
    std::string expected = "0";
    for (int i = 1; i <= kMax; ++i)
        expected = "[" + std::to_string(i) + "," + expected + "]";
    const auto deepest = [](QNJSONEmitter& e) { return nestedArrays(e, kMax); };
    EXPECT_EQ(toUtf8(QNJSON::generateWith(deepest).value_or(u"<failed>")), expected);
    // A source that hands over to itself without end counts each hop as a
    // level and stops.
    std::function<bool(QNJSONEmitter&)> forever = [&](QNJSONEmitter& e) {
        return e.value(streamer(forever));
    };
    EXPECT_NE(generationFailure(streamer(forever)).find(std::to_string(kMax)), std::string::npos);
    std::string error;
    EXPECT_FALSE(
        QNJSON::generateWith([](QNJSONEmitter& e) { return nestedArrays(e, kMax + 1); }, &error));
    EXPECT_NE(error.find(std::to_string(kMax)), std::string::npos) << error;
}

TEST(JsonNesting, ReadingAndWritingAreLimitedAlike) {
    constexpr int kMax = QNJSON::kMaxDepth;
    // As deep as the reader allows, past YAJL's own generator limit.
    for (const auto& [open, close] : {std::pair{"[", "]"}, std::pair{"{\"a\":", "}"}}) {
        const std::string text = nested(kMax, open, close);
        EXPECT_EQ(generated(parsed(text)), text);
    }
    // Siblings around the levels where one YAJL generator hands over to the
    // next keep their separators.
    Value deep = 0;
    std::string text = "0";
    for (int i = 1; i <= kMax; ++i) {
        deep = i % 2 ? list({i, deep, u"x"}) : map({{u"k", i}, {u"v", deep}, {u"w", list({})}});
        const std::string n = std::to_string(i);
        text = i % 2 ? "[" + n + "," + text + ",\"x\"]"
                     : "{\"k\":" + n + ",\"v\":" + text + ",\"w\":[]}";
    }
    EXPECT_EQ(generated(deep), text);
    EXPECT_EQ(parsed(text), deep);

    // One level more fails, reading or writing, with the limit in the message.
    EXPECT_NE(generationFailure(list({deep})).find(std::to_string(kMax)), std::string::npos);
    EXPECT_EQ(toUtf8(parsed(nested(kMax, "[", "]")).description()),
              std::string(kMax, '(') + "0" + std::string(kMax, ')'));
    const std::string depthError = failure(nested(kMax + 1, "[", "]"));
    EXPECT_NE(depthError.find(std::to_string(kMax)), std::string::npos);
    EXPECT_EQ(failure(nested(kMax + 1, "{\"a\":", "}")), depthError);
    EXPECT_EQ(failure(std::string(100000, '[')), depthError);
    EXPECT_EQ(failure(nested(100000, "[{\"k\":", "}]")), depthError);
}

TEST(JsonConcurrent, ParsesAndGeneratesFromManyThreads) {
    const std::string text = R"({"a":[1,2.5,"x",{"b":null}],"c":"\u00e9"})";
    const Value expected = parsed(text);
    const std::string generatedText = "{\"a\":[1,2.5,\"x\",{\"b\":null}],\"c\":\"\xC3\xA9\"}";
    std::vector<int> mismatches(4, 0);
    test::onThreads(4, [&](int t) {
        for (int i = 0; i < 200; ++i) {
            mismatches[t] += QNJSON::parse(text).value_or(Value()) != expected;
            mismatches[t] += QNJSON::generateUtf8(expected) != generatedText;
        }
    });
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace qn
