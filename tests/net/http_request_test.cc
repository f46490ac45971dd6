// The application server's request objects (which URLs lie under the model's
// server base URL, and what the shared request reports) and the SOAP
// locations of generated code.
#include <qn/net/http_request.h>
#include <qn/net/soap.h>

#include <qn/host/model.h>

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

TEST(HttpRequestHelperTest, UrlsUnderTheServerBaseURL) {
    {
        ServerModel model("https://srv/app/");
        // Case is ignored in scheme, host and path components; escapes compare
        // decoded; the scheme's default port may be written out.
        for (const char16_t* url :
             {u"HTTPS://SRV/App/rest/x", u"https://srv/app/x?q=1#top", u"https://srv/app",
              u"https://user:pw@srv/app/x", u"https://srv//app//x", u"https://srv/%61pp/x",
              u"https://srv:443/app/x"})
            EXPECT_TRUE(under(url)) << toUtf8(url);
        // Other ports, paths, schemes and hosts; fewer path components; no
        // scheme and host.
        for (const char16_t* url :
             {u"https://srv:8443/app/x", u"https://srv:80/app/x", u"https://srv/other/x",
              u"https://srv/application/x", u"https://srv/", u"https://srv", u"http://srv/app/x",
              u"https://srv.example/app/x", u"/app/x", u"", u"https://srv/app/a b",
              u"https://srv:99999/app/x"})
            EXPECT_FALSE(under(url)) << toUtf8(url);

        QNURLRequest inside = QNHttpRequestHelper::mutableURLRequestForURL(u"https://srv/app/x");
        EXPECT_EQ(inside.url(), u"https://srv/app/x");
        EXPECT_EQ(inside.httpMethod(), u"GET");
        QNURLRequest outside = QNHttpRequestHelper::mutableURLRequestForURL(u"http://other/y");
        EXPECT_EQ(outside.url(), u"http://other/y");
        EXPECT_FALSE(outside.httpBody());
        EXPECT_TRUE(outside.allHTTPHeaderFields().empty());
    }
    // An explicit port must be repeated; a base without a path has every path
    // under it; one without a scheme and port cannot vouch for any port.
    const struct {
        std::optional<std::string> base;
        const char16_t* url;
        bool under;
    } cases[] = {{"https://srv:8443/app/", u"https://srv/app/x", false},
                 {"https://srv:8443/app/", u"https://srv:8443/app/x", true},
                 {"https://srv:8443/app/", u"https://srv:443/app/x", false},
                 {"https://srv:443/app/", u"https://srv/app/x", false},
                 {"http://srv", u"http://srv", true},
                 {"http://srv", u"HTTP://srv:80/anything", true},
                 {"http://srv", u"http://srv:443/anything", false},
                 {"//srv/app/", u"//srv/app/x", false},
                 {"not a url", u"not a url", false},
                 {std::nullopt, u"https://srv/app/x", false}};
    for (const auto& c : cases) {
        ServerModel model(c.base);
        EXPECT_EQ(under(c.url), c.under) << c.base.value_or("(none)") << " " << toUtf8(c.url);
    }
}

TEST(HttpRequestTest, ServerPartsFromTheModel) {
    auto& request = QNHttpRequest::sharedInstance();
    // Secure only for exactly "https".
    const struct {
        std::optional<std::string> base;
        const char16_t *host, *script, *baseURL;
        std::int64_t port;
        bool secure;
    } cases[] = {{"https://srv.example/app/", u"srv.example", u"/app/", u"https://srv.example/app/",
                  443, true},
                 {"http://srv/", u"srv", u"/", u"http://srv/", 80, false},
                 {"http://srv:8080/", u"srv", u"/", u"http://srv:8080/", 8080, false},
                 {"HTTPS://srv/", u"srv", u"/", nullptr, 80, false},
                 {std::nullopt, u"", u"", u"", 80, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base.value_or("(none)"));
        ServerModel model(c.base);
        EXPECT_EQ(request.serverHost(), c.host);
        EXPECT_EQ(request.serverPort(), c.port);
        EXPECT_EQ(request.scriptPath(), c.script);
        EXPECT_EQ(request.secure(), c.secure);
        if (c.baseURL) {
            EXPECT_EQ(request.baseURL(), c.baseURL);
        }
    }
}

TEST(SoapTest, LocationsByExactNameAndAFreshOneIsNeverStored) {
    QNSoapLocationCollection locations;
    locations.item(u"A")->host = u"changed";
    EXPECT_TRUE(locations.items().empty());
    auto location = std::make_shared<QNSoapLocation>();
    locations.add(location, u"A");
    EXPECT_EQ(locations.item(u"A"), location);
    EXPECT_NE(locations.item(u"a"), location);
}

// The process state takes concurrent first access and updates, and a
// collection replaced by none comes back new and empty.
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
    ASSERT_TRUE(seen[0]);
    for (const auto& collection : seen)
        EXPECT_EQ(collection, seen[0]);
    EXPECT_EQ(QNSoapParamBase::colLocations(), seen[0]);
    EXPECT_GE(QNSoapParamBase::getSOAPErr(), 0);
    EXPECT_LT(QNSoapParamBase::getSOAPErr(), kThreads);

    QNSoapParamBase::setColLocations(nullptr);
    auto recreated = QNSoapParamBase::colLocations();
    ASSERT_TRUE(recreated);
    EXPECT_NE(recreated, seen[0]);
    EXPECT_TRUE(recreated->items().empty());
}

}  // namespace
}  // namespace qn
