// The URL session against a real server on 127.0.0.1: requests arrive as
// built, responses come back whole, and every failure maps to its URL error
// code with exactly one completion.
#include <qn/net/url_session.h>

#include <gtest/gtest.h>

#include <qn/host/entity_helper.h>
#include <qn/host/log.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Runs a request and waits (bounded) for its one completion.
Outcome send(QNURLRequest request) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto future = promise->get_future();
    auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        std::move(request), [promise](Bytes data, std::optional<QNURLResponse> response,
                                      std::optional<QNURLError> error) {
            promise->set_value(Outcome{std::move(data), std::move(response), std::move(error),
                                       std::this_thread::get_id()});
        });
    task->resume();
    if (future.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "no completion";
        return {};
    }
    return future.get();
}

QNURLRequest requestFor(const test::TestServer& server, std::string_view path,
                        std::u16string method = u"GET") {
    QNURLRequest request(fromUtf8(server.url(path)));
    request.setHTTPMethod(std::move(method));
    request.setTimeoutInterval(10);
    return request;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A loopback socket on an ephemeral port; listening or merely bound.
struct RawSocket {
    int fd = -1;
    int port = 0;
    explicit RawSocket(bool listening) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) return;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        if (listening) ::listen(fd, 4);
    }
    ~RawSocket() { ::close(fd); }
};

TEST(URLRequestTest, HeaderFieldsKeepFirstSpellingAndReplaceAnyCase) {
    QNURLRequest request(u"http://h/");
    request.setValueForHTTPHeaderField(u"a", u"X-One");
    request.setValueForHTTPHeaderField(u"b", u"X-Two");
    request.setValueForHTTPHeaderField(u"c", u"x-one");
    ASSERT_EQ(request.allHTTPHeaderFields().size(), 2u);
    EXPECT_EQ(request.allHTTPHeaderFields()[0].first, u"X-One");
    EXPECT_EQ(request.valueForHTTPHeaderField(u"X-ONE"), u"c");
    EXPECT_FALSE(request.valueForHTTPHeaderField(u"X-Three"));
    EXPECT_FALSE(request.httpBody());
}

TEST(URLResponseTest, CharsetOfContentTypeDecidesTheEncoding) {
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
}

TEST(MimeTypeTest, KnownExtensionsInAnyCase) {
    EXPECT_EQ(mimeTypeForPathExtension(u"png"), u"image/png");
    EXPECT_EQ(mimeTypeForPathExtension(u"JPG"), u"image/jpeg");
    EXPECT_EQ(mimeTypeForPathExtension(u"Json"), u"application/json");
    EXPECT_EQ(mimeTypeForPathExtension(u"docx"),
              u"application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    EXPECT_FALSE(mimeTypeForPathExtension(u"qqq"));
    EXPECT_FALSE(mimeTypeForPathExtension(u""));
    EXPECT_FALSE(mimeTypeForPathExtension(u"p\u00f1g"));
    EXPECT_EQ(mimeTypeApplicationOctetStream(), u"application/octet-stream");
}

TEST(URLSessionTest, GetAndPostArriveAsSentAndAnswerWhole) {
    test::TestServer server;
    server.on("*", "/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.status = 201;
        res.set_header("X-Reply", "one");
        res.set_header("X-Reply", "two");
        res.set_content("got " + req.method + " " + req.body, "text/plain; charset=utf-8");
    });

    QNURLRequest get = requestFor(server, "/echo?q=a%20b");
    get.setValueForHTTPHeaderField(u"Bearer abc", u"Authorization");
    get.setValueForHTTPHeaderField(u"", u"Cookie");
    Outcome got = send(get);
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
    EXPECT_EQ(seen.header("Authorization"), "Bearer abc");
    EXPECT_FALSE(seen.hasHeader("Content-Length"));

    QNURLRequest post = requestFor(server, "/echo", u"POST");
    post.setHTTPBody(bytesOf("a=1&b=x%20y"));
    Outcome posted = send(post);
    ASSERT_TRUE(posted.response);
    EXPECT_EQ(posted.body(), "got POST a=1&b=x%20y");
    seen = server.lastRequest();
    EXPECT_EQ(seen.body, "a=1&b=x%20y");
    // No Content-Type of the transport's own, no Expect round trip.
    EXPECT_FALSE(seen.hasHeader("Content-Type"));
    EXPECT_FALSE(seen.hasHeader("Expect"));

    // Other methods with and without a body; an empty body is still a body.
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

    // A multipart body reaches the record whole, with its own content type.
    QNURLRequest multipart = requestFor(server, "/echo", u"POST");
    multipart.setValueForHTTPHeaderField(u"multipart/form-data; boundary=XyZ", u"Content-Type");
    const std::string parts =
        "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--XyZ--";
    multipart.setHTTPBody(bytesOf(parts));
    ASSERT_TRUE(send(multipart).response);
    seen = server.lastRequest();
    EXPECT_EQ(seen.body, parts);
    EXPECT_EQ(seen.header("Content-Type"), "multipart/form-data; boundary=XyZ");
    EXPECT_FALSE(seen.hasHeader("X-Test-Server-Original-Content-Type"));
    auto parsed = test::parseMultipart(seen.body, "XyZ");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].body, "1");

    // HEAD answers headers only.
    Outcome head = send(requestFor(server, "/echo", u"HEAD"));
    ASSERT_TRUE(head.response);
    EXPECT_EQ(head.response->statusCode, 201);
    EXPECT_TRUE(head.data.empty());
}

TEST(URLSessionTest, HeaderLinesOnTheWire) {
    test::RawRequestCapture capture;
    QNURLRequest request(fromUtf8(capture.url("/p")));
    request.setHTTPMethod(u"PATCH");
    request.setValueForHTTPHeaderField(u"", u"Cookie");
    request.setValueForHTTPHeaderField(u"v\r\nX-Injected: yes", u"X-Value");
    request.setValueForHTTPHeaderField(u"ignored", u"Bad Name");
    request.setHTTPBody(bytesOf("{}"));
    Outcome outcome = send(request);
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.body(), "ok");
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

TEST(URLSessionTest, LargeBodiesBothWays) {
    std::string big(5 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 % 251);
    test::TestServer server;  // after `big`, which its handler reads
    server.on("GET", "/big", [&big](const httplib::Request&, httplib::Response& res) {
        res.set_content(big, "application/octet-stream");
    });
    server.on("POST", "/size", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    Outcome got = send(requestFor(server, "/big"));
    ASSERT_TRUE(got.response);
    EXPECT_TRUE(got.body() == big);

    QNURLRequest post = requestFor(server, "/size", u"POST");
    post.setHTTPBody(bytesOf(big));
    EXPECT_EQ(send(post).body(), std::to_string(big.size()));
    EXPECT_TRUE(server.lastRequest().body == big);
}

TEST(URLSessionTest, InterimAnswerLeavesOnlyTheFinalHeaders) {
    test::TestServer server;
    server.on("POST", "/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-Final", "1");
        res.set_content("done", "text/plain");
    });
    // An explicit Expect makes the server send "100 Continue" first.
    QNURLRequest request = requestFor(server, "/", u"POST");
    request.setValueForHTTPHeaderField(u"100-continue", u"Expect");
    request.setHTTPBody(bytesOf("body"));
    Outcome got = send(request);
    ASSERT_TRUE(got.response);
    EXPECT_EQ(got.response->statusCode, 200);
    EXPECT_EQ(got.body(), "done");
    EXPECT_EQ(got.response->valueForHTTPHeaderField(u"X-Final"), u"1");
    for (const auto& header : got.response->headers)
        EXPECT_NE(header.first.rfind(u"HTTP/", 0), 0u);
}

TEST(URLSessionTest, RedirectsAreNotFollowed) {
    test::TestServer server;
    server.on("GET", "/from",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/to"); });
    Outcome got = send(requestFor(server, "/from"));
    ASSERT_TRUE(got.response);
    EXPECT_EQ(got.response->statusCode, 302);
    EXPECT_EQ(got.response->valueForHTTPHeaderField(u"Location"), u"/to");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(URLSessionTest, FailuresMapToURLErrorCodes) {
    test::TestServer server;
    server.on("GET", "/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(2s);
        res.set_content("late", "text/plain");
    });
    QNURLRequest slow = requestFor(server, "/slow");
    slow.setTimeoutInterval(0.3);
    auto started = std::chrono::steady_clock::now();
    Outcome timedOut = send(slow);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
    EXPECT_EQ(timedOut.errorCode(), -1001);
    EXPECT_EQ(timedOut.error->localizedDescription, u"The request timed out.");
    EXPECT_FALSE(timedOut.response);

    // Bound but not listening: the connection is refused.
    RawSocket closed(false);
    Outcome refused =
        send(QNURLRequest(fromUtf8("http://127.0.0.1:" + std::to_string(closed.port) + "/")));
    EXPECT_EQ(refused.errorCode(), -1004);
    EXPECT_EQ(refused.error->localizedDescription, u"Could not connect to the server.");

    for (const char16_t* bad : {u"", u"not a url", u"http://", u"ftp://127.0.0.1/x",
                                u"file:///etc/passwd", u"gopher://h/"}) {
        Outcome outcome = send(QNURLRequest(bad));
        EXPECT_EQ(outcome.errorCode(), -1000) << toUtf8(bad);
        EXPECT_TRUE(outcome.data.empty());
    }

    QNURLRequest nowhere(u"http://no-such-host.invalid/");
    nowhere.setTimeoutInterval(20);
    Outcome unresolved = send(nowhere);
    EXPECT_EQ(unresolved.errorCode(), -1003);

    // A server that reads the request and hangs up without answering.
    RawSocket listener(true);
    std::thread hangUp([&listener] {
        int connection = ::accept(listener.fd, nullptr, nullptr);
        char buffer[1024];
        (void)::recv(connection, buffer, sizeof buffer, 0);
        ::close(connection);
    });
    Outcome dropped =
        send(QNURLRequest(fromUtf8("http://127.0.0.1:" + std::to_string(listener.port) + "/")));
    hangUp.join();
    EXPECT_EQ(dropped.errorCode(), -1005);
    EXPECT_EQ(dropped.error->localizedDescription, u"The network connection was lost.");
}

TEST(URLSessionTest, CancelInFlightCompletesOnceAsCancelled) {
    std::atomic<bool> release{false};
    test::TestServer server;
    server.on("GET", "/hold", [&release](const httplib::Request&, httplib::Response& res) {
        for (int i = 0; i < 500 && !release; ++i)
            std::this_thread::sleep_for(10ms);
        res.set_content("late", "text/plain");
    });
    std::atomic<int> calls{0};
    std::promise<std::int64_t> code;
    auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        requestFor(server, "/hold"),
        [&](Bytes, std::optional<QNURLResponse>, std::optional<QNURLError> error) {
            if (calls.fetch_add(1) == 0) code.set_value(error ? error->code : 0);
        });
    task->resume();
    while (server.requestCount() == 0)
        std::this_thread::sleep_for(1ms);
    std::thread other([&] { task->cancel(); });
    other.join();
    task->cancel();
    task->resume();
    auto future = code.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), -999);
    release = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls.load(), 1);
}

TEST(URLSessionTest, CancelBeforeResumeAndAfterCompletion) {
    test::TestServer server;
    std::promise<std::int64_t> first;
    auto never = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        requestFor(server, "/"),
        [&](Bytes, std::optional<QNURLResponse>, std::optional<QNURLError> error) {
            first.set_value(error ? error->code : 0);
        });
    never->cancel();
    never->resume();
    auto future = first.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), -999);
    EXPECT_EQ(server.requestCount(), 0u);

    std::atomic<int> calls{0};
    std::promise<void> done;
    auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        requestFor(server, "/"),
        [&](Bytes, std::optional<QNURLResponse> response, std::optional<QNURLError>) {
            EXPECT_TRUE(response);
            ++calls;
            done.set_value();
        });
    task->resume();
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    task->cancel();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls.load(), 1);
}

TEST(URLSessionTest, ConcurrentTasksFromSeveralThreads) {
    test::TestServer server;
    server.on("GET", "/n/*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.path.substr(3), "text/plain");
    });
    constexpr int kThreads = 6;
    constexpr int kPerThread = 20;
    std::atomic<int> correct{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::future<bool>> results;
            std::vector<std::shared_ptr<QNURLSessionDataTask>> tasks;
            for (int i = 0; i < kPerThread; ++i) {
                std::string id = std::to_string(t * 1000 + i);
                auto promise = std::make_shared<std::promise<bool>>();
                results.push_back(promise->get_future());
                tasks.push_back(
                    QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
                        requestFor(server, "/n/" + id),
                        [promise, id](Bytes data, std::optional<QNURLResponse> response,
                                      std::optional<QNURLError> error) {
                            promise->set_value(!error && response && response->statusCode == 200 &&
                                               std::string(data.begin(), data.end()) == id);
                        }));
                tasks.back()->resume();
                // Every third task is cancelled at once: it may finish either way.
                if (i % 3 == 2) tasks.back()->cancel();
            }
            for (int i = 0; i < kPerThread; ++i) {
                if (results[i].wait_for(20s) != std::future_status::ready) continue;
                if (results[i].get() || i % 3 == 2) ++correct;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(correct.load(), kThreads * kPerThread);
}

// The process exits with a transfer in flight: the transfer thread is
// stopped and joined, the task completes once as cancelled, nothing crashes.
TEST(URLSessionExitTest, InFlightTaskAtExitEndsCancelled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Left to the exit, like everything else in flight.
            static auto* server = new test::TestServer();
            server->on("GET", "/hold", [](const httplib::Request&, httplib::Response&) {
                std::this_thread::sleep_for(3s);
            });
            auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
                requestFor(*server, "/hold"),
                [](Bytes, std::optional<QNURLResponse>, std::optional<QNURLError> error) {
                    std::fprintf(stderr, "completion %lld\n",
                                 static_cast<long long>(error ? error->code : 0));
                });
            task->resume();
            while (server->requestCount() == 0)
                std::this_thread::sleep_for(1ms);
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
