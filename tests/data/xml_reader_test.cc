// QNXMLReader: stepping and searching by node kind, values and attributes,
// raw XML, skip and eof, the error codes, the ways of opening, and hostile
// input (external references, entity expansion, deep nesting).
#include <qn/data/xml_reader.h>
#include <qn/host.h>

#include <iterator>
#include <random>

#include "support/test_support.h"

namespace qn {
namespace {

using Reader = QNXMLReader;
using Steps = std::vector<std::string>;

std::string u8(const String& s) {
    return toUtf8(s);
}

void openText(Reader& r, std::string_view xml, int reads = 0) {
    ASSERT_EQ(r.openFromString(fromUtf8(xml)), 0) << xml;
    for (int i = 0; i < reads; ++i)
        ASSERT_EQ(r.read(), 1) << xml;
}

// The node the reader is on: "<code>:<name>{<namespace>}=<value>" for
// element starts, without the parts that are empty (so "2:<name>" for an end
// tag), "<code>:<value>" for the other kinds that have a value, "<code>:" for
// the rest.
std::string here(Reader& r) {
    const std::int64_t code = r.nodeType();
    std::string what;
    if (code == Reader::kElement || code == Reader::kEndElement) {
        what = u8(r.name());
        if (!r.namespaceURI().empty()) what += "{" + u8(r.namespaceURI()) + "}";
        if (code == Reader::kElement && !r.value().empty()) what += "=" + u8(r.value());
    } else if (code & (Reader::kText | Reader::kComment | Reader::kProcessingInstruction |
                       Reader::kDocumentType)) {
        what = u8(r.value());
    }
    return std::to_string(code) + ":" + what;
}

// here() after readTypeName, or "none".
std::string found(Reader& r, std::int64_t mask, StringView name) {
    return r.readTypeName(mask, name) == 1 ? here(r) : "none";
}

// here() of every node read() lands on, then "error:<code>" if a call failed.
Steps steps(Reader& r) {
    Steps out;
    while (r.read() == 1)
        out.push_back(here(r));
    if (r.errCode() != 0) out.push_back("error:" + std::to_string(r.errCode()));
    return out;
}

Steps stepsOf(std::string_view xml, bool simple = true, bool removeWhiteNodes = true,
              bool removeWhiteSpaces = true) {
    Reader r;
    r.setSimpleElements(simple);
    r.setRemoveWhiteNodes(removeWhiteNodes);
    r.setRemoveWhiteSpaces(removeWhiteSpaces);
    r.openFromString(fromUtf8(xml));
    return steps(r);
}

// The attributes by index, each followed by "|".
std::string attributes(Reader& r) {
    std::string all;
    for (std::int64_t i = 1; i <= r.attributeCount(); ++i)
        all += u8(r.getAttributeByIndex(i)) + "|";
    return all;
}

// Everything the reader gives out of a document: here(), raw XML and
// attributes of every node.
std::string everything(Reader& r) {
    std::string all;
    r.setSimpleElements(false);
    r.setRemoveWhiteNodes(false);
    while (r.read() == 1)
        all += here(r) + u8(r.readRawXML()) + attributes(r) + "|";
    return all;
}

// --- Stepping and values ---------------------------------------------------------

TEST(XMLReaderStepping, SimpleElementsWhiteNodesAndValues) {
    // Comments and processing instructions give their content as value, a
    // document type gives "".
    const std::string_view kinds =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ELEMENT r ANY>]>\n<!-- note -->\n"
        "<?target some data?>\n<r>t<![CDATA[<c> & d]]><!--in--><?p2 x?></r>";
    struct Case {
        std::string_view xml;
        Steps steps;
        bool simple = true, removeWhiteNodes = true, removeWhiteSpaces = true;
    };
    const Case cases[] = {
        // A text-only element is one node, also when its text is CDATA.
        {"<r><a>x</a><b><![CDATA[<y>]]></b></r>", {"1:r=x<y>", "1:a=x", "1:b=<y>", "2:r"}},
        // An empty element with an end tag ends on it; a self-closing one
        // holds no text, so the text after it is its parent's.
        {"<r><a></a><b/>tail</r>", {"1:r=tail", "1:a", "2:a", "1:b", "4:tail", "2:r"}},
        // Only one text node and the end tag right after it are stepped over;
        // an element's value is the text and CDATA of its whole subtree.
        {"<r><a>x<![CDATA[y]]></a></r>", {"1:r=xy", "1:a=xy", "32:", "2:a", "2:r"}},
        {"<r>a<i>b<j><![CDATA[c]]></j></i>d<!--x--></r>",
         {"1:r=abcd", "1:i=bc", "1:j=c", "2:i", "4:d", "8:x", "2:r"}},
        {"<p>one <b>two</b> three</p>", {"1:p=one two three", "1:b=two", "4:three", "2:p"}},
        // An entity reference (code 0) is neither substituted nor in the value.
        {"<!DOCTYPE r [<!ENTITY e \"E<z>Z</z>\">]><r>a&e;b</r>",
         {"128:", "1:r=ab", "0:", "4:b", "2:r"}},
        // White nodes are dropped unless asked for; a whitespace-only element
        // ends on its end tag.
        {"<r>\n  <a>x</a>\n  <c>  </c>\n</r>", {"1:r=\n  x\n    \n", "1:a=x", "1:c", "2:c", "2:r"}},
        {"<r>\n <a/>\n</r>", {"1:r=\n \n", "16:", "1:a", "16:", "2:r"}, true, false},
        {"<r><a>x</a></r>", {"1:r=x", "1:a=x", "4:x", "2:a", "2:r"}, false},
        {kinds,
         {"128:", "8:note", "64:some data", "1:r=t<c> & d", "4:t", "32:", "8:in", "64:x", "2:r"},
         false},
        {"<r><näme>héllo 日本 \xF0\x9F\x98\x80</näme><z>&#x1F600;&amp;&lt;</z></r>",
         {"1:r=héllo 日本 \xF0\x9F\x98\x80\xF0\x9F\x98\x80&<", "1:näme=héllo 日本 \xF0\x9F\x98\x80",
          "1:z=\xF0\x9F\x98\x80&<", "2:r"}},
        // Values are trimmed of blanks (tabs and the Unicode space separators,
        // not line breaks) unless asked not to.
        {"<r><a>  x  </a><b>\t\xC2\xA0y z\xE3\x80\x80</b><c>\nz\n</c></r>",
         {"1:r=x  \t\xC2\xA0y z\xE3\x80\x80\nz\n", "1:a=x", "1:b=y z", "1:c=\nz\n", "2:r"}},
        {"<r><a> x </a></r>", {"1:r= x ", "1:a= x ", "2:r"}, true, true, false},
        // A default namespace applies to descendants and to end tags.
        {"<p:r xmlns:p=\"urn:p\"><p:a>1</p:a><b xmlns=\"urn:d\"><c/></b><e/></p:r>",
         {"1:p:r{urn:p}=1", "1:p:a{urn:p}=1", "1:b{urn:d}", "1:c{urn:d}", "2:b{urn:d}", "1:e",
          "2:p:r{urn:p}"}},
        // A string is UTF-8 whatever its declaration says.
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>é</r>", {"1:r=é"}}};
    for (const Case& c : cases)
        EXPECT_EQ(stepsOf(c.xml, c.simple, c.removeWhiteNodes, c.removeWhiteSpaces), c.steps)
            << c.xml;
}

// --- Searching and attributes ---------------------------------------------------

TEST(XMLReaderSearching, MasksNamesAndNamespaces) {
    Reader r;
    openText(r, "<a><b>t1</b><!--k--><c>t2</c></a>");
    // A name only restricts element starts and ends; a combined mask stops
    // on the first kind that fits.
    EXPECT_EQ(found(r, Reader::kText, u"whatever"), "4:t1");
    EXPECT_EQ(found(r, Reader::kElement | Reader::kComment, u"c"), "8:k");
    EXPECT_EQ(found(r, Reader::kElement, u""), "1:c=t2");
    EXPECT_EQ(found(r, Reader::kEndElement, u"a"), "2:a");
    EXPECT_EQ(found(r, 255, u""), "none");
    EXPECT_TRUE(r.eof());

    // Names compare with the qualified name: "a" is not "p:a".
    openText(r, "<p:r xmlns:p=\"urn:p\"><p:a>1</p:a></p:r>");
    EXPECT_EQ(found(r, Reader::kElement, u"p:a"), "1:p:a{urn:p}=1");
    EXPECT_EQ(r.localName(), u"a");
    EXPECT_EQ(found(r, Reader::kElement, u"a"), "none");
    EXPECT_EQ(r.errCode(), 0);
}

TEST(XMLReaderAttributes, ByIndexByNameAndExistence) {
    Reader r;
    openText(r,
             "<r xmlns:p=\"urn:p\" p:k=\"v\" b=\"x &amp; y\" empty=\"\" é=\"ü&#x1F600;\"><t/></r>",
             1);
    // Namespace declarations count as attributes and come first.
    EXPECT_EQ(attributes(r), "urn:p|v|x & y||ü\xF0\x9F\x98\x80|");
    EXPECT_EQ(r.getAttributeByName(u"é"), u"ü\U0001F600");
    EXPECT_EQ(r.getAttributeByName(u"p:k"), u"v");
    EXPECT_EQ(r.getAttributeByName(u"xmlns:p"), u"urn:p");
    EXPECT_EQ(r.getAttributeByName(u"empty"), u"");
    EXPECT_EQ(r.existsAttribute(u"empty"), 1);
    EXPECT_EQ(r.existsAttribute(u"zz"), 0);
    EXPECT_EQ(r.existsAttribute(u""), 0);
    EXPECT_EQ(r.errCode(), 0);
    EXPECT_EQ(here(r), "1:r");  // still on the element

    // A name with U+0000 would name another attribute once cut short.
    EXPECT_EQ(r.getAttributeByName(String(u"b\0x", 3)), u"");
    EXPECT_EQ(r.errCode(), 6);
    EXPECT_EQ(r.getAttributeByName(u"zz"), u"");
    EXPECT_EQ(r.errDescription(), u"Could not read attribute with name 'zz'");
    for (std::int64_t index : {6, 0, -3}) {
        EXPECT_EQ(r.getAttributeByIndex(index), u"");
        EXPECT_EQ(r.errDescription(),
                  u"Could not read attribute at index " + fromUtf8(std::to_string(index)));
    }
    // A success never clears the error.
    EXPECT_EQ(r.getAttributeByName(u"b"), u"x & y");
    EXPECT_EQ(r.errCode(), 6);
    ASSERT_EQ(r.read(), 1);
    EXPECT_EQ(r.attributeCount(), 0);
}

// --- Raw XML, skip, eof --------------------------------------------------------------

TEST(XMLReaderRawXML, OuterXMLSkipAndEof) {
    Reader r;
    openText(r, "<r xmlns:p=\"urn:p\"><p:a k=\"v\"><b>x &amp; y</b></p:a><c>z</c></r>", 2);
    // The namespace declared outside comes along; the reader does not move.
    EXPECT_EQ(r.readRawXML(), u"<p:a xmlns:p=\"urn:p\" k=\"v\"><b>x &amp; y</b></p:a>");
    EXPECT_EQ(here(r), "1:p:a{urn:p}=x & y");
    EXPECT_EQ(r.skip(), 0);
    EXPECT_EQ(here(r), "1:c=z");
    EXPECT_EQ(r.errCode(), 0);

    // libxml2 has consumed this whole input at the first read; eof still
    // waits until a step finds no node.
    openText(r, "<r><a>1</a><b>2</b></r>");
    int nodes = 0;
    while (!r.eof())
        nodes += static_cast<int>(r.read());
    EXPECT_EQ(nodes, 4);  // r, a, b, </r>
    EXPECT_EQ(r.read(), 0);
    EXPECT_TRUE(r.eof());

    // Skipping past the last element reaches the end too.
    openText(r, "<r><a/></r>", 1);
    EXPECT_EQ(r.skip(), 0);
    EXPECT_TRUE(r.eof());
}

// --- Errors ------------------------------------------------------------------------

// The calls that need an open reader, each true when it gave its fallback;
// `needsKind` ones also refuse a CDATA node (error 5).
struct Guarded {
    bool (*fallsBack)(Reader&);
    bool needsKind;
};
const Guarded kGuarded[] = {{[](Reader& r) { return r.read() == 0; }, false},
                            {[](Reader& r) { return r.readTypeName(255, u"") == 0; }, false},
                            {[](Reader& r) { return r.nodeType() == 0; }, false},
                            {[](Reader& r) { return r.namespaceURI().empty(); }, false},
                            {[](Reader& r) { return r.eof(); }, false},
                            {[](Reader& r) { return r.name().empty(); }, true},
                            {[](Reader& r) { return r.localName().empty(); }, true},
                            {[](Reader& r) { return r.value().empty(); }, true},
                            {[](Reader& r) { return r.attributeCount() == -1; }, true},
                            {[](Reader& r) { return r.getAttributeByIndex(1).empty(); }, true},
                            {[](Reader& r) { return r.getAttributeByName(u"a").empty(); }, true},
                            {[](Reader& r) { return r.existsAttribute(u"a") == 0; }, true},
                            {[](Reader& r) { return r.readRawXML().empty(); }, true},
                            {[](Reader& r) { return r.skip() == 0; }, true}};

TEST(XMLReaderErrors, ClosedReaderAndWrongNodeKind) {
    for (std::size_t i = 0; i < std::size(kGuarded); ++i) {
        Reader closed;
        EXPECT_TRUE(kGuarded[i].fallsBack(closed)) << i;
        EXPECT_EQ(closed.errCode(), 3) << i;
        EXPECT_EQ(closed.errDescription(), u"XMLReader is not open") << i;
        if (!kGuarded[i].needsKind) continue;
        Reader cdata;
        cdata.setSimpleElements(false);
        openText(cdata, "<r a=\"1\"><![CDATA[c]]></r>", 2);
        EXPECT_TRUE(kGuarded[i].fallsBack(cdata)) << i;
        EXPECT_EQ(cdata.errCode(), 5) << i;
        EXPECT_EQ(cdata.errDescription(), u"Cannot get attributes for current node type") << i;
    }

    // Closing is idempotent and leaves the reader closed.
    Reader r;
    openText(r, "<a>x</a>", 1);
    EXPECT_EQ(r.close(), 0);
    EXPECT_EQ(r.close(), 0);
    EXPECT_EQ(r.read(), 0);
    EXPECT_EQ(r.errCode(), 3);
}

// The loop generated code writes, `while (!eof()) read();`, bounded so that a
// reader that never reaches its end fails the test instead of hanging it: the
// number of nodes read, or -1 when the loop did not end.
int readToEnd(Reader& r) {
    int nodes = 0;
    for (int calls = 0; calls < 1000; ++calls) {
        if (r.eof()) return nodes;
        nodes += static_cast<int>(r.read());
    }
    return -1;
}

// The error a document that is not XML leaves: its position, then libxml2's
// own words for what is wrong.
::testing::AssertionResult isParseError(Reader& r, int line, int column) {
    const std::string prefix = "XML parse error at line " + std::to_string(line) + ", column " +
                               std::to_string(column) + ": ";
    const std::string text = u8(r.errDescription());
    if (r.errCode() == Reader::kMalformedError && text.size() > prefix.size() &&
        text.compare(0, prefix.size(), prefix) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "error " << r.errCode() << " \"" << text << "\"";
}

// A document that stops being XML ends reading, from a string or a file: eof
// turns true (the reader is not left in a state where read answers 0 forever
// with eof false), read keeps answering 0, and the error names the position.
// Well-formed documents (line 0 below) read to their end without error.
TEST(XMLReaderErrors, MalformedInputEndsReadingWithItsPosition) {
    struct Case {
        std::string_view xml;
        int nodes, line, column;
    };
    const Case cases[] = {// Truncated: what came before the cut is read, then the error.
                          {"<r>\n <a>x</a>\n <b>", 3, 3, 5},
                          {"<r><a>x</a><b", 2, 1, 14},
                          {"<r><a>x</a", 2, 1, 11},
                          // Mismatched tags, a second root.
                          {"<r><a>x</b></r>", 0, 1, 12},
                          {"<r>\n<a>\n</r>", 0, 3, 5},
                          {"<r></r><r2/>", 0, 1, 8},
                          // Not XML at all, nothing but blanks, a declaration without a root.
                          {"not xml at all", 0, 1, 1},
                          {"  \n  ", 0, 2, 3},
                          {"<?xml version=\"1.0\"?>\n", 0, 2, 1},
                          // Well-formed: a recoverable problem (an undeclared prefix) is no
                          // error, nor are blank lines after the root.
                          {"<r><a>x</a><b/></r>", 4, 0, 0},
                          {"<r><q:a>x</q:a></r>", 3, 0, 0},
                          {"<?xml version=\"1.0\"?>\n<r>\xC3\xA9</r>\n\n", 1, 0, 0}};
    test::TempDir dir;
    for (const Case& c : cases) {
        Reader fromString, fromFile;
        ASSERT_EQ(fromString.openFromString(fromUtf8(c.xml)), 0) << c.xml;
        ASSERT_EQ(fromFile.open(fromUtf8(dir.write("doc.xml", c.xml).string())), 0) << c.xml;
        for (Reader* r : {&fromString, &fromFile}) {
            EXPECT_EQ(readToEnd(*r), c.nodes) << c.xml;
            if (c.line == 0) {
                EXPECT_EQ(test::errorOf(*r), test::ErrorPair(0, u"")) << c.xml;
                continue;
            }
            EXPECT_TRUE(isParseError(*r, c.line, c.column)) << c.xml;
            const String error = r->errDescription();
            EXPECT_EQ(r->read(), 0) << c.xml;
            EXPECT_EQ(r->readTypeName(255, u""), 0) << c.xml;
            EXPECT_TRUE(r->eof()) << c.xml;
            EXPECT_EQ(r->errDescription(), error) << c.xml;  // reported once
        }
    }

    // A search stops on the error as a step does.
    Reader r;
    openText(r, "<r><a>x</b></r>");
    EXPECT_EQ(r.readTypeName(Reader::kElement, u"b"), 0);
    EXPECT_TRUE(r.eof());
    EXPECT_EQ(u8(r.errDescription()),
              "XML parse error at line 1, column 12: Opening and ending tag mismatch: a line 1 "
              "and b");
    // Reopened on a document, the reader reads it to its end.
    openText(r, "<r><a>x</a></r>");
    EXPECT_FALSE(r.eof());
    EXPECT_EQ(readToEnd(r), 3);
}

// Bytes that are no text at all read as an error, not as an empty document;
// libxml2's errors never reach standard error. Empty input is no document:
// it does not open.
TEST(XMLReaderErrors, BinaryAndEmptyInput) {
    using namespace std::string_literals;
    const std::string png = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0"s;
    std::string noise;
    std::mt19937 random(7);
    for (int i = 0; i < 4096; ++i)
        noise += static_cast<char>(random() & 0xFF);
    test::TempDir dir;
    testing::internal::CaptureStderr();
    for (const std::string& bytes : {png, noise, std::string(100, '\0')}) {
        Reader fromString, fromFile;
        ASSERT_EQ(fromString.openFromString(fromUtf8(bytes)), 0);
        ASSERT_EQ(fromFile.open(fromUtf8(dir.write("doc.bin", bytes).string())), 0);
        for (Reader* r : {&fromString, &fromFile}) {
            EXPECT_EQ(readToEnd(*r), 0);
            EXPECT_EQ(r->errCode(), Reader::kMalformedError);
            EXPECT_NE(u8(r->errDescription()).find("at line 1, column "), std::string::npos)
                << u8(r->errDescription());
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    Reader empty;
    EXPECT_EQ(empty.openFromString(u""), 2);
    EXPECT_EQ(test::errorOf(empty), test::ErrorPair(2, u"Could not create XMLReader object"));
    EXPECT_EQ(readToEnd(empty), 0);
    const String emptyFile = fromUtf8(dir.write("empty.xml", "").string());
    EXPECT_EQ(empty.open(emptyFile), 1);
    EXPECT_EQ(test::errorOf(empty), test::ErrorPair(1, u"Could not open file at URL " + emptyFile));
    EXPECT_EQ(readToEnd(empty), 0);
}

// --- Opening --------------------------------------------------------------------

TEST(XMLReaderOpening, FilesLogicalPathsAndResources) {
    test::TempDir dir, bundleDir, web;
    const auto latin =
        dir.write("latin.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9</r>");
    bundleDir.write("forms/data.xml", "<r>bundle</r>");
    web.write("forms/data.xml", "<r>not this one</r>");
    web.write("static.xml", "<r>static \xC3\xA9</r>");
    test::ScopedBundle bundle(bundleDir.path());
    QNEntityHelper::setStaticResourceURLProvider([&web](StringView path) {
        return std::optional<String>(u"file://" + fromUtf8(web.path().string()) + u"/" +
                                     String(path));
    });

    // A file is decoded as its declaration says; a resource comes from the
    // bundle (also through a logical path), else from its static URL.
    Reader r;
    ASSERT_EQ(r.open(fromUtf8(latin.string())), 0);
    EXPECT_EQ(steps(r), Steps{"1:r=é"});
    ASSERT_EQ(r.open(u"$RESOURCES/forms/data.xml"), 0);
    EXPECT_EQ(steps(r), Steps{"1:r=bundle"});
    r.openResource(u"forms/data.xml");
    EXPECT_EQ(steps(r), Steps{"1:r=bundle"});
    r.openResource(u"static.xml");
    EXPECT_EQ(steps(r), Steps{"1:r=static é"});
    // A resource that cannot be found closes the reader that was open.
    r.openResource(u"static.xml");
    r.openResource(u"nothere.xml");
    EXPECT_EQ(test::errorOf(r), test::ErrorPair(1, u"Coud not locate resource nothere.xml"));
    EXPECT_EQ(r.read(), 0);

    // Missing files, folders, devices and the empty path: error 1, and the
    // reader that was open is gone.
    for (const String& path : {fromUtf8((dir.path() / "missing.xml").string()),
                               fromUtf8(dir.path().string()), String(u"/dev/zero"), String()}) {
        ASSERT_EQ(r.open(fromUtf8(latin.string())), 0);
        EXPECT_EQ(r.open(path), 1) << u8(path);
        EXPECT_EQ(r.errDescription(), u"Could not open file at URL " + path);
        EXPECT_EQ(r.read(), 0);
        EXPECT_EQ(r.errCode(), 3);
    }
    QNEntityHelper::setStaticResourceURLProvider(nullptr);
    r.openResource(u"static.xml");
    EXPECT_EQ(r.errDescription(), u"Coud not locate resource static.xml");
    r.openResource(u"");
    EXPECT_EQ(r.errDescription(), u"Coud not locate resource ");
}

// --- Hostile input ------------------------------------------------------------------

TEST(XMLReaderHardening, ExternalEntitiesDTDsAndXIncludeAreNeverLoaded) {
    test::TempDir dir;
    const auto secret = dir.write("secret.txt", "TOPSECRET");
    const auto dtd = dir.write("secret.dtd",
                               "<!ENTITY leak \"TOPSECRET\"><!ATTLIST r leak CDATA \"TOPSECRET\">"
                               "<!ENTITY % inner SYSTEM \"secret.txt\">");
    const std::string secretURL = "file://" + secret.string();
    const std::string docs[] = {
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secretURL + "\">]><r><a>&x;</a><b>t</b></r>",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"secret.txt\">]><r>&x;</r>",
        "<!DOCTYPE r SYSTEM \"secret.dtd\"><r a=\"&leak;\">&leak;</r>",
        "<!DOCTYPE r SYSTEM \"file://" + dtd.string() + "\"><r a=\"1\"/>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"secret.dtd\"> %p;]><r>&leak;</r>",
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + secretURL +
            "\" parse=\"text\"/></r>"};
    for (const std::string& doc : docs) {
        // From a file beside the secret, so relative references resolve there.
        Reader fromFile;
        ASSERT_EQ(fromFile.open(fromUtf8(dir.write("doc.xml", doc).string())), 0);
        EXPECT_EQ(everything(fromFile).find("TOPSECRET"), std::string::npos) << doc;
        Reader fromString;
        openText(fromString, doc);
        EXPECT_EQ(everything(fromString).find("TOPSECRET"), std::string::npos) << doc;
    }
}

// One 50 kB entity referenced `uses` times in attribute a and in the text,
// once in attribute b.
std::string bigEntity(int uses) {
    std::string refs;
    for (int i = 0; i < uses; ++i)
        refs += "&big;";
    return "<!DOCTYPE r [<!ENTITY big \"" + std::string(50000, 'x') + "\">]><r a=\"" + refs +
           "\" b=\"&big;\">" + refs + "</r>";
}

// Billion laughs: ten levels of ten references.
std::string laughs(const std::string& use) {
    std::string doc = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        doc += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            doc += "&l" + std::to_string(i - 1) + ";";
        doc += "\">";
    }
    return doc + "]>" + use;
}

TEST(XMLReaderHardening, EntityExpansionIsBounded) {
    for (const std::string& doc :
         {laughs("<r>&l9;</r>"), laughs("<r a=\"&l9;\"/>"),
          laughs("<r><a>&l9;&l9;</a><b a=\"&l8;\">&l7;</b></r>"), bigEntity(20000)}) {
        Reader r;
        openText(r, doc);
        std::size_t produced = 0;
        for (int nodes = 0; r.read() == 1 && nodes < 1000; ++nodes) {
            produced += r.value().size() + r.readRawXML().size() + attributes(r).size() +
                        r.getAttributeByName(u"a").size();
        }
        EXPECT_LT(produced, std::size_t{64} << 20) << doc.substr(0, 60);
    }

    // Attribute values expand entities, nested ones included...
    Reader r;
    openText(r, "<!DOCTYPE r [<!ENTITY e \"v&amp;\"><!ENTITY f \"&e;&e;\">]><r a=\"x&f;y\"/>", 2);
    EXPECT_EQ(attributes(r), "xv&v&y|");
    EXPECT_EQ(r.errCode(), 0);
    // ...but not past the bound (here to a gigabyte).
    openText(r, bigEntity(20000), 2);
    EXPECT_EQ(r.existsAttribute(u"a"), 1);
    EXPECT_EQ(r.getAttributeByName(u"a"), u"");
    EXPECT_EQ(r.errCode(), 6);
    EXPECT_EQ(r.getAttributeByIndex(1), u"");
    EXPECT_EQ(r.errDescription(), u"Could not read attribute at index 1");
    EXPECT_EQ(r.getAttributeByName(u"b").size(), 50000u);
}

TEST(XMLReaderHardening, DeepNestingEndsReading) {
    constexpr int kDepth = 100000;
    std::string doc;
    for (int i = 0; i < kDepth; ++i)
        doc += "<a>";
    doc += "x";
    for (int i = 0; i < kDepth; ++i)
        doc += "</a>";
    const Steps steps = stepsOf(doc);
    EXPECT_GT(steps.size(), 1u);
    EXPECT_LT(steps.size(), std::size_t{kDepth});
    EXPECT_EQ(steps.back(), "error:7");

    // The root's value, raw XML and skip expand the subtree: they fail rather
    // than overflow anything.
    Reader value, raw, skip;
    openText(value, doc, 1);
    EXPECT_EQ(value.value(), u"");
    openText(raw, doc, 1);
    EXPECT_EQ(raw.readRawXML(), u"");
    EXPECT_EQ(test::errorOf(raw), test::ErrorPair(4, u"Could not read raw XML of current element"));
    openText(skip, doc, 1);
    EXPECT_EQ(skip.skip(), 0);
    EXPECT_EQ(test::errorOf(skip), test::ErrorPair(4, u"Could not skip current element"));
    // A failed skip ends reading as a failed step does.
    EXPECT_TRUE(skip.eof());
    EXPECT_EQ(readToEnd(skip), 0);
    EXPECT_EQ(skip.errCode(), 4);
}

}  // namespace
}  // namespace qn
