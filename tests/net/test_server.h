// A real HTTP server on 127.0.0.1 for the networking tests: an ephemeral
// port, its own accept thread, handlers that may be added at any time, and a
// record of every request as it arrived. (httplib consumes multipart bodies
// while parsing them: RawRequestCapture keeps those.)
//
// Without a handler for a method and path the server answers 200 "ok".
//
// State a handler touches must outlive the server (declare it before the
// server): the response reaches the test through a socket, which orders
// nothing for ThreadSanitizer; only the server's shutdown (which joins its
// workers) does.
//
// Thread-safe: handlers run on the server's worker threads; registration and
// the request records are guarded.
#pragma once

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qn::test {

struct RecordedRequest {
    std::string method;
    std::string path;    // without the query
    std::string target;  // path and query as sent
    httplib::Headers headers;
    std::string body;  // the bytes as sent

    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    // The first value of the field (any letter case); "" when absent.
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    std::size_t headerCount(const std::string& name) const { return headers.count(name); }
};

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    TestServer() {
        // Every route goes through dispatch() so handlers can be added while
        // the server runs without racing httplib's own route tables.
        const auto route = [this](const httplib::Request& req, httplib::Response& res) {
            dispatch(req, res);
        };
        server_.Get(".*", route);
        server_.Post(".*", route);
        server_.Put(".*", route);
        server_.Patch(".*", route);
        server_.Delete(".*", route);
        server_.Options(".*", route);
        // Clients keep connections open between requests, and httplib gives
        // each open connection a worker until it idles out: enough workers
        // for concurrent tests, and a short idle time so the destructor
        // (which waits for the workers) stays quick.
        server_.new_task_queue = [] { return new httplib::ThreadPool(48); };
        server_.set_keep_alive_max_count(1000);
        server_.set_keep_alive_timeout(1);
        // Header and body go out in separate writes; without this they meet
        // the client's delayed acknowledgement (40 ms per request).
        server_.set_tcp_nodelay(true);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("test server: cannot bind to 127.0.0.1");
        // The socket listens from here on: connections queue until the
        // accept loop starts.
        thread_ = std::thread([this] {
            server_.listen_after_bind();
            listenReturned_ = true;
        });
    }

    ~TestServer() {
        // stop() before the accept loop has started would be lost and the
        // join would hang.
        while (!server_.is_running() && !listenReturned_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server_.stop();
        thread_.join();
    }

    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

    // Handles `method` ("GET", ..., or "*" for any) on the path `path`
    // exactly, or on every path starting with what precedes a final "*"
    // ("/files/*"). A later registration for the same request wins.
    void on(std::string method, std::string path, Handler handler) {
        std::lock_guard lock(mutex_);
        routes_.insert(routes_.begin(),
                       Route{std::move(method), std::move(path), std::move(handler)});
    }

    // The last request received; empty when none arrived yet.
    RecordedRequest lastRequest() const {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? RecordedRequest{} : requests_.back();
    }
    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const {
        std::lock_guard lock(mutex_);
        return requests_.size();
    }

private:
    struct Route {
        std::string method;
        std::string path;
        Handler handler;

        bool matches(const std::string& requestPath) const {
            if (!path.empty() && path.back() == '*')
                return requestPath.compare(0, path.size() - 1, path, 0, path.size() - 1) == 0;
            return requestPath == path;
        }
    };

    void dispatch(const httplib::Request& req, httplib::Response& res) {
        RecordedRequest record{req.method, req.path, req.target, req.headers, req.body};
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(record));
            for (const auto& route : routes_) {
                if ((route.method == "*" || route.method == req.method) &&
                    route.matches(req.path)) {
                    handler = route.handler;
                    break;
                }
            }
        }
        if (handler) {
            handler(req, res);
        } else {
            res.set_content("ok", "text/plain");
        }
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> listenReturned_{false};
    mutable std::mutex mutex_;
    std::vector<Route> routes_;
    std::vector<RecordedRequest> requests_;
};

// A loopback port that is bound but never listens: connections are refused.
struct ClosedPort {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    std::string url;
    ClosedPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        url = "http://127.0.0.1:" + std::to_string(port) + "/";
    }
    ~ClosedPort() { ::close(fd); }
};

// A socket listening on a free port of 127.0.0.1; the port goes to `port`.
inline int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::listen(fd, 4) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Accepts one connection on 127.0.0.1, keeps the request exactly as it came
// over the wire (head and Content-Length body) and answers with a fixed
// response. For what httplib hides: fields with empty values, multipart bodies.
class RawRequestCapture {
public:
    explicit RawRequestCapture(std::string response =
                                   "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: "
                                   "close\r\n\r\nok")
        : response_(std::move(response)) {
        fd_ = listenOnLoopback(port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawRequestCapture() {
        // Unblocks accept() when no client ever came.
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    RawRequestCapture(const RawRequestCapture&) = delete;
    RawRequestCapture& operator=(const RawRequestCapture&) = delete;

    int port() const noexcept { return port_; }
    std::string url(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
    // The request as received; "" until one has been read whole.
    std::string request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }

private:
    void serve() {
        const int connection = ::accept(fd_, nullptr, nullptr);
        if (connection < 0) return;
        std::string data;
        char buffer[4096];
        std::size_t expected = std::string::npos;
        while (expected == std::string::npos || data.size() < expected) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            data.append(buffer, static_cast<std::size_t>(n));
            const std::size_t headEnd = data.find("\r\n\r\n");
            if (expected == std::string::npos && headEnd != std::string::npos) {
                std::size_t length = 0;
                std::string head = data.substr(0, headEnd);
                std::transform(head.begin(), head.end(), head.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                const std::size_t field = head.find("\r\ncontent-length:");
                if (field != std::string::npos)
                    length = std::stoul(head.substr(field + 17, head.find("\r\n", field + 2)));
                expected = headEnd + 4 + length;
            }
        }
        {
            std::lock_guard lock(mutex_);
            request_ = data;
        }
        (void)::send(connection, response_.data(), response_.size(), MSG_NOSIGNAL);
        ::close(connection);
    }

    std::string response_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string request_;
};

}  // namespace qn::test
