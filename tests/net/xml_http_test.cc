// The XML writer and reader on HTTP clients, against a real server on
// 127.0.0.1.
#include <qn/data.h>
#include <qn/host.h>
#include <qn/net.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/test_server.h"
#include "support/test_support.h"

namespace qn {
namespace {

// One server for the suite: stopping one takes about a second.
class XMLHttp : public testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<test::TestServer>(); }
    static void TearDownTestSuite() { server.reset(); }
    static Ref<QNHttpClient> client() {
        auto c = makeRef<QNHttpClient>();
        c->setHost(u"127.0.0.1");
        c->setPort(server->port());
        return c;
    }
    static void reply(const std::string& path, std::string body, int status = 200) {
        server->on("GET", path, [body, status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/xml; charset=utf-8");
        });
    }
    static inline std::unique_ptr<test::TestServer> server;
};

TEST_F(XMLHttp, WriterTextIsTheRequestBody) {
    auto c = client();
    c->addHeaderValue(u"Content-Type", u"text/xml; charset=utf-8");
    auto writer = makeRef<QNXMLWriter>();
    writer->openRequest(c);
    writer->setIndentation(0);
    writer->writeStartDocumentStandalone(u"", 0);
    writer->writeStartElement(u"order");
    writer->writeAttributeValue(u"id", u"7");
    writer->writeElementValue(u"item", u"caf\u00e9 & co");
    writer->close();
    c->executeUrl(u"POST", u"/orders");
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(server->lastRequest().path, "/orders");
    EXPECT_EQ(server->lastRequest().body,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<order id=\"7\"><item>caf\xC3\xA9 &amp; co</item></order>\n");

    // A writer opened on another client gives no body for this one.
    auto other = makeRef<QNXMLWriter>();
    other->openRequest(makeRef<QNHttpClient>());
    other->writeElementValue(u"x", u"");
    c->setHttpClientDelegate(other);
    c->executeUrl(u"POST", u"/orders");
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(server->lastRequest().body, "");
}

TEST_F(XMLHttp, ReaderOnResponsesAndStaticResourcesFetchingNothingElse) {
    reply("/orders.xml", "<orders><order id=\"7\">caf\xC3\xA9</order><order id=\"8\"/></orders>");
    reply("/app/static/forms/list.xml", "<list><item>one</item></list>");
    reply("/app/static/forms/missing.xml", "", 404);
    reply("/secret", "TOPSECRET");
    reply("/secret.dtd", "<!ENTITY leak \"TOPSECRET\">");

    auto c = client();
    c->executeUrl(u"GET", u"/orders.xml");
    QNXMLReader reader;
    ASSERT_EQ(reader.openResponse(*c), 0);
    ASSERT_EQ(reader.readTypeName(QNXMLReader::kElement, u"order"), 1);
    EXPECT_EQ(reader.getAttributeByName(u"id"), u"7");
    EXPECT_EQ(reader.value(), u"caf\u00e9");
    ASSERT_EQ(reader.read(), 1);
    EXPECT_EQ(reader.getAttributeByIndex(1), u"8");
    // A response that is no XML (the server's plain "ok") opens, then reads
    // nothing.
    c->executeUrl(u"GET", u"/text");
    ASSERT_EQ(reader.openResponse(*c), 0);
    EXPECT_EQ(reader.read(), 0);
    EXPECT_FALSE(reader.eof());

    // Resources missing from the bundle come from the server's static folder.
    test::TempDir dir;
    dir.write("model.json", R"({"serverBaseUrl": ")" + server->url("/app") + R"("})");
    test::ScopedBundle bundle(dir.path());
    reader.openResource(u"forms/list.xml");
    ASSERT_EQ(reader.readTypeName(QNXMLReader::kElement, u"item"), 1);
    EXPECT_EQ(reader.value(), u"one");
    reader.openResource(u"forms/missing.xml");
    EXPECT_EQ(reader.errDescription(), u"Coud not locate resource forms/missing.xml");

    // External entities and DTDs are never fetched, from a string or a file.
    const std::string secret = server->url("/secret"), dtd = server->url("/secret.dtd");
    const std::size_t requests = server->requestCount();
    for (const std::string& doc :
         {"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]><r><a>&x;</a><b a=\"1\">t</b></r>",
          "<!DOCTYPE r SYSTEM \"" + dtd + "\"><r>&leak;</r>",
          "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><r>&leak;</r>",
          "<!DOCTYPE r PUBLIC \"-//X//Y\" \"" + dtd + "\"><r/>"}) {
        for (bool fromFile : {false, true}) {
            QNXMLReader r;
            ASSERT_EQ(fromFile ? r.open(fromUtf8(dir.write("doc.xml", doc).string()))
                               : r.openFromString(fromUtf8(doc)),
                      0);
            while (r.read() == 1)
                EXPECT_EQ(toUtf8(r.value()).find("TOPSECRET"), std::string::npos) << doc;
        }
    }
    EXPECT_EQ(server->requestCount(), requests);
}

}  // namespace
}  // namespace qn
