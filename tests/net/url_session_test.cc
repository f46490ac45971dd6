// The URL session against a real server on 127.0.0.1: requests arrive as
// built, responses come back whole, and every failure maps to its URL error
// code with exactly one completion.
#include <qn/net/url_session.h>

#include <qn/host/entity_helper.h>
#include <qn/host/log.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <variant>

#include "net/redirect.h"
#include "net/test_server.h"
#include "support/test_support.h"

namespace qn {
namespace {

using namespace std::chrono_literals;

struct Outcome {
    Bytes data;
    std::optional<QNURLResponse> response;
    std::optional<QNURLError> error;
    std::thread::id thread;

    std::string body() const { return std::string(data.begin(), data.end()); }
    std::int64_t errorCode() const { return error ? error->code : 0; }
};

// A task not yet resumed and its first completion; any further completion
// fails the running test.
struct Pending {
    std::shared_ptr<QNURLSessionDataTask> task;
    std::future<Outcome> outcome;

    Outcome wait() {
        if (outcome.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return {};
        }
        return outcome.get();
    }
};

Pending start(QNURLRequest request) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    Pending pending{nullptr, promise->get_future()};
    pending.task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        std::move(request), [promise, calls](Bytes data, std::optional<QNURLResponse> response,
                                             std::optional<QNURLError> error) {
            if (calls->fetch_add(1) > 0) {
                ADD_FAILURE() << "completed twice";
                return;
            }
            promise->set_value(Outcome{std::move(data), std::move(response), std::move(error),
                                       std::this_thread::get_id()});
        });
    return pending;
}

Outcome send(QNURLRequest request) {
    Pending pending = start(std::move(request));
    pending.task->resume();
    return pending.wait();
}

// For a TestServer or a RawRequestCapture.
template <class Server>
QNURLRequest requestFor(const Server& server, std::string_view path,
                        std::u16string method = u"GET") {
    QNURLRequest request(fromUtf8(server.url(path)));
    request.setHTTPMethod(std::move(method));
    request.setTimeoutInterval(10);
    return request;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(URLRequestTest, HeaderFieldsCharsetsAndMimeTypes) {
    QNURLRequest request(u"http://h/");
    request.setValueForHTTPHeaderField(u"a", u"X-One");
    request.setValueForHTTPHeaderField(u"b", u"X-Two");
    request.setValueForHTTPHeaderField(u"c", u"x-one");
    ASSERT_EQ(request.allHTTPHeaderFields().size(), 2u);
    EXPECT_EQ(request.allHTTPHeaderFields()[0].first, u"X-One");
    EXPECT_EQ(request.valueForHTTPHeaderField(u"X-ONE"), u"c");
    EXPECT_FALSE(request.valueForHTTPHeaderField(u"X-Three"));
    EXPECT_FALSE(request.httpBody());

    // The charset of the content type decides a response's encoding.
    QNURLResponse response;
    EXPECT_TRUE(qnStringEncodingFromURLResponse(response).isUTF8());
    response.headers = {{u"content-type", u"text/plain; format=flowed; Charset=\"ISO-8859-1\""}};
    EXPECT_EQ(response.textEncodingName(), u"ISO-8859-1");
    EXPECT_EQ(qnStringEncodingFromURLResponse(response),
              *QNUtilities::stringEncodingFromCharsetString(u"iso-8859-1"));
    response.headers = {{u"Content-Type", u"text/plain; charset=no-such-charset"}};
    EXPECT_TRUE(qnStringEncodingFromURLResponse(response).isUTF8());
    response.headers = {{u"Content-Type", u"text/plain;charset="}};
    EXPECT_FALSE(response.textEncodingName());

    // Known extensions in any case.
    EXPECT_EQ(mimeTypeForPathExtension(u"png"), u"image/png");
    EXPECT_EQ(mimeTypeForPathExtension(u"JPG"), u"image/jpeg");
    EXPECT_EQ(mimeTypeForPathExtension(u"Json"), u"application/json");
    EXPECT_EQ(mimeTypeForPathExtension(u"docx"),
              u"application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    for (const char16_t* unknown : {u"qqq", u"", u"p\u00f1g"})
        EXPECT_FALSE(mimeTypeForPathExtension(unknown)) << toUtf8(unknown);
}

TEST(URLSessionTest, RequestsArriveAsSentAndAnswersComeBackWhole) {
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 % 251);
    test::TestServer server;  // after `big`, which its handler reads
    server.on("GET", "/big", [&big](const httplib::Request&, httplib::Response& res) {
        res.set_content(big, "application/octet-stream");
    });
    server.on("*", "/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.status = 201;
        res.set_header("X-Reply", "one");
        res.set_header("X-Reply", "two");
        res.set_content("got " + req.method + " " + req.body, "text/plain; charset=utf-8");
    });
    server.on("GET", "/from",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/to"); });

    Outcome got = send(requestFor(server, "/echo?q=a%20b"));
    ASSERT_FALSE(got.error) << toUtf8(got.error->localizedDescription);
    ASSERT_TRUE(got.response);
    EXPECT_EQ(got.response->statusCode, 201);
    EXPECT_EQ(got.body(), "got GET ");
    EXPECT_EQ(got.response->valueForHTTPHeaderField(u"x-reply"), u"one");
    int replies = 0;
    for (const auto& [name, value] : got.response->headers)
        replies += name == u"X-Reply";
    EXPECT_EQ(replies, 2);
    EXPECT_NE(got.thread, std::this_thread::get_id());
    auto seen = server.lastRequest();
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.target, "/echo?q=a%20b");
    EXPECT_FALSE(seen.hasHeader("Content-Length"));

    // Other methods with and without a body; an empty body is still a body.
    // The transport adds no Content-Type of its own and no Expect round trip.
    QNURLRequest post = requestFor(server, "/echo", u"POST");
    post.setHTTPBody(bytesOf("a=1&b=x%20y"));
    EXPECT_EQ(send(post).body(), "got POST a=1&b=x%20y");
    seen = server.lastRequest();
    EXPECT_EQ(seen.body, "a=1&b=x%20y");
    EXPECT_FALSE(seen.hasHeader("Content-Type") || seen.hasHeader("Expect"));
    QNURLRequest put = requestFor(server, "/echo", u"PUT");
    put.setValueForHTTPHeaderField(u"text/plain", u"Content-Type");
    put.setHTTPBody(bytesOf("payload"));
    EXPECT_EQ(send(put).body(), "got PUT payload");
    EXPECT_EQ(server.lastRequest().header("Content-Type"), "text/plain");
    EXPECT_EQ(send(requestFor(server, "/echo", u"DELETE")).body(), "got DELETE ");
    for (bool present : {true, false}) {
        QNURLRequest emptyPost = requestFor(server, "/echo", u"POST");
        if (present) emptyPost.setHTTPBody(Bytes{});
        EXPECT_EQ(send(emptyPost).body(), "got POST ");
        EXPECT_EQ(server.lastRequest().header("Content-Length"), "0");
    }

    // HEAD answers headers only.
    Outcome head = send(requestFor(server, "/echo", u"HEAD"));
    ASSERT_TRUE(head.response);
    EXPECT_EQ(head.response->statusCode, 201);
    EXPECT_TRUE(head.data.empty());

    // An explicit Expect makes the server send "100 Continue" first; only the
    // final answer's headers remain.
    QNURLRequest expect = requestFor(server, "/echo", u"POST");
    expect.setValueForHTTPHeaderField(u"100-continue", u"Expect");
    expect.setHTTPBody(bytesOf("body"));
    Outcome final = send(expect);
    ASSERT_TRUE(final.response);
    EXPECT_EQ(final.response->statusCode, 201);
    EXPECT_EQ(final.body(), "got POST body");
    for (const auto& header : final.response->headers)
        EXPECT_NE(header.first.rfind(u"HTTP/", 0), 0u);

    // A redirect is followed: the answer and its URL are the last server's.
    const std::size_t before = server.requestCount();
    Outcome redirect = send(requestFor(server, "/from"));
    ASSERT_TRUE(redirect.response);
    EXPECT_EQ(redirect.response->statusCode, 200);
    EXPECT_EQ(redirect.body(), "ok");
    EXPECT_EQ(redirect.response->url, fromUtf8(server.url("/to")));
    EXPECT_FALSE(redirect.response->valueForHTTPHeaderField(u"Location"));
    EXPECT_EQ(server.requestCount(), before + 2);

    // Large bodies both ways.
    EXPECT_TRUE(send(requestFor(server, "/big")).body() == big);
    QNURLRequest large = requestFor(server, "/echo", u"POST");
    large.setHTTPBody(bytesOf(big));
    EXPECT_EQ(send(large).data.size(), big.size() + 9);  // "got POST " and the body
    EXPECT_TRUE(server.lastRequest().body == big);
}

// Each redirect code against each kind of request: what reaches the target.
TEST(URLSessionRedirectTest, MethodAndBodyAsBrowsersCarryThem) {
    test::TestServer server;
    server.on("*", "/r/*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("/land", std::stoi(req.path.substr(3)));
    });
    struct Case {
        int code;
        std::u16string method;
        std::string arrives;  // the method at the target
        bool keepsBody;
    };
    const Case cases[] = {
        {301, u"POST", "GET", false},     {302, u"POST", "GET", false},
        {303, u"POST", "GET", false},     {303, u"PUT", "GET", false},
        {303, u"HEAD", "HEAD", false},    {301, u"PUT", "PUT", true},
        {302, u"DELETE", "DELETE", true}, {307, u"POST", "POST", true},
        {308, u"PATCH", "PATCH", true},   {308, u"GET", "GET", false},
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.code) + " " + toUtf8(c.method);
        QNURLRequest request = requestFor(server, "/r/" + std::to_string(c.code), c.method);
        request.setValueForHTTPHeaderField(u"X-Kept", u"X-Custom");
        if (c.method != u"GET" && c.method != u"HEAD") {
            request.setHTTPBody(bytesOf("k=v"));
            request.setValueForHTTPHeaderField(u"text/plain", u"Content-Type");
        }
        Outcome outcome = send(request);
        ASSERT_TRUE(outcome.response) << label;
        EXPECT_EQ(outcome.response->statusCode, 200) << label;
        const test::RecordedRequest seen = server.lastRequest();
        EXPECT_EQ(seen.path, "/land") << label;
        EXPECT_EQ(seen.method, c.arrives) << label;
        EXPECT_EQ(seen.header("X-Custom"), "X-Kept") << label;
        // A body that stays keeps its type; one that goes takes it along.
        EXPECT_EQ(seen.body, c.keepsBody ? "k=v" : "") << label;
        EXPECT_EQ(seen.hasHeader("Content-Type"), c.keepsBody) << label;
    }
}

TEST(URLSessionRedirectTest, TenRedirectsAreFollowedTheEleventhFails) {
    test::TestServer server;
    server.on("GET", "/hop/*", [](const httplib::Request& req, httplib::Response& res) {
        const int left = std::stoi(req.path.substr(5));
        if (left == 0) {
            res.set_content("end", "text/plain");
        } else {
            res.set_redirect("/hop/" + std::to_string(left - 1), left % 2 ? 302 : 307);
        }
    });
    Outcome ten = send(requestFor(server, "/hop/10"));
    ASSERT_TRUE(ten.response) << toUtf8(ten.error->localizedDescription);
    EXPECT_EQ(ten.body(), "end");
    EXPECT_EQ(ten.response->url, fromUtf8(server.url("/hop/0")));
    EXPECT_EQ(server.requestCount(), 11u);

    Outcome eleven = send(requestFor(server, "/hop/11"));
    EXPECT_EQ(eleven.errorCode(), -1007);
    EXPECT_EQ(eleven.error->localizedDescription, u"There were too many redirects.");
    EXPECT_FALSE(eleven.response);
    EXPECT_TRUE(eleven.data.empty());
    EXPECT_EQ(server.requestCount(), 22u);  // /hop/0 is never asked for
}

// Credentials the caller gave for one server never reach another one: not
// its Authorization or Cookie fields, not the user and password of its URL.
// Another host name for the same address, or another port, is another server.
TEST(URLSessionRedirectTest, CredentialsStayWithTheirServer) {
    test::TestServer first, second;
    const std::string elsewhere = "http://localhost:" + std::to_string(second.port()) + "/land";
    const std::string sameAddress = "http://localhost:" + std::to_string(first.port()) + "/land";
    first.on("GET", "/to-second", [elsewhere](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(elsewhere);
    });
    first.on("GET", "/to-name", [sameAddress](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(sameAddress);
    });
    first.on("GET", "/to-self",
             [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/land"); });

    for (const char* path : {"/to-second", "/to-name", "/to-self"}) {
        const bool sameServer = std::string(path) == "/to-self";
        test::TestServer& target = std::string(path) == "/to-second" ? second : first;
        QNURLRequest request = requestFor(first, path);
        request.setValueForHTTPHeaderField(u"Bearer t0ken", u"Authorization");
        request.setValueForHTTPHeaderField(u"sid=1", u"Cookie");
        request.setValueForHTTPHeaderField(u"yes", u"X-Plain");
        Outcome outcome = send(request);
        ASSERT_TRUE(outcome.response) << path;
        test::RecordedRequest seen = target.lastRequest();
        ASSERT_EQ(seen.path, "/land") << path;
        EXPECT_EQ(seen.header("X-Plain"), "yes") << path;
        EXPECT_EQ(seen.header("Authorization"), sameServer ? "Bearer t0ken" : "") << path;
        EXPECT_EQ(seen.header("Cookie"), sameServer ? "sid=1" : "") << path;

        // User and password in the URL.
        std::string withUser = first.url(path);
        withUser.insert(7, "u:p@");
        QNURLRequest userRequest(fromUtf8(withUser));
        ASSERT_TRUE(send(userRequest).response) << path;
        seen = target.lastRequest();
        ASSERT_EQ(seen.path, "/land") << path;
        EXPECT_EQ(seen.header("Authorization"), sameServer ? "Basic dTpw" : "") << path;
    }
}

// The rules no plain loopback server can show: secure origins, other
// schemes, and ports written or left to the scheme.
TEST(URLSessionRedirectTest, SecureRequestsStaySecure) {
    QNURLRequest request(u"https://srv/a");
    request.setValueForHTTPHeaderField(u"Basic dTpw", u"Authorization");
    auto follow = [&](StringView location) {
        return internal::requestForRedirect(request, 302, location, 0);
    };
    auto errorCode = [](const std::variant<QNURLRequest, QNURLError>& next) {
        return std::holds_alternative<QNURLError>(next) ? std::get<QNURLError>(next).code : 0;
    };
    EXPECT_EQ(errorCode(follow(u"http://srv/a")), -1022);
    EXPECT_EQ(errorCode(follow(u"HTTP://srv:443/a")), -1022);
    EXPECT_EQ(errorCode(follow(u"ftp://srv/a")), -1002);
    EXPECT_EQ(errorCode(follow(u"file:///etc/passwd")), -1000);
    EXPECT_EQ(errorCode(internal::requestForRedirect(request, 302, u"https://srv/b", 10)), -1007);

    // The scheme's port written out is the same server.
    auto same = follow(u"HTTPS://SRV:443/b");
    ASSERT_EQ(errorCode(same), 0);
    EXPECT_EQ(std::get<QNURLRequest>(same).valueForHTTPHeaderField(u"Authorization"),
              u"Basic dTpw");
    auto other = follow(u"https://srv:8443/b");
    ASSERT_EQ(errorCode(other), 0);
    EXPECT_FALSE(std::get<QNURLRequest>(other).valueForHTTPHeaderField(u"Authorization"));
    EXPECT_EQ(std::get<QNURLRequest>(other).url(), u"https://srv:8443/b");
    // From http to https is an upgrade, and another server.
    request.setURL(u"http://srv/a");
    auto upgraded = follow(u"https://srv/a");
    ASSERT_EQ(errorCode(upgraded), 0);
    EXPECT_FALSE(std::get<QNURLRequest>(upgraded).valueForHTTPHeaderField(u"Authorization"));
}

TEST(URLSessionTest, HeaderLinesOnTheWire) {
    test::RawRequestCapture capture;
    QNURLRequest request = requestFor(capture, "/p", u"PATCH");
    request.setValueForHTTPHeaderField(u"", u"Cookie");
    request.setValueForHTTPHeaderField(u"v\r\nX-Injected: yes", u"X-Value");
    request.setValueForHTTPHeaderField(u"ignored", u"Bad Name");
    request.setHTTPBody(bytesOf("{}"));
    EXPECT_EQ(send(request).body(), "ok");
    const std::string wire = capture.request();
    EXPECT_EQ(wire.rfind("PATCH /p HTTP/1.1\r\n", 0), 0u) << wire;
    // An empty field is still sent, with an empty value.
    EXPECT_NE(wire.find("\r\nCookie:\r\n"), std::string::npos) << wire;
    // A value cannot smuggle in a field; an invalid name is not sent.
    EXPECT_NE(wire.find("\r\nX-Value: v  X-Injected: yes\r\n"), std::string::npos) << wire;
    EXPECT_EQ(wire.find("Bad Name"), std::string::npos) << wire;
    EXPECT_EQ(wire.find("Content-Type"), std::string::npos) << wire;
    EXPECT_EQ(wire.substr(wire.size() - 6), "\r\n\r\n{}");
}

TEST(URLSessionTest, FailuresMapToURLErrorCodes) {
    auto release = std::make_shared<test::Latch>();
    test::TestServer server;
    server.on("GET", "/slow", [release](const httplib::Request&, httplib::Response& res) {
        release->waitFor();
        res.set_content("late", "text/plain");
    });
    QNURLRequest slow = requestFor(server, "/slow");
    slow.setTimeoutInterval(0.3);
    test::ClosedPort closed;
    test::RawRequestCapture hangUp("");  // reads the request, closes unanswered
    QNURLRequest nowhere(u"http://no-such-host.invalid/");
    nowhere.setTimeoutInterval(20);

    struct Case {
        QNURLRequest request;
        std::int64_t code;
        std::u16string description;  // unchecked when empty
    };
    std::vector<Case> cases = {
        {slow, -1001, u"The request timed out."},
        {QNURLRequest(fromUtf8(closed.url)), -1004, u"Could not connect to the server."},
        {requestFor(hangUp, "/"), -1005, u"The network connection was lost."},
        {nowhere, -1003, u""}};
    for (const char16_t* bad : {u"", u"not a url", u"http://", u"ftp://127.0.0.1/x",
                                u"file:///etc/passwd", u"gopher://h/"})
        cases.push_back({QNURLRequest(bad), -1000, u""});
    for (const Case& c : cases) {
        Outcome outcome = send(c.request);
        EXPECT_EQ(outcome.errorCode(), c.code) << toUtf8(c.request.url());
        EXPECT_FALSE(outcome.response) << toUtf8(c.request.url());
        EXPECT_TRUE(outcome.data.empty());
        if (outcome.error && !c.description.empty()) {
            EXPECT_EQ(outcome.error->localizedDescription, c.description);
        }
    }
    release->arrive();
}

TEST(URLSessionTest, CancelInFlightCompletesOnceAsCancelled) {
    auto arrived = std::make_shared<test::Latch>(), release = std::make_shared<test::Latch>();
    test::TestServer server;
    server.on("GET", "/hold", [arrived, release](const httplib::Request&, httplib::Response& res) {
        arrived->arrive();
        release->waitFor();
        res.set_content("late", "text/plain");
    });
    // Cancelled before it was resumed: nothing is sent.
    Pending never = start(requestFor(server, "/"));
    never.task->cancel();
    never.task->resume();
    EXPECT_EQ(never.wait().errorCode(), -999);
    EXPECT_EQ(server.requestCount(), 0u);

    // Cancelled from two threads while in flight; resuming again does nothing.
    Pending held = start(requestFor(server, "/hold"));
    held.task->resume();
    ASSERT_TRUE(arrived->waitFor());
    std::thread other([&held] { held.task->cancel(); });
    other.join();
    held.task->cancel();
    held.task->resume();
    EXPECT_EQ(held.wait().errorCode(), -999);

    // Cancelled after completing.
    Pending done = start(requestFor(server, "/"));
    done.task->resume();
    EXPECT_TRUE(done.wait().response);
    done.task->cancel();

    // The held answer now goes out; a task completed again by it would fail
    // the test while one more request makes its round trip.
    release->arrive();
    EXPECT_EQ(send(requestFor(server, "/hold")).body(), "late");
}

TEST(URLSessionTest, ConcurrentTasksFromSeveralThreads) {
    test::TestServer server;
    server.on("GET", "/n/*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.path.substr(3), "text/plain");
    });
    constexpr int kThreads = 6;
    constexpr int kPerThread = 20;
    std::atomic<int> correct{0};
    test::onThreads(kThreads, [&](int t) {
        std::vector<Pending> tasks;
        for (int i = 0; i < kPerThread; ++i) {
            tasks.push_back(start(requestFor(server, "/n/" + std::to_string(t * 1000 + i))));
            tasks.back().task->resume();
            // Every third task is cancelled at once: it may finish either way.
            if (i % 3 == 2) tasks.back().task->cancel();
        }
        for (int i = 0; i < kPerThread; ++i) {
            Outcome outcome = tasks[i].wait();
            bool answered = !outcome.error && outcome.response &&
                            outcome.response->statusCode == 200 &&
                            outcome.body() == std::to_string(t * 1000 + i);
            if (answered || (i % 3 == 2 && outcome.errorCode() == -999)) ++correct;
        }
    });
    EXPECT_EQ(correct.load(), kThreads * kPerThread);
}

// The process exits with a transfer in flight: the transfer thread is
// stopped and joined, the task completes once as cancelled, nothing crashes.
TEST(URLSessionExitTest, InFlightTaskAtExitEndsCancelled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Left to the exit, like everything else in flight.
            static auto* arrived = new test::Latch();
            static auto* never = new test::Latch();
            static auto* server = new test::TestServer();
            server->on("GET", "/hold", [](const httplib::Request&, httplib::Response&) {
                arrived->arrive();
                never->waitFor();
            });
            auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
                requestFor(*server, "/hold"),
                [](Bytes, std::optional<QNURLResponse>, std::optional<QNURLError> error) {
                    std::fprintf(stderr, "completion %lld\n",
                                 static_cast<long long>(error ? error->code : 0));
                });
            task->resume();
            arrived->waitFor();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^completion -999\n$");
}

TEST(URLContentsTest, FileAndWebURLsAndTheStaticResourceFolder) {
    test::TestServer server;
    server.on("GET", "/app/static/forms/a b.xml",
              [](const httplib::Request&, httplib::Response& res) {
                  res.set_content("<a/>", "application/xml");
              });
    server.on("GET", "/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    test::TempDir dir;
    dir.write("model.json", R"({"serverBaseUrl": ")" + server.url("/app") + R"("})");
    dir.write("r\xc3\xa9s.txt", "bytes");
    test::ScopedBundle bundle(dir.path());

    auto text = [](const std::optional<Bytes>& b) {
        return b ? std::string(b->begin(), b->end()) : std::string("<absent>");
    };
    const String fileURL = u"file://" + fromUtf8((dir.path() / "r%C3%A9s.txt").string());
    EXPECT_EQ(text(dataWithContentsOfURL(fileURL)), "bytes");
    EXPECT_EQ(text(dataWithContentsOfURL(fileURL + u"x")), "<absent>");
    EXPECT_EQ(text(dataWithContentsOfURL(u"file://elsewhere/etc/hostname")), "<absent>");
    // Only 2xx answers have contents; other schemes are never fetched.
    EXPECT_EQ(text(dataWithContentsOfURL(fromUtf8(server.url("/missing")))), "<absent>");
    EXPECT_EQ(text(dataWithContentsOfURL(u"ftp://127.0.0.1/x")), "<absent>");

    auto url = QNEntityHelper::staticResourceURLWithRelativePath(u"forms/a b.xml");
    ASSERT_TRUE(url);
    EXPECT_EQ(*url, fromUtf8(server.url("/app/static/forms/a%20b.xml")));
    EXPECT_EQ(text(dataWithContentsOfURL(*url)), "<a/>");
    // A bound on the length: exactly at it passes, one byte over gives nothing,
    // from a server as from a file.
    EXPECT_EQ(text(dataWithContentsOfURL(*url, 4)), "<a/>");
    EXPECT_EQ(text(dataWithContentsOfURL(*url, 3)), "<absent>");
    EXPECT_EQ(text(dataWithContentsOfURL(fileURL, 5)), "bytes");
    EXPECT_EQ(text(dataWithContentsOfURL(fileURL, 4)), "<absent>");
    // Nothing outside the folder, nothing for no path.
    EXPECT_FALSE(QNEntityHelper::staticResourceURLWithRelativePath(u"../model.json"));
    EXPECT_FALSE(QNEntityHelper::staticResourceURLWithRelativePath(u"/"));

    // An application's own provider replaces the default until it is reset.
    QNEntityHelper::setStaticResourceURLProvider(
        [](StringView path) { return std::optional<String>(u"mem:" + String(path)); });
    EXPECT_EQ(QNEntityHelper::staticResourceURLWithRelativePath(u"x"), u"mem:x");
    QNEntityHelper::setStaticResourceURLProvider(nullptr);
    EXPECT_EQ(QNEntityHelper::staticResourceURLWithRelativePath(u"x"),
              fromUtf8(server.url("/app/static/x")));
}

TEST(NetworkLogTest, OffByDefaultAndMasksCredentials) {
    test::ScopedCapturingLogger logger;
    QNURLRequest request(u"https://srv/app/x");
    request.setHTTPMethod(u"POST");
    request.setValueForHTTPHeaderField(u"Basic dTpw", u"Authorization");
    request.setValueForHTTPHeaderField(u"application/json", u"Accept");
    QNURLResponse response;
    response.statusCode = 200;
    EXPECT_FALSE(QNNetworkLog::isEnabled());
    QNNetworkLog::logURLRequestIfEnabled(request);
    EXPECT_TRUE(logger->lines().empty());

    QNNetworkLog::setEnabled(true);
    QNNetworkLog::logURLRequestIfEnabled(request);
    QNNetworkLog::logURLResponseIfEnabledRequestData(response, request, bytesOf("abc"));
    QNNetworkLog::setEnabled(false);
    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].type, QNLogTypeNetwork);
    EXPECT_EQ(lines[0].level, QNLogLevelInfo);
    EXPECT_EQ(lines[0].text,
              u"HTTP request: POST https://srv/app/x\n\tAuthorization: Basic ********\n\tAccept: "
              u"application/json");
    EXPECT_EQ(lines[1].text, u"HTTP response: 200 https://srv/app/x (3 bytes)");
}

}  // namespace
}  // namespace qn
