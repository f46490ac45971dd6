// QNHttpClient: one request at a time through the shared URL session, with a
// semaphore as the response gate between the calling thread and the
// transfer thread.
//
// Ownership: the client owns its state through a shared_ptr; the completion
// of a request holds only a weak_ptr to it, so a client destroyed with a
// request in flight is never touched afterwards. The destructor cancels that
// request and returns without waiting for it.
#include <qn/core/containers.h>
#include <qn/core/datetime.h>
#include <qn/files/file_system_object.h>
#include <qn/host/dispatch.h>
#include <qn/host/log.h>
#include <qn/host/utilities.h>
#include <qn/net/http_client.h>
#include <qn/net/http_request.h>
#include <qn/net/url_session.h>
#include <qn/runtime/numbers.h>
#include <qn/runtime/strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "core/base64.h"
#include "files/files_internal.h"
#include "host/internal.h"
#include "host/url.h"

namespace qn {

QN_REGISTER_CLASS(QNHttpClient, Object)

QNHTTPClientDelegate::~QNHTTPClientDelegate() = default;

namespace {

constexpr std::int64_t kDefaultTimeoutSeconds = 30;
constexpr std::int64_t kBadURLErrorCode = -1000;

void consoleMessage(const String& text) {
    QNLog::loggerService()->logMessage(text, QNLogTypeNetwork, QNLogLevelInfo, true);
}

using internal::asciiLowercased;
using internal::asciiUppercased;
using internal::equalsIgnoringASCIICase;

void appendBytes(Bytes& out, std::string_view bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------------------
// URLs

// `text` read as a URL reference, with characters beyond ASCII escaped as
// UTF-8; absent when it is none (blanks and control characters make none).
std::optional<internal::URL> parseReference(StringView text) {
    const std::optional<String> escaped = internal::escapeNonASCII(text);
    return escaped ? internal::URL::parse(*escaped) : std::nullopt;
}

// The form a transport sends of a URL with a scheme and a host; absent for
// any other.
std::optional<internal::URL> transportURL(const internal::URL& url) {
    if (!url.scheme || !url.hasAuthority || url.host.empty()) return std::nullopt;
    return url.normalized();
}

// ---------------------------------------------------------------------------
// Bodies

// Text in the request's encoding. A text the encoding cannot hold (only a
// lone surrogate can fail UTF-8) is sent as UTF-8 rather than dropped.
std::string encodeForBody(StringView text, const StringEncoding& encoding) {
    if (auto bytes = internal::encodeText(text, encoding, false)) return std::move(*bytes);
    return toUtf8(text);
}

// The bytes of a file named by a body path or a file URL; absent when the
// file cannot be read.
std::optional<std::string> readBodyFile(StringView path) {
    const String plain = internal::pathOfFileURL(path).value_or(String(path));
    if (plain.empty()) return std::nullopt;
    std::filesystem::path systemPath = internal::toSystemPath(plain);
    if (systemPath.empty()) return std::nullopt;
    return internal::readFile(systemPath, std::numeric_limits<std::size_t>::max());
}

// The encoding the request's own Content-Type names (the one the request
// helper gave it); UTF-8 when it names none or an unknown one.
StringEncoding requestEncoding(const QNURLRequest& request) {
    if (auto contentType = request.valueForHTTPHeaderField(u"Content-Type")) {
        static constexpr StringView kCharset = u"charset=";
        std::size_t at = contentType->find(kCharset);
        if (at != String::npos) {
            StringView name = StringView(*contentType).substr(at + kCharset.size());
            if (auto encoding = QNUtilities::stringEncodingFromCharsetString(name))
                return *encoding;
        }
    }
    return StringEncoding::utf8();
}

}  // namespace

// ---------------------------------------------------------------------------
// QNHttpMultipartTemplate

namespace {

String newBoundary() {
    double seconds = std::floor(DateTime::now().timeIntervalSinceReferenceDate());
    String count =
        qnStringFromNumberTotalLengthDecimals(Value(static_cast<std::int64_t>(seconds)), 18, 0);
    return u"----------------------------" + qnStringByTrimming(count);
}

Bytes asciiBytes(const String& text) {
    Bytes out;
    out.reserve(text.size());
    for (char16_t c : text)
        out.push_back(static_cast<std::uint8_t>(c < 0x80 ? c : '?'));
    return out;
}

}  // namespace

QNHttpMultipartTemplate::QNHttpMultipartTemplate() : QNHttpMultipartTemplate(newBoundary()) {}

QNHttpMultipartTemplate::QNHttpMultipartTemplate(String boundary)
    : boundary_(std::move(boundary)),
      contentType_(u"multipart/form-data; boundary=" + boundary_),
      boundaryStart_(asciiBytes(u"\r\n--" + boundary_ + u"\r\n")),
      boundaryEnd_(asciiBytes(u"\r\n--" + boundary_ + u"--")) {}

String QNHttpMultipartTemplate::getHeaderTemplateWithValueVariableName(StringView value,
                                                                       StringView name) const {
    return u"Content-Disposition: form-data; name=\"" + String(name) + u"\";\r\n\r\n" +
           String(value);
}

String QNHttpMultipartTemplate::getHeaderTemplateWithFileNameVariableName(StringView fileName,
                                                                          StringView name) const {
    String extension = internal::pathExtension(fileName);
    String mime = mimeTypeForPathExtension(extension).value_or(mimeTypeApplicationOctetStream());
    return u"Content-Disposition: form-data; name=\"" + String(name) + u"\"; filename=\"" +
           internal::lastPathComponent(fileName) + u"\"\r\nContent-Type: " + mime + u"\r\n\r\n";
}

// ---------------------------------------------------------------------------
// QNHttpClient

struct QNHttpClient::Impl {
    // Configuration and pending parameters: the calling thread's alone.
    std::vector<std::pair<String, String>> headersToSend;  // names as given, in order
    Dictionary variablesToSend;
    std::vector<String> contentToSend;
    Dictionary filesToSend;
    std::shared_ptr<QNHttpMultipartTemplate> multipartTemplate;
    bool secure = false;
    bool includeCookies = false;
    std::weak_ptr<QNHTTPClientDelegate> delegate;
    String host;
    String baseURL;
    std::int64_t port = 0;
    std::int64_t timeout = kDefaultTimeoutSeconds;
    String reasonLine;
    std::optional<String> proxyServerHost;
    std::int64_t proxyServerPort = 0;
    String wsdlurl;

    // Shared with the completion on the transfer thread.
    mutable std::mutex mutex;
    Bytes data;
    std::optional<QNURLResponse> response;
    std::int64_t errCode = 0;
    String errDescription;
    std::shared_ptr<QNURLSessionDataTask> dataTask;
    // Which execution the current task belongs to, and whether its
    // completion has come: the gate is signalled once per execution.
    std::uint64_t generation = 0;
    bool completed = true;

    // Count 0 while a request is in flight, 1 once its response is in.
    // Created by the first execution; before it, getters answer at once.
    std::unique_ptr<std::counting_semaphore<>> gate;

    void setError(std::int64_t code, String description) {
        std::lock_guard lock(mutex);
        errCode = code;
        errDescription = std::move(description);
    }

    // Runs `read` once the response is in (see the getters).
    template <class Read>
    auto afterResponse(Read read) {
        if (gate && !qn_is_main_thread()) {
            gate->acquire();
            auto result = read();
            gate->release();
            return result;
        }
        return read();
    }

    static void complete(const std::weak_ptr<Impl>& weak, std::uint64_t generation, Bytes bytes,
                         std::optional<QNURLResponse> response, std::optional<QNURLError> error);

    // The execution's steps after its target: the body from the pending
    // parameters, then the request on its way once the previous response is
    // in (the pending parameters are cleared for the next execution).
    void attachBody(QNURLRequest& request);
    static void send(const std::shared_ptr<Impl>& self, QNURLRequest request);
};

void QNHttpClient::Impl::complete(const std::weak_ptr<Impl>& weak, std::uint64_t generation,
                                  Bytes bytes, std::optional<QNURLResponse> response,
                                  std::optional<QNURLError> error) {
    std::shared_ptr<Impl> self = weak.lock();
    if (!self) return;  // the client is gone: nothing of it may be touched
    std::shared_ptr<QNURLSessionDataTask> task;
    {
        std::lock_guard lock(self->mutex);
        if (generation != self->generation || self->completed) return;
        self->completed = true;
        self->data = std::move(bytes);
        self->response = std::move(response);
        if (error) {
            self->errCode = error->code;
            self->errDescription = error->localizedDescription;
        }
        task = self->dataTask;
    }
    if (!error && task && QNNetworkLog::isEnabled()) {
        std::lock_guard lock(self->mutex);
        if (self->response)
            QNNetworkLog::logURLResponseIfEnabledRequestData(*self->response,
                                                             task->originalRequest(), self->data);
    }
    // The gate exists: the execution that started this task made it first.
    self->gate->release();
}

QNHttpClient::QNHttpClient() : d_(std::make_shared<Impl>()) {}

QNHttpClient::~QNHttpClient() {
    std::shared_ptr<QNURLSessionDataTask> task;
    {
        std::lock_guard lock(d_->mutex);
        if (!d_->completed) task = d_->dataTask;
    }
    // Drop the state first: a completion that runs from here on finds no
    // client, even when cancel() calls it on this very thread.
    d_.reset();
    if (task) task->cancel();
}

const String& QNHttpClient::host() const noexcept {
    return d_->host;
}
void QNHttpClient::setHost(String host) {
    d_->host = std::move(host);
}
std::int64_t QNHttpClient::port() const noexcept {
    return d_->port;
}
void QNHttpClient::setPort(std::int64_t port) {
    d_->port = port;
}
bool QNHttpClient::secure() const noexcept {
    return d_->secure;
}
void QNHttpClient::setSecure(bool secure) {
    d_->secure = secure;
}
const String& QNHttpClient::baseURL() const noexcept {
    return d_->baseURL;
}
void QNHttpClient::setBaseURL(String baseURL) {
    d_->baseURL = std::move(baseURL);
}
std::int64_t QNHttpClient::timeout() const noexcept {
    return d_->timeout;
}
void QNHttpClient::setTimeout(std::int64_t seconds) {
    d_->timeout = seconds;
}
bool QNHttpClient::includeCookies() const noexcept {
    return d_->includeCookies;
}
void QNHttpClient::setIncludeCookies(bool include) {
    d_->includeCookies = include;
}
const std::optional<String>& QNHttpClient::proxyServerHost() const noexcept {
    return d_->proxyServerHost;
}
void QNHttpClient::setProxyServerHost(std::optional<String> host) {
    d_->proxyServerHost = std::move(host);
}
std::int64_t QNHttpClient::proxyServerPort() const noexcept {
    return d_->proxyServerPort;
}
void QNHttpClient::setProxyServerPort(std::int64_t port) {
    d_->proxyServerPort = port;
}
const String& QNHttpClient::wsdlurl() const noexcept {
    return d_->wsdlurl;
}
void QNHttpClient::setWsdlurl(String url) {
    d_->wsdlurl = std::move(url);
}
std::shared_ptr<QNHTTPClientDelegate> QNHttpClient::httpClientDelegate() const {
    return d_->delegate.lock();
}
void QNHttpClient::setHttpClientDelegate(const std::shared_ptr<QNHTTPClientDelegate>& delegate) {
    d_->delegate = delegate;
}
const String& QNHttpClient::reasonLine() const noexcept {
    return d_->reasonLine;
}
bool QNHttpClient::isMultipart() const noexcept {
    return d_->multipartTemplate != nullptr;
}

String QNHttpClient::scheme() const {
    return d_->secure ? u"https" : u"http";
}

String QNHttpClient::serverURLString() const {
    String scheme = this->scheme();
    String out = scheme + u"://" + d_->host;
    if (!portIsDefaultPortForScheme(d_->port, scheme))
        out += u":" + asciiString(std::to_string(d_->port));
    return out;
}

std::optional<String> QNHttpClient::serverURL() const {
    const std::optional<internal::URL> url = parseReference(serverURLString());
    return url ? std::optional(url->text()) : std::nullopt;
}

String QNHttpClient::url() const {
    return serverURLString() + d_->baseURL;
}

bool QNHttpClient::portIsDefaultPortForScheme(std::int64_t port, StringView scheme) {
    if (port == 0) return true;
    if (equalsIgnoringASCIICase(scheme, u"http")) return port == 80;
    if (equalsIgnoringASCIICase(scheme, u"https")) return port == 443;
    return false;
}

void QNHttpClient::setUrl(StringView text) {
    const std::optional<internal::URL> parsed = parseReference(text);
    const std::optional<internal::URL> url = parsed ? transportURL(*parsed) : std::nullopt;
    if (!url) {
        consoleMessage(u"Could not get URL form string: " + String(text));
        return;
    }
    setHost(url->host);
    setPort(url->port.value_or(0));
    // The path is what url() and relative executions put after the server
    // address, so keeping it there reaches the address that was set.
    setBaseURL(url->path);
    // The scheme as written: only an exact "https" makes the client secure.
    setSecure(parsed->scheme == u"https");
}

void QNHttpClient::addHeaderValue(StringView name, StringView value) {
    String stored(value);
    if (equalsIgnoringASCIICase(name, u"Content-Type") &&
        qnStartsWith(asciiLowercased(value), u"multipart/form-data")) {
        d_->multipartTemplate = std::make_shared<QNHttpMultipartTemplate>();
        stored = d_->multipartTemplate->contentType();
    }
    for (auto& [existing, existingValue] : d_->headersToSend) {
        if (existing == name) {
            existingValue = std::move(stored);
            return;
        }
    }
    d_->headersToSend.emplace_back(String(name), std::move(stored));
}

void QNHttpClient::addVariableValue(StringView name, StringView value) {
    d_->variablesToSend.set(String(name), Value(value));
}

void QNHttpClient::addString(std::optional<StringView> text) {
    if (text) d_->contentToSend.emplace_back(*text);
}

void QNHttpClient::addFile(StringView path) {
    addFileVariableName(path, asciiString(std::to_string(d_->filesToSend.size())));
}

void QNHttpClient::addFileVariableName(StringView path, StringView name) {
    d_->filesToSend.set(String(name), Value(path));
}

void QNHttpClient::addAuthenticationRealmNameValue(std::int64_t scheme, StringView /*realm*/,
                                                   StringView name, StringView value) {
    if (scheme != 0) return;
    String credentials = String(name) + u":" + String(value);
    addHeaderValue(u"Authorization",
                   u"Basic " + asciiString(internal::base64Encode(toUtf8(credentials))));
}

void QNHttpClient::addAuthentication(std::int64_t scheme, StringView realm, StringView name,
                                     StringView value) {
    addAuthenticationRealmNameValue(scheme == 1 || scheme == 2 ? scheme : 0, realm, name, value);
}

namespace {

// The URL an execution reaches: `urlText` itself when it is absolute, else
// resolved against the client's server address (below its base URL when it
// does not start with "/"). Absent, after logging why, when it is no URL.
std::optional<String> executionTarget(const QNHttpClient& client, StringView urlText) {
    std::optional<internal::URL> target;
    String composed;
    if (urlText.starts_with(u"http://") || urlText.starts_with(u"https://")) {
        composed = String(urlText);
        if (auto url = parseReference(composed)) target = transportURL(*url);
    } else {
        composed = urlText.starts_with(u"/") ? String(urlText) : client.baseURL() + String(urlText);
        const std::optional<String> serverURL = client.serverURL();
        const std::optional<internal::URL> server =
            serverURL ? internal::URL::parse(*serverURL) : std::nullopt;
        const std::optional<internal::URL> reference = parseReference(composed);
        if (server && reference && server->scheme)
            target = transportURL(server->resolve(*reference));
    }
    if (target) return target->text();
    const QNURLError error = QNURLError::withCode(kBadURLErrorCode);
    QNLog::loggerService()->logMessage(u"HttpClient: could not create URL: " +
                                           error.localizedDescription + u"\n\tServer URL: " +
                                           client.serverURLString() + u"\n\tURL Path: " + composed,
                                       QNLogTypeNetwork, QNLogLevelError, true);
    return std::nullopt;
}

}  // namespace

void QNHttpClient::executeUrl(StringView method, StringView urlText) {
    Impl& d = *d_;
    d.setError(0, String());
    if (qn_is_main_thread()) return;

    const std::optional<String> target = executionTarget(*this, urlText);
    if (!target) {
        // Nothing is sent: the parameters wait for the next execution.
        const QNURLError error = QNURLError::withCode(kBadURLErrorCode);
        d.setError(error.code, error.localizedDescription);
        return;
    }
    QNURLRequest request = QNHttpRequestHelper::mutableURLRequestForURL(*target);
    request.setTimeoutInterval(
        static_cast<double>(d.timeout >= 1 ? d.timeout : kDefaultTimeoutSeconds));
    String upper = asciiUppercased(method);
    request.setHTTPMethod(upper.empty() ? String(u"GET") : std::move(upper));

    if (auto delegate = d.delegate.lock()) addString(delegate->stringBodyForHTTPClient(*this));
    d.attachBody(request);
    for (const auto& [name, value] : d.headersToSend)
        request.setValueForHTTPHeaderField(value, name);
    if (!d.includeCookies) {
        request.setValueForHTTPHeaderField(u"", u"Cookie");
        request.setHTTPShouldHandleCookies(false);
    }

    Impl::send(d_, std::move(request));
}

void QNHttpClient::Impl::attachBody(QNURLRequest& request) {
    Impl& d = *this;
    StringEncoding encoding = requestEncoding(request);
    if (d.multipartTemplate) {
        const QNHttpMultipartTemplate& parts = *d.multipartTemplate;
        Bytes body;
        for (const auto& [name, value] : d.variablesToSend) {
            appendBytes(body, {reinterpret_cast<const char*>(parts.boundaryStart().data()),
                               parts.boundaryStart().size()});
            appendBytes(body,
                        encodeForBody(parts.getHeaderTemplateWithValueVariableName(
                                          QNUtilities::urlSimpleEscapeString(value.asString()),
                                          QNUtilities::urlSimpleEscapeString(name)),
                                      encoding));
        }
        for (const auto& [name, path] : d.filesToSend) {
            auto bytes = readBodyFile(path.asString());
            if (!bytes) continue;  // an unreadable file contributes no part
            appendBytes(body, {reinterpret_cast<const char*>(parts.boundaryStart().data()),
                               parts.boundaryStart().size()});
            appendBytes(
                body, encodeForBody(parts.getHeaderTemplateWithFileNameVariableName(
                                        path.asString(), QNUtilities::urlSimpleEscapeString(name)),
                                    encoding));
            appendBytes(body, *bytes);
        }
        if (!body.empty()) {
            body.insert(body.end(), parts.boundaryEnd().begin(), parts.boundaryEnd().end());
            request.setHTTPBody(std::move(body));
        }
    } else {
        std::optional<std::string> fileBody;
        if (!d.filesToSend.empty())
            fileBody = readBodyFile(d.filesToSend.entries().front().second.asString());
        if (fileBody) {
            request.setHTTPBody(Bytes(fileBody->begin(), fileBody->end()));
        } else {
            String text;
            for (const auto& [name, value] : d.variablesToSend) {
                if (!text.empty()) text += u'&';
                text += QNUtilities::urlSimpleEscapeString(name) + u"=" +
                        QNUtilities::urlSimpleEscapeString(value.asString());
            }
            for (std::size_t i = 0; i < d.contentToSend.size(); ++i) {
                if (i > 0) text += u' ';
                text += d.contentToSend[i];
            }
            std::string bytes = encodeForBody(text, encoding);
            if (!bytes.empty()) request.setHTTPBody(Bytes(bytes.begin(), bytes.end()));
            // Servers read form fields only from a body that says it is a
            // form; the session adds no Content-Type of its own. One the
            // caller added is set on the request after this and wins.
            if (!d.variablesToSend.empty() && !request.valueForHTTPHeaderField(u"Content-Type"))
                request.setValueForHTTPHeaderField(u"application/x-www-form-urlencoded",
                                                   u"Content-Type");
        }
    }
    // Without a body, GET and HEAD carry none at all; other methods say
    // "Content-Length: 0", as the platform sends them (a server may otherwise
    // read a bodiless POST up to the end of the connection).
    const String& verb = request.httpMethod();
    if (!request.httpBody() && verb != u"GET" && verb != u"HEAD") request.setHTTPBody(Bytes());
}

void QNHttpClient::Impl::send(const std::shared_ptr<Impl>& self, QNURLRequest request) {
    Impl& d = *self;
    // Gate: wait for the previous response before sending the next request.
    if (!d.gate)
        d.gate = std::make_unique<std::counting_semaphore<>>(0);
    else
        d.gate->acquire();

    QNNetworkLog::logURLRequestIfEnabled(request);

    std::uint64_t generation = 0;
    {
        std::lock_guard lock(d.mutex);
        generation = ++d.generation;
        d.completed = false;
        d.response.reset();
        // An error of the previous request must not show as this one's: its
        // completion may have come while this execution waited at the gate.
        d.errCode = 0;
        d.errDescription.clear();
    }
    std::weak_ptr<Impl> weak = self;
    auto completion = [weak, generation](Bytes bytes, std::optional<QNURLResponse> response,
                                         std::optional<QNURLError> error) {
        Impl::complete(weak, generation, std::move(bytes), std::move(response), std::move(error));
    };
    auto onRetry = [weak](const std::shared_ptr<QNURLSessionDataTask>& oldTask,
                          const std::shared_ptr<QNURLSessionDataTask>& newTask) {
        std::shared_ptr<Impl> self = weak.lock();
        if (!self || !newTask) return;
        {
            std::lock_guard lock(self->mutex);
            if (self->dataTask != oldTask) return;
            self->dataTask = newTask;
        }
        newTask->resume();
    };
    std::shared_ptr<QNURLSessionDataTask> task =
        QNURLSession::qnSharedSession()
            .qnDataTaskWaitingForPermissionWithRequestCompletionHandlerOnRetryWaitingTaskCreated(
                std::move(request), std::move(completion), std::move(onRetry));
    {
        std::lock_guard lock(d.mutex);
        d.dataTask = task;
    }

    d.headersToSend.clear();
    d.variablesToSend.clear();
    d.contentToSend.clear();
    d.filesToSend.clear();
    d.multipartTemplate.reset();

    if (task) {
        task->resume();
    } else {
        // No task means no completion: open the gate here, or every later
        // call would wait for ever.
        Impl::complete(weak, generation, {}, std::nullopt, QNURLError::withCode(-1));
    }
}

std::int64_t QNHttpClient::statusCode() {
    std::optional<std::int64_t> status = d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        return d_->response ? std::optional(d_->response->statusCode) : std::nullopt;
    });
    if (!status) {
        consoleMessage(u"QNHttpClient::statusCode => No content received");
        return 0;
    }
    return *status;
}

std::int64_t QNHttpClient::errCode() {
    return d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        return d_->errCode;
    });
}

String QNHttpClient::errDescription() {
    return d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        return d_->errDescription;
    });
}

Ref<Dictionary> QNHttpClient::getHeaders() {
    std::optional<QNURLResponse> response = d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        return d_->response;
    });
    auto headers = makeRef<Dictionary>();
    if (!response) {
        consoleMessage(u"QNHttpClient::getHeaders => No content received");
        return headers;
    }
    // One entry per field under its first spelling; repeated fields are
    // joined with ", " as HTTP allows for lists.
    std::vector<std::pair<String, String>> fields;
    for (const auto& field : response->headers) {
        auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) {
            return equalsIgnoringASCIICase(f.first, field.first);
        });
        if (it == fields.end())
            fields.push_back(field);
        else
            it->second += u", " + field.second;
    }
    for (auto& [name, value] : fields)
        headers->set(std::move(name), Value(std::move(value)));
    return headers;
}

String QNHttpClient::getHeader(StringView name) {
    Ref<Dictionary> headers = getHeaders();
    const Value* found = &headers->get(name);
    // Field names are case-insensitive, and HTTP/2 servers send them in
    // lower case: fall back to a case-blind match.
    if (found->isAbsent()) {
        for (const auto& [key, value] : *headers) {
            if (equalsIgnoringASCIICase(key, name)) {
                found = &value;
                break;
            }
        }
    }
    return found->isString() ? found->asString() : String();
}

String QNHttpClient::getString() {
    struct Snapshot {
        std::optional<StringEncoding> encoding;  // absent: no response
        Bytes data;
    };
    Snapshot snapshot = d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        if (!d_->response) return Snapshot{};
        return Snapshot{qnStringEncodingFromURLResponse(*d_->response), d_->data};
    });
    if (!snapshot.encoding) {
        consoleMessage(u"QNHttpClient::getString => No content received");
        return String();
    }
    std::string_view bytes(reinterpret_cast<const char*>(snapshot.data.data()),
                           snapshot.data.size());
    return internal::decodeText(bytes, *snapshot.encoding).value_or(String());
}

Bytes QNHttpClient::getData() const {
    std::lock_guard lock(d_->mutex);
    return d_->data;
}

bool QNHttpClient::toFile(StringView path) {
    if (qn_is_main_thread()) return false;
    struct Snapshot {
        bool hasResponse;
        Bytes data;
    };
    Snapshot snapshot = d_->afterResponse([&] {
        std::lock_guard lock(d_->mutex);
        return Snapshot{d_->response.has_value(), d_->data};
    });
    if (!snapshot.hasResponse) {
        consoleMessage(u"QNHttpClient::toFile: => No content received");
        return false;
    }
    String absolute = QNFileSystemObject::absoluteFilePathForWriting(path);
    if (absolute.empty()) return false;
    std::filesystem::path target = internal::toSystemPath(absolute);
    if (target.empty()) return false;
    return internal::writeFileAtomically(
        target, std::string_view(reinterpret_cast<const char*>(snapshot.data.data()),
                                 snapshot.data.size()));
}

Value QNHttpClient::valueForPropertyWithName(StringView name) {
    String key = asciiLowercased(name);
    if (key == u"host") return Value(host());
    if (key == u"baseurl") return Value(baseURL());
    if (key == u"url") return Value(url());
    if (key == u"port") return Value(port());
    if (key == u"secure") return Value(secure());
    if (key == u"timeout") return Value(timeout());
    if (key == u"statuscode") return Value(statusCode());
    if (key == u"reasonline") return Value(reasonLine());
    if (key == u"errcode") return Value(errCode());
    if (key == u"errdescription") return Value(errDescription());
    if (key == u"proxyserverhost") return Value(proxyServerHost().value_or(String()));
    if (key == u"proxyserverport") return Value(proxyServerPort());
    if (key == u"includecookies") return Value(includeCookies());
    return Value(String());
}

void QNHttpClient::setValueForPropertyName(const Value& value, StringView name) {
    String key = asciiLowercased(name);
    if (value.isString()) {
        if (key == u"host")
            setHost(value.asString());
        else if (key == u"baseurl")
            setBaseURL(value.asString());
        else if (key == u"url")
            setUrl(value.asString());
        else if (key == u"proxyserverhost")
            setProxyServerHost(value.asString());
    } else if (value.isNumber()) {
        if (key == u"port")
            setPort(value.integerValue());
        else if (key == u"secure")
            setSecure(value.boolValue());
        else if (key == u"timeout")
            setTimeout(value.integerValue());
        else if (key == u"proxyserverport")
            setProxyServerPort(value.integerValue());
        else if (key == u"includecookies")
            setIncludeCookies(value.boolValue());
    }
}

}  // namespace qn
