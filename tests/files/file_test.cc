// Files and directories. The roots point at a fresh folder for the whole
// executable (see file_system_object_test.cc); each test works in its own
// sub-folder of tempPath.
#include <qn/files.h>
#include <qn/host.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/test_support.h"

namespace qn {
namespace {

namespace fs = std::filesystem;

fs::path sys(const String& s) {
    return fs::path(toUtf8(s));
}

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
        fs::create_directories(at(relative).parent_path());
        std::ofstream(at(relative), std::ios::binary) << bytes;
    }
    std::string bytes(const char* relative) const {
        std::ifstream in(at(relative), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    String logical_;
    fs::path path_;
};

std::vector<String> lines(QNFile& file, StringView charset = u"") {
    std::vector<String> out;
    auto collection = file.readalllines(charset);
    for (std::int64_t i = 1; i <= collection->size(); ++i)
        out.push_back(collection->item(i));
    return out;
}

using Lines = std::vector<String>;

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
    EXPECT_EQ(empty.errCode(), -1);
    EXPECT_EQ(empty.errDescription(), u"The file should be opened first");

    lf.openReadWithDefaultEncoding();
    lf.openwrite(u"utf-8");  // a second open changes nothing
    EXPECT_EQ(lf.errDescription(), u"The file is already open");
    EXPECT_EQ(lf.readline(), u"a");
    EXPECT_EQ(lf.readline(), u"b");
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

    QNFile folder(u"$TEMP/lines");
    folder.openReadWithDefaultEncoding();
    EXPECT_FALSE(folder.isOpen());
    QNFile resource(u"$RESOURCES/nothing-here.txt");
    resource.openReadWithDefaultEncoding();
    EXPECT_FALSE(resource.isOpen());
    EXPECT_EQ(resource.errDescription(), u"Could not open file at path ");
}

TEST(File, Charsets) {
    Area area("charsets");
    area.put("bom.txt", "\xEF\xBB\xBFh\xC3\xA9llo\n");
    area.put("latin1.txt", "caf\xE9\n");
    area.put("utf16le.txt", std::string("\xFF\xFEh\0i\0\n\0", 8));
    area.put("utf16be.txt", std::string("\xFE\xFF\0h\0i", 6));
    area.put("bad.txt", "ok\xC3(\n");

    EXPECT_EQ(QNFile(area("bom.txt")).readAllTextWithDefaultEncoding(), u"héllo\n");
    EXPECT_EQ(QNFile(area("latin1.txt")).readalltext(StringView(u"ISO-8859-1")), u"café\n");
    // The mark decides the byte order, whatever UTF-16 name was given.
    EXPECT_EQ(QNFile(area("utf16le.txt")).readalltext(StringView(u"utf-16")), u"hi\n");
    EXPECT_EQ(QNFile(area("utf16le.txt")).readalltext(StringView(u"UTF-16BE")), u"hi\n");
    EXPECT_EQ(QNFile(area("utf16be.txt")).readalltext(StringView(u"utf-16le")), u"hi");
    // An unknown or absent name is UTF-8.
    EXPECT_EQ(QNFile(area("bom.txt")).readalltext(StringView(u"no-such-charset")), u"héllo\n");

    QNFile bad(area("bad.txt"));
    EXPECT_EQ(bad.readAllTextWithDefaultEncoding(), u"");
    EXPECT_EQ(bad.errCode(), -1);
    EXPECT_NE(bad.errDescription().find(u"UTF-8"), String::npos);
    EXPECT_EQ(bad.readalltext(StringView(u"latin1")), u"ok\u00C3(\n");

    QNFile latin(area("out-latin1.txt"));
    latin.writealltextEncoding(u"café", u"latin1");
    latin.appendalltextEncoding(u"€uro", u"latin1");  // not representable: nothing written
    EXPECT_EQ(latin.errCode(), 0);
    EXPECT_EQ(area.bytes("out-latin1.txt"), "caf\xE9");
    latin.appendalltextEncoding(String(u"x") + char16_t(0xD800), u"utf-8");  // lone surrogate
    EXPECT_EQ(area.bytes("out-latin1.txt"), "caf\xE9");

    // UTF-16 carries one mark, at the start of the file, however many appends.
    QNFile wide(area("out-utf16.txt"));
    wide.writealltextEncoding(u"a", u"UTF-16");
    wide.appendalltextEncoding(u"b", u"UTF-16");
    auto bytes = QNStringCollection::stringCollectionFromString(u"c;d");
    wide.appendalllinesEncoding(*bytes, u"UTF-16");
    EXPECT_EQ(area.bytes("out-utf16.txt"), std::string("\xFE\xFF\0a\0b\0c\0\n\0d\0\n", 14));
    EXPECT_EQ(wide.readalltext(StringView(u"utf-16")), u"abc\nd\n");
}

TEST(File, OperationErrorsAndAttributes) {
    Area area("errors");
    area.put("a.txt", "12345");
    area.put("b.txt", "b");
    QNFile a(area("a.txt"));

    QNFile unopened(area("a.txt"));
    unopened.writeline(u"x");
    EXPECT_EQ(unopened.errCode(), -1);
    EXPECT_EQ(unopened.errDescription(), u"The file should be opened first");

    a.copyToPath(area("b.txt"));  // never onto an existing file
    EXPECT_EQ(a.errCode(), -1);
    EXPECT_FALSE(a.errDescription().empty());
    EXPECT_EQ(area.bytes("b.txt"), "b");
    a.copyToPath(u"$TEMP/../../x");
    EXPECT_EQ(a.errCode(), 3);
    EXPECT_EQ(a.errDescription(), u"File does not exist");
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
    const double age = DateTime::now().timeIntervalSinceReferenceDate() -
                       a.getLastModified().timeIntervalSinceReferenceDate();
    EXPECT_GE(age, -1);
    EXPECT_LT(age, 60);
    EXPECT_EQ(QNFile(u"$TEMP/x.txt").getPath(), QNFileSystemObject::tempPath());
    EXPECT_EQ(a.getURI(), QNFileSystemObject::tempPath() + u"/errors/a.txt");
    EXPECT_EQ(QNFile::qnFileExt(u"/x.d/README"), u"");

    a.deleteFile();
    EXPECT_FALSE(fs::exists(area.at("a.txt")));
    QNDirectory file(area("b.txt"));
    file.deleteDirectory();
    EXPECT_EQ(file.errCode(), 2);
    EXPECT_EQ(file.errDescription(), u"Directory does not exists");
    EXPECT_TRUE(fs::exists(area.at("b.txt")));
}

TEST(File, WriteFamiliesAndBase64) {
    Area area("write");
    QNFile file(area("out.txt"));
    file.writeAllTextWithDefaultEncoding(u"first");
    file.writeAllTextWithDefaultEncoding(u"second");
    file.appendAllTextWithDefaultEncoding(u"+");
    EXPECT_EQ(area.bytes("out.txt"), "second+");
    std::vector<Value> items{Value(u"x"), Value(std::int64_t{42}), Value(u"ü")};
    QNObjectCollection collection(items);
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
    EXPECT_EQ(unwritable.errCode(), -1);
    EXPECT_EQ(unwritable.errDescription(), u"No such file or directory");

    QNFile blob(area("blob.bin"));
    blob.create();
    blob.setErrCode(9);
    EXPECT_TRUE(blob.frombase64string(u"AAEC/w=="));
    EXPECT_EQ(area.bytes("blob.bin"), std::string("\0\1\2\xFF", 4));
    EXPECT_TRUE(blob.frombase64string(u"QUJD"));
    EXPECT_EQ(area.bytes("blob.bin"), "ABC");
    for (StringView bad : {StringView(u"QUJD\n"), StringView(u"QU JD"), StringView(u"QUJ"),
                           StringView(u"QU=D"), StringView(u"Q==="), StringView(u"QUJD-_==")})
        EXPECT_FALSE(blob.frombase64string(bad)) << toUtf8(String(bad));
    EXPECT_EQ(area.bytes("blob.bin"), "ABC");
    EXPECT_EQ(blob.errCode(), 9);  // the error pair is not touched
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

    auto names = [](const auto& collection) {
        std::vector<std::string> out;
        for (std::int64_t i = 1; i <= collection->size(); ++i)
            out.push_back(toUtf8(collection->item(i)->getName()));
        std::sort(out.begin(), out.end());
        return out;
    };
    using Names = std::vector<std::string>;
    // A bare filter also matches the end of a name without an extension.
    for (StringView filter : {StringView(u"*.txt"), StringView(u".txt")})
        EXPECT_EQ(names(dir.getFiles(filter)), (Names{"a.TXT", "c-link.txt", "c.txt"}));
    for (StringView filter : {StringView(u"txt"), StringView(u"TXT")})
        EXPECT_EQ(names(dir.getFiles(filter)), (Names{"a.TXT", "atxt", "c-link.txt", "c.txt"}));
    EXPECT_EQ(names(dir.getFiles(StringView(u"tar.gz"))), (Names{"x.tar.gz"}));
    EXPECT_EQ(names(dir.getFiles(StringView(u"*.tar.gz"))), Names{});
    EXPECT_EQ(names(dir.getFiles(StringView(u""))), names(dir.getFiles()));
    EXPECT_EQ(names(dir.getFiles()),
              (Names{"a.TXT", "atxt", "b.txt.bak", "c-link.txt", "c.txt", "x.tar.gz"}));
    EXPECT_EQ(names(dir.getDirectories()), (Names{"linked", "sub.txt"}));
    auto files = dir.getFiles();
    EXPECT_EQ(files->item(1)->getPath(), QNFileSystemObject::tempPath() + u"/listing");

    QNDirectory missing(u"$TEMP/listing/none");
    EXPECT_EQ(missing.getFiles()->size(), 0);
    EXPECT_EQ(missing.errCode(), -1);
    QNDirectory nested(u"$TEMP/listing/n1/n2");
    nested.create();
    EXPECT_TRUE(nested.exists());
    nested.create();
    EXPECT_EQ(nested.errCode(), 3);
    EXPECT_EQ(nested.errDescription(), u"Directory already exists");
    QNDirectory onFile(u"$TEMP/listing/c.txt/x");
    onFile.create();
    EXPECT_EQ(onFile.errCode(), -1);

    // A link to a folder goes as a link; the folder it names stays.
    QNDirectory linked(u"$TEMP/listing/linked");
    linked.deleteDirectory();
    EXPECT_TRUE(fs::is_directory(area.at("sub.txt")));
    dir.deleteDirectory();
    EXPECT_FALSE(fs::exists(area.at("")));
}

}  // namespace
}  // namespace qn
