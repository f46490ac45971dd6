// The host's URL session over libcurl's multi interface.
//
// One transfer thread, started on first use, drives every transfer of the
// process: tasks are handed to it through a queue and a curl_multi_wakeup,
// and each completion runs on it. Because the multi handle owns the
// connection cache, sequential requests to one server reuse their
// connection, and easy handles are recycled so a request costs no setup
// beyond its own options.
//
// Exit: the session state is never destroyed (late callers stay safe); a
// function-local guard, created after libcurl's global initialisation (so it
// runs before OpenSSL's own exit handler), stops the thread, cancels what is
// still in flight and frees every libcurl handle.
#include <qn/net/url_session.h>

#include <qn/host/entity_helper.h>
#include <qn/host/log.h>

#include "core/ascii.h"
#include "host/internal.h"
#include "host/paths.h"
#include "host/url.h"
#include "net/redirect.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace qn {

namespace {

using internal::equalsIgnoringASCIICase;

StringView trimmed(StringView text) noexcept {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return text;
}

// Header text goes onto the wire as one line: CR and LF would let a value
// smuggle in fields or a second request.
std::string headerLineText(StringView text) {
    std::string out = toUtf8(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

bool isHeaderName(const std::string& name) noexcept {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= 32 || c >= 127 || c == ':' || c == ';') return false;
    }
    return true;
}

}  // namespace

// --- Request and response -----------------------------------------------------

std::optional<String> QNURLRequest::valueForHTTPHeaderField(StringView field) const {
    for (const auto& [name, value] : headers_) {
        if (equalsIgnoringASCIICase(name, field)) return value;
    }
    return std::nullopt;
}

void QNURLRequest::setValueForHTTPHeaderField(StringView value, StringView field) {
    for (auto& [name, existing] : headers_) {
        if (equalsIgnoringASCIICase(name, field)) {
            existing = String(value);
            return;
        }
    }
    headers_.emplace_back(String(field), String(value));
}

void QNURLRequest::removeValueForHTTPHeaderField(StringView field) {
    std::erase_if(headers_, [field](const auto& header) {
        return equalsIgnoringASCIICase(header.first, field);
    });
}

std::optional<String> QNURLResponse::valueForHTTPHeaderField(StringView field) const {
    for (const auto& [name, value] : headers) {
        if (equalsIgnoringASCIICase(name, field)) return value;
    }
    return std::nullopt;
}

std::optional<String> QNURLResponse::textEncodingName() const {
    auto contentType = valueForHTTPHeaderField(u"Content-Type");
    if (!contentType) return std::nullopt;
    StringView rest(*contentType);
    // Parameters follow the media type, separated by ";".
    std::size_t semicolon = rest.find(u';');
    while (semicolon != StringView::npos) {
        rest.remove_prefix(semicolon + 1);
        semicolon = rest.find(u';');
        StringView parameter = trimmed(rest.substr(0, semicolon));
        std::size_t equals = parameter.find(u'=');
        if (equals == StringView::npos) continue;
        if (!equalsIgnoringASCIICase(trimmed(parameter.substr(0, equals)), u"charset")) continue;
        StringView value = trimmed(parameter.substr(equals + 1));
        if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
            value = value.substr(1, value.size() - 2);
        if (value.empty()) return std::nullopt;
        return String(value);
    }
    return std::nullopt;
}

QNURLError QNURLError::withCode(std::int64_t code) {
    const char* text;
    switch (code) {
        case -999:
            text = "The request was cancelled.";
            break;
        case -1000:
            text = "The URL is not valid.";
            break;
        case -1001:
            text = "The request timed out.";
            break;
        case -1002:
            text = "The URL's scheme is not supported.";
            break;
        case -1003:
            text = "The server's host name could not be resolved.";
            break;
        case -1004:
            text = "Could not connect to the server.";
            break;
        case -1005:
            text = "The network connection was lost.";
            break;
        case -1007:
            text = "There were too many redirects.";
            break;
        case -1009:
            text = "The network is not available.";
            break;
        case -1022:
            text = "The server redirected a secure request to an insecure URL.";
            break;
        case -1200:
            text = "A secure connection to the server could not be made.";
            break;
        case -1202:
            text = "The server's certificate is not valid.";
            break;
        default:
            text = "An unknown network error occurred.";
            break;
    }
    return QNURLError{code, asciiString(text)};
}

QNURLSessionDataTask::~QNURLSessionDataTask() = default;

namespace {

constexpr std::int64_t kCancelled = -999;

// libcurl's result to the URL error of the same meaning (transport errors
// only: an HTTP error status is a response, not an error).
std::int64_t urlErrorCode(CURLcode code) noexcept {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return -1000;
        case CURLE_OPERATION_TIMEDOUT:
            return -1001;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return -1003;
        case CURLE_COULDNT_CONNECT:
            return -1004;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return -1005;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return -1200;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return -1202;
        case CURLE_ABORTED_BY_CALLBACK:
            return kCancelled;
        default:
            return -1;
    }
}

QNURLError urlError(CURLcode code, const char* detail) {
    QNURLError error = QNURLError::withCode(urlErrorCode(code));
    // An unmapped failure keeps libcurl's own words, the only clue there is.
    if (error.code == -1) {
        std::string text = detail && *detail ? detail : curl_easy_strerror(code);
        error.localizedDescription.pop_back();  // the full stop
        error.localizedDescription += u": " + fromUtf8(text) + u".";
    }
    return error;
}

class SessionTask;

// Set on the transfer thread: a synchronous read there would wait for itself.
thread_local bool tOnTransferThread = false;

// The process's transfer engine. Never destroyed; see the file comment.
class Engine {
public:
    enum class Op { Start, Cancel };

    static Engine& shared() {
        static auto* engine = new Engine();
        return *engine;
    }

    void enqueue(std::shared_ptr<SessionTask> task, Op op);
    void shutdown();

private:
    Engine() = default;

    bool ensureStartedLocked();
    bool awaitOps();
    void run();
    void start(const std::shared_ptr<SessionTask>& task);
    void cancel(const std::shared_ptr<SessionTask>& task);
    void finish(SessionTask* task, CURLcode code);
    // A handle that has used the cookie store keeps sending its cookies
    // after curl_easy_reset, so it goes back to a pool of its own: a request
    // that must not carry cookies never gets one.
    CURL* takeEasyHandle(bool cookies);
    void recycle(CURL* easy, bool cookies);
    void complete(const std::shared_ptr<SessionTask>& task, Bytes data,
                  std::optional<QNURLResponse> response, std::optional<QNURLError> error);

    std::mutex mutex_;
    bool started_ = false;
    bool stopping_ = false;
    CURLM* multi_ = nullptr;
    // The session's cookie store, shared by the easy handles that handle
    // cookies. Only the transfer thread uses those handles, so the share
    // needs no lock callbacks.
    CURLSH* share_ = nullptr;
    std::thread thread_;
    std::deque<std::pair<std::shared_ptr<SessionTask>, Op>> ops_;
    // Threads between queueing an op and finishing its curl_multi_wakeup.
    std::atomic<int> wakers_{0};
    // Set (under the lock) while ops_ is not empty; read without it.
    std::atomic<bool> hasOps_{false};
    // The transfer thread is watching hasOps_ instead of sleeping.
    std::atomic<bool> watching_{false};

    // Transfer thread only.
    std::unordered_map<SessionTask*, std::shared_ptr<SessionTask>> active_;
    std::vector<CURL*> idleHandles_;
    std::vector<CURL*> idleCookieHandles_;
};

class SessionTask final : public QNURLSessionDataTask,
                          public std::enable_shared_from_this<SessionTask> {
public:
    SessionTask(QNURLRequest request, Completion completion)
        : request_(std::move(request)), completion_(std::move(completion)) {}
    ~SessionTask() override { curl_slist_free_all(headerList); }

    void resume() override {
        if (resumed_.exchange(true)) return;
        Engine::shared().enqueue(shared_from_this(), Engine::Op::Start);
    }
    void cancel() override {
        if (cancelRequested_.exchange(true)) return;
        Engine::shared().enqueue(shared_from_this(), Engine::Op::Cancel);
    }
    const QNURLRequest& originalRequest() const noexcept override { return request_; }
    // The request on the wire now: the original one, or where the last
    // redirect led.
    const QNURLRequest& currentRequest() const noexcept {
        return redirected ? *redirected : request_;
    }

    // True for exactly one caller: the one that runs the completion.
    bool claimCompletion() noexcept { return !completed_.exchange(true); }
    bool isCompleted() const noexcept { return completed_.load(); }
    Completion takeCompletion() { return std::move(completion_); }

    // Transfer thread only.
    CURL* easy = nullptr;
    bool easyHandlesCookies = false;
    curl_slist* headerList = nullptr;
    std::optional<QNURLRequest> redirected;
    int redirects = 0;
    // Set when the first request starts; redirects share its time.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    Bytes received;
    std::vector<std::pair<String, String>> responseHeaders;
    std::array<char, CURL_ERROR_SIZE> errorText{};
    std::string urlText;
    std::string methodText;

private:
    QNURLRequest request_;
    Completion completion_;
    std::atomic<bool> resumed_{false};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> completed_{false};
};

// Stops the transfer thread at exit (see the file comment).
struct ShutdownGuard {
    ~ShutdownGuard() { Engine::shared().shutdown(); }
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* task = static_cast<SessionTask*>(user);
    const std::size_t n = size * count;
    const std::size_t limit = task->originalRequest().maximumBodyLength();
    // Returning less than was offered makes libcurl stop with a write error.
    if (limit != 0 && n > limit - std::min(limit, task->received.size())) return 0;
    task->received.insert(task->received.end(), data, data + n);
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* task = static_cast<SessionTask*>(user);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {
        // A new status line starts a new header block (after an interim
        // 1xx answer); only the final block describes the response.
        task->responseHeaders.clear();
    } else if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        // An obsolete folded line continues the previous value.
        if (!task->responseHeaders.empty()) {
            task->responseHeaders.back().second += u' ';
            task->responseHeaders.back().second += String(trimmed(fromUtf8(line)));
        }
    } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
        String name = fromUtf8(line.substr(0, colon));
        String value(trimmed(fromUtf8(line.substr(colon + 1))));
        task->responseHeaders.emplace_back(std::move(name), std::move(value));
    }
    return n;
}

bool Engine::ensureStartedLocked() {
    if (started_) return multi_ != nullptr;
    started_ = true;
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return false;
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    if (!multi_ || !share_ ||
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
        if (share_) curl_share_cleanup(share_);
        if (multi_) curl_multi_cleanup(multi_);
        share_ = nullptr;
        multi_ = nullptr;
        return false;
    }
    // Idle connections kept for reuse, and a per-server cap (as browsers
    // have) so a burst of tasks queues instead of flooding one server.
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 64L);
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::exception&) {
        curl_multi_cleanup(multi_);
        curl_share_cleanup(share_);
        multi_ = nullptr;
        share_ = nullptr;
        return false;
    }
    static ShutdownGuard guard;
    return true;
}

void Engine::enqueue(std::shared_ptr<SessionTask> task, Op op) {
    bool queued = false;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!stopping_ && ensureStartedLocked()) {
            // A non-empty queue already has its wakeup on the way, and a
            // watching transfer thread needs none. hasOps_ is stored before
            // watching_ is read, and the watcher reads hasOps_ again after
            // it stops watching: one of the two always sees the other.
            const bool wasEmpty = ops_.empty();
            ops_.emplace_back(task, op);
            hasOps_.store(true);
            wake = wasEmpty && !watching_.load();
            queued = true;
            if (wake) ++wakers_;
        }
    }
    if (wake) {
        // Outside the lock, so the woken thread does not block on it; the
        // thread keeps the multi handle alive until every waker is done.
        curl_multi_wakeup(multi_);
        --wakers_;
    }
    if (queued) return;
    // No transfer thread (stopped at exit, or it could not start): the task
    // ends here, cancelled, on the calling thread.
    complete(task, {}, std::nullopt, QNURLError::withCode(kCancelled));
}

void Engine::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        if (!thread_.joinable()) return;
        curl_multi_wakeup(multi_);
    }
    // exit() called from a completion runs this on the transfer thread itself.
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

CURL* Engine::takeEasyHandle(bool cookies) {
    std::vector<CURL*>& pool = cookies ? idleCookieHandles_ : idleHandles_;
    if (!pool.empty()) {
        CURL* easy = pool.back();
        pool.pop_back();
        return easy;
    }
    return curl_easy_init();
}

void Engine::recycle(CURL* easy, bool cookies) {
    if (!easy) return;
    constexpr std::size_t kMaxIdleHandles = 16;
    std::vector<CURL*>& pool = cookies ? idleCookieHandles_ : idleHandles_;
    if (pool.size() < kMaxIdleHandles) {
        // curl_easy_reset keeps the list of cookie files (and would leak
        // it); this frees it and detaches the store, leaving the share.
        if (cookies) curl_easy_setopt(easy, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
        curl_easy_reset(easy);
        pool.push_back(easy);
    } else {
        curl_easy_cleanup(easy);
    }
}

void Engine::complete(const std::shared_ptr<SessionTask>& task, Bytes data,
                      std::optional<QNURLResponse> response, std::optional<QNURLError> error) {
    if (!task->claimCompletion()) return;
    auto completion = task->takeCompletion();
    if (!completion) return;
    try {
        completion(std::move(data), std::move(response), std::move(error));
    } catch (const std::exception& e) {
        QNLog::loggerService()->logMessage(
            u"URL session: a completion handler threw: " + fromUtf8(e.what()), QNLogTypeNetwork,
            QNLogLevelError);
    } catch (...) {
        QNLog::loggerService()->logMessage(u"URL session: a completion handler threw",
                                           QNLogTypeNetwork, QNLogLevelError);
    }
}

void Engine::start(const std::shared_ptr<SessionTask>& task) {
    if (task->isCompleted()) return;
    const QNURLRequest& request = task->currentRequest();
    // A Cookie field of the caller's own is the whole truth: libcurl would
    // send the stored cookies in a second Cookie line beside it.
    const bool cookies =
        request.httpShouldHandleCookies() && !request.valueForHTTPHeaderField(u"Cookie");
    CURL* easy = takeEasyHandle(cookies);
    if (!easy) {
        complete(task, {}, std::nullopt, urlError(CURLE_OUT_OF_MEMORY, nullptr));
        return;
    }
    task->easyHandlesCookies = cookies;
    curl_slist_free_all(task->headerList);
    task->headerList = nullptr;
    task->urlText = toUtf8(request.url());
    task->methodText = toUtf8(request.httpMethod());
    if (task->methodText.empty()) task->methodText = "GET";

    curl_easy_setopt(easy, CURLOPT_PRIVATE, task.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, task->errorText.data());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Only the web: a file:// or other scheme must never reach local files
    // or other protocols through a URL the application was handed.
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    if (cookies) {
        // The session's store; the empty file name turns the engine on
        // without reading any file.
        curl_easy_setopt(easy, CURLOPT_SHARE, share_);
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }
    using Clock = std::chrono::steady_clock;
    if (!task->deadline) {
        double seconds = request.timeoutInterval();
        if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 60;
        seconds = std::min(seconds, 2147483.0);
        task->deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(seconds));
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*task->deadline - Clock::now()).count();
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::clamp<decltype(left)>(left, 1, 2147483647)));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, task.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, task.get());

    bool hasContentType = false;
    bool hasExpect = false;
    for (const auto& [name, value] : request.allHTTPHeaderFields()) {
        std::string field = headerLineText(name);
        if (!isHeaderName(field)) continue;
        hasContentType = hasContentType || equalsIgnoringASCIICase(name, u"Content-Type");
        hasExpect = hasExpect || equalsIgnoringASCIICase(name, u"Expect");
        std::string text = headerLineText(value);
        // "Name;" is libcurl's spelling of a field sent with an empty value
        // ("Name:" would remove the field instead).
        std::string line = text.empty() ? field + ";" : field + ": " + text;
        task->headerList = curl_slist_append(task->headerList, line.c_str());
    }

    const auto& body = request.httpBody();
    const std::string& method = task->methodText;
    // Without a length, a request of a method that carries content leaves
    // servers waiting for a body that never comes (or answering 411):
    // "Content-Length: 0" says there is none.
    const bool sayEmpty = !body && (method == "POST" || method == "PUT" || method == "PATCH");
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (body || sayEmpty) {
        const bool empty = !body || body->empty();
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(empty ? 0 : body->size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS,
                         empty ? "" : reinterpret_cast<const char*>(body->data()));
        if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        // libcurl would add a form Content-Type of its own, and an Expect
        // that costs a round trip on large bodies.
        if (!hasContentType)
            task->headerList = curl_slist_append(task->headerList, "Content-Type:");
        if (!hasExpect) task->headerList = curl_slist_append(task->headerList, "Expect:");
    } else if (method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task->headerList);

    // CURLOPT_URL fails only for texts libcurl cannot store; a malformed URL
    // surfaces from the transfer as CURLE_URL_MALFORMAT.
    CURLcode set = curl_easy_setopt(easy, CURLOPT_URL, task->urlText.c_str());
    if (set != CURLE_OK || curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        recycle(easy, cookies);
        complete(task, {}, std::nullopt,
                 urlError(set != CURLE_OK ? set : CURLE_FAILED_INIT, nullptr));
        return;
    }
    task->easy = easy;
    active_.emplace(task.get(), task);
}

void Engine::cancel(const std::shared_ptr<SessionTask>& task) {
    if (task->isCompleted()) return;
    if (task->easy) {
        curl_multi_remove_handle(multi_, task->easy);
        recycle(task->easy, task->easyHandlesCookies);
        task->easy = nullptr;
        active_.erase(task.get());
    }
    complete(task, {}, std::nullopt, QNURLError::withCode(kCancelled));
}

void Engine::finish(SessionTask* raw, CURLcode code) {
    auto found = active_.find(raw);
    if (found == active_.end()) return;
    std::shared_ptr<SessionTask> task = std::move(found->second);
    active_.erase(found);
    CURL* easy = task->easy;
    task->easy = nullptr;

    std::optional<QNURLResponse> response;
    std::optional<QNURLError> error;
    Bytes data;
    long status = 0;
    char* location = nullptr;
    if (code == CURLE_OK) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        // libcurl resolves the Location field against the URL it answered.
        if (internal::isFollowedRedirect(status))
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    }
    if (location) {
        auto next = internal::requestForRedirect(task->currentRequest(), status, fromUtf8(location),
                                                 task->redirects);
        curl_multi_remove_handle(multi_, easy);
        recycle(easy, task->easyHandlesCookies);
        if (auto* failure = std::get_if<QNURLError>(&next)) {
            Bytes().swap(task->received);
            complete(task, {}, std::nullopt, std::move(*failure));
            return;
        }
        // The redirect's own answer is not the response: only the last one is.
        ++task->redirects;
        task->redirected = std::move(std::get<QNURLRequest>(next));
        task->received.clear();
        task->responseHeaders.clear();
        task->errorText[0] = '\0';
        start(task);
        return;
    }
    if (code == CURLE_OK) {
        QNURLResponse r;
        r.statusCode = status;
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        r.url = effective ? fromUtf8(effective) : task->currentRequest().url();
        r.headers = std::move(task->responseHeaders);
        response = std::move(r);
        data = std::move(task->received);
    } else {
        // What arrived before a failure is no response: it is not handed out.
        error = urlError(code, task->errorText.data());
        Bytes().swap(task->received);
    }
    curl_multi_remove_handle(multi_, easy);
    recycle(easy, task->easyHandlesCookies);
    complete(task, std::move(data), std::move(response), std::move(error));
}

bool Engine::awaitOps() {
    constexpr auto kWatch = std::chrono::microseconds(50);
    watching_.store(true);
    const auto until = std::chrono::steady_clock::now() + kWatch;
    bool arrived = false;
    while (!(arrived = hasOps_.load()) && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    watching_.store(false);
    return arrived || hasOps_.load();
}

void Engine::run() {
    tOnTransferThread = true;
    std::deque<std::pair<std::shared_ptr<SessionTask>, Op>> ops;
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
            ops.swap(ops_);
            hasOps_.store(false);
        }
        for (auto& [task, op] : ops) {
            if (op == Op::Start) {
                start(task);
            } else {
                cancel(task);
            }
        }
        ops.clear();

        int running = 0;
        curl_multi_perform(multi_, &running);
        int queued = 0;
        bool finished = false;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            void* task = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &task);
            finish(static_cast<SessionTask*>(task), message->data.result);
            finished = true;
        }
        // A caller that just got its response often sends the next request
        // at once: a short watch for it saves a sleep and a wakeup per
        // request in a sequence.
        if (finished && active_.empty() && awaitOps()) continue;
        // Returns early for socket activity, libcurl's own timers, or a
        // wakeup from enqueue() and shutdown().
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }

    // Stopping: nothing more is queued (enqueue() sees stopping_ under the
    // lock), so every task still known ends here, cancelled.
    {
        std::lock_guard lock(mutex_);
        ops.swap(ops_);
    }
    // A waker may still be inside curl_multi_wakeup on this multi handle.
    while (wakers_.load() > 0)
        std::this_thread::yield();
    for (auto& [task, op] : ops) {
        complete(task, {}, std::nullopt, QNURLError::withCode(kCancelled));
    }
    ops.clear();
    auto active = std::move(active_);
    for (auto& [raw, task] : active) {
        curl_multi_remove_handle(multi_, task->easy);
        curl_easy_cleanup(task->easy);
        task->easy = nullptr;
        complete(task, {}, std::nullopt, QNURLError::withCode(kCancelled));
    }
    active.clear();
    for (auto* pool : {&idleHandles_, &idleCookieHandles_}) {
        for (CURL* easy : *pool)
            curl_easy_cleanup(easy);
        pool->clear();
    }
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
    // Every handle that used the share is gone.
    curl_share_cleanup(share_);
    share_ = nullptr;
    curl_global_cleanup();
}

}  // namespace

// --- Session ------------------------------------------------------------------

struct QNURLSession::Impl {};

QNURLSession::QNURLSession() : d_(std::make_unique<Impl>()) {}
QNURLSession::~QNURLSession() = default;

QNURLSession& QNURLSession::qnSharedSession() {
    // Never destroyed: completions may still reach it while the process exits.
    static auto* session = new QNURLSession();
    return *session;
}

std::shared_ptr<QNURLSessionDataTask> QNURLSession::dataTaskWithRequestCompletionHandler(
    QNURLRequest request, QNURLSessionDataTask::Completion completion) {
    return std::make_shared<SessionTask>(std::move(request), std::move(completion));
}

std::shared_ptr<QNURLSessionDataTask>
QNURLSession::qnDataTaskWaitingForPermissionWithRequestCompletionHandlerOnRetryWaitingTaskCreated(
    QNURLRequest request, QNURLSessionDataTask::Completion completion,
    std::function<void(const std::shared_ptr<QNURLSessionDataTask>&,
                       const std::shared_ptr<QNURLSessionDataTask>&)>) {
    return dataTaskWithRequestCompletionHandler(std::move(request), std::move(completion));
}

// --- MIME types, encodings ------------------------------------------------------

std::optional<String> mimeTypeForPathExtension(StringView extension) {
    struct Entry {
        const char* extension;
        const char* type;
    };
    // Sorted by extension for the binary search below.
    static constexpr Entry kTypes[] = {
        {"7z", "application/x-7z-compressed"},
        {"aac", "audio/aac"},
        {"avi", "video/x-msvideo"},
        {"bmp", "image/bmp"},
        {"css", "text/css"},
        {"csv", "text/csv"},
        {"doc", "application/msword"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"epub", "application/epub+zip"},
        {"flac", "audio/flac"},
        {"gif", "image/gif"},
        {"gz", "application/gzip"},
        {"heic", "image/heic"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"ico", "image/vnd.microsoft.icon"},
        {"ics", "text/calendar"},
        {"jpeg", "image/jpeg"},
        {"jpg", "image/jpeg"},
        {"js", "text/javascript"},
        {"json", "application/json"},
        {"m4a", "audio/mp4"},
        {"m4v", "video/x-m4v"},
        {"md", "text/markdown"},
        {"mid", "audio/midi"},
        {"midi", "audio/midi"},
        {"mjs", "text/javascript"},
        {"mov", "video/quicktime"},
        {"mp3", "audio/mpeg"},
        {"mp4", "video/mp4"},
        {"mpeg", "video/mpeg"},
        {"mpg", "video/mpeg"},
        {"odp", "application/vnd.oasis.opendocument.presentation"},
        {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
        {"odt", "application/vnd.oasis.opendocument.text"},
        {"oga", "audio/ogg"},
        {"ogg", "audio/ogg"},
        {"ogv", "video/ogg"},
        {"otf", "font/otf"},
        {"pdf", "application/pdf"},
        {"png", "image/png"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"rar", "application/vnd.rar"},
        {"rtf", "application/rtf"},
        {"svg", "image/svg+xml"},
        {"tar", "application/x-tar"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"ttf", "font/ttf"},
        {"txt", "text/plain"},
        {"wav", "audio/wav"},
        {"weba", "audio/webm"},
        {"webm", "video/webm"},
        {"webp", "image/webp"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"xhtml", "application/xhtml+xml"},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"xml", "application/xml"},
        {"zip", "application/zip"},
    };
    if (!extension.empty() && extension.front() == u'.') extension.remove_prefix(1);
    if (extension.empty() || extension.size() > 8) return std::nullopt;
    std::string key;
    for (char16_t c : extension) {
        if (c >= 128) return std::nullopt;
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    auto it =
        std::lower_bound(std::begin(kTypes), std::end(kTypes), key,
                         [](const Entry& e, const std::string& k) { return e.extension < k; });
    if (it == std::end(kTypes) || it->extension != key) return std::nullopt;
    return asciiString(it->type);
}

String mimeTypeApplicationOctetStream() {
    return u"application/octet-stream";
}

StringEncoding qnStringEncodingFromURLResponse(const QNURLResponse& response) {
    if (auto name = response.textEncodingName()) {
        if (auto encoding = QNUtilities::stringEncodingFromCharsetString(*name)) return *encoding;
    }
    return StringEncoding::utf8();
}

// --- Whole contents of a URL ---------------------------------------------------------

std::optional<Bytes> dataWithContentsOfURL(StringView url, std::size_t maximumLength) {
    String target(url);
    if (auto converted = QNEntityHelper::convertQNSchemeAbsoluteURL(url)) target = *converted;
    if (auto path = internal::pathOfFileURL(target)) {
        if (path->empty()) return std::nullopt;
        // Resources are read whole; the bound keeps a wrong URL from exhausting memory.
        auto bytes = internal::readFile(internal::toSystemPath(*path), maximumLength);
        if (!bytes) return std::nullopt;
        return Bytes(bytes->begin(), bytes->end());
    }
    if (tOnTransferThread) return std::nullopt;
    auto done = std::make_shared<std::promise<std::optional<Bytes>>>();
    auto result = done->get_future();
    QNURLRequest request = QNApplicationHelper::requestWithURL(target);
    request.setMaximumBodyLength(std::max<std::size_t>(maximumLength, 1));
    auto task = QNURLSession::qnSharedSession().dataTaskWithRequestCompletionHandler(
        std::move(request),
        [done](Bytes data, std::optional<QNURLResponse> response, std::optional<QNURLError> error) {
            const bool ok =
                !error && response && response->statusCode >= 200 && response->statusCode < 300;
            done->set_value(ok ? std::optional<Bytes>(std::move(data)) : std::nullopt);
        });
    task->resume();
    return result.get();
}

// --- Network log ----------------------------------------------------------------

namespace {

std::atomic<bool>& networkLogEnabled() {
    static std::atomic<bool> enabled{false};
    return enabled;
}

// Credentials never reach the log: the scheme word stays, the rest is masked.
String loggedHeaderValue(StringView name, StringView value) {
    if (!equalsIgnoringASCIICase(name, u"Authorization") &&
        !equalsIgnoringASCIICase(name, u"Proxy-Authorization"))
        return String(value);
    std::size_t space = value.find(u' ');
    String masked = space == StringView::npos ? String() : String(value.substr(0, space + 1));
    return masked + u"********";
}

}  // namespace

void QNNetworkLog::setEnabled(bool enabled) noexcept {
    networkLogEnabled().store(enabled);
}

bool QNNetworkLog::isEnabled() noexcept {
    return networkLogEnabled().load();
}

void QNNetworkLog::logURLRequestIfEnabled(const QNURLRequest& request) {
    if (!isEnabled()) return;
    String text = u"HTTP request: " + request.httpMethod() + u" " + request.url();
    for (const auto& [name, value] : request.allHTTPHeaderFields())
        text += u"\n\t" + name + u": " + loggedHeaderValue(name, value);
    QNLog::loggerService()->logMessage(text, QNLogTypeNetwork, QNLogLevelInfo);
}

void QNNetworkLog::logURLResponseIfEnabledRequestData(const QNURLResponse& response,
                                                      const QNURLRequest& request,
                                                      const Bytes& data) {
    if (!isEnabled()) return;
    const String& url = response.url.empty() ? request.url() : response.url;
    String text = u"HTTP response: " + asciiString(std::to_string(response.statusCode)) + u" " +
                  url + u" (" + asciiString(std::to_string(data.size())) + u" bytes)";
    QNLog::loggerService()->logMessage(text, QNLogTypeNetwork, QNLogLevelInfo);
}

// --- Application helper ------------------------------------------------------------

QNURLRequest QNApplicationHelper::requestWithURL(StringView url) {
    return QNURLRequest(String(url));
}

}  // namespace qn
