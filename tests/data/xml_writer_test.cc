// QNXMLWriter: the exact text of each write call, the error codes, and the
// string, file and request-body targets.
#include <qn/data.h>
#include <qn/host.h>
#include <qn/net.h>

#include "support/test_support.h"

namespace qn {
namespace {

namespace fs = std::filesystem;
using W = QNXMLWriter;
using Call = void (*)(W&);

std::string u8(const String& s) {
    return toUtf8(s);
}

// One of each write call, in an order XML allows, with the text it appends
// on a writer without indentation. Empty contents that libxml2 would leave
// open (an attribute, comment or namespaced element, so that what follows
// would land inside it) are written empty; "]]>" in CDATA is split across
// sections.
const struct {
    Call call;
    const char16_t* text;
} kCalls[] = {
    {[](W& w) { w.writeStartDocumentStandalone(u"", 0); },
     u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"},
    {[](W& w) { w.writeDocTypeSystemUriSubset(u"r", u"r.dtd", u"<!ENTITY e \"x\">"); },
     u"<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"x\">]>"},
    {[](W& w) { w.writeDocTypeSubset(u"d", u""); }, u"<!DOCTYPE d>"},
    // No identifier at all without a system one.
    {[](W& w) { w.writeDocTypePublicUriSubset(u"d", u"", u"<!ENTITY x 'y'>"); },
     u"<!DOCTYPE d [<!ENTITY x 'y'>]>"},
    {[](W& w) { w.writeProcessingInstructionValue(u"pi", u"x=1"); }, u"<?pi x=1?>"},
    {[](W& w) { w.writeProcessingInstructionValue(u"t", u""); }, u"<?t?>"},
    {[](W& w) { w.writeComment(u"c"); }, u"<!--c-->"},
    {[](W& w) { w.writeComment(u""); }, u"<!---->"},
    {[](W& w) { w.writeStartElement(u"r"); }, u"<r"},
    {[](W& w) { w.writeAttributeValue(u"a", u"<&\"'"); }, u" a=\"&lt;&amp;&quot;'\""},
    {[](W& w) { w.writeAttributeValue(u"e", u""); }, u" e=\"\""},
    {[](W& w) { w.writeText(u"t&"); }, u">t&amp;"},
    {[](W& w) { w.writeRawText(u"<raw/>&amp;"); }, u"<raw/>&amp;"},
    {[](W& w) { w.writeCData(u"x<y&"); }, u"<![CDATA[x<y&]]>"},
    {[](W& w) { w.writeCData(u""); }, u"<![CDATA[]]>"},
    {[](W& w) { w.writeCData(u"a]]>b]]>]]>"); },
     u"<![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>]]]]><![CDATA[>]]>"},
    {[](W& w) { w.writeElementValue(u"e", u"1 < 2 & 3 > 2"); }, u"<e>1 &lt; 2 &amp; 3 &gt; 2</e>"},
    {[](W& w) { w.writeElementValue(u"empty", u""); }, u"<empty/>"},
    {[](W& w) { w.writeNSStartElementPrefixNamespaceURI(u"n", u"p", u"urn:p"); }, u"<p:n"},
    {[](W& w) { w.writeNSElementNamespaceURIValue(u"m", u"urn:m", u"v"); },
     u" xmlns:p=\"urn:p\"><m xmlns=\"urn:m\">v</m>"},
    {[](W& w) { w.writeNSElementNamespaceURIValue(u"m2", u"urn:m", u""); },
     u"<m2 xmlns=\"urn:m\"/>"},
    {[](W& w) { w.writeEndElement(); }, u"</p:n>"},
    {[](W& w) { w.writeStartElement(u"\u00fc"); }, u"<\u00fc"},
    {[](W& w) { w.writeAttributeValue(u"\u00e5", u"\u00e9\u20ac\u4e2d\U0001F600 <"); },
     u" \u00e5=\"\u00e9\u20ac\u4e2d\U0001F600 &lt;\""},
    {[](W& w) { w.writeElementValue(u"x", u"\u00e9\u20ac\u4e2d\U0001F600"); },
     u"><x>\u00e9\u20ac\u4e2d\U0001F600</x>"},
    {[](W& w) { w.writeText(u"lone \xD800 surrogate"); }, u"lone \uFFFD surrogate"}};

TEST(XMLWriterOutput, TextOfEachCall) {
    W w;
    w.openToString();
    w.setIndentation(0);
    String expected;
    for (const auto& c : kCalls) {
        c.call(w);
        expected += c.text;
        ASSERT_EQ(u8(w.resultingString()), u8(expected));
    }
    // close ends every open element and the document.
    w.close();
    EXPECT_EQ(w.resultingString(), expected + u"</\u00fc></r>\n");
    EXPECT_EQ(w.errCode(), 0);
}

TEST(XMLWriterOutput, IndentationEncodingsAndConversion) {
    W w;
    // An empty indentation string is only stored while closed; opening
    // applies it and libxml2 refuses it, but the writer opens. No later
    // success clears the error.
    w.setIndentChar(u"");
    EXPECT_EQ(w.errCode(), 0);
    w.openToString();
    EXPECT_EQ(w.errCode(), 4);
    w.setIndentChar(u" ");
    w.writeStartDocumentStandalone(u"UTF-8", 7);
    w.writeStartElement(u"a");
    w.writeElementValue(u"b", u"1");
    w.setIndentChar(u"\t");  // settings apply at once to an open writer
    w.writeElementValue(u"c", u"2");
    w.setIndentation(0);
    w.writeElementValue(u"d", u"3");
    w.close();
    EXPECT_EQ(test::errorOf(w), test::ErrorPair(4, u"Could not complete operation"));
    EXPECT_EQ(u8(w.resultingString()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
              "<a>\n <b>1</b>\n\t<c>2</c>\n<d>3</d></a>\n");

    // A document that declares another encoding is written in it, and its
    // text reads back through it.
    w.openToString();
    w.setIndentation(0);
    w.writeStartDocumentStandalone(u"ISO-8859-1", 0);
    w.writeElementValue(u"x", u"\u00e9\u20ac");
    w.close();
    EXPECT_EQ(w.resultingString(),
              u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<x>\u00e9&#8364;</x>\n");

    // Every position of a non-ASCII unit, a pair, a lone surrogate or U+0000
    // in ASCII text (which is converted four units at a time).
    for (std::size_t at = 0; at <= 9; ++at) {
        for (const String& odd : {String(u"\u00e9"), String(u"\u4e2d"), String(u"\U0001F600"),
                                  String(u"\xDC00"), String(1, u'\0')}) {
            String value = u"abcdefghi", expected = value;
            value.insert(at, odd);
            expected.insert(at, odd == u"\xDC00" ? String(u"\uFFFD") : odd);
            W x;
            x.openToString();
            x.writeText(value);
            EXPECT_EQ(x.errCode(), odd[0] == 0 ? 4 : 0) << at;
            EXPECT_EQ(x.resultingString(), odd[0] == 0 ? String() : expected) << at;
        }
    }
}

// --- Errors ------------------------------------------------------------------------

enum Setup { Open, AfterRoot, InRoot };
const struct {
    Setup setup;
    Call call;
} kRefused[] = {
    // Refused, by libxml2 or before it, with nothing written.
    {Open, [](W& w) { w.writeEndElement(); }},
    {Open, [](W& w) { w.writeStartElement(u""); }},
    {Open, [](W& w) { w.writeElementValue(u"", u"v"); }},
    {AfterRoot, [](W& w) { w.writeAttributeValue(u"a", u"v"); }},
    {Open, [](W& w) { w.writeText(u""); }},
    {Open, [](W& w) { w.writeRawText(u""); }},
    {Open, [](W& w) { w.writeProcessingInstructionValue(u"xml", u"v"); }},
    {Open, [](W& w) { w.writeStartDocumentStandalone(u"no-such-charset", 0); }},
    {InRoot, [](W& w) { w.writeDocTypeSubset(u"d", u""); }},
    // libxml2 would leave "<!DOCTYPE d" open here.
    {Open, [](W& w) { w.writeDocTypePublicUriSubset(u"d", u"-//P//EN", u""); }},
    // Text XML cannot carry as given.
    {Open, [](W& w) { w.writeComment(u"a--b"); }},
    {Open, [](W& w) { w.writeComment(u"a-"); }},
    {Open, [](W& w) { w.writeProcessingInstructionValue(u"t", u"a?>b"); }},
    {Open, [](W& w) { w.writeElementValue(u"b", String(u"cut\0here", 8)); }}};

TEST(XMLWriterErrors, ClosedWriterAndRefusedCalls) {
    for (const auto& c : kCalls) {
        W closed;
        c.call(closed);
        EXPECT_EQ(closed.errCode(), 3) << u8(c.text);
        EXPECT_EQ(closed.errDescription(), u"XMLWriter is not open");
        EXPECT_EQ(closed.resultingString(), u"");
    }
    for (std::size_t i = 0; i < std::size(kRefused); ++i) {
        W w;
        w.openToString();
        w.setIndentation(0);
        if (kRefused[i].setup == AfterRoot) w.writeElementValue(u"a", u"");
        if (kRefused[i].setup == InRoot) w.writeStartElement(u"a");
        const String before = w.resultingString();
        kRefused[i].call(w);
        EXPECT_EQ(w.errCode(), 4) << i;
        EXPECT_EQ(w.errDescription(), u"Could not complete operation") << i;
        EXPECT_EQ(w.resultingString(), before) << i;
    }
}

// --- Targets ------------------------------------------------------------------------

TEST(XMLWriterTargets, StringWriterStartsOverOnEachOpenAndStopsAtClose) {
    W w;
    w.openToString();
    w.writeStartElement(u"a");
    w.openToString();  // also over a writer still open
    w.setIndentation(0);
    w.writeElementValue(u"b", u"1");
    w.close();
    w.writeElementValue(u"c", u"2");  // closed: nothing more is written
    EXPECT_EQ(w.errCode(), 3);
    EXPECT_EQ(u8(w.resultingString()), "<b>1</b>\n");
}

TEST(XMLWriterTargets, FileWriter) {
    test::TempDir dir;
    // The path is taken as it is: no URI unescaping of "%41".
    const fs::path file = dir.path() / "out%41.xml";
    W w;
    w.openURL(fromUtf8(file.string()));
    w.setIndentation(0);
    w.writeStartDocumentStandalone(u"", 0);
    w.writeElementValue(u"a", u"\u00e9");
    EXPECT_EQ(w.resultingString(), u"");  // a file writer has no text
    w.close();
    EXPECT_EQ(w.errCode(), 0);
    EXPECT_EQ(test::readFile(file),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\xC3\xA9</a>\n");

    for (const String& path : {fromUtf8((dir.path() / "no-such-dir" / "x.xml").string()),
                               fromUtf8(dir.path().string()), String()}) {
        W bad;
        bad.openURL(path);
        EXPECT_EQ(test::errorOf(bad), test::ErrorPair(1, u"Could not open file at URL " + path));
        bad.writeStartElement(u"a");  // still closed
        EXPECT_EQ(bad.errCode(), 3);
    }
}

// The bundle's resources are read-only: a writer cannot open one, existing
// or not, and the bundle is left as it was.
TEST(XMLWriterTargets, ResourcesAreNeverWritten) {
    test::TempDir bundle;
    test::writeSampleBundle(bundle);
    bundle.write("data.xml", "<kept/>");
    test::ScopedBundle scoped(bundle.path());
    for (const String path : {u"$RESOURCES/data.xml", u"$RESOURCES/new.xml"}) {
        W w;
        w.openURL(path);
        EXPECT_EQ(test::errorOf(w), test::ErrorPair(1, u"Could not open file at URL " + path));
        w.writeElementValue(u"a", u"b");
        w.close();
    }
    EXPECT_EQ(test::readFile(bundle.path() / "data.xml"), "<kept/>");
    EXPECT_FALSE(fs::exists(bundle.path() / "new.xml"));
}

// A client that never sends: only its identity matters here.
TEST(XMLWriterTargets, RequestBodyForItsOwnClientOnly) {
    auto client = makeRef<QNHttpClient>();
    auto other = makeRef<QNHttpClient>();
    auto w = makeRef<W>();
    w->openRequest(client);
    EXPECT_EQ(client->httpClientDelegate(), std::static_pointer_cast<QNHTTPClientDelegate>(w));
    w->setIndentation(0);
    w->writeElementValue(u"a", u"1");
    EXPECT_EQ(w->stringBodyForHTTPClient(*client), std::optional<String>(u"<a>1</a>"));
    EXPECT_EQ(w->stringBodyForHTTPClient(*other), std::nullopt);

    // The client holds the writer weakly.
    std::weak_ptr<W> weak = w;
    w.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(client->httpClientDelegate(), nullptr);

    // A writer not owned by a Ref cannot be a delegate: the client gets none.
    W local;
    local.openRequest(client);
    EXPECT_EQ(client->httpClientDelegate(), nullptr);
    EXPECT_EQ(local.errCode(), 0);
}

}  // namespace
}  // namespace qn
