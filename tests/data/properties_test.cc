#include <qn/data.h>
#include <qn/host/errors.h>
#include <qn/host/messages.h>

#include "support/test_support.h"

namespace qn {
namespace {

using Pairs = std::vector<std::pair<String, String>>;

Pairs pairsOf(const std::vector<Ref<QNProperty>>& list) {
    Pairs out;
    for (const auto& p : list)
        out.emplace_back(p->key(), p->value());
    return out;
}

// Walks the cursor from first() to eof.
Pairs walk(QNProperties& props) {
    Pairs out;
    for (auto p = props.first(); !props.eof(); p = props.next())
        out.emplace_back(p->key(), p->value());
    return out;
}

Ref<QNProperties> sample() {
    auto props = QNProperties::init();
    props->addKeyValue(u"b", u"2");
    props->addKeyValue(u"a", u"1");
    props->set(u"c", u"3");
    return props;
}

void expectDefaultPair(const Ref<QNProperty>& p) {
    ASSERT_TRUE(p);
    EXPECT_EQ(p->key(), u"");
    EXPECT_EQ(p->value(), u"");
}

TEST(QNPropertiesCursor, WalksPairsInInsertionOrderThenDefaultPairs) {
    QNProperties props;
    EXPECT_TRUE(props.eof());
    expectDefaultPair(props.next());
    expectDefaultPair(props.first());
    EXPECT_TRUE(props.eof()) << "first() of an empty map";
    props.addKeyValue(u"a", u"1");
    props.addKeyValue(u"b", u"2");
    EXPECT_EQ(props.first()->key(), u"a");
    EXPECT_FALSE(props.eof());
    auto p = props.next();
    EXPECT_EQ(std::pair(p->key(), p->value()), std::pair(String(u"b"), String(u"2")));
    EXPECT_FALSE(props.eof());
    expectDefaultPair(props.next());
    EXPECT_TRUE(props.eof());
    expectDefaultPair(props.next());
}

TEST(QNPropertiesCursor, SnapshotIsIndependentOfLaterChanges) {
    auto props = sample();
    EXPECT_EQ(props->first()->key(), u"b");
    props->addKeyValue(u"d", u"4");
    props->set(u"a", u"changed");
    // clear() and fromJSONString() leave the snapshot and the index alone.
    props->clear();
    EXPECT_EQ(props->next()->value(), u"1");
    EXPECT_TRUE(props->fromJSONString(u"{\"z\":\"9\"}"));
    EXPECT_EQ(props->next()->key(), u"c");
    EXPECT_TRUE(props->next()->key().empty());
    EXPECT_EQ(walk(*props), (Pairs{{u"z", u"9"}})) << "seen after the next first()";

    // The enumerator leaves the cursor alone.
    props->first();
    EXPECT_EQ(pairsOf(props->objectEnumerator()), (Pairs{{u"z", u"9"}}));
    EXPECT_FALSE(props->eof());
    props->next();
    EXPECT_TRUE(props->eof());
    EXPECT_EQ(props->objectEnumerator().size(), 1u);
    EXPECT_TRUE(props->eof());
}

TEST(QNPropertiesMap, InitWithDictionaryStoresTextOfEveryValue) {
    auto inner = makeRef<Dictionary>(Dictionary{{u"k", Value(u"v")}});
    const Dictionary source{{u"s", Value(u"text")}, {u"i", Value(5)}, {u"m", Value(inner)}};
    auto props = QNProperties::initWithDictionary(source);
    const String innerText = Value(inner).description();
    EXPECT_EQ(walk(*props), (Pairs{{u"s", u"text"}, {u"i", u"5"}, {u"m", innerText}}));
    inner->set(u"k", Value(u"changed"));
    EXPECT_EQ(props->get(u"m"), innerText) << "a copy, not a view";
}

TEST(QNPropertiesJson, LoadsObjectsAsTextAndWritesWhatItReads) {
    struct Case {
        const char16_t* text;
        Pairs expected;
    };
    const Case cases[] = {
        {u"{\"a\":1,\"b\":{\"c\":true}}", {{u"a", u"1"}, {u"b", u"{\"c\":true}"}}},
        {u" {\"n\": null, \"l\": [1, \"x\"], \"s\": \"text\", \"f\": false} ",
         {{u"n", u"null"}, {u"l", u"[1,\"x\"]"}, {u"s", u"text"}, {u"f", u"false"}}},
        {u"{\"q\":\"say \\\"hi\\\"\",\"u\":\"\\u00e9\"}",
         {{u"q", u"say \"hi\""}, {u"u", u"\u00e9"}}},
        {u"{}", {}}};
    for (const auto& c : cases) {
        QNProperties props;
        props.set(u"old", u"gone");
        EXPECT_TRUE(props.fromJSONString(c.text)) << toUtf8(c.text);
        EXPECT_EQ(walk(props), c.expected) << toUtf8(c.text);
    }
    // A replaced key keeps its place, keys are exact, and what it writes reads
    // back the same.
    auto props = sample();
    props->addKeyValue(u"b", u"20");
    props->set(u"A", u"upper");
    EXPECT_EQ(props->toJSONString(), u"{\"b\":\"20\",\"a\":\"1\",\"c\":\"3\",\"A\":\"upper\"}");
    props->set(u"quote\"key", u"line\nbreak \u00e9");
    QNProperties copy;
    ASSERT_TRUE(copy.fromJSONString(props->toJSONString()));
    EXPECT_EQ(walk(copy), walk(*props));
}

TEST(QNPropertiesJson, FailuresEmptyTheMapAndAddOneMessage) {
    // text, expected description ("" for the parser's own error text)
    const std::pair<String, String> cases[] = {{u"[1]", u"Invalid JSON string: '[1]'"},
                                               {u"\"text\"", u"Invalid JSON string: '\"text\"'"},
                                               {u"", u"Empty string"},
                                               {u"{\"a\":", u""},
                                               {u"{a:1}", u""}};
    QNThreadErrorHandler::errorHandler().clear();
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(toUtf8(text));
        auto props = sample();
        EXPECT_FALSE(props->fromJSONString(text));
        EXPECT_EQ(props->itemCount(), 0);

        props->set(u"old", u"x");
        auto messages = QNObjectCollection::init();
        EXPECT_FALSE(props->fromJSONStringMessages(text, messages.get()));
        EXPECT_EQ(props->itemCount(), 0);
        ASSERT_EQ(messages->count(), 1u);
        auto message = messages->items()[0].as<QNSDTMessage>();
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->id(), QNSDTMessagesHelper::kJSONErrorId);
        EXPECT_EQ(message->type(), 1);
        const String description = message->messageDescription();
        if (expected.empty()) {
            EXPECT_FALSE(description.empty());
            EXPECT_EQ(description.find(u"Invalid JSON string"), String::npos);
        } else {
            EXPECT_EQ(description, expected);
        }
    }
    EXPECT_FALSE(QNThreadErrorHandler::errorHandler().hasErrors())
        << "failures are reported only to the caller's list";
}

// Every storing entry point converts: maps of strings become QNProperties,
// anything else is reported and replaced by an empty one.
TEST(QNPropertiesCollectionTest, EveryStoreConvertsAndReportsWhatItCannot) {
    test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    test::ScopedCapturingLogger log;
    auto strings = makeRef<Dictionary>(Dictionary{{u"a", Value(u"1")}});
    auto mixed = makeRef<Dictionary>(Dictionary{{u"a", Value(u"1")}, {u"n", Value(2)}});
    auto collection = QNPropertiesCollection::initWithArray(
        {Value(strings), Value(QNProperties::init()), Value(u"text"), Value(mixed)});
    ASSERT_EQ(collection->count(), 4u);
    const auto typed = collection->typedItems();
    for (const auto& p : typed)
        ASSERT_NE(p, nullptr);
    EXPECT_EQ(typed[0]->get(u"a"), u"1");
    EXPECT_EQ(typed[2]->itemCount(), 0) << "the fallback is an empty map";
    EXPECT_EQ(typed[3]->itemCount(), 0) << "a map holding a number is not a map of strings";
    EXPECT_TRUE(log->contains(
        u"Invalid item type in QNPropertiesCollection. Expected QNProperties but was text"));

    collection->addItem(Value(7));
    collection->addItemAtIndex(Value(strings), 1);
    collection->setCurrentItem(Value(u"x"));
    EXPECT_EQ(collection->count(), 6u);
    EXPECT_NE(collection->objectAtIndex(1).as<QNProperties>(), nullptr);
    EXPECT_NE(collection->objectAtIndex(6).as<QNProperties>(), nullptr);
    EXPECT_NE(collection->currentItem().as<QNProperties>(), nullptr);

    // Under the raising policy the report is an exception and nothing is stored.
    test::ScopedFatalErrorPolicy raise(QNUtilities::FatalErrorPolicy::kRaise);
    EXPECT_THROW(collection->addItem(Value(1)), FatalError);
    EXPECT_EQ(collection->count(), 6u);
}

// Without a fallback an element that is not convertible is refused.
TEST(QNPropertiesCollectionTest, TypedCollectionWithoutFallbackRefuses) {
    test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    test::ScopedCapturingLogger log;
    QNGenericsObjectCollection<QNProperty> pairs;
    pairs.addItem(Value(u"not a pair"));
    EXPECT_EQ(pairs.count(), 0u);
    pairs.setItems({Value(u"still not")});
    EXPECT_EQ(pairs.count(), 0u);
    EXPECT_TRUE(log->contains(u"Expected QNProperty but was not a pair"));
}

}  // namespace
}  // namespace qn
