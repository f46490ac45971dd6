// QNHttpClient against a real server on 127.0.0.1: what the client puts into
// its requests, how responses read back, the response gate between
// executions and getters, clients that go away with a request in flight, and
// the XML reader on a response. Wire format, bodies and error mapping belong
// to the URL session tests; the XML writer's body for its own client only to
// the writer's tests.
#include <qn/data.h>
#include <qn/files.h>
#include <qn/host.h>
#include <qn/net.h>

#include <fstream>
#include <future>

#include "net/test_server.h"
#include "support/test_support.h"
// The test server's library is built without ThreadSanitizer: its function-
// local statics, first used by two worker threads at once, look like races
// because their guard checks are invisible. Only what that library does
// itself is exempt; the tests' and the client's own accesses stay checked.
#if defined(QN_TEST_UNDER_TSAN)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
#endif

namespace qn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HttpClientTest : public ::testing::Test {
protected:
    // A client pointed at the test server.
    Ref<QNHttpClient> client() {
        auto c = makeRef<QNHttpClient>();
        c->setHost(u"127.0.0.1");
        c->setPort(server.port());
        return c;
    }
    // Executes, expects a 200 and answers what the server received.
    test::RecordedRequest send(QNHttpClient& c, StringView method, StringView url) {
        c.executeUrl(method, url);
        EXPECT_EQ(c.statusCode(), 200);
        return server.lastRequest();
    }
    test::TestServer server;
};

TEST(HttpClientAddress, DefaultPortsAreLeftOutAndSetUrlTakesItsParts) {
    QNHttpClient c;
    c.setHost(u"srv");
    c.setSecure(true);
    c.setPort(443);
    EXPECT_EQ(c.serverURLString(), u"https://srv");
    c.setPort(8443);
    EXPECT_EQ(c.serverURLString(), u"https://srv:8443");
    EXPECT_EQ(c.serverURL(), u"https://srv:8443");
    c.setSecure(false);
    c.setPort(80);
    c.setBaseURL(u"/api/");
    EXPECT_EQ(c.url(), u"http://srv/api/");
    EXPECT_EQ(c.serverURL(), u"http://srv");
    c.setHost(u"no such host");
    EXPECT_FALSE(c.serverURL());
    c.setHost(u"srv");

    c.setUrl(u"https://example.org:8443/app/rest/");
    EXPECT_EQ(c.url(), u"https://example.org:8443/app/rest/");
    EXPECT_TRUE(c.secure());
    // Only an exact "https" is secure; no explicit port is port 0.
    c.setUrl(u"HTTPS://other.org/x");
    EXPECT_EQ(c.url(), u"http://other.org/x");
    EXPECT_EQ(c.port(), 0);
    test::ScopedCapturingLogger log;
    c.setUrl(u"not a url");
    EXPECT_EQ(c.url(), u"http://other.org/x");
    EXPECT_TRUE(log->contains(u"Could not get URL form string: not a url"));
}

TEST_F(HttpClientTest, RelativeAbsoluteAndBaseURLTargets) {
    auto c = client();
    c->setBaseURL(u"/api/");
    auto r = send(*c, u"get", u"items?id=1");
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/api/items?id=1");
    EXPECT_EQ(send(*c, u"GET", u"/items").target, "/items");
    // Dot segments resolve; characters beyond ASCII go out escaped.
    EXPECT_EQ(send(*c, u"GET", u"/a/./b/../c?q=/../x").target, "/a/c?q=/../x");
    EXPECT_EQ(send(*c, u"GET", u"caf\u00e9?x=%41").target, "/api/caf%C3%A9?x=%41");

    // An absolute URL ignores host, port and base URL.
    c->setHost(u"unreachable.invalid");
    c->setPort(1);
    EXPECT_EQ(send(*c, u"GET", fromUtf8(server.url("/abs"))).target, "/abs");

    // setUrl keeps the path, so a relative execution lands under it.
    c->setUrl(fromUtf8(server.url("/app/v1/")));
    EXPECT_EQ(send(*c, u"GET", u"x").target, "/app/v1/x");
    EXPECT_EQ(server.requestCount(), 6u);
}

struct StaticBody : QNHTTPClientDelegate {
    std::optional<String> stringBodyForHTTPClient(QNHttpClient&) override { return u"<xml/>"; }
};

TEST_F(HttpClientTest, HeadersAuthorizationAndBodies) {
    auto c = client();
    c->addHeaderValue(u"X-One", u"first");
    c->addHeaderValue(u"X-One", u"second");
    c->addAuthenticationRealmNameValue(0, u"realm", u"u", u"p");
    auto r = send(*c, u"post", u"/h");
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.header("X-One"), "second");
    EXPECT_EQ(r.headerCount("X-One"), 1u);
    EXPECT_EQ(r.header("Authorization"), "Basic dTpw");

    // Parameters belong to one execution; codes other than Basic add nothing,
    // and the generated-code entry point maps unknown codes to Basic.
    c->addAuthenticationRealmNameValue(1, u"", u"u", u"p");
    r = send(*c, u"GET", u"/h");
    EXPECT_FALSE(r.hasHeader("X-One") || r.hasHeader("Authorization"));
    c->addAuthentication(7, u"", u"\u00e9", u"p");
    EXPECT_EQ(send(*c, u"GET", u"/h").header("Authorization"), "Basic w6k6cA==");

    c->addVariableValue(u"a", u"1");
    c->addVariableValue(u"b", u"x y");
    c->addString(u"T");
    EXPECT_EQ(send(*c, u"POST", u"/f").body, "a=1&b=x%20yT");

    c->addString(u"one");
    c->addString(std::nullopt);
    c->addString(u"two \u00e9");
    auto delegate = std::make_shared<StaticBody>();
    c->setHttpClientDelegate(delegate);
    EXPECT_EQ(send(*c, u"POST", u"/f").body, "one two \xC3\xA9 <xml/>");
    c->setHttpClientDelegate(nullptr);
    EXPECT_EQ(send(*c, u"POST", u"/f").body, "");

    // A readable first file is the whole body, bytes as they are; an
    // unreadable one falls back to the form text.
    test::TempDir dir;
    std::string binary("\x00\x01\xFFzz\r\n", 7);
    fs::path file = dir.write("payload.bin", binary);
    c->addVariableValue(u"ignored", u"1");
    c->addFile(u"file://" + fromUtf8(file.string()));
    EXPECT_EQ(send(*c, u"PUT", u"/f").body, binary);
    c->addVariableValue(u"k", u"v");
    c->addFile(fromUtf8((dir.path() / "missing").string()));
    EXPECT_EQ(send(*c, u"PUT", u"/f").body, "k=v");
}

// The server parses a form body only when it says it is one.
TEST_F(HttpClientTest, FormVariablesGoOutAsAFormUnlessTheCallerSaysOtherwise) {
    server.on("POST", "/form", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.has_param("b") ? "b=" + req.get_param_value("b") : "no form",
                        "text/plain");
    });
    auto c = client();
    c->addVariableValue(u"a", u"1");
    c->addVariableValue(u"b", u"x y&z");
    c->executeUrl(u"POST", u"/form");
    EXPECT_EQ(c->getString(), u"b=x y&z");
    EXPECT_EQ(server.lastRequest().header("Content-Type"), "application/x-www-form-urlencoded");

    c->addHeaderValue(u"content-type", u"text/plain; charset=utf-8");
    c->addVariableValue(u"b", u"1");
    c->executeUrl(u"POST", u"/form");
    EXPECT_EQ(c->getString(), u"no form");
    const test::RecordedRequest seen = server.lastRequest();
    EXPECT_EQ(seen.headerCount("Content-Type"), 1u);
    EXPECT_EQ(seen.header("Content-Type"), "text/plain; charset=utf-8");

    // Text pieces alone are no form.
    c->addString(u"<a/>");
    c->executeUrl(u"POST", u"/form");
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_FALSE(server.lastRequest().hasHeader("Content-Type"));
}

// A login answer's cookie goes back on later requests to its host and path
// while cookies are included, from any client; never while they are not.
TEST_F(HttpClientTest, CookiesOfALoginGoBackOnlyWhereAndWhenIncluded) {
    server.on("POST", "/shop/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=s3cret; Path=/shop; HttpOnly");
        res.set_content("in", "text/plain");
    });
    // Sets its cookie on the way to the page that needs it.
    server.on("GET", "/shop/enter", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "visit=7; Path=/shop");
        res.set_redirect("/shop/visit");
    });
    const auto checking = [](const char* cookie) {
        return [cookie = std::string(cookie)](const httplib::Request& req, httplib::Response& res) {
            const bool in = req.get_header_value("Cookie").find(cookie) != std::string::npos;
            res.status = in ? 200 : 401;
        };
    };
    server.on("GET", "/shop/private", checking("sid=s3cret"));
    server.on("GET", "/shop/visit", checking("visit=7"));

    auto c = client();
    c->setIncludeCookies(true);
    c->executeUrl(u"GET", u"/shop/private");
    EXPECT_EQ(c->statusCode(), 401);
    c->executeUrl(u"POST", u"/shop/login");
    ASSERT_EQ(c->statusCode(), 200);
    c->executeUrl(u"GET", u"/shop/private");
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(server.lastRequest().header("Cookie"), "sid=s3cret");
    c->executeUrl(u"GET", u"/shop/enter");
    EXPECT_EQ(c->statusCode(), 200);

    // Another path, another host name for the same server: not theirs.
    send(*c, u"GET", u"/elsewhere");
    EXPECT_FALSE(server.lastRequest().hasHeader("Cookie"));
    send(*c, u"GET", fromUtf8("http://localhost:" + std::to_string(server.port()) + "/shop/x"));
    EXPECT_FALSE(server.lastRequest().hasHeader("Cookie"));

    // Not included: nothing stored is sent.
    c->setIncludeCookies(false);
    c->executeUrl(u"GET", u"/shop/private");
    EXPECT_EQ(c->statusCode(), 401);
    EXPECT_EQ(server.lastRequest().header("Cookie"), "");

    // The store is the session's: a new client including cookies has them.
    auto other = client();
    other->setIncludeCookies(true);
    other->executeUrl(u"GET", u"/shop/private");
    EXPECT_EQ(other->statusCode(), 200);
}

TEST_F(HttpClientTest, RedirectsEndAtTheFinalAnswer) {
    server.on("POST", "/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/new", 302);
    });
    server.on("GET", "/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-Final", "yes");
        res.set_content("new", "text/plain");
    });
    server.on("GET", "/loop", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/loop", 301);
    });
    auto c = client();
    c->setBaseURL(u"/api/");
    c->addVariableValue(u"a", u"1");
    c->executeUrl(u"POST", u"/old");
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(c->getString(), u"new");
    EXPECT_EQ(c->getHeader(u"X-Final"), u"yes");
    EXPECT_EQ(c->getHeader(u"Location"), u"");
    EXPECT_EQ(server.lastRequest().method, "GET");
    // The client's own address is configuration, not where an answer came from.
    EXPECT_EQ(c->url(), fromUtf8(server.url("/api/")));

    c->executeUrl(u"GET", u"/loop");
    EXPECT_EQ(test::errorOf(*c), test::ErrorPair(-1007, u"There were too many redirects."));
    EXPECT_EQ(c->statusCode(), 0);
    EXPECT_TRUE(c->getData().empty());
}

TEST(HttpClientCookies, EmptyCookieFieldUnlessCookiesIncluded) {
    for (bool include : {false, true}) {
        // The test server drops header fields with empty values.
        test::RawRequestCapture capture;
        QNHttpClient c;
        c.setHost(u"127.0.0.1");
        c.setPort(capture.port());
        c.setIncludeCookies(include);
        c.executeUrl(u"GET", u"/c");
        EXPECT_EQ(c.statusCode(), 200);
        const std::string head = capture.request();
        EXPECT_EQ(head.find("\r\nCookie:\r\n") != std::string::npos, !include) << head;
    }
}

// Multipart bodies as they go over the wire (the test server would consume
// them while parsing).
TEST(HttpClientMultipart, PartsOfVariablesAndReadableFiles) {
    test::TempDir dir;
    fs::path png = dir.write("pic.png", std::string("\x89PNG\0data", 9));
    fs::path other = dir.write("notes.zzq", "plain");
    String gone = fromUtf8((dir.path() / "gone.txt").string());
    auto post = [](QNHttpClient& c) {
        test::RawRequestCapture capture;
        c.setHost(u"127.0.0.1");
        c.setPort(capture.port());
        c.executeUrl(u"POST", u"/m");
        EXPECT_EQ(c.statusCode(), 200);
        const std::string wire = capture.request();
        const std::size_t end = wire.find("\r\n\r\n");
        std::string head = wire.substr(0, end);
        for (char& ch : head)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const std::size_t type = head.find("\r\ncontent-type: ") + 16;
        return std::pair(head.substr(type, head.find("\r\n", type) - type), wire.substr(end + 4));
    };
    QNHttpClient c;
    c.addHeaderValue(u"content-type", u"Multipart/Form-Data; boundary=mine");
    ASSERT_TRUE(c.isMultipart());
    c.addVariableValue(u"v 1", u"x y");
    c.addFile(fromUtf8(png.string()));
    c.addFile(fromUtf8(other.string()));
    c.addFileVariableName(gone, u"lost");
    c.addString(u"not in a multipart body");
    auto [type, body] = post(c);
    EXPECT_FALSE(c.isMultipart());
    const std::string prefix = "multipart/form-data; boundary=----------------------------";
    ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
    EXPECT_EQ(type.find_first_not_of("0123456789", prefix.size()), std::string::npos);
    const std::string b = "\r\n--" + type.substr(type.find('=') + 1);
    EXPECT_EQ(body, b + "\r\nContent-Disposition: form-data; name=\"v%201\";\r\n\r\nx%20y" + b +
                        "\r\nContent-Disposition: form-data; name=\"0\"; filename=\"pic.png\"\r\n"
                        "Content-Type: image/png\r\n\r\n" +
                        std::string("\x89PNG\0data", 9) + b +
                        "\r\nContent-Disposition: form-data; name=\"1\"; filename=\"notes.zzq\"\r\n"
                        "Content-Type: application/octet-stream\r\n\r\nplain" +
                        b + "--");

    // Nothing readable: no body at all.
    c.addHeaderValue(u"Content-Type", u"multipart/form-data");
    c.addFile(gone);
    std::tie(type, body) = post(c);
    EXPECT_EQ(body, "");
    EXPECT_EQ(type.rfind("multipart/form-data; boundary=-", 0), 0u);
}

TEST_F(HttpClientTest, StatusHeadersAndCharsets) {
    server.on("GET", "/latin", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_header("X-Reply", "yes");
        res.set_content("\xE9t\xE9", "text/plain; charset=ISO-8859-1");
    });
    server.on("GET", "/bad", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok\xFF", "text/plain; charset=utf-8");
    });
    auto c = client();
    c->executeUrl(u"GET", u"/latin");
    EXPECT_EQ(c->statusCode(), 404);
    EXPECT_EQ(test::errorOf(*c), test::ErrorPair(0, u""));
    EXPECT_EQ(c->getString(), u"\u00e9t\u00e9");
    EXPECT_EQ(c->getHeader(u"X-Reply"), u"yes");
    EXPECT_EQ(c->getHeader(u"x-reply"), u"yes");
    EXPECT_EQ(c->getHeader(u"X-None"), u"");
    EXPECT_TRUE(c->getHeaders()->get(u"Content-Type").isString());

    c->executeUrl(u"GET", u"/bad");
    EXPECT_EQ(c->getString(), u"");
    EXPECT_EQ(c->getData(), Bytes({'o', 'k', 0xFF}));

    // The file gets the bytes as received, replacing what was there.
    String folder = u"$TEMP/http-client-" + fromUtf8(std::to_string(::getpid()));
    fs::path dir = fs::path(toUtf8(QNFileSystemObject::absoluteFilePathForRelativePath(folder)));
    fs::create_directories(dir);
    std::ofstream(dir / "out.txt") << "older content that is longer than the answer";
    ASSERT_TRUE(c->toFile(folder + u"/out.txt"));
    EXPECT_EQ(test::readFile(dir / "out.txt"), "ok\xFF");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    // A path that leaves its root writes nothing, nor does a bundle resource.
    EXPECT_FALSE(c->toFile(u"$TEMP/../../../http-client-escape"));
    fs::remove_all(dir);
    test::TempDir bundle;
    test::writeSampleBundle(bundle);
    bundle.write("data.txt", "kept");
    test::ScopedBundle scoped(bundle.path());
    EXPECT_FALSE(c->toFile(u"$RESOURCES/data.txt"));
    EXPECT_EQ(test::readFile(bundle.path() / "data.txt"), "kept");
}

TEST(HttpClientGate, GettersBeforeAnyExecutionAnswerAtOnce) {
    test::ScopedCapturingLogger log;
    QNHttpClient c;
    EXPECT_EQ(c.statusCode(), 0);
    EXPECT_EQ(c.errCode(), 0);
    EXPECT_TRUE(c.getHeaders()->empty());
    EXPECT_EQ(c.getString(), u"");
    EXPECT_FALSE(c.toFile(u"$TEMP/never"));
    for (const char16_t* m : {u"QNHttpClient::statusCode => No content received",
                              u"QNHttpClient::getHeaders => No content received",
                              u"QNHttpClient::getString => No content received",
                              u"QNHttpClient::toFile: => No content received"})
        EXPECT_TRUE(log->contains(m)) << toUtf8(m);
}

TEST_F(HttpClientTest, TransportAndURLFailures) {
    test::ScopedCapturingLogger log;
    // A transport failure: the session's code and text, no status.
    test::ClosedPort closed;
    auto refused = client();
    refused->setPort(closed.port);
    refused->executeUrl(u"GET", u"/x");
    EXPECT_EQ(test::errorOf(*refused),
              test::ErrorPair(-1004, QNURLError::withCode(-1004).localizedDescription));
    EXPECT_EQ(refused->statusCode(), 0);

    // A bad URL: logged, nothing sent, the parameters wait for the next try,
    // and the previous response still answers.
    auto c = client();
    send(*c, u"GET", u"/fine");
    const std::size_t before = server.requestCount();
    c->addVariableValue(u"kept", u"1");
    c->executeUrl(u"POST", u"/with space");
    EXPECT_EQ(test::errorOf(*c),
              test::ErrorPair(-1000, QNURLError::withCode(-1000).localizedDescription));
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(server.requestCount(), before);
    EXPECT_TRUE(log->contains(u"HttpClient: could not create URL: "));
    EXPECT_TRUE(log->contains(u"\n\tURL Path: /with space"));
    EXPECT_EQ(send(*c, u"POST", u"/retry").body, "kept=1");
    EXPECT_EQ(c->errCode(), 0);
}

// Asked for the body before the execution waits at the gate: releases the
// request in flight from there.
struct ReleasingBody : QNHTTPClientDelegate {
    std::shared_ptr<test::Latch> release = std::make_shared<test::Latch>();
    std::optional<String> stringBodyForHTTPClient(QNHttpClient&) override {
        release->arrive();
        return std::nullopt;
    }
};

TEST_F(HttpClientTest, InFlightSecondExecutionWaitsForTheFirstResponse) {
    auto body = std::make_shared<ReleasingBody>();
    server.on("GET", "/first", [latch = body->release](const auto&, httplib::Response& res) {
        latch->waitFor();
        res.set_content("1", "text/plain");
    });
    test::ScopedCapturingLogger log;
    QNNetworkLog::setEnabled(true);
    auto c = client();
    c->executeUrl(u"GET", u"/first");  // returns while the server holds it
    c->setHttpClientDelegate(body);
    std::async(std::launch::async, [&] { c->executeUrl(u"GET", u"/second"); }).get();
    EXPECT_EQ(c->getString(), u"ok");
    EXPECT_EQ(c->errCode(), 0);
    QNNetworkLog::setEnabled(false);
    // The first answer came in (and was logged) before the second request was
    // sent; answering a request the client had left would log nothing.
    std::vector<String> lines;
    for (const auto& line : log->lines())
        lines.push_back(line.text.substr(0, line.text.find(u'\n')));
    const String first = fromUtf8(server.url("/first")), second = fromUtf8(server.url("/second"));
    EXPECT_EQ(lines, (std::vector<String>{u"HTTP request: GET " + first,
                                          u"HTTP response: 200 " + first + u" (1 bytes)",
                                          u"HTTP request: GET " + second,
                                          u"HTTP response: 200 " + second + u" (2 bytes)"}));
}

TEST_F(HttpClientTest, InFlightClientDestroyedIsNeverTouched) {
    auto latch = std::make_shared<test::Latch>();
    auto answered = std::make_shared<std::atomic<int>>(0);
    server.on("GET", "/hold", [latch, answered](const auto&, httplib::Response& res) {
        latch->waitFor();
        ++*answered;
        res.set_content("done", "text/plain");
    });
    for (int i = 0; i < 5; ++i) {
        auto c = client();
        c->executeUrl(u"GET", u"/hold");
        c.reset();  // does not wait for the answer
    }
    EXPECT_EQ(answered->load(), 0);
    latch->arrive();
    // A later client still works once the abandoned completions have run.
    auto c = client();
    c->executeUrl(u"GET", u"/hold");
    EXPECT_EQ(c->getString(), u"done");
}

TEST_F(HttpClientTest, ThreadRunningTheMainQueueNeitherSendsNorWaits) {
    auto latch = std::make_shared<test::Latch>();
    server.on("GET", "/held", [latch](const auto&, httplib::Response& res) {
        latch->waitFor();
        res.set_content("x", "text/plain");
    });
    auto c = client();
    c->executeUrl(u"GET", u"/held");  // in flight: getters elsewhere would wait
    std::int64_t status = -1;
    bool written = true;
    qn_dispatch_on_main_queue([&] {
        c->executeUrl(u"GET", u"/never");
        status = c->statusCode();
        written = c->toFile(u"$TEMP/main-thread");
    });
    qn_main_queue_drain(5s);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(written);
    latch->arrive();
    EXPECT_EQ(c->getString(), u"x");
    for (const auto& r : server.requests())
        EXPECT_NE(r.path, "/never");
}

TEST(HttpClientProperties, NamesInAnyCaseValuesOfTheirKindOnly) {
    QNHttpClient c;
    c.setValueForPropertyName(Value(u"h.example"), u"HOST");
    c.setValueForPropertyName(Value(std::int64_t{8080}), u"Port");
    c.setValueForPropertyName(Value(u"80"), u"port");       // wrong kind: ignored
    c.setValueForPropertyName(Value(u"x"), u"statuscode");  // not writable
    EXPECT_EQ(c.valueForPropertyWithName(u"URL").asString(), u"http://h.example:8080");
    EXPECT_EQ(c.valueForPropertyWithName(u"statuscode").integerValue(), 0);
    EXPECT_EQ(c.valueForPropertyWithName(u"unknown").asString(), u"");
}

TEST_F(HttpClientTest, XmlReaderOnResponsesFetchingNothingElse) {
    auto reply = [this](const std::string& path, std::string body, int status = 200) {
        server.on("GET", path, [body, status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/xml; charset=utf-8");
        });
    };
    reply("/orders.xml", "<orders><order id=\"7\">caf\xC3\xA9</order><order id=\"8\"/></orders>");
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
    // A response that is no XML (the server's plain "ok") opens, then its
    // first read fails as malformed and ends reading.
    c->executeUrl(u"GET", u"/text");
    ASSERT_EQ(reader.openResponse(*c), 0);
    EXPECT_EQ(reader.read(), 0);
    EXPECT_EQ(reader.errCode(), QNXMLReader::kMalformedError);
    EXPECT_TRUE(reader.eof());

    // External entities and DTDs are never fetched, from a string or a file.
    // (Resources from the server's static folder: the URL contents and the
    // reader's own opening tests.)
    test::TempDir dir;
    const std::string secret = server.url("/secret"), dtd = server.url("/secret.dtd");
    const std::size_t requests = server.requestCount();
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
    EXPECT_EQ(server.requestCount(), requests);
}

}  // namespace
}  // namespace qn
