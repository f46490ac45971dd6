// Blob values: Base64 to and from files, where a blob value may be read from,
// file URLs, new blob paths, the offline copy of an attribute's content and
// the default blob download service. Real files in fresh folders and a real
// HTTP server on 127.0.0.1.
#include <qn/files.h>
#include <qn/host.h>
#include <qn/util/qnutil.h>

#include "net/test_server.h"
#include "support/test_support.h"

namespace qn {
namespace {

namespace fs = std::filesystem;
using test::ScopedBundle;
using test::TempDir;

// The roots are fixed once per process: point the storage folders at a fresh
// folder before anything computes them.
class BlobsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>();
        auto& storage = QNObjectsModelServices::applicationStorageService();
        storage.setApplicationCachesDirectory(dir_->path() / "caches");
        storage.setTemporaryDirectory(dir_->path() / "tmp");
        QNFileSystemObject::tempPath();
        QNFileSystemObject::appDataPath();
        QNFileSystemObject::blobDataPath();
        QNFileSystemObject::pendingUploadsPath();
    }
    void TearDown() override { dir_.reset(); }

private:
    std::unique_ptr<TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const kBlobsEnvironment =
    ::testing::AddGlobalTestEnvironment(new BlobsEnvironment);

fs::path sys(const String& path) {
    return fs::path(toUtf8(path));
}

String str(const fs::path& path) {
    return fromUtf8(path.string());
}

// Writes a file under a root (creating folders) and returns its absolute path.
String writeUnder(const String& root, const std::string& relative, std::string_view contents) {
    const fs::path path = sys(root) / relative;
    test::writeFile(path, contents);
    return str(path);
}

// Files a writer left behind in a folder while writing atomically.
std::vector<std::string> leftovers(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp-") != std::string::npos) out.push_back(name);
    }
    return out;
}

class ScopedMaximumBlobLength {
public:
    explicit ScopedMaximumBlobLength(std::size_t bytes)
        : previous_(QNDataLayerServices::maximumBlobLength()) {
        QNDataLayerServices::setMaximumBlobLength(bytes);
    }
    ~ScopedMaximumBlobLength() { QNDataLayerServices::setMaximumBlobLength(previous_); }

private:
    std::size_t previous_;
};

// Records what it was asked (on the test's thread) and fetches nothing.
class RecordingDownloadService : public QNBlobDownloadService {
public:
    bool downloadBlobDataFromURLStringToRelativePath(StringView url,
                                                     StringView relativePath) override {
        calls_.emplace_back(String(url), String(relativePath));
        return true;
    }
    const std::vector<std::pair<String, String>>& calls() const { return calls_; }

private:
    std::vector<std::pair<String, String>> calls_;
};

class ScopedDownloadService {
public:
    explicit ScopedDownloadService(std::shared_ptr<QNBlobDownloadService> service) {
        QNDataLayerServices::setSynchronizationBlobDownloadService(std::move(service));
    }
    ~ScopedDownloadService() {
        QNDataLayerServices::setSynchronizationBlobDownloadService(nullptr);
    }
};

// "qnblobdata://" + an upper-case UUID + the extension (with its dot, or
// nothing).
void expectNewBlobPath(const String& path, const String& extension) {
    const String prefix = u"qnblobdata://";
    ASSERT_TRUE(path.starts_with(prefix)) << toUtf8(path);
    ASSERT_EQ(path.size(), prefix.size() + 36 + extension.size()) << toUtf8(path);
    const String uuid = path.substr(prefix.size(), 36);
    const auto parsed = QNUUID::fromString(uuid);
    ASSERT_TRUE(parsed) << toUtf8(path);
    EXPECT_EQ(parsed->uuidString(), uuid) << toUtf8(path);
    EXPECT_EQ(path.substr(prefix.size() + 36), extension) << toUtf8(path);
}

TEST(BlobFromBase64Test, StrictBase64BecomesANewFileAndThePathComesBackEvenWhenNothingIsWritten) {
    const String temp = QNFileSystemObject::tempPath();
    const String first = QNutil::blobFromBase64(u"aGVsbG8=");
    const String second = QNutil::blobFromBase64(u"AP/+");
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(toUtf8(first)).parent_path(), sys(temp));
    EXPECT_EQ(test::readFile(sys(first)), "hello");
    EXPECT_EQ(test::readFile(sys(second)), std::string("\x00\xff\xfe", 3));
    const String empty = QNutil::blobFromBase64(u"");
    EXPECT_TRUE(fs::is_regular_file(sys(empty)));
    EXPECT_EQ(fs::file_size(sys(empty)), 0u);

    for (const char16_t* bad : {u"aGVsbG8", u"aGVs\nbG8=", u"aGVsbG8=\r\n", u" aGVsbG8=",
                                u"aGVs-_8=", u"aGVsbG8==", u"====", u"aGV=bG8="}) {
        const String path = QNutil::blobFromBase64(bad);
        EXPECT_TRUE(path.starts_with(temp + u"/")) << toUtf8(String(bad));
        EXPECT_FALSE(fs::exists(sys(path))) << toUtf8(String(bad));
    }
    EXPECT_TRUE(leftovers(sys(temp)).empty());
}

TEST(BlobToBase64Test, ReadsBlobPathsAndFilesInTheRootsOrTheBundle) {
    const String blob = writeUnder(QNFileSystemObject::blobDataPath(), "b64/one.bin", "hello");
    const String temp =
        writeUnder(QNFileSystemObject::tempPath(), "b64/two.bin", std::string("\x00\xff\xfe", 3));
    writeUnder(QNFileSystemObject::appDataPath(), "b64/three.txt", "abc");
    TempDir bundleDir;
    const String resource = str(bundleDir.write("res/logo.png", "png"));
    ScopedBundle bundle(bundleDir.path());

    const std::pair<String, const char16_t*> cases[] = {
        {u"qnblobdata://b64/one.bin", u"aGVsbG8="},
        {u"$BLOB_DATA/b64/one.bin", u"aGVsbG8="},
        {blob, u"aGVsbG8="},
        {u"file://" + blob, u"aGVsbG8="},
        {u"file://localhost" + blob, u"aGVsbG8="},
        {u"$TEMP/b64/two.bin", u"AP/+"},
        {u"b64/two.bin", u"AP/+"},
        {u"b64\\two.bin", u"AP/+"},
        {temp, u"AP/+"},
        {u"$APPDATA/b64/three.txt", u"YWJj"},
        {u"$RESOURCES/res/logo.png", u"cG5n"},
        {resource, u"cG5n"},
        {u"file://" + resource, u"cG5n"},
    };
    for (const auto& [value, base64] : cases)
        EXPECT_EQ(QNutil::blobToBase64(value), base64) << toUtf8(value);
}

// Blob values can come from a server or a user: anything outside the
// application's own folders and bundle reads as nothing.
TEST(BlobToBase64Test, EverythingElseReadsAsNothing) {
    TempDir outside;
    const String secret = str(outside.write("secret.txt", "secret"));
    const String temp = QNFileSystemObject::tempPath();
    const String sibling = writeUnder(temp + u"X", "y.txt", "sibling");
    writeUnder(temp, "b64dir/inner.txt", "x");
    String climb = u"$TEMP";
    for (std::size_t i = 0; i < 40; ++i)
        climb += u"/..";
    const String climbing[] = {climb + secret, u"qnblobdata://" + climb.substr(6) + secret,
                               u"../../../../../../../../../../../../.." + secret};

    std::vector<String> refused = {secret,
                                   u"file://" + secret,
                                   u"file://otherhost" + secret,
                                   sibling,
                                   u"/etc/passwd",
                                   u"file:///etc/passwd",
                                   u"$TEMP/b64dir",
                                   u"$TEMP/missing.bin",
                                   u"ftp://127.0.0.1/secret.txt",
                                   u"data:text/plain;base64,aGVsbG8=",
                                   u"QNBLOBDATA://b64/one.bin",
                                   u"$RESOURCES/../secret.txt"};
    refused.insert(refused.end(), std::begin(climbing), std::end(climbing));
    for (const String& value : refused)
        EXPECT_TRUE(QNutil::blobToBase64(value).empty()) << toUtf8(value);
    EXPECT_TRUE(QNutil::blobToBase64(u"").empty());

    // A bundle at the file system's root is no licence to read every file.
    ScopedBundle root("/");
    EXPECT_TRUE(QNutil::blobToBase64(u"/etc/passwd").empty());
    EXPECT_TRUE(QNutil::blobToBase64(secret).empty());
}

TEST(BlobToBase64Test, ReadsHttpAndLocalContentWithinTheBound) {
    test::TestServer server;
    server.on("GET", "/hello", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("\x00\xff\xfe", 3), "application/octet-stream");
    });
    server.on("GET", "/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("no", "text/plain");
    });
    server.on("GET", "/exact", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(999, 'a'), "application/octet-stream");
    });
    server.on("GET", "/over", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(1000, 'a'), "application/octet-stream");
    });
    EXPECT_EQ(QNutil::blobToBase64(fromUtf8(server.url("/hello"))), u"AP/+");
    EXPECT_EQ(QNutil::blobToBase64(fromUtf8(server.url("/missing"))), u"");

    ScopedMaximumBlobLength bound(999);
    EXPECT_EQ(QNutil::blobToBase64(fromUtf8(server.url("/exact"))).size(), 1332u);
    EXPECT_EQ(QNutil::blobToBase64(fromUtf8(server.url("/over"))), u"");
    writeUnder(QNFileSystemObject::tempPath(), "bound/exact.bin", std::string(999, 'a'));
    writeUnder(QNFileSystemObject::tempPath(), "bound/over.bin", std::string(1000, 'a'));
    EXPECT_EQ(QNutil::blobToBase64(u"$TEMP/bound/exact.bin").size(), 1332u);
    EXPECT_EQ(QNutil::blobToBase64(u"$TEMP/bound/over.bin"), u"");
}

TEST(BlobToURLStringTest, ExistingFilesBecomeEscapedFileURLsThatNameThemAgain) {
    const String temp = QNFileSystemObject::tempPath();
    const String odd = writeUnder(temp, "urls/a b#1%\u00f1.png", "x");
    const String url = QNutil::blobToURLString(u"$TEMP/urls/a b#1%\u00f1.png");
    EXPECT_TRUE(url.starts_with(u"file:///")) << toUtf8(url);
    EXPECT_TRUE(url.ends_with(u"/urls/a%20b%231%25%C3%B1.png")) << toUtf8(url);
    QNFile again(url);
    EXPECT_EQ(again.getAbsoluteName(), odd);
    EXPECT_TRUE(again.exists());

    const String blob = writeUnder(QNFileSystemObject::blobDataPath(), "urls/b.png", "x");
    QNFile blobAgain(QNutil::blobToURLString(u"qnblobdata://urls/b.png"));
    EXPECT_EQ(blobAgain.getAbsoluteName(), blob);

    for (const char16_t* same : {u"http://example.com/a b.png", u"https://example.com/x?y#z",
                                 u"$TEMP/urls/missing.png", u"", u"not a file"})
        EXPECT_EQ(QNutil::blobToURLString(same), same) << toUtf8(String(same));
    EXPECT_EQ(QNutil::getRelativeBlobFile(u"$TEMP/urls/x"), u"$TEMP/urls/x");
}

TEST(NewBlobRelativeFilePathTest, AUUIDNamedFileAtTheBlobRootKeepingOnlyAPlainExtension) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"https://h.example.com/a/photo.JPG?size=2&name=x.png", u".JPG"},
        {u"https://h.example.com/a/noext?x.png", u""},
        {u"https://h.example.com/dir.d/file", u""},
        {u"https://h.example.com/x.png#frag.gif", u".png"},
        {u"/x/y/report.pdf", u".pdf"},
        {u"qnblobdata://old/pic.jpeg", u".jpeg"},
        {u"report", u""},
        {u"https://h.example.com/.hidden", u""},
        {u"https://h.example.com/dot.", u""},
        // An extension carrying separators or escapes could steer the file
        // out of the blob root: it is dropped.
        {u"https://h.example.com/x.a\\..\\..\\..\\b", u""},
        {u"https://h.example.com/x.p%2F..%2F..", u""},
        {u"x.a b", u""},
    };
    const String root = QNFileSystemObject::blobDataPath();
    for (const auto& [source, extension] : cases) {
        const String path = QNutil::newBlobRelativeFilePathForURLString(source);
        expectNewBlobPath(path, extension);
        const String absolute = QNFileSystemObject::absoluteFilePathForRelativePath(path);
        EXPECT_EQ(fs::path(toUtf8(absolute)).parent_path(), sys(root)) << toUtf8(path);
    }
    EXPECT_NE(QNutil::newBlobRelativeFilePathForURLString(u"a.png"),
              QNutil::newBlobRelativeFilePathForURLString(u"a.png"));
}

class LocalPathOrURLStringTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundleDir_.write("model.json", R"({
            "serverBaseUrl": "https://srv.example.com/app/",
            "attributes": [{"name": "CustomerPhoto", "downloadContentOffline": true},
                           {"name": "CustomerThumb", "downloadContentOffline": false}]})");
        bundle_ = std::make_unique<ScopedBundle>(bundleDir_.path());
    }
    void TearDown() override { bundle_.reset(); }

    TempDir bundleDir_;
    std::unique_ptr<ScopedBundle> bundle_;
    std::shared_ptr<RecordingDownloadService> service_ =
        std::make_shared<RecordingDownloadService>();
    ScopedDownloadService installed_{service_};
};

TEST_F(LocalPathOrURLStringTest, OfflineAttributesCopyBlobsAndDownloadTheRest) {
    const String url = u"https://cdn.example.com/p/photo.png?v=1";
    const String downloaded = QNutil::localPathOrURLString(url, StringView(u"customerphoto"));
    expectNewBlobPath(downloaded, u".png");
    using Call = std::pair<String, String>;
    EXPECT_EQ(service_->calls(), (std::vector<Call>{{url, downloaded}}));

    writeUnder(QNFileSystemObject::blobDataPath(), "src/pic.jpg", "jpeg bytes");
    const String copied =
        QNutil::localPathOrURLString(u"qnblobdata://src/pic.jpg", StringView(u"CUSTOMERPHOTO"));
    expectNewBlobPath(copied, u".jpg");
    EXPECT_EQ(test::readFile(sys(QNFileSystemObject::absoluteFilePathForRelativePath(copied))),
              "jpeg bytes");
    EXPECT_EQ(service_->calls().size(), 1u) << "a blob is copied, not downloaded";

    // A value that already names a blob is kept; so is any value when there
    // is nothing to convert.
    EXPECT_EQ(
        QNutil::localPathOrURLString(url, u"qnblobdata://kept.png", StringView(u"CustomerPhoto")),
        u"qnblobdata://kept.png");
    EXPECT_EQ(QNutil::localPathOrURLString(url, u"$BLOB_DATA/kept.png", std::nullopt),
              u"$BLOB_DATA/kept.png");
    EXPECT_EQ(QNutil::localPathOrURLString(u"", u"https://old.example.com/x", std::nullopt),
              u"https://old.example.com/x");
    EXPECT_EQ(QNutil::localPathOrURLString(url, u"https://old.example.com/x", std::nullopt), url);
    EXPECT_EQ(service_->calls().size(), 1u);
}

TEST_F(LocalPathOrURLStringTest, OtherValuesBecomeTheirURLText) {
    const std::optional<StringView> attributes[] = {std::nullopt, StringView(u"CustomerThumb"),
                                                    StringView(u"Unknown")};
    for (const auto& attribute : attributes) {
        EXPECT_EQ(QNutil::localPathOrURLString(u"", attribute), u"");
        EXPECT_EQ(QNutil::localPathOrURLString(u"https://cdn.example.com/p.png", attribute),
                  u"https://cdn.example.com/p.png");
        EXPECT_EQ(QNutil::localPathOrURLString(u"http://cdn.example.com/a b.png", attribute),
                  u"http://cdn.example.com/a%20b.png");
        EXPECT_EQ(QNutil::localPathOrURLString(u"PublicTempStorage/x y.png?k=a b", attribute),
                  u"https://srv.example.com/app/PublicTempStorage/x%20y.png?k=a%20b");
        EXPECT_EQ(QNutil::localPathOrURLString(u"qnblobdata://a/b.png", attribute),
                  u"qnblobdata://a/b.png");
        EXPECT_EQ(QNutil::localPathOrURLString(u"not a url", attribute), u"not a url");
    }
    EXPECT_TRUE(service_->calls().empty());

    TempDir serverless;
    ScopedBundle none(serverless.path());
    EXPECT_EQ(QNutil::localPathOrURLString(u"PublicTempStorage/x y.png", std::nullopt),
              u"PublicTempStorage/x%20y.png");
}

TEST(BlobDownloadServiceTest, TheDefaultWritesAnHttpBodyIntoTheBlobFolderWithinTheBound) {
    test::TestServer server;
    server.on("GET", "/blob", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("blob bytes", "application/octet-stream");
    });
    server.on("GET", "/missing",
              [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    server.on("GET", "/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(100, 'b'), "application/octet-stream");
    });
    QNExecutionEnvironmentHelper::initializeCore();
    const auto service = QNDataLayerServices::synchronizationBlobDownloadService();
    ASSERT_TRUE(service);
    const String root = QNFileSystemObject::blobDataPath();
    const String blob = fromUtf8(server.url("/blob"));
    fs::remove_all(sys(root) / "dl");  // from an earlier repetition

    for (const char16_t* target : {u"qnblobdata://dl/one.bin", u"$BLOB_DATA/dl/two.bin",
                                   u"dl/three.bin", u"qnblobdata://dl/sub/../four.bin"}) {
        EXPECT_TRUE(service->downloadBlobDataFromURLStringToRelativePath(blob, target))
            << toUtf8(String(target));
    }
    for (const char* name : {"one.bin", "two.bin", "three.bin", "four.bin"})
        EXPECT_EQ(test::readFile(sys(root) / "dl" / name), "blob bytes") << name;

    EXPECT_FALSE(service->downloadBlobDataFromURLStringToRelativePath(
        fromUtf8(server.url("/missing")), u"qnblobdata://dl/missing.bin"));
    {
        ScopedMaximumBlobLength bound(99);
        EXPECT_FALSE(service->downloadBlobDataFromURLStringToRelativePath(
            fromUtf8(server.url("/big")), u"qnblobdata://dl/big.bin"));
    }
    EXPECT_FALSE(fs::exists(sys(root) / "dl" / "missing.bin"));
    EXPECT_FALSE(fs::exists(sys(root) / "dl" / "big.bin"));

    // Targets outside the blob folder are refused before anything is
    // fetched; so are sources that are not on the network.
    test::ScopedCapturingLogger log;
    TempDir outside;
    fs::create_directory_symlink(outside.path(), sys(root) / "dl" / "out");
    const std::size_t requests = server.requestCount();
    for (const String& target :
         {String(u"qnblobdata://../escape.bin"), String(u"$BLOB_DATA/dl/../../escape.bin"),
          u"/" + str(outside.path() / "abs.bin").substr(1), String(u"qnblobdata://"),
          String(u"qnblobdata://dl/out/linked.bin"), String(u"dl/..")}) {
        EXPECT_FALSE(service->downloadBlobDataFromURLStringToRelativePath(blob, target))
            << toUtf8(target);
    }
    EXPECT_TRUE(log->contains(u"blob download refused: qnblobdata://dl/out/linked.bin"));
    EXPECT_FALSE(fs::exists(sys(root).parent_path() / "escape.bin"));
    EXPECT_TRUE(fs::is_empty(outside.path()));
    const String local = writeUnder(QNFileSystemObject::tempPath(), "dl/local.bin", "local");
    EXPECT_FALSE(
        service->downloadBlobDataFromURLStringToRelativePath(u"file://" + local, u"dl/local.bin"));
    EXPECT_FALSE(fs::exists(sys(root) / "dl" / "local.bin"));
    EXPECT_EQ(server.requestCount(), requests);
    EXPECT_TRUE(leftovers(sys(root)).empty());

    // The application's service takes over; removing it brings the default
    // back.
    auto own = std::make_shared<RecordingDownloadService>();
    {
        ScopedDownloadService installed(own);
        EXPECT_EQ(QNDataLayerServices::synchronizationBlobDownloadService(), own);
    }
    EXPECT_EQ(QNDataLayerServices::synchronizationBlobDownloadService(), service);
}

TEST(GetImagePathTest, AnIdentifierFirstThenTheName) {
    TempDir dir;
    dir.write("model.json", R"({"images": [
        {"guid": "0A1B2C3D-0000-4000-8000-00000000000A", "url": "https://i.example.com/g.png"},
        {"name": "abcdefghijklmnopqrstuvwxyz0123456789", "url": "https://i.example.com/36.png"},
        {"name": "Banner", "url": "https://i.example.com/banner.png"}]})");
    ScopedBundle bundle(dir.path());
    EXPECT_EQ(QNutil::getImagePath(u"0a1b2c3d-0000-4000-8000-00000000000a"),
              u"https://i.example.com/g.png");
    EXPECT_EQ(QNutil::getImagePath(u"abcdefghijklmnopqrstuvwxyz0123456789"),
              u"https://i.example.com/36.png");
    EXPECT_EQ(QNutil::getImagePath(u"banner", u"Spanish", u"Dark"),
              u"https://i.example.com/banner.png");
    EXPECT_EQ(QNutil::getImagePath(u"Unknown"), u"");
}

}  // namespace
}  // namespace qn
