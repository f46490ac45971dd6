// The HTTP client of generated code: configure a server, add headers, form
// variables, text pieces and files, fire a request with execute, then ask for
// the outcome (status, headers, body as text, bytes or a file, error pair).
//
// A request runs asynchronously on the session's transfer thread; the result
// getters wait for its response. The parameters added before an execution
// belong to it: they are cleared once it is sent. An HTTP error status is not
// an error here (read statusCode); errCode/errDescription report a bad URL or
// a transport failure.
//
// Thread-compatible: one calling thread at a time; the completion runs on the
// transfer thread, holds only a weak reference to the client, and hands its
// result over through the response gate.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

class QNHttpClient;

// Supplies the body text of a request (the XML writer does).
class QN_API QNHTTPClientDelegate {
public:
    virtual ~QNHTTPClientDelegate();
    // The text to add to the request's body; absent adds nothing.
    virtual std::optional<String> stringBodyForHTTPClient(QNHttpClient& client) = 0;
};

// The boundary and part templates of a multipart/form-data body. Immutable.
class QN_API QNHttpMultipartTemplate {
public:
    // The boundary: 28 hyphens and the current whole seconds since 2001.
    QNHttpMultipartTemplate();
    explicit QNHttpMultipartTemplate(String boundary);

    const String& boundary() const noexcept { return boundary_; }
    // "multipart/form-data; boundary=<boundary>".
    const String& contentType() const noexcept { return contentType_; }
    // "\r\n--<boundary>\r\n" and "\r\n--<boundary>--", ASCII.
    const Bytes& boundaryStart() const noexcept { return boundaryStart_; }
    const Bytes& boundaryEnd() const noexcept { return boundaryEnd_; }
    // The text of a variable part: its header line, the empty line and the
    // value. The header lines of a file part (file name and MIME type from
    // the path's last component), ending with the empty line; the file's
    // bytes follow.
    String getHeaderTemplateWithValueVariableName(StringView value, StringView name) const;
    String getHeaderTemplateWithFileNameVariableName(StringView fileName, StringView name) const;

private:
    String boundary_;
    String contentType_;
    Bytes boundaryStart_;
    Bytes boundaryEnd_;
};

class QN_API QNHttpClient : public Object {
    QN_OBJECT(QNHttpClient)
public:
    QNHttpClient();
    ~QNHttpClient() override;
    // A copy would share the request in flight and the response gate.
    QNHttpClient(const QNHttpClient&) = delete;
    QNHttpClient& operator=(const QNHttpClient&) = delete;

    // --- Configuration ------------------------------------------------------

    const String& host() const noexcept;
    void setHost(String host);
    std::int64_t port() const noexcept;
    void setPort(std::int64_t port);
    bool secure() const noexcept;
    void setSecure(bool secure);
    const String& baseURL() const noexcept;
    void setBaseURL(String baseURL);
    // Seconds; below 1 means 30.
    std::int64_t timeout() const noexcept;
    void setTimeout(std::int64_t seconds);
    // Off by default: every request then carries an empty "Cookie" field
    // and leaves the session's cookie store alone. On, requests send the
    // stored cookies of their URL and store the cookies their answers set.
    bool includeCookies() const noexcept;
    void setIncludeCookies(bool include);
    const std::optional<String>& proxyServerHost() const noexcept;
    void setProxyServerHost(std::optional<String> host);
    std::int64_t proxyServerPort() const noexcept;
    void setProxyServerPort(std::int64_t port);
    const String& wsdlurl() const noexcept;
    void setWsdlurl(String url);
    std::shared_ptr<QNHTTPClientDelegate> httpClientDelegate() const;
    void setHttpClientDelegate(const std::shared_ptr<QNHTTPClientDelegate>& delegate);

    // "https" or "http".
    String scheme() const;
    // "<scheme>://<host>[:<port>]" (no port when it is the scheme's default).
    String serverURLString() const;
    // serverURLString read as a URL; absent when it is none (a host with a
    // blank, say).
    std::optional<String> serverURL() const;
    // serverURLString followed by baseURL.
    String url() const;
    // Host, port, path (kept as baseURL) and security of an absolute URL; a
    // text that is no absolute URL changes nothing.
    void setUrl(StringView url);
    static bool portIsDefaultPortForScheme(std::int64_t port, StringView scheme);

    // --- Request parameters (cleared by each execution) -----------------------

    // A Content-Type of multipart/form-data makes the request multipart with
    // a fresh boundary (the value stored carries it).
    void addHeaderValue(StringView name, StringView value);
    void addVariableValue(StringView name, StringView value);
    void addString(std::optional<StringView> text);
    // Named by the count of files pending so far: "0", "1", ... (a name
    // already taken is replaced).
    void addFile(StringView path);
    void addFileVariableName(StringView path, StringView name);
    // Scheme 0 (Basic) adds "Authorization: Basic base64(user:password)";
    // other schemes do nothing.
    void addAuthenticationRealmNameValue(std::int64_t scheme, StringView realm, StringView name,
                                         StringView value);
    // The generated-code entry point: 1 and 2 pass as such, anything else as 0.
    void addAuthentication(std::int64_t scheme, StringView realm, StringView name,
                           StringView value);
    void addProxyAuthentication(std::int64_t, StringView, StringView, StringView) {}
    void addCertificate(StringView) {}
    bool isMultipart() const noexcept;

    // --- Execution ------------------------------------------------------------

    // Sends the request and returns at once. A relative url gets baseURL in
    // front unless it starts with "/", and is resolved against the server
    // URL; an absolute "http://" or "https://" url is used as it is. A body
    // of form variables goes out as application/x-www-form-urlencoded unless
    // a Content-Type header was added. A second execution waits until the
    // previous response has arrived.
    void executeUrl(StringView method, StringView url);
    void execute(StringView method, StringView url) { executeUrl(method, url); }

    // --- Results (wait for the response; getData does not) ---------------------

    std::int64_t statusCode();
    // "" always: the reason phrase is not kept.
    const String& reasonLine() const noexcept;
    std::int64_t errCode();
    String errDescription();
    Ref<Dictionary> getHeaders();
    String getHeader(StringView name);
    // The body decoded with the charset the response declares (UTF-8 when
    // none); "" when the bytes are not text in it.
    String getString();
    // The body of the last completed response, without waiting.
    Bytes getData() const;
    // Writes the body to a logical path, whole or not at all.
    bool toFile(StringView path);

    // Access by property name (lower-cased, exact): "host", "baseurl", "url",
    // "port", "secure", "timeout", "includecookies", "proxyserverhost",
    // "proxyserverport" read and write; "statuscode", "reasonline",
    // "errcode", "errdescription" read. Other names read "" and ignore writes,
    // as do values of the wrong kind.
    Value valueForPropertyWithName(StringView name);
    void setValueForPropertyName(const Value& value, StringView name);

    struct Impl;

private:
    std::shared_ptr<Impl> d_;
};

class QN_API QNHTTPContext {
public:
    static String convertURLString(StringView url) { return String(url); }
};

}  // namespace qn
