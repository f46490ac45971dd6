// The application server's request objects (which URLs lie under the model's
// server base URL, and what the shared request reports) and the SOAP
// locations of generated code.
#include <qn/net/http_request.h>
#include <qn/net/soap.h>

#include <gtest/gtest.h>

#include <qn/host/model.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace qn {
namespace {

// A bundle whose model has only the given server base URL (or no model file
// at all), main bundle while in scope.
class ServerModel {
public:
    explicit ServerModel(std::optional<std::string> baseURL) {
        if (baseURL) dir_.write("model.json", R"({"serverBaseUrl": ")" + *baseURL + R"("})");
        bundle_.emplace(dir_.path());
    }

private:
    test::TempDir dir_;
    std::optional<test::ScopedBundle> bundle_;
};

bool under(StringView url) {
    return QNHttpRequestHelper::isURLUnderApplicationServer(url);
}

TEST(HttpRequestHelperTest, UrlsUnderServerWithImplicitPort) {
    ServerModel model("https://srv/app/");
    // Case is ignored in scheme, host and path components.
    EXPECT_TRUE(under(u"HTTPS://SRV/App/rest/x"));
    EXPECT_TRUE(under(u"https://srv/app/x?q=1#top"));
    EXPECT_TRUE(under(u"https://srv/app"));
    EXPECT_TRUE(under(u"https://user:pw@srv/app/x"));
    EXPECT_TRUE(under(u"https://srv//app//x"));
    EXPECT_TRUE(under(u"https://srv/%61pp/x"));  // escapes compare decoded
    // The scheme's default port may be written out; no other port.
    EXPECT_TRUE(under(u"https://srv:443/app/x"));
    EXPECT_FALSE(under(u"https://srv:8443/app/x"));
    EXPECT_FALSE(under(u"https://srv:80/app/x"));
    EXPECT_FALSE(under(u"https://srv/other/x"));
    EXPECT_FALSE(under(u"https://srv/application/x"));
    EXPECT_FALSE(under(u"https://srv/"));  // fewer path components
    EXPECT_FALSE(under(u"https://srv"));
    EXPECT_FALSE(under(u"http://srv/app/x"));
    EXPECT_FALSE(under(u"https://srv.example/app/x"));
    EXPECT_FALSE(under(u"/app/x"));  // no scheme, no host
    EXPECT_FALSE(under(u""));
    EXPECT_FALSE(under(u"https://srv/app/a b"));
    EXPECT_FALSE(under(u"https://srv:99999/app/x"));
}

TEST(HttpRequestHelperTest, ExplicitPortsAndMissingParts) {
    {
        ServerModel model("https://srv:8443/app/");
        EXPECT_FALSE(under(u"https://srv/app/x"));  // the explicit port must be repeated
        EXPECT_TRUE(under(u"https://srv:8443/app/x"));
        EXPECT_FALSE(under(u"https://srv:443/app/x"));
    }
    {
        ServerModel model("https://srv:443/app/");
        EXPECT_FALSE(under(u"https://srv/app/x"));
    }
    {
        ServerModel model("http://srv");  // no path: every path is under
        EXPECT_TRUE(under(u"http://srv"));
        EXPECT_TRUE(under(u"HTTP://srv:80/anything"));
        EXPECT_FALSE(under(u"http://srv:443/anything"));
    }
    {
        // A base without a scheme and port cannot vouch for any port.
        ServerModel model("//srv/app/");
        EXPECT_FALSE(under(u"//srv/app/x"));
    }
    {
        ServerModel model("not a url");
        EXPECT_FALSE(under(u"not a url"));
    }
    {
        ServerModel model(std::nullopt);
        EXPECT_FALSE(under(u"https://srv/app/x"));
    }
}

TEST(HttpRequestHelperTest, RequestsForUrls) {
    ServerModel model("https://srv/app/");
    QNURLRequest inside = QNHttpRequestHelper::mutableURLRequestForURL(u"https://srv/app/x");
    EXPECT_EQ(inside.url(), u"https://srv/app/x");
    EXPECT_EQ(inside.httpMethod(), u"GET");
    QNURLRequest outside = QNHttpRequestHelper::mutableURLRequestForURL(u"http://other/y");
    EXPECT_EQ(outside.url(), u"http://other/y");
    EXPECT_FALSE(outside.httpBody());
    EXPECT_TRUE(outside.allHTTPHeaderFields().empty());
}

TEST(HttpRequestTest, ServerPartsFromTheModel) {
    auto& request = QNHttpRequest::sharedInstance();
    EXPECT_EQ(&request, &QNHttpRequest::sharedInstance());
    {
        test::TempDir dir;
        test::writeSampleBundle(dir);
        test::ScopedBundle bundle(dir.path());
        EXPECT_EQ(request.serverHost(), u"server.example");
        EXPECT_EQ(request.serverPort(), 443);
        EXPECT_EQ(request.scriptPath(), u"/app/");
        EXPECT_TRUE(request.secure());
        EXPECT_EQ(request.baseURL(), u"https://server.example/app/");
    }
    {
        ServerModel model("http://srv/");
        EXPECT_EQ(request.serverPort(), 80);
        EXPECT_FALSE(request.secure());
        EXPECT_EQ(request.scriptPath(), u"/");
    }
    {
        ServerModel model("http://srv:8080/");
        EXPECT_EQ(request.serverPort(), 8080);
        EXPECT_EQ(QNHttpRequest().serverPort(), 8080);  // a plain instance answers the same
    }
    {
        ServerModel model("HTTPS://srv/");  // secure only for exactly "https"
        EXPECT_FALSE(request.secure());
        EXPECT_EQ(request.serverPort(), 80);
    }
    {
        ServerModel model(std::nullopt);
        EXPECT_EQ(request.serverHost(), u"");
        EXPECT_EQ(request.serverPort(), 80);
        EXPECT_EQ(request.scriptPath(), u"");
        EXPECT_FALSE(request.secure());
        EXPECT_EQ(request.baseURL(), u"");
    }
}

TEST(SoapTest, LocationsByExactName) {
    QNSoapLocationCollection locations;
    auto fresh = locations.item(u"A");
    EXPECT_EQ(fresh->secure, -1);
    EXPECT_EQ(fresh->timeout, -1);
    EXPECT_EQ(fresh->authenticationMethod, -1);
    EXPECT_EQ(fresh->proxyAuthenticationMethod, -1);
    EXPECT_EQ(fresh->port, 0);
    EXPECT_EQ(fresh->host, u"");
    EXPECT_EQ(fresh->wsdlurl, u"");
    // A fresh location is never stored: changing it changes nothing.
    fresh->host = u"changed";
    EXPECT_NE(locations.item(u"A"), fresh);
    EXPECT_EQ(locations.item(u"A")->host, u"");
    EXPECT_TRUE(locations.items().empty());

    auto l1 = std::make_shared<QNSoapLocation>();
    auto l2 = std::make_shared<QNSoapLocation>();
    locations.add(l1, u"A");
    locations.add(l2, u"A");
    EXPECT_EQ(locations.item(u"A"), l2);
    EXPECT_NE(locations.item(u"a"), l2);
    EXPECT_EQ(locations.items().size(), 1u);
}

TEST(SoapTest, ProcessStateStartsEmptyAndIsReplaceable) {
    EXPECT_EQ(QNSoapParamBase::getSOAPErr(), 0);
    EXPECT_EQ(QNSoapParamBase::getSOAPErrMsg(), u"");
    EXPECT_EQ(QNSoapParamBase::nLocRead(), 0);
    auto shared = QNSoapParamBase::colLocations();
    ASSERT_TRUE(shared);
    EXPECT_EQ(QNSoapParamBase::colLocations(), shared);

    auto replacement = std::make_shared<QNSoapLocationCollection>();
    QNSoapParamBase::setColLocations(replacement);
    EXPECT_EQ(QNSoapParamBase::colLocations(), replacement);
    QNSoapParamBase::setColLocations(nullptr);
    auto recreated = QNSoapParamBase::colLocations();
    ASSERT_TRUE(recreated);
    EXPECT_TRUE(recreated->items().empty());

    QNSoapParamBase::setNSOAPErr(3);
    QNSoapParamBase::setSSOAPErrMsg(u"Fault");
    EXPECT_EQ(QNSoapParamBase::getSOAPErr(), 3);
    EXPECT_EQ(QNSoapParamBase::getSOAPErrMsg(), u"Fault");
    QNSoapParamBase::setNSOAPErr(0);
    QNSoapParamBase::setSSOAPErrMsg(u"");
}

TEST(SoapTest, ConcurrentFirstAccessAndUpdates) {
    constexpr int kThreads = 8;
    std::vector<Ref<QNSoapLocationCollection>> seen(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            seen[t] = QNSoapParamBase::colLocations();
            for (int i = 0; i < 500; ++i) {
                QNSoapParamBase::setNSOAPErr(t);
                QNSoapParamBase::setSSOAPErrMsg(u"error from thread " +
                                                asciiString(std::to_string(t)));
                QNSoapParamBase::setNLocRead(QNSoapParamBase::nLocRead() + 1);
                String message = QNSoapParamBase::getSOAPErrMsg();
                EXPECT_EQ(message.rfind(u"error from thread ", 0), 0u);
                (void)QNSoapParamBase::getSOAPErr();
            }
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
    for (const auto& collection : seen)
        EXPECT_EQ(collection, seen[0]);
    EXPECT_GE(QNSoapParamBase::getSOAPErr(), 0);
    EXPECT_LT(QNSoapParamBase::getSOAPErr(), kThreads);
    QNSoapParamBase::setNSOAPErr(0);
    QNSoapParamBase::setSSOAPErrMsg(u"");
    QNSoapParamBase::setNLocRead(0);
}

}  // namespace
}  // namespace qn
