// The host's HTTP transport: a request and response as plain values, and one
// process-wide session that runs data tasks on a library-owned transfer
// thread (libcurl's multi interface), calling each completion on that thread.
//
// TLS certificate and host-name verification are always on; a task never
// outlives its timeout, redirects included. Redirects (301, 302, 303, 307,
// 308) are followed, at most ten per task, as browsers follow them: never
// from https to http, and never with the caller's credentials to another
// server. Only http and https URLs are loaded. Cookies live in one in-memory
// store for the session. Connections are kept for reuse, at most six at a
// time per server (further tasks wait their turn).
//
// Thread-safe: tasks may be created, started and cancelled from any thread.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/utilities.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qn {

// A request about to be sent. Header fields keep their first spelling and
// order; setting a field again (any letter case) replaces its value.
class QN_API QNURLRequest {
public:
    QNURLRequest() = default;
    explicit QNURLRequest(String url) : url_(std::move(url)) {}

    const String& url() const noexcept { return url_; }
    void setURL(String url) { url_ = std::move(url); }
    const String& httpMethod() const noexcept { return method_; }
    void setHTTPMethod(String method) { method_ = std::move(method); }
    double timeoutInterval() const noexcept { return timeout_; }
    void setTimeoutInterval(double seconds) noexcept { timeout_ = seconds; }
    // A response body longer than this ends the transfer with an error
    // (nothing is handed out); 0, the default, sets no limit.
    std::size_t maximumBodyLength() const noexcept { return maxBody_; }
    void setMaximumBodyLength(std::size_t bytes) noexcept { maxBody_ = bytes; }
    // Absent: no body. A POST, PUT or PATCH without one still carries
    // "Content-Length: 0", which servers need to know nothing follows.
    const std::optional<Bytes>& httpBody() const noexcept { return body_; }
    void setHTTPBody(std::optional<Bytes> body) { body_ = std::move(body); }
    // On (the default): the session's stored cookies for the URL go out with
    // the request, and the cookies its answers set are stored. A request
    // with a Cookie field of its own is left as it is either way.
    bool httpShouldHandleCookies() const noexcept { return handleCookies_; }
    void setHTTPShouldHandleCookies(bool handle) noexcept { handleCookies_ = handle; }

    std::optional<String> valueForHTTPHeaderField(StringView field) const;
    void setValueForHTTPHeaderField(StringView value, StringView field);
    void removeValueForHTTPHeaderField(StringView field);
    const std::vector<std::pair<String, String>>& allHTTPHeaderFields() const noexcept {
        return headers_;
    }

private:
    String url_;
    String method_ = u"GET";
    double timeout_ = 60;
    std::size_t maxBody_ = 0;
    bool handleCookies_ = true;
    std::optional<Bytes> body_;
    std::vector<std::pair<String, String>> headers_;
};

// What a server answered.
struct QN_API QNURLResponse {
    // Where the answer came from: after redirects, the last URL.
    String url;
    std::int64_t statusCode = 0;
    // In arrival order; a repeated field keeps each value.
    std::vector<std::pair<String, String>> headers;
    // The first value of a field (any letter case).
    std::optional<String> valueForHTTPHeaderField(StringView field) const;
    // The charset the Content-Type declares, as written ("utf-8"); absent
    // when it declares none.
    std::optional<String> textEncodingName() const;
};

// A transport failure: a code and a description ("Could not connect to the
// server.", "The request timed out.", ...). Codes follow the usual URL
// loading codes: -1000 bad URL, -1001 timed out, -1002 unsupported URL,
// -1003 cannot find host, -1004 cannot connect, -1005 connection lost,
// -1007 too many redirects, -1009 not connected, -1022 redirected from https
// to http, -1200 secure connection failed, -1202 bad server certificate,
// -999 cancelled, -1 unknown.
struct QN_API QNURLError {
    std::int64_t code = 0;
    String localizedDescription;
    // The error of a code, with its standard description.
    static QNURLError withCode(std::int64_t code);
};

class QN_API QNURLSessionDataTask {
public:
    using Completion = std::function<void(Bytes data, std::optional<QNURLResponse> response,
                                          std::optional<QNURLError> error)>;
    virtual ~QNURLSessionDataTask();
    // Starts the transfer (once; later calls do nothing).
    virtual void resume() = 0;
    // Ends the transfer; the completion runs with the cancelled error (-999)
    // unless it already ran.
    virtual void cancel() = 0;
    virtual const QNURLRequest& originalRequest() const noexcept = 0;
};

class QN_API QNURLSession {
public:
    // The process-wide session (its transfer thread starts on first use).
    static QNURLSession& qnSharedSession();

    // A task for the request; the completion runs once, on the transfer thread
    // (keep it short: every other transfer waits while it runs).
    std::shared_ptr<QNURLSessionDataTask> dataTaskWithRequestCompletionHandler(
        QNURLRequest request, QNURLSessionDataTask::Completion completion);
    // The same through the host's permission and retry policy: when the policy
    // holds the request back and replaces its task, `onRetryWaitingTaskCreated`
    // gets (old task, new task) and must start the new one. This host has no
    // such policy: the task is returned as is and the callback never runs.
    std::shared_ptr<QNURLSessionDataTask>
    qnDataTaskWaitingForPermissionWithRequestCompletionHandlerOnRetryWaitingTaskCreated(
        QNURLRequest request, QNURLSessionDataTask::Completion completion,
        std::function<void(const std::shared_ptr<QNURLSessionDataTask>& oldTask,
                           const std::shared_ptr<QNURLSessionDataTask>& newTask)>
            onRetryWaitingTaskCreated);

    QNURLSession(const QNURLSession&) = delete;
    QNURLSession& operator=(const QNURLSession&) = delete;

    struct Impl;

private:
    QNURLSession();
    ~QNURLSession();
    std::unique_ptr<Impl> d_;
};

// The MIME type of a file extension ("png" "image/png"; any case); absent for
// an unknown one.
QN_API std::optional<String> mimeTypeForPathExtension(StringView extension);
// "application/octet-stream".
QN_API String mimeTypeApplicationOctetStream();
// The encoding of the charset a response declares; UTF-8 when it declares
// none or an unknown one.
QN_API StringEncoding qnStringEncodingFromURLResponse(const QNURLResponse& response);

// The whole content at a URL, read synchronously: a file URL (or a URL of a
// library scheme, converted to one), or an http/https URL fetched through
// the shared session with a 2xx answer. Absent when it cannot be read or is
// longer than `maximumLength` bytes. Not to be called on the session's
// transfer thread.
QN_API std::optional<Bytes> dataWithContentsOfURL(StringView url,
                                                  std::size_t maximumLength = std::size_t{1} << 30);

// HTTP traffic in the log (type 1, network), when enabled (off by default).
class QN_API QNNetworkLog {
public:
    static void setEnabled(bool enabled) noexcept;
    static bool isEnabled() noexcept;
    static void logURLRequestIfEnabled(const QNURLRequest& request);
    static void logURLResponseIfEnabledRequestData(const QNURLResponse& response,
                                                   const QNURLRequest& request, const Bytes& data);
};

// The host's request for the application's own server.
class QN_API QNApplicationHelper {
public:
    // A request for the URL with this host's settings for the application's
    // server (none beyond the defaults today).
    static QNURLRequest requestWithURL(StringView url);
};

}  // namespace qn
