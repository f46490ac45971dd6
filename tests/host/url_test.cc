// The library's URL reader against RFC 3986's own resolution examples, and
// the file URLs and escapes built on it.
#include <qn/core/string.h>

#include <gtest/gtest.h>

#include "host/url.h"

namespace qn {
namespace {

using internal::URL;

String resolved(StringView base, StringView reference) {
    auto b = URL::parse(base);
    auto r = URL::parse(reference);
    if (!b || !r) return u"<no URL>";
    return b->resolve(*r).text();
}

TEST(URLTest, ResolvesTheExamplesOfRFC3986) {
    // Section 5.4: normal and abnormal examples against one base.
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"g:h", u"g:h"},
        {u"g", u"http://a/b/c/g"},
        {u"./g", u"http://a/b/c/g"},
        {u"g/", u"http://a/b/c/g/"},
        {u"/g", u"http://a/g"},
        {u"//g", u"http://g"},
        {u"?y", u"http://a/b/c/d;p?y"},
        {u"g?y", u"http://a/b/c/g?y"},
        {u"#s", u"http://a/b/c/d;p?q#s"},
        {u"g?y#s", u"http://a/b/c/g?y#s"},
        {u";x", u"http://a/b/c/;x"},
        {u"", u"http://a/b/c/d;p?q"},
        {u".", u"http://a/b/c/"},
        {u"./", u"http://a/b/c/"},
        {u"..", u"http://a/b/"},
        {u"../", u"http://a/b/"},
        {u"../g", u"http://a/b/g"},
        {u"../..", u"http://a/"},
        {u"../../g", u"http://a/g"},
        {u"../../../g", u"http://a/g"},
        {u"/./g", u"http://a/g"},
        {u"/../g", u"http://a/g"},
        {u"g.", u"http://a/b/c/g."},
        {u"..g", u"http://a/b/c/..g"},
        {u"./../g", u"http://a/b/g"},
        {u"./g/.", u"http://a/b/c/g/"},
        {u"g/../h", u"http://a/b/c/h"},
        {u"g;x=1/../y", u"http://a/b/c/y"},
        {u"g?y/./x", u"http://a/b/c/g?y/./x"},
        {u"g#s/../x", u"http://a/b/c/g#s/../x"},
        {u"http:g", u"http:g"},
    };
    for (const auto& [reference, target] : cases)
        EXPECT_EQ(resolved(u"http://a/b/c/d;p?q", reference), target) << toUtf8(reference);
}

TEST(URLTest, KeepsComponentsAsWrittenAndRefusesWhatIsNoURL) {
    auto url = URL::parse(u"HTTPS://me@[::1]:8443/p/../a%20b?q=1#f");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, u"HTTPS");
    EXPECT_EQ(url->userinfo, u"me");
    EXPECT_EQ(url->host, u"[::1]");
    EXPECT_EQ(url->port, 8443);
    EXPECT_EQ(url->path, u"/p/../a%20b");
    EXPECT_EQ(url->text(), u"HTTPS://me@[::1]:8443/p/../a%20b?q=1#f");
    EXPECT_EQ(url->normalized().text(), u"https://me@[::1]:8443/a%20b?q=1#f");
    EXPECT_EQ(URL::parse(u"http://h")->normalized().text(), u"http://h/");
    // An empty port is none; a first segment with ":" after no scheme is a path.
    EXPECT_FALSE(URL::parse(u"http://h:/x")->port);
    EXPECT_EQ(URL::parse(u":x/y")->path, u":x/y");
    for (const char16_t* bad : {u"http://h:65536/", u"http://h:8a/", u"http://[::1/", u"1x:y",
                                u"a b", u"caf\u00e9", u"x\ty"})
        EXPECT_FALSE(URL::parse(bad)) << toUtf8(bad);
}

TEST(URLTest, EscapesAndFileURLs) {
    EXPECT_EQ(internal::escapeNonASCII(u"/caf\u00e9?x=%41"), u"/caf%C3%A9?x=%41");
    EXPECT_FALSE(internal::escapeNonASCII(u"/a b"));
    EXPECT_EQ(internal::escapeNonASCII(u"/a b", true), u"/a%20b");

    const String path = u"/tmp/My Pictures/\u00e9t\u00e9 100%#1.png";
    const String url = internal::fileURLForPath(path);
    EXPECT_EQ(url, u"file:///tmp/My%20Pictures/%C3%A9t%C3%A9%20100%25%231.png");
    EXPECT_EQ(internal::pathOfFileURL(url), path);
    // Hand-written URLs with blanks and letters beyond ASCII read as well.
    EXPECT_EQ(internal::pathOfFileURL(u"FILE://localhost/tmp/a b/\u00e9"), u"/tmp/a b/\u00e9");
    EXPECT_EQ(internal::pathOfFileURL(u"file:/tmp/x?query#frag"), u"/tmp/x");
    // A file URL that names no local path; text that is no file URL.
    for (const char16_t* none : {u"file://server/x", u"file:relative", u"file:///a%2",
                                 u"file:///a%00b", u"file:///%FF", u"file://me@localhost/x"})
        EXPECT_EQ(internal::pathOfFileURL(none), u"") << toUtf8(none);
    EXPECT_FALSE(internal::pathOfFileURL(u"/tmp/x"));
    EXPECT_FALSE(internal::pathOfFileURL(u"http://h/x"));
}

}  // namespace
}  // namespace qn
