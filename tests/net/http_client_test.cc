// QNHttpClient against a real server on 127.0.0.1: what the client puts into
// its requests, how responses read back, the response gate between
// executions and getters, and clients that go away with a request in flight.
// Wire format, bodies and error mapping belong to the URL session tests.
#include <qn/files.h>
#include <qn/host.h>
#include <qn/net.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>

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

// Holds server handlers until released (at most 10 s), so a test decides
// how long a request stays in flight. Handlers keep their own `held()`: a
// handler may still be waking when the test that made the latch is over.
class Latch {
public:
    std::function<void()> held() const {
        return [opened = opened_] { opened.wait_for(10s); };
    }
    void release() { open_.set_value(); }

private:
    std::promise<void> open_;
    std::shared_future<void> opened_ = open_.get_future().share();
};

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

TEST(HttpClientAddress, ServerURLDefaultPortsAndSetUrl) {
    QNHttpClient c;
    c.setHost(u"srv");
    c.setSecure(true);
    EXPECT_EQ(c.serverURLString(), u"https://srv");
    c.setPort(443);
    EXPECT_EQ(c.serverURLString(), u"https://srv");
    c.setPort(8443);
    EXPECT_EQ(c.serverURLString(), u"https://srv:8443");
    c.setSecure(false);
    c.setPort(80);
    EXPECT_EQ(c.serverURLString(), u"http://srv");
    c.setBaseURL(u"/api/");
    EXPECT_EQ(c.url(), u"http://srv/api/");

    EXPECT_TRUE(QNHttpClient::portIsDefaultPortForScheme(443, u"HTTPS") &&
                QNHttpClient::portIsDefaultPortForScheme(0, u"ftp"));
    EXPECT_FALSE(QNHttpClient::portIsDefaultPortForScheme(80, u"https") ||
                 QNHttpClient::portIsDefaultPortForScheme(21, u"ftp"));

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

TEST_F(HttpClientTest, MultipartParts) {
    test::TempDir dir;
    fs::path png = dir.write("pic.png", std::string("\x89PNG\0data", 9));
    fs::path other = dir.write("notes.zzq", "plain");
    String gone = fromUtf8((dir.path() / "gone.txt").string());

    auto c = client();
    c->addHeaderValue(u"content-type", u"Multipart/Form-Data; boundary=mine");
    ASSERT_TRUE(c->isMultipart());
    c->addVariableValue(u"v 1", u"x y");
    c->addFile(fromUtf8(png.string()));
    c->addFile(fromUtf8(other.string()));
    c->addFileVariableName(gone, u"lost");
    c->addString(u"not in a multipart body");
    auto r = send(*c, u"POST", u"/m");
    EXPECT_FALSE(c->isMultipart());

    const std::string type = r.header("content-type");
    const std::string prefix = "multipart/form-data; boundary=----------------------------";
    ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
    EXPECT_EQ(type.find_first_not_of("0123456789", prefix.size()), std::string::npos);
    std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_TRUE(r.body.ends_with("\r\n--" + boundary + "--"));

    auto parts = test::parseMultipart(r.body, boundary);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].headers, "Content-Disposition: form-data; name=\"v%201\";");
    EXPECT_EQ(parts[0].body, "x%20y");
    EXPECT_EQ(parts[1].headers,
              "Content-Disposition: form-data; name=\"0\"; filename=\"pic.png\"\r\n"
              "Content-Type: image/png");
    EXPECT_EQ(parts[1].body, std::string("\x89PNG\0data", 9));
    EXPECT_EQ(parts[2].headers,
              "Content-Disposition: form-data; name=\"1\"; filename=\"notes.zzq\"\r\n"
              "Content-Type: application/octet-stream");
    EXPECT_EQ(parts[2].body, "plain");

    // Nothing readable: no body at all.
    c->addHeaderValue(u"Content-Type", u"multipart/form-data");
    c->addFile(gone);
    r = send(*c, u"POST", u"/m");
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.header("Content-Type").rfind("multipart/form-data; boundary=-", 0), 0u);
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
    EXPECT_EQ(c->errCode(), 0);
    EXPECT_EQ(c->errDescription(), u"");
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
    std::ifstream in(dir / "out.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "ok\xFF");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    // A path that leaves its root writes nothing.
    EXPECT_FALSE(c->toFile(u"$TEMP/../../../http-client-escape"));
    fs::remove_all(dir);
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

TEST_F(HttpClientTest, TimeoutAndBadURL) {
    Latch latch;
    server.on("GET", "/slow", [wait = latch.held()](const auto&, httplib::Response& res) {
        wait();
        res.set_content("late", "text/plain");
    });
    auto c = client();
    c->setTimeout(1);
    c->executeUrl(u"GET", u"/slow");
    EXPECT_EQ(c->errCode(), -1001);
    EXPECT_NE(c->errDescription(), u"");
    EXPECT_EQ(c->statusCode(), 0);
    latch.release();

    // A bad URL: logged, nothing sent, the parameters wait for the next try,
    // and the previous response still answers.
    c->setTimeout(30);
    send(*c, u"GET", u"/fine");
    const std::size_t before = server.requestCount();
    test::ScopedCapturingLogger log;
    c->addVariableValue(u"kept", u"1");
    c->executeUrl(u"POST", u"/with space");
    EXPECT_EQ(c->errCode(), -1000);
    EXPECT_EQ(c->errDescription(), QNURLError::withCode(-1000).localizedDescription);
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(server.requestCount(), before);
    EXPECT_TRUE(log->contains(u"HttpClient: could not create URL: "));
    EXPECT_TRUE(log->contains(u"\n\tURL Path: /with space"));
    EXPECT_EQ(send(*c, u"POST", u"/retry").body, "kept=1");
    EXPECT_EQ(c->errCode(), 0);
}

TEST_F(HttpClientTest, InFlightSecondExecutionWaitsForTheFirstResponse) {
    Latch latch;
    server.on("GET", "/first", [wait = latch.held()](const auto&, auto&) { wait(); });
    auto c = client();
    c->setTimeout(1);
    c->executeUrl(u"GET", u"/first");  // returns while the server holds it
    c->setTimeout(30);
    auto second = std::async(std::launch::async, [&] { c->executeUrl(u"GET", u"/second"); });
    EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout);
    EXPECT_EQ(server.lastRequest().path, "/first");
    second.get();  // once the first has timed out
    EXPECT_EQ(c->statusCode(), 200);
    EXPECT_EQ(c->errCode(), 0);  // the first request's timeout is not the second's
    EXPECT_EQ(server.lastRequest().path, "/second");
    latch.release();
}

TEST_F(HttpClientTest, InFlightClientDestroyedIsNeverTouched) {
    Latch latch;
    // Shared with handlers that may outlive the test.
    auto answered = std::make_shared<std::atomic<int>>(0);
    server.on("GET", "/hold", [wait = latch.held(), answered](const auto&, httplib::Response& res) {
        wait();
        ++*answered;
        res.set_content("done", "text/plain");
    });
    for (int i = 0; i < 5; ++i) {
        auto c = client();
        c->executeUrl(u"GET", u"/hold");
        c.reset();  // does not wait for the answer
    }
    EXPECT_EQ(answered->load(), 0);
    latch.release();
    // A later client still works once the abandoned completions have run.
    auto c = client();
    c->executeUrl(u"GET", u"/hold");
    EXPECT_EQ(c->getString(), u"done");
}

TEST_F(HttpClientTest, ThreadRunningTheMainQueueNeitherSendsNorWaits) {
    Latch latch;
    server.on("GET", "/held", [wait = latch.held()](const auto&, httplib::Response& res) {
        wait();
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
    latch.release();
    EXPECT_EQ(c->getString(), u"x");
    for (const auto& r : server.requests())
        EXPECT_NE(r.path, "/never");
}

TEST(HttpClientProperties, ReadAndWriteByName) {
    QNHttpClient c;
    c.setValueForPropertyName(Value(u"h.example"), u"HOST");
    c.setValueForPropertyName(Value(std::int64_t{8080}), u"Port");
    c.setValueForPropertyName(Value(true), u"secure");
    c.setValueForPropertyName(Value(u"/b/"), u"baseurl");
    c.setValueForPropertyName(Value(2.9), u"timeout");
    c.setValueForPropertyName(Value(u"80"), u"port");          // wrong kind: ignored
    c.setValueForPropertyName(Value(u"x"), u"statuscode");     // not writable
    c.setValueForPropertyName(Value(u"y"), u"somethingelse");  // unknown
    EXPECT_EQ(c.valueForPropertyWithName(u"url").asString(), u"https://h.example:8080/b/");
    EXPECT_EQ(c.valueForPropertyWithName(u"port").integerValue(), 8080);
    EXPECT_TRUE(c.valueForPropertyWithName(u"secure").boolValue());
    EXPECT_EQ(c.valueForPropertyWithName(u"timeout").integerValue(), 2);
    EXPECT_EQ(c.valueForPropertyWithName(u"proxyserverhost").asString(), u"");
    EXPECT_EQ(c.valueForPropertyWithName(u"statuscode").integerValue(), 0);
    EXPECT_EQ(c.valueForPropertyWithName(u"unknown").asString(), u"");
    c.setValueForPropertyName(Value(u"http://n.example/p"), u"URL");
    EXPECT_EQ(c.url(), u"http://n.example/p");
    EXPECT_EQ(ClassRegistry::classNamed(std::string_view("QNHttpClient"))->create()->className(),
              u"QNHttpClient");
}

}  // namespace
}  // namespace qn
