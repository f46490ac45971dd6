#include <qn/files.h>
#include <qn/host.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "support/test_support.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

// The roots are fixed once per process: point the storage folders at a fresh
// folder before anything computes them, and pin them all at once.
class FilesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<test::TempDir>();
        auto& storage = QNObjectsModelServices::applicationStorageService();
        storage.setApplicationCachesDirectory(dir_->path() / "caches");
        storage.setTemporaryDirectory(dir_->path() / "tmp");
        QNFileSystemObject::appDataPath();
        QNFileSystemObject::cachePath();
        QNFileSystemObject::tempPath();
        QNFileSystemObject::pendingUploadsPath();
        QNFileSystemObject::blobDataPath();
    }
    void TearDown() override { dir_.reset(); }

private:
    std::unique_ptr<test::TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const kFilesEnvironment =
    ::testing::AddGlobalTestEnvironment(new FilesEnvironment);

String u16(const std::string& s) {
    return fromUtf8(s);
}

fs::path sys(const String& s) {
    return fs::path(toUtf8(s));
}

void writeBytes(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(FileSystemObject, RootsArePinnedCreatedAndDistinct) {
    const String temp = QNFileSystemObject::tempPath();
    EXPECT_TRUE(temp.ends_with(u"/tmp/QNData")) << toUtf8(temp);
    EXPECT_TRUE(QNFileSystemObject::appDataPath().ends_with(u"/caches/QNData"));
    EXPECT_EQ(QNFileSystemObject::appDataPath(), QNFileSystemObject::cachePath());
    EXPECT_TRUE(QNFileSystemObject::pendingUploadsPath().ends_with(u"/caches/QNUploads"));
    EXPECT_TRUE(QNFileSystemObject::blobDataPath().ends_with(u"/caches/QNBlobData"));
    EXPECT_TRUE(fs::is_directory(sys(QNFileSystemObject::blobDataPath())));

    // Moving the storage folders later changes nothing: the roots are kept.
    test::TempDir other;
    QNObjectsModelServices::applicationStorageService().setTemporaryDirectory(other.path());
    EXPECT_EQ(QNFileSystemObject::tempPath(), temp);
    QNObjectsModelServices::applicationStorageService().setTemporaryDirectory({});

    const String unique = QNUtilities::createUniqueQNDataTemporaryFilePath();
    ASSERT_EQ(unique.size(), temp.size() + 37);
    EXPECT_TRUE(QNUUID::fromString(StringView(unique).substr(temp.size() + 1)).has_value());
    EXPECT_FALSE(fs::exists(sys(unique)));
}

TEST(FileSystemObject, PrefixTable) {
    const String temp = QNFileSystemObject::tempPath();
    const String app = QNFileSystemObject::appDataPath();
    const String blob = QNFileSystemObject::blobDataPath();
    const String uploads = QNFileSystemObject::pendingUploadsPath();
    auto resolve = [](StringView p) {
        return QNFileSystemObject::absoluteFilePathForRelativePath(p);
    };

    EXPECT_EQ(resolve(u"/etc/hosts"), u"/etc/hosts");
    EXPECT_EQ(resolve(u"$APPDATA/x/y.txt"), app + u"/x/y.txt");
    EXPECT_EQ(resolve(u"$EXTERNAL/x"), temp + u"/x");
    EXPECT_EQ(resolve(u"qnblobdata://a/b.png"), blob + u"/a/b.png");
    EXPECT_EQ(resolve(u"$BLOB_DATA/a/b.png"), blob + u"/a/b.png");
    EXPECT_EQ(resolve(u"$UPLOADS/u.bin"), uploads + u"/u.bin");
    EXPECT_EQ(resolve(u"a\\b\\c.txt"), temp + u"/a/b/c.txt");
    EXPECT_EQ(QNFileSystemObject::absoluteFilePathForRelativePath(std::nullopt), u"");
    // Prefixes are case-sensitive: the wrong case is a relative path.
    EXPECT_EQ(resolve(u"$appdata/x"), temp + u"/$appdata/x");
    EXPECT_EQ(resolve(u"QNBLOBDATA://x"), temp + u"/QNBLOBDATA:/x");

    test::TempDir bundle;
    test::writeSampleBundle(bundle);
    bundle.write("img/logo.png", "png");
    test::ScopedBundle scoped(bundle.path());
    EXPECT_EQ(resolve(u"$RESOURCES/img/logo.png"), u16((bundle.path() / "img/logo.png").string()));
    EXPECT_EQ(resolve(u"$RESOURCES/missing.png"), u"");
    EXPECT_EQ(resolve(u"$RESOURCES/../etc/passwd"), u"");
    QNFile missing(u"$RESOURCES/missing.png");
    missing.setErrCode(7);
    EXPECT_TRUE(missing.checkSandboxFileAndSetError());
    EXPECT_EQ(missing.errCode(), 0);
    QNFile logo(u"$RESOURCES/img/logo.png");
    EXPECT_EQ(logo.readAllTextWithDefaultEncoding(), u"png");
}

TEST(FileSystemObject, TraversalAttemptsNeverLeaveTheRoots) {
    const String temp = QNFileSystemObject::tempPath();
    auto resolve = [](StringView p) {
        return QNFileSystemObject::absoluteFilePathForRelativePath(p);
    };

    for (StringView escape :
         {StringView(u".."), StringView(u"../x"), StringView(u"$TEMP/../x"),
          StringView(u"$TEMP/a/../../x"), StringView(u"$TEMP/../../etc/x"),
          StringView(u"$APPDATA/.."), StringView(u"$APPDATA/../QNDataX/y"),
          StringView(u"$TEMP\\..\\..\\etc"), StringView(u"qnblobdata://../../x"),
          StringView(u"$UPLOADS/a/b/../../../x"), StringView(u"a/./../../b")}) {
        EXPECT_EQ(resolve(escape), u"") << toUtf8(String(escape));
        QNFile file{String(escape)};
        EXPECT_FALSE(file.checkFileAndSetError());
        EXPECT_EQ(file.errCode(), 100);
    }
    // Lexically inside: allowed, and resolved in standardized form.
    EXPECT_EQ(resolve(u"$TEMP/./a//b/"), temp + u"/a/b");
    EXPECT_EQ(resolve(u"$TEMP/a/../b"), temp + u"/b");
    EXPECT_EQ(resolve(u"$TEMP/"), temp);
    // Logical paths are not URL-decoded; "~" is only expanded at the start
    // of a path, and a relative path starts inside tempPath.
    EXPECT_EQ(resolve(u"$TEMP/%2e%2e/x"), temp + u"/%2e%2e/x");
    EXPECT_EQ(resolve(u"~/x"), temp + u"/~/x");
    EXPECT_EQ(resolve(u"//etc//x"), u"//etc//x");  // absolute: the path itself

    // U+0000 never reaches the system cut short.
    const String withNul = String(u"$TEMP/a") + u'\0' + u"/../../../etc/passwd";
    EXPECT_EQ(resolve(withNul), u"");
    QNFile nul(String(u"$TEMP/made") + u'\0' + u".txt");
    nul.create();
    nul.appendAllTextWithDefaultEncoding(u"x");
    EXPECT_FALSE(fs::exists(sys(temp + u"/made")));
    EXPECT_EQ(nul.errCode(), 100);
    EXPECT_FALSE(QNFile(String(u"/etc/hosts") + u'\0' + u"x").exists());

    // A sibling whose name starts with a root's name is outside it.
    const String sibling = temp + u"X/y";
    EXPECT_FALSE(QNFileSystemObject::sandboxPathOrNilForStandardizedPath(sibling).has_value());
    QNFile siblingFile(sibling);
    EXPECT_TRUE(siblingFile.checkFileAndSetError());
    EXPECT_FALSE(siblingFile.checkSandboxFileAndSetError());
    EXPECT_EQ(siblingFile.errCode(), 100);
    EXPECT_FALSE(QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(
        QNFileSystemObject::pendingUploadsPath() + u"X/a"));
    EXPECT_FALSE(QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(
        QNFileSystemObject::pendingUploadsPath() + u"/../QNUploadsX/a"));
    EXPECT_TRUE(QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(u"$UPLOADS/a"));

    // Absolute paths pass the plain check and fail the sandbox one.
    QNFile hosts(u"/etc/hosts");
    EXPECT_TRUE(hosts.checkFileAndSetError());
    hosts.deleteFile();  // the sandbox check refuses before touching anything
    EXPECT_EQ(hosts.errCode(), 100);
    EXPECT_EQ(hosts.errDescription(), u"Security error");
    QNFile empty;
    EXPECT_FALSE(empty.checkFileAndSetError());
    EXPECT_EQ(empty.errDescription(), u"Invalid file");
}

TEST(FileSystemObject, LinksLeavingARootDoNotSteerRemovalsOrMoves) {
    test::TempDir outside;
    writeBytes(outside.path() / "secret.txt", "keep");
    fs::create_directories(outside.path() / "tree/sub");
    const String temp = QNFileSystemObject::tempPath();
    fs::create_directory_symlink(outside.path(), sys(temp + u"/out"));

    // Reading through the link is as open as reading an absolute path.
    EXPECT_EQ(QNFile(u"$TEMP/out/secret.txt").readAllTextWithDefaultEncoding(), u"keep");
    QNFile secret(u"$TEMP/out/secret.txt");
    secret.deleteFile();
    EXPECT_EQ(secret.errCode(), 100);
    secret.renameTo(u"$TEMP/stolen.txt");
    EXPECT_EQ(secret.errCode(), 100);
    QNDirectory tree(u"$TEMP/out/tree");
    tree.deleteDirectory();
    EXPECT_EQ(tree.errCode(), 100);
    QNFile own(u"$TEMP/own.txt");
    own.writeAllTextWithDefaultEncoding(u"mine");
    own.renameTo(u"$TEMP/out/own.txt");
    EXPECT_EQ(own.errCode(), 100);
    EXPECT_TRUE(fs::exists(outside.path() / "secret.txt"));
    EXPECT_TRUE(fs::exists(outside.path() / "tree/sub"));
    EXPECT_FALSE(fs::exists(outside.path() / "own.txt"));

    // The link itself is an item of the root: removing it leaves the target.
    QNFile link(u"$TEMP/out");
    link.deleteFile();
    EXPECT_EQ(link.errCode(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sys(temp + u"/out"))));
    EXPECT_TRUE(fs::exists(outside.path() / "secret.txt"));
    own.deleteFile();
}

TEST(FileSystemObject, RelativePathsFileURLsAndTheBlobConverter) {
    const String blob = QNFileSystemObject::blobDataPath();
    const String uploads = QNFileSystemObject::pendingUploadsPath();
    auto relative = [](StringView p) {
        return QNFileSystemObject::relativePathForAbsoluteFilePath(p);
    };
    EXPECT_EQ(relative(blob + u"/a/b.png"), u"qnblobdata://a/b.png");
    EXPECT_EQ(relative(u"file://" + blob + u"/a/b.png"), u"qnblobdata://a/b.png");
    EXPECT_EQ(relative(u"file://localhost" + blob + u"/a%20b.png"), u"qnblobdata://a b.png");
    EXPECT_EQ(relative(uploads + u"/u.bin"), u"$UPLOADS/u.bin");
    EXPECT_EQ(relative(blob + u"X/a.png"), u"");
    EXPECT_EQ(relative(u"/etc/hosts"), u"");
    EXPECT_EQ(QNFileSystemObject::absoluteFilePathForRelativePath(relative(blob + u"/a/b.png")),
              blob + u"/a/b.png");

    EXPECT_EQ(QNFile(u"file:///tmp/a%20b%C3%A9.txt").absoluteFilePath(), u"/tmp/a bé.txt");
    EXPECT_EQ(QNFile(u"file://localhost/tmp/x?q#f").absoluteFilePath(), u"/tmp/x");
    EXPECT_EQ(QNFile(u"file://server/share/x").absoluteFilePath(), u"");
    EXPECT_EQ(QNFile(u"file:///tmp/a%00b").absoluteFilePath(), u"");

    QNExecutionEnvironmentHelper::initializeCore();
    EXPECT_EQ(QNEntityHelper::convertQNSchemeAbsoluteURL(u"qnblobdata://a/b.png"),
              u"file://" + blob + u"/a/b.png");
    EXPECT_EQ(QNEntityHelper::convertQNSchemeAbsoluteURL(u"qnblobdata://a b.png"),
              u"file://" + blob + u"/a%20b.png");
    EXPECT_FALSE(QNEntityHelper::convertQNSchemeAbsoluteURL(u"qnblobdata://../../x").has_value());
}

TEST(FileSystemObject, RenamePropertiesAndDescription) {
    QNFile file(u"$TEMP/rename/a.txt");
    QNDirectory(u"$TEMP/rename").create();
    file.writeAllTextWithDefaultEncoding(u"A");
    QNFile other(u"$TEMP/rename/b.txt");
    other.writeAllTextWithDefaultEncoding(u"B");

    file.renameTo(u"$TEMP/rename/b.txt");  // never replaces what is there
    EXPECT_EQ(file.errCode(), -1);
    EXPECT_FALSE(file.errDescription().empty());
    EXPECT_EQ(other.readAllTextWithDefaultEncoding(), u"B");
    file.renameTo(u"$TEMP/../elsewhere.txt");
    EXPECT_EQ(file.errCode(), 3);
    EXPECT_EQ(file.errDescription(), u"Destination file already exists");
    file.renameTo(u"$TEMP\\rename\\c.txt");
    EXPECT_EQ(file.errCode(), 0);
    EXPECT_EQ(file.source(), u"$TEMP/rename/a.txt");  // still the old name
    EXPECT_FALSE(file.exists());
    EXPECT_EQ(QNFile(u"$TEMP/rename/c.txt").readAllTextWithDefaultEncoding(), u"A");
    QNDirectory folder(u"$TEMP/rename");
    folder.renameTo(u"$APPDATA/renamed");  // folders move too, across roots
    EXPECT_EQ(folder.errCode(), 0);
    EXPECT_TRUE(QNFile(u"$APPDATA/renamed/c.txt").exists());
    QNDirectory(u"$APPDATA/renamed").deleteDirectory();

    QNFileSystemObject object;
    object.setValueForPropertyName(Value(u"$TEMP/x"), u"SOURCE");
    EXPECT_EQ(object.source(), u"$TEMP/x");
    object.setValueForPropertyName(Value(std::int64_t{5}), u"source");
    object.setValueForPropertyName(Value(u"y"), u"sources");
    EXPECT_EQ(object.source(), u"$TEMP/x");
    EXPECT_EQ(object.debugDescription(), u"<<QNFileSystemObject>\n\tsource: $TEMP/x>");
}

TEST(FileSystemObject, DirectoryCreationFailureGoesToTheFatalErrorHook) {
    test::TempDir dir;
    const auto blocker = dir.write("file", "x");
    const String target = u16((blocker / "sub").string());
    test::ScopedCapturingLogger logger;
    EXPECT_THROW(QNFileSystemObject::createDirectoryIfNotExistsAtPath(target), FatalError);
    EXPECT_TRUE(logger->contains(u"Error creating " + target + u" directory "));
    {
        test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
        QNFileSystemObject::createDirectoryWithSubpathSubpath(target, u"Named");
    }
    EXPECT_TRUE(logger->contains(u"Error creating Named directory "));
}

}  // namespace
}  // namespace qn
