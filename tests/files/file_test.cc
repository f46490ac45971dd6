// Files and directories. The roots point at a fresh folder for the whole
// executable; each file test works in its own sub-folder of tempPath.
#include <qn/files.h>
#include <qn/host.h>

#include "support/test_support.h"

#include <map>
#include <utility>

namespace qn {
namespace {

namespace fs = std::filesystem;
using test::errorOf;
using test::ErrorPair;

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

fs::path sys(const String& s) {
    return fs::path(toUtf8(s));
}

String resolve(StringView path) {
    return QNFileSystemObject::absoluteFilePathForRelativePath(path);
}

TEST(FileSystemObject, RootsArePinnedDistinctAndFoundByTheirPrefixes) {
    const String temp = QNFileSystemObject::tempPath(), app = QNFileSystemObject::appDataPath();
    const String blob = QNFileSystemObject::blobDataPath();
    const String uploads = QNFileSystemObject::pendingUploadsPath();
    EXPECT_TRUE(fs::is_directory(sys(blob)));

    // Moving the storage folders later changes nothing: the roots are kept.
    test::TempDir other;
    QNObjectsModelServices::applicationStorageService().setTemporaryDirectory(other.path());
    EXPECT_EQ(QNFileSystemObject::tempPath(), temp);
    QNObjectsModelServices::applicationStorageService().setTemporaryDirectory({});

    // Prefixes are case-sensitive: the wrong case is a relative path.
    const std::pair<const char16_t*, String> prefixes[] = {
        {u"/etc/hosts", u"/etc/hosts"},
        {u"$APPDATA/x/y.txt", app + u"/x/y.txt"},
        {u"$EXTERNAL/x", temp + u"/x"},
        {u"qnblobdata://a/b.png", blob + u"/a/b.png"},
        {u"$BLOB_DATA/a/b.png", blob + u"/a/b.png"},
        {u"$UPLOADS/u.bin", uploads + u"/u.bin"},
        {u"a\\b\\c.txt", temp + u"/a/b/c.txt"},
        {u"$appdata/x", temp + u"/$appdata/x"},
        {u"QNBLOBDATA://x", temp + u"/QNBLOBDATA:/x"}};
    for (const auto& [path, absolute] : prefixes)
        EXPECT_EQ(resolve(path), absolute) << toUtf8(path);
    EXPECT_EQ(QNFileSystemObject::absoluteFilePathForRelativePath(std::nullopt), u"");

    test::TempDir bundle;
    test::writeSampleBundle(bundle);
    const String logo = fromUtf8(bundle.write("img/logo.png", "png").string());
    test::ScopedBundle scoped(bundle.path());
    EXPECT_EQ(resolve(u"$RESOURCES/img/logo.png"), logo);
    EXPECT_EQ(resolve(u"$RESOURCES/missing.png"), u"");
    EXPECT_EQ(resolve(u"$RESOURCES/../etc/passwd"), u"");
    QNFile missing(u"$RESOURCES/missing.png");
    missing.setErrCode(7);
    EXPECT_TRUE(missing.checkFileAndSetError());
    EXPECT_EQ(missing.errCode(), 0);
    EXPECT_EQ(QNFile(u"$RESOURCES/img/logo.png").readAllTextWithDefaultEncoding(), u"png");
}

TEST(FileSystemObject, TraversalAttemptsNeverLeaveTheRoots) {
    const String temp = QNFileSystemObject::tempPath();
    for (const char16_t* escape :
         {u"..", u"../x", u"$TEMP/../x", u"$TEMP/a/../../x", u"$TEMP/../../etc/x", u"$APPDATA/..",
          u"$APPDATA/../QNDataX/y", u"$TEMP\\..\\..\\etc", u"qnblobdata://../../x",
          u"$UPLOADS/a/b/../../../x", u"a/./../../b"}) {
        EXPECT_EQ(resolve(escape), u"") << toUtf8(escape);
        QNFile file{String(escape)};
        EXPECT_FALSE(file.checkFileAndSetError());
        EXPECT_EQ(file.errCode(), 100);
    }
    // Lexically inside: allowed, and resolved in standardized form. Logical
    // paths are not URL-decoded; "~" is only expanded at the start of a path,
    // and a relative path starts inside tempPath; an absolute one is itself.
    const std::pair<const char16_t*, String> inside[] = {{u"$TEMP/./a//b/", temp + u"/a/b"},
                                                         {u"$TEMP/a/../b", temp + u"/b"},
                                                         {u"$TEMP/", temp},
                                                         {u"$TEMP/%2e%2e/x", temp + u"/%2e%2e/x"},
                                                         {u"~/x", temp + u"/~/x"},
                                                         {u"//etc//x", u"//etc//x"}};
    for (const auto& [path, absolute] : inside)
        EXPECT_EQ(resolve(path), absolute) << toUtf8(path);

    // U+0000 never reaches the system cut short.
    EXPECT_EQ(resolve(String(u"$TEMP/a") + u'\0' + u"/../../../etc/passwd"), u"");
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
    const String uploads = QNFileSystemObject::pendingUploadsPath();
    EXPECT_FALSE(QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(uploads + u"X/a"));
    EXPECT_FALSE(
        QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(uploads + u"/../QNUploadsX/a"));
    EXPECT_TRUE(QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(u"$UPLOADS/a"));

    // Absolute paths pass the plain check and fail the sandbox one, which
    // refuses before touching anything.
    QNFile hosts(u"/etc/hosts");
    EXPECT_TRUE(hosts.checkFileAndSetError());
    hosts.deleteFile();
    EXPECT_EQ(errorOf(hosts), ErrorPair(100, u"Security error"));
    QNFile empty;
    EXPECT_FALSE(empty.checkFileAndSetError());
    EXPECT_EQ(empty.errDescription(), u"Invalid file");
}

TEST(FileSystemObject, LinksLeavingARootDoNotSteerRemovalsOrMoves) {
    test::TempDir outside;
    outside.write("secret.txt", "keep");
    fs::create_directories(outside.path() / "tree/sub");
    const String temp = QNFileSystemObject::tempPath();
    fs::create_directory_symlink(outside.path(), sys(temp + u"/out"));

    // Reading through the link is as open as reading an absolute path;
    // removing or moving through it is refused.
    EXPECT_EQ(QNFile(u"$TEMP/out/secret.txt").readAllTextWithDefaultEncoding(), u"keep");
    QNFile secret(u"$TEMP/out/secret.txt"), own(u"$TEMP/own.txt");
    QNDirectory tree(u"$TEMP/out/tree");
    own.writeAllTextWithDefaultEncoding(u"mine");
    secret.deleteFile();
    const std::int64_t afterDelete = secret.errCode();
    secret.renameTo(u"$TEMP/stolen.txt");
    tree.deleteDirectory();
    own.renameTo(u"$TEMP/out/own.txt");
    EXPECT_EQ(
        (std::vector<std::int64_t>{afterDelete, secret.errCode(), tree.errCode(), own.errCode()}),
        (std::vector<std::int64_t>{100, 100, 100, 100}));
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
    const std::pair<String, const char16_t*> relative[] = {
        {blob + u"/a/b.png", u"qnblobdata://a/b.png"},
        {u"file://" + blob + u"/a/b.png", u"qnblobdata://a/b.png"},
        {u"file://localhost" + blob + u"/a%20b.png", u"qnblobdata://a b.png"},
        {QNFileSystemObject::pendingUploadsPath() + u"/u.bin", u"$UPLOADS/u.bin"},
        {blob + u"X/a.png", u""},
        {u"/etc/hosts", u""}};
    for (const auto& [absolute, path] : relative)
        EXPECT_EQ(QNFileSystemObject::relativePathForAbsoluteFilePath(absolute), path)
            << toUtf8(absolute);
    EXPECT_EQ(resolve(u"qnblobdata://a/b.png"), blob + u"/a/b.png");

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

TEST(FileSystemObject, RenameAndDirectoryCreationFailures) {
    QNDirectory(u"$TEMP/rename").create();
    QNFile file(u"$TEMP/rename/a.txt"), other(u"$TEMP/rename/b.txt");
    file.writeAllTextWithDefaultEncoding(u"A");
    other.writeAllTextWithDefaultEncoding(u"B");
    file.renameTo(u"$TEMP/rename/b.txt");  // never replaces what is there
    EXPECT_EQ(file.errCode(), -1);
    EXPECT_FALSE(file.errDescription().empty());
    EXPECT_EQ(other.readAllTextWithDefaultEncoding(), u"B");
    file.renameTo(u"$TEMP/../elsewhere.txt");
    EXPECT_EQ(errorOf(file), ErrorPair(3, u"Destination file already exists"));
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

    // A folder that cannot be created goes to the fatal-error hook.
    test::TempDir dir;
    const String target = fromUtf8((dir.write("file", "x") / "sub").string());
    test::ScopedCapturingLogger logger;
    EXPECT_THROW(QNFileSystemObject::createDirectoryIfNotExistsAtPath(target), FatalError);
    EXPECT_TRUE(logger->contains(u"Error creating " + target + u" directory "));
    {
        test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
        QNFileSystemObject::createDirectoryWithSubpathSubpath(target, u"Named");
    }
    EXPECT_TRUE(logger->contains(u"Error creating Named directory "));
}

// --- Files and directories ---------------------------------------------------

// A fresh folder under tempPath, named for the test, removed afterwards.
class Area {
public:
    explicit Area(const char* name) : logical_(u"$TEMP/" + fromUtf8(name)) {
        path_ = sys(QNFileSystemObject::tempPath()) / name;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Area() { fs::remove_all(path_); }
    String operator()(const char* relative) const { return logical_ + u"/" + fromUtf8(relative); }
    fs::path at(const char* relative) const { return path_ / relative; }
    void put(const char* relative, std::string_view bytes) const {
        test::writeFile(at(relative), bytes);
    }
    std::string bytes(const char* relative) const { return test::readFile(at(relative)); }

private:
    String logical_;
    fs::path path_;
};

using Lines = std::vector<String>;
Lines lines(QNFile& file) {
    Lines out;
    auto collection = file.readalllines(u"");
    for (std::int64_t i = 1; i <= collection->size(); ++i)
        out.push_back(collection->item(i));
    return out;
}

// Every file under `root` with its bytes.
std::map<std::string, std::string> contentsUnder(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        out[fs::relative(entry.path(), root).string()] =
            entry.is_directory() ? "(folder)" : test::readFile(entry.path());
    return out;
}

// The bundle's resources are read like any file but never changed: every
// write, creation, removal or move whose target is one is refused, whatever
// operation or spelling of the prefix asks, and whether the resource exists.
TEST(FileSystemObject, ResourcesAreReadButNeverChanged) {
    test::TempDir bundle;
    test::writeSampleBundle(bundle);
    bundle.write("data.txt", "one\ntwo\n");
    bundle.write("sub/inner.txt", "inner");
    const auto before = contentsUnder(bundle.path());
    test::ScopedBundle scoped(bundle.path());
    Area area("resources");
    area.put("own.txt", "own");
    const ErrorPair refused(100, u"Security error");

    QNFile resource(u"$RESOURCES/data.txt");
    EXPECT_EQ(resource.readAllTextWithDefaultEncoding(), u"one\ntwo\n");
    EXPECT_EQ(resource.getLength(), 8);
    resource.copyToPath(area("copy.txt"));
    EXPECT_EQ(resource.errCode(), 0);
    EXPECT_EQ(area.bytes("copy.txt"), "one\ntwo\n");
    resource.openReadWithDefaultEncoding();
    EXPECT_EQ(resource.readline(), u"one");
    resource.writeline(u"three");
    EXPECT_EQ(errorOf(resource), refused);
    resource.appendAllTextWithDefaultEncoding(u"four");  // through the reading handle
    EXPECT_EQ(errorOf(resource), refused);
    EXPECT_FALSE(resource.isOpen());
    EXPECT_FALSE(resource.checkSandboxFileAndSetError());

    const QNObjectCollection lines(std::vector<Value>{Value(u"x")});
    const std::pair<const char*, std::function<void(QNFile&)>> changes[] = {
        {"append", [](QNFile& f) { f.appendAllTextWithDefaultEncoding(u"x"); }},
        {"write", [](QNFile& f) { f.writeAllTextWithDefaultEncoding(u"x"); }},
        {"append lines", [&](QNFile& f) { f.appendAllLinesWithDefaultEncoding(lines); }},
        {"write lines", [&](QNFile& f) { f.writeAllLinesWithDefaultEncoding(lines); }},
        {"create", [](QNFile& f) { f.create(); }},
        {"open", [](QNFile& f) { f.openWithDefaultEncoding(); }},
        {"openwrite", [](QNFile& f) { f.openWriteWithDefaultEncoding(); }},
        {"base64", [](QNFile& f) { EXPECT_FALSE(f.frombase64string(u"eA==")); }},
        {"delete", [](QNFile& f) { f.deleteFile(); }},
        {"rename", [&](QNFile& f) { f.renameTo(area("moved.txt")); }}};
    for (const char16_t* source :
         {u"$RESOURCES/data.txt", u"$RESOURCES\\data.txt", u"$RESOURCES/new.txt"}) {
        for (const auto& [name, change] : changes) {
            QNFile file{String(source)};
            change(file);
            EXPECT_EQ(errorOf(file), refused) << name << " " << toUtf8(source);
            EXPECT_FALSE(file.isOpen()) << name;
        }
    }
    for (const char16_t* destination :
         {u"$RESOURCES/data.txt", u"$RESOURCES/new.txt", u"$RESOURCES\\sub\\new.txt"}) {
        QNFile own(area("own.txt"));
        own.copyToPath(destination);
        EXPECT_EQ(errorOf(own), refused) << toUtf8(destination);
        own.renameTo(destination);
        EXPECT_EQ(errorOf(own), refused) << toUtf8(destination);
    }
    for (const char16_t* source :
         {u"$RESOURCES/sub", u"$RESOURCES/sub/inner.txt", u"$RESOURCES/new"}) {
        QNDirectory folder{String(source)};
        folder.create();
        EXPECT_EQ(errorOf(folder), refused) << toUtf8(source);
        folder.deleteDirectory();
        EXPECT_EQ(errorOf(folder), refused) << toUtf8(source);
        folder.renameTo(area("moved"));
        EXPECT_EQ(errorOf(folder), refused) << toUtf8(source);
    }
    QNDelimitedFile delimited;
    for (bool append : {false, true})
        EXPECT_EQ(delimited.dfwopenFiledDelimiterStringDelimiterAppendEncoding(
                      u"$RESOURCES/data.txt", std::nullopt, std::nullopt, append),
                  -2);

    EXPECT_EQ(contentsUnder(bundle.path()), before);
    EXPECT_EQ(area.bytes("own.txt"), "own");
    EXPECT_FALSE(fs::exists(area.at("moved.txt")));
    EXPECT_FALSE(fs::exists(area.at("moved")));
}

TEST(File, LineBreaksAndReadline) {
    Area area("lines");
    area.put("lf.txt", "a\nb\n");
    area.put("crlf.txt", "a\r\nb\r\n");
    area.put("mixed.txt",
             "1\v2\f3\r4\xC2\x85"
             "5\xE2\x80\xA8"
             "6\xE2\x80\xA9"
             "7");
    area.put("empty.txt", "");
    QNFile lf(area("lf.txt")), crlf(area("crlf.txt")), mixed(area("mixed.txt"));
    EXPECT_EQ(lines(lf), (Lines{u"a", u"b"}));
    EXPECT_EQ(lines(crlf), (Lines{u"a", u"", u"b", u""}));
    EXPECT_EQ(lines(mixed), (Lines{u"1", u"2", u"3", u"4", u"5", u"6", u"7"}));

    QNFile empty(area("empty.txt"));
    empty.openReadWithDefaultEncoding();
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(empty.readline(), u"");
    EXPECT_EQ(empty.errCode(), 0);
    empty.close();
    empty.close();  // idempotent
    EXPECT_EQ(empty.readline(), u"");
    EXPECT_EQ(errorOf(empty), ErrorPair(-1, u"The file should be opened first"));

    lf.openReadWithDefaultEncoding();
    lf.openwrite(u"utf-8");  // a second open changes nothing
    EXPECT_EQ(lf.errDescription(), u"The file is already open");
    EXPECT_EQ((std::vector<String>{lf.readline(), lf.readline()}), (Lines{u"a", u"b"}));
    EXPECT_TRUE(lf.eof());
    lf.close();

    // open: creates a missing file; writes append and are not seen by
    // readline (the lines are a snapshot); openwrite never truncates.
    QNFile created(area("new.txt"));
    created.openWithDefaultEncoding();
    created.writeline(u"one");
    EXPECT_TRUE(created.eof());
    created.close();
    created.openWriteWithDefaultEncoding();
    EXPECT_EQ(created.readline(), u"");
    EXPECT_EQ(created.errCode(), 0);
    created.writeText(u"two");
    created.close();
    created.openWithDefaultEncoding();
    EXPECT_EQ(created.readline(), u"one");
    created.writeline(u"three");  // after a read: still at the end
    created.close();
    EXPECT_EQ(area.bytes("new.txt"), "one\ntwothree\n");

    QNFile folder(u"$TEMP/lines"), resource(u"$RESOURCES/nothing-here.txt");
    folder.openReadWithDefaultEncoding();
    resource.openReadWithDefaultEncoding();
    EXPECT_FALSE(folder.isOpen() || resource.isOpen());
    EXPECT_EQ(resource.errDescription(), u"Could not open file at path ");
}

// UTF-8 files are read and decoded in pieces of 64 KiB: whatever falls on a
// piece's edge (a character of two to four bytes, a break of two or three,
// CR LF, a line longer than a piece, the byte order mark) reads as the whole
// text split at every break would, and a fault past the first piece still
// fails the whole read.
TEST(File, LinesOfLargeFilesWhateverFallsOnAPieceEdge) {
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    auto split = [](StringView text) {
        Lines out;
        String line;
        for (char16_t c : text) {
            if ((c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029) {
                out.push_back(std::exchange(line, String()));
            } else {
                line.push_back(c);
            }
        }
        if (!line.empty()) out.push_back(line);
        return out;
    };
    Area area("pieces");
    const char* const kEdges[] = {"\xF0\x9F\x98\x80", "\xE4\xB8\xAD", "\xC3\xA9", "\r\n",
                                  "\xC2\x85",         "\xE2\x80\xA8", "\n"};
    int files = 0;
    for (const char* edge : kEdges) {
        for (std::size_t before = 0; before < 4; ++before) {
            // `edge` starts `before` bytes ahead of the second and third edges.
            std::string bytes = files % 5 == 0 ? "\xEF\xBB\xBF" : "";
            for (std::size_t i = 0; bytes.size() < kPiece - before; ++i)
                bytes += i % 97 == 96 ? '\n' : static_cast<char>('a' + i % 26);
            bytes.resize(kPiece - before);
            bytes += edge;
            bytes += std::string(kPiece + 100, 'x');  // one line across a whole piece
            bytes.resize(2 * kPiece - before);
            bytes += edge;
            bytes += files % 2 == 0 ? "end" : "end\n";
            area.put("edge.txt", bytes);
            QNFile file(area("edge.txt"));
            const Lines expected = split(fromUtf8(
                std::string_view(bytes).substr(bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0)));
            ASSERT_EQ(lines(file), expected) << "edge " << files;
            file.openReadWithDefaultEncoding();
            std::size_t read = 0;
            while (!file.eof())
                EXPECT_EQ(file.readline(), expected[read++]);
            EXPECT_EQ(read, expected.size());
            file.close();
            ++files;
        }
    }
    // Ill-formed bytes in the last piece, or a sequence cut short at the end.
    for (const char* tail : {"ok\xC3(", "ok\xE2\x80"}) {
        area.put("late.txt", std::string(3 * kPiece, 'a') + "\n" + tail);
        QNFile late(area("late.txt"));
        EXPECT_EQ(late.readalllines()->count(), 0u);
        EXPECT_NE(late.errDescription().find(u"UTF-8"), String::npos);
    }
}

TEST(File, Charsets) {
    Area area("charsets");
    area.put("bom.txt", "\xEF\xBB\xBFh\xC3\xA9llo\n");
    area.put("latin1.txt", "caf\xE9\n");
    area.put("utf16le.txt", std::string("\xFF\xFEh\0i\0\n\0", 8));
    area.put("utf16be.txt", std::string("\xFE\xFF\0h\0i", 6));
    area.put("bad.txt", "ok\xC3(\n");
    auto read = [&](const char* name, const char16_t* charset) {
        return QNFile(area(name)).readalltext(StringView(charset));
    };
    EXPECT_EQ(QNFile(area("bom.txt")).readAllTextWithDefaultEncoding(), u"héllo\n");
    EXPECT_EQ(read("latin1.txt", u"ISO-8859-1"), u"café\n");
    // The mark decides the byte order, whatever UTF-16 name was given; an
    // unknown name is UTF-8.
    EXPECT_EQ(read("utf16le.txt", u"utf-16"), u"hi\n");
    EXPECT_EQ(read("utf16le.txt", u"UTF-16BE"), u"hi\n");
    EXPECT_EQ(read("utf16be.txt", u"utf-16le"), u"hi");
    EXPECT_EQ(read("bom.txt", u"no-such-charset"), u"héllo\n");

    QNFile bad(area("bad.txt"));
    EXPECT_EQ(bad.readAllTextWithDefaultEncoding(), u"");
    EXPECT_EQ(bad.errCode(), -1);
    EXPECT_NE(bad.errDescription().find(u"UTF-8"), String::npos);
    EXPECT_EQ(bad.readalltext(StringView(u"latin1")), u"ok\u00C3(\n");

    // Text a charset cannot carry (the euro in Latin-1, a lone surrogate) is
    // not written at all.
    QNFile latin(area("out-latin1.txt"));
    latin.writealltextEncoding(u"café", u"latin1");
    latin.appendalltextEncoding(u"€uro", u"latin1");
    EXPECT_EQ(latin.errCode(), 0);
    latin.appendalltextEncoding(String(u"x") + char16_t(0xD800), u"utf-8");
    EXPECT_EQ(area.bytes("out-latin1.txt"), "caf\xE9");

    // UTF-16 carries one mark, at the start of the file, however many appends.
    QNFile wide(area("out-utf16.txt"));
    wide.writealltextEncoding(u"a", u"UTF-16");
    wide.appendalltextEncoding(u"b", u"UTF-16");
    wide.appendalllinesEncoding(*QNStringCollection::stringCollectionFromString(u"c;d"), u"UTF-16");
    EXPECT_EQ(area.bytes("out-utf16.txt"), std::string("\xFE\xFF\0a\0b\0c\0\n\0d\0\n", 14));
    EXPECT_EQ(wide.readalltext(StringView(u"utf-16")), u"abc\nd\n");
}

TEST(File, OperationErrors) {
    Area area("errors");
    area.put("a.txt", "12345");
    area.put("b.txt", "b");
    QNFile a(area("a.txt")), unopened(area("a.txt"));
    unopened.writeline(u"x");
    EXPECT_EQ(errorOf(unopened), ErrorPair(-1, u"The file should be opened first"));

    a.copyToPath(area("b.txt"));  // never onto an existing file
    EXPECT_EQ(a.errCode(), -1);
    EXPECT_FALSE(a.errDescription().empty());
    EXPECT_EQ(area.bytes("b.txt"), "b");
    a.copyToPath(u"$TEMP/../../x");
    EXPECT_EQ(errorOf(a), ErrorPair(3, u"File does not exist"));
    a.copyToPath(area("c.txt"));
    EXPECT_EQ(a.errCode(), 0);
    EXPECT_EQ(area.bytes("c.txt"), "12345");

    QNFile missing(area("missing.txt"));
    missing.deleteFile();
    EXPECT_EQ(missing.errDescription(), u"No such file or directory");
    EXPECT_EQ(missing.getLength(), 0);
    EXPECT_EQ(missing.getLastModified(), qnEmptyDate());
    EXPECT_FALSE(missing.exists());
    EXPECT_EQ(missing.errCode(), 0);  // the passed check clears the error

    EXPECT_EQ(a.getLength(), 5);
    const std::chrono::sys_seconds march5{std::chrono::seconds(1614902400)};  // 2021-03-05
    fs::last_write_time(area.at("a.txt"), std::chrono::file_clock::from_sys(march5));
    EXPECT_EQ(a.getLastModified(), DateTime::fromTimeIntervalSince1970(1614902400));
    EXPECT_EQ(QNFile(u"$TEMP/x.txt").getPath(), QNFileSystemObject::tempPath());
    EXPECT_EQ(QNFile::qnFileExt(u"/x.d/README"), u"");
    a.deleteFile();
    EXPECT_FALSE(fs::exists(area.at("a.txt")));
    QNDirectory file(area("b.txt"));
    file.deleteDirectory();
    EXPECT_EQ(errorOf(file), ErrorPair(2, u"Directory does not exists"));
    EXPECT_TRUE(fs::exists(area.at("b.txt")));
}

TEST(File, WriteFamiliesAndBase64) {
    Area area("write");
    QNFile file(area("out.txt"));
    file.writeAllTextWithDefaultEncoding(u"first");
    file.writeAllTextWithDefaultEncoding(u"second");
    file.appendAllTextWithDefaultEncoding(u"+");
    EXPECT_EQ(area.bytes("out.txt"), "second+");
    QNObjectCollection collection(std::vector<Value>{Value(u"x"), Value(42), Value(u"ü")});
    file.writeAllLinesWithDefaultEncoding(collection);
    file.appendAllLinesWithDefaultEncoding(collection);
    EXPECT_EQ(area.bytes("out.txt"), "x\n42\n\xC3\xBC\nx\n42\n\xC3\xBC\n");

    // With the file already open the text goes through that handle, in its
    // charset, and the handle is closed afterwards.
    file.openwrite(u"latin1");
    file.appendalltextEncoding(u"é", u"utf-8");
    EXPECT_EQ(file.errDescription(), u"The file is already open");
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(area.bytes("out.txt").ends_with("\xE9"));

    QNFile unwritable(area("no/such/folder/x.txt"));
    unwritable.appendAllTextWithDefaultEncoding(u"x");
    EXPECT_EQ(errorOf(unwritable), ErrorPair(-1, u"No such file or directory"));

    // Base64 replaces the file whole, or leaves it and the error pair alone.
    QNFile blob(area("blob.bin"));
    blob.create();
    blob.setErrCode(9);
    EXPECT_TRUE(blob.frombase64string(u"AAEC/w=="));
    EXPECT_EQ(area.bytes("blob.bin"), std::string("\0\1\2\xFF", 4));
    EXPECT_TRUE(blob.frombase64string(u"QUJD"));
    for (const char16_t* bad : {u"QUJD\n", u"QU JD", u"QUJ", u"QU=D", u"Q===", u"QUJD-_=="})
        EXPECT_FALSE(blob.frombase64string(bad)) << toUtf8(bad);
    EXPECT_EQ(area.bytes("blob.bin"), "ABC");
    EXPECT_EQ(blob.errCode(), 9);
    EXPECT_TRUE(QNFile(area("empty.bin")).frombase64string(u""));
    EXPECT_EQ(fs::file_size(area.at("empty.bin")), 0u);
    EXPECT_FALSE(QNFile(u"$TEMP/../x.bin").frombase64string(u"QUJD"));
    for (const auto& entry : fs::directory_iterator(area.at("")))  // no temporaries left over
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
}

TEST(Directory, CreateDeleteAndListingFilters) {
    Area area("listing");
    for (const char* name : {"a.TXT", "atxt", "x.tar.gz", ".DS_Store", "b.txt.bak", "c.txt"})
        area.put(name, "x");
    fs::create_directories(area.at("sub.txt"));
    fs::create_directory_symlink(area.at("sub.txt"), area.at("linked"));
    fs::create_symlink(area.at("c.txt"), area.at("c-link.txt"));
    fs::create_symlink(area.at("gone"), area.at("broken.txt"));
    QNDirectory dir(u"$TEMP/listing");

    using Names = std::vector<std::string>;
    auto names = [](const auto& collection) {
        Names out;
        for (std::int64_t i = 1; i <= collection->size(); ++i)
            out.push_back(toUtf8(collection->item(i)->getName()));
        std::sort(out.begin(), out.end());
        return out;
    };
    auto files = [&](const char16_t* filter) { return names(dir.getFiles(StringView(filter))); };
    // A bare filter also matches the end of a name without an extension.
    EXPECT_EQ(files(u"*.txt"), (Names{"a.TXT", "c-link.txt", "c.txt"}));
    EXPECT_EQ(files(u".txt"), files(u"*.txt"));
    EXPECT_EQ(files(u"txt"), (Names{"a.TXT", "atxt", "c-link.txt", "c.txt"}));
    EXPECT_EQ(files(u"tar.gz"), (Names{"x.tar.gz"}));
    EXPECT_EQ(files(u"*.tar.gz"), Names{});
    EXPECT_EQ(files(u""), (Names{"a.TXT", "atxt", "b.txt.bak", "c-link.txt", "c.txt", "x.tar.gz"}));
    EXPECT_EQ(names(dir.getDirectories()), (Names{"linked", "sub.txt"}));

    QNDirectory missing(u"$TEMP/listing/none");
    EXPECT_EQ(missing.getFiles()->size(), 0);
    EXPECT_EQ(missing.errCode(), -1);
    QNDirectory nested(u"$TEMP/listing/n1/n2"), onFile(u"$TEMP/listing/c.txt/x");
    nested.create();
    EXPECT_TRUE(nested.exists());
    nested.create();
    EXPECT_EQ(errorOf(nested), ErrorPair(3, u"Directory already exists"));
    onFile.create();
    EXPECT_EQ(onFile.errCode(), -1);

    // A link to a folder goes as a link; the folder it names stays.
    QNDirectory(u"$TEMP/listing/linked").deleteDirectory();
    EXPECT_TRUE(fs::is_directory(area.at("sub.txt")));
    dir.deleteDirectory();
    EXPECT_FALSE(fs::exists(area.at("")));
}

}  // namespace
}  // namespace qn
