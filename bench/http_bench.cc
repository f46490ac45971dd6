// The HTTP client beside raw libcurl: sequential small GET requests to a
// loopback server in this process. The client's round trip (execute, then
// statusCode and getString, which wait for the response) crosses to the
// session's transfer thread and back; the raw side is one easy handle reused
// on the calling thread, the cheapest way libcurl can do the same request.

#include <qn/net.h>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// One server for the whole run; keep-alive on, so both sides reuse their
// connection and the numbers compare request handling, not TCP setup.
class LoopbackServer {
public:
    static LoopbackServer& get() {
        static LoopbackServer server;
        return server;
    }
    int port() const noexcept { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    LoopbackServer() {
        server_.Get("/small", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello, benchmark", "text/plain; charset=utf-8");
        });
        // Without it the reply's separate header and body writes meet the
        // client's delayed acknowledgement: 40 ms per request on loopback.
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(1000000);
        server_.set_keep_alive_timeout(60);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

void BM_HttpClientSmallGet(benchmark::State& state) {
    auto& server = LoopbackServer::get();
    qn::QNHttpClient client;
    client.setHost(u"127.0.0.1");
    client.setPort(server.port());
    for (auto _ : state) {
        client.executeUrl(u"GET", u"/small");
        if (client.statusCode() != 200) state.SkipWithError("unexpected status");
        benchmark::DoNotOptimize(client.getString());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HttpClientSmallGet)->UseRealTime();

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

void BM_RawCurlEasySmallGet(benchmark::State& state) {
    auto& server = LoopbackServer::get();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* easy = curl_easy_init();
    const std::string url = server.url("/small");
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    for (auto _ : state) {
        body.clear();
        long status = 0;
        if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("transfer failed");
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) state.SkipWithError("unexpected status");
        benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(easy);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawCurlEasySmallGet)->UseRealTime();

}  // namespace
