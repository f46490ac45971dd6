#include <plist/plist.h>
#include <qn/host.h>

#include "support/test_support.h"

namespace qn {
namespace {

using test::plistDocument;
using test::TempDir;

TEST(BundleTest, ResourcesAreFoundByNameAndTypeButNeverOutsideTheBundle) {
    TempDir dir;
    dir.write("bundle/logo.png", "png");
    dir.write("bundle/data/rates.json", "{}");
    dir.write("secret.txt", "outside");
    QNBundle bundle(dir.path() / "bundle");

    EXPECT_EQ(bundle.pathForResourceOfType("logo", "png"), dir.path() / "bundle/logo.png");
    EXPECT_EQ(bundle.pathForResourceOfType("logo", ".png"), dir.path() / "bundle/logo.png");
    EXPECT_EQ(bundle.pathForResourceOfType("logo.png"), dir.path() / "bundle/logo.png");
    EXPECT_EQ(bundle.pathForResourceOfType("data/rates", "json"),
              dir.path() / "bundle/data/rates.json");
    EXPECT_FALSE(bundle.pathForResourceOfType("logo", "jpg"));
    EXPECT_FALSE(bundle.pathForResourceOfType("data")) << "a folder is not a resource";
    EXPECT_FALSE(bundle.pathForResourceOfType("../secret", "txt"));
    EXPECT_FALSE(bundle.pathForResourceOfType((dir.path() / "secret").string(), "txt"));
    EXPECT_FALSE(bundle.pathForResourceOfType(""));
}

// The binary form, written by libplist itself (the XML form is the property
// list tests').
TEST(BundleTest, InfoDictionaryInTheBinaryForm) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "QNReorganizationScriptMD5", plist_new_string("abc"));
    plist_dict_set_item(root, "Flag", plist_new_bool(1));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    TempDir binary;
    binary.write("Info.plist", std::string_view(bin, length));
    plist_to_bin_free(bin);
    plist_free(root);
    QNBundle fromBinary(binary.path());
    EXPECT_EQ(fromBinary.objectForInfoDictionaryKey(u"QNReorganizationScriptMD5").asString(),
              u"abc");
    EXPECT_TRUE(fromBinary.objectForInfoDictionaryKey(u"Flag").boolValue());
    EXPECT_TRUE(fromBinary.objectForInfoDictionaryKey(u"Missing").isAbsent());
}

TEST(BundleTest, MalformedOrMissingInfoDictionaryIsEmptyAndLogged) {
    test::ScopedCapturingLogger log;
    TempDir none;
    EXPECT_TRUE(QNBundle(none.path()).infoDictionary().empty());
    EXPECT_TRUE(log->lines().empty()) << "a missing file is not an error";

    for (std::string_view bad :
         {std::string_view("<plist><dict><key>x</key>"), std::string_view("\x00\x01garbage", 9),
          std::string_view("<plist version=\"1.0\"><array/></plist>")}) {
        TempDir dir;
        dir.write("Info.plist", bad);
        log->clear();
        EXPECT_TRUE(QNBundle(dir.path()).infoDictionary().empty());
        EXPECT_TRUE(log->contains(u"Info.plist")) << "no line logged";
    }
}

TEST(PropertyListTest, ReadsEveryKind) {
    auto v = QNPropertyList::parse(plistDocument(R"(<dict>
        <key>s</key><string>caf&#233; &amp; more</string>
        <key>i</key><integer>9007199254740993</integer>
        <key>neg</key><integer>-42</integer>
        <key>r</key><real>2.5</real>
        <key>t</key><true/>
        <key>f</key><false/>
        <key>d</key><date>2001-01-02T00:00:01Z</date>
        <key>old</key><date>1900-03-04T05:06:07Z</date>
        <key>data</key><data>AAEC/w==</data>
        <key>a</key><array><integer>1</integer><string>two</string></array>
    </dict>)"));
    ASSERT_TRUE(v);
    const Dictionary expected{{u"s", u"caf\u00e9 & more"},
                              {u"i", std::int64_t{9007199254740993}},
                              {u"neg", -42},
                              {u"r", 2.5},
                              {u"t", true},
                              {u"f", false},
                              {u"d", DateTime(86401.0)},
                              // Outside libplist's 32-bit seconds: must not be clamped.
                              {u"old", DateTime::fromCivilUTC({1900, 3, 4, 5, 6, 7, 0})},
                              {u"data", Bytes{0, 1, 2, 255}},
                              {u"a", Value(makeRef<Array>(Array{1, u"two"}))}};
    EXPECT_EQ(*v, Value(makeRef<Dictionary>(expected)));
    EXPECT_EQ(v->asDictionary()->keys(), expected.keys()) << "document order is kept";
    EXPECT_TRUE(v->asDictionary()->get(u"t").isBool());
}

TEST(PropertyListTest, BadInputIsRejectedWithAReason) {
    std::string error;
    EXPECT_FALSE(QNPropertyList::parse("", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(QNPropertyList::parse("not a plist at all", &error));
    EXPECT_FALSE(error.empty());
    std::string deep = "<plist version=\"1.0\">";
    for (int i = 0; i < 2000; ++i)
        deep += "<array>";
    for (int i = 0; i < 2000; ++i)
        deep += "</array>";
    deep += "</plist>";
    error.clear();
    EXPECT_FALSE(QNPropertyList::parse(deep, &error)) << "nesting beyond the limit is refused";
    EXPECT_FALSE(QNPropertyList::readFile("/nonexistent/qn/file.plist", &error));
    EXPECT_NE(error.find("/nonexistent/qn/file.plist"), std::string::npos);
}

TEST(PropertyListTest, WrittenFilesReadBackEqualAndReplaceAtomically) {
    TempDir dir;
    auto root = makeRef<Dictionary>();
    root->set(u"text", Value(u"<tag> & \u00fcml\u00e4ut \U0001F600"));
    root->set(u"int", Value(std::int64_t{-9000000000}));
    root->set(u"real", Value(0.1));
    root->set(u"yes", Value(true));
    root->set(u"when", Value(DateTime::fromCivilUTC({1, 1, 1, 0, 0, 0, 0})));
    root->set(u"blob", Value(Bytes{1, 2, 3, 4, 5}));
    root->set(u"list", Value(makeRef<Array>(std::vector<Value>{Value(1), Value(u"x")})));
    root->set(u"skipped", Value::null());
    auto path = dir.path() / "sub" / "store.plist";

    ASSERT_TRUE(QNPropertyList::writeFileAtomically(path, Value(root)));
    auto back = QNPropertyList::readFile(path);
    ASSERT_TRUE(back);
    root->remove(u"skipped");  // a null has no property-list form; year 1 survives
    EXPECT_EQ(*back, Value(root));
    EXPECT_EQ(back->asDictionary()->keys(), root->keys());

    // Replacing leaves no temporary files behind.
    root->set(u"int", Value(1));
    ASSERT_TRUE(QNPropertyList::writeFileAtomically(path, Value(root)));
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(path.parent_path()))
        ++files;
    EXPECT_EQ(files, 1);
    EXPECT_EQ(QNPropertyList::readFile(path)->asDictionary()->get(u"int").integerValue(), 1);

    // A failed write (a file where a folder should be) leaves the old file.
    dir.write("blocker", "file");
    std::string error;
    EXPECT_FALSE(QNPropertyList::writeFileAtomically(dir.path() / "blocker" / "x.plist",
                                                     Value(root), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(QNPropertyList::readFile(path));
}

}  // namespace
}  // namespace qn
