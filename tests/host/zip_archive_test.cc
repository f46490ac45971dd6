// Extracting zip archives, hostile ones among them; archives are made here
// with libzip.
#include <qn/host/zip_archive.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace qn;
namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;
    std::string contents;
    bool symlink = false;
};

void makeArchive(const fs::path& file, const std::vector<Entry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const Entry& e : entries) {
        // libzip keeps the buffer until zip_close; the entries outlive it.
        zip_source_t* source = zip_source_buffer(archive, e.contents.data(), e.contents.size(), 0);
        const zip_int64_t index =
            zip_file_add(archive, e.name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0) << e.name;
        if (e.symlink) {
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                             ZIP_OPSYS_UNIX, (S_IFLNK | 0777) << 16);
        }
    }
    ASSERT_EQ(zip_close(archive), 0);
}

// Every regular file under a folder, relative to it.
std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) out.push_back(entry.path().lexically_relative(root).string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(ZipArchiveTest, ExtractsAnArchiveAndKeepsOrReplacesExistingFiles) {
    test::TempDir dir;
    const fs::path zip = dir.path() / "blobs.zip";
    const std::vector<Entry> entries = {
        {"photos/", ""}, {"photos/a.jpg", "jpeg"}, {"notes.txt", std::string(3000, 'n')}};
    makeArchive(zip, entries);
    const fs::path out = dir.path() / "out";
    ZipArchive archive;
    EXPECT_FALSE(archive.UnzipFileToOverWrite(fromUtf8(out.string()), true)) << "nothing open";
    ASSERT_TRUE(archive.UnzipOpenFile(fromUtf8(zip.string())));
    ASSERT_TRUE(archive.UnzipFileToOverWrite(fromUtf8(out.string()), true));
    EXPECT_EQ(filesUnder(out), (std::vector<std::string>{"notes.txt", "photos/a.jpg"}));
    EXPECT_EQ(test::readFile(out / "photos/a.jpg"), "jpeg");

    test::writeFile(out / "notes.txt", "mine");
    EXPECT_TRUE(archive.UnzipFileToOverWrite(fromUtf8(out.string()), false));
    EXPECT_EQ(test::readFile(out / "notes.txt"), "mine") << "kept without overwrite";
    EXPECT_TRUE(archive.UnzipFileToOverWrite(fromUtf8(out.string()), true));
    EXPECT_EQ(test::readFile(out / "notes.txt"), std::string(3000, 'n'));
    EXPECT_TRUE(archive.UnzipCloseFile());

    test::writeFile(dir.path() / "not.zip", "plain text");
    EXPECT_FALSE(archive.UnzipOpenFile(fromUtf8((dir.path() / "not.zip").string())));
}

// Zip-slip and its relatives: only the good entry lands, and nothing is
// written outside the destination.
TEST(ZipArchiveTest, HostileEntriesAreSkippedAndNothingLeavesTheDestination) {
    test::TempDir dir;
    const fs::path out = dir.path() / "blobs";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(out);
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, out / "link");
    const fs::path zip = dir.path() / "evil.zip";
    makeArchive(zip, {{"good.txt", "good"},
                      {"../escape.txt", "x"},
                      {"a/../../escape2.txt", "x"},
                      {"/abs.txt", "x"},
                      {"win\\..\\escape3.txt", "x"},
                      {"link/through.txt", "x"},
                      {"sym", outside.string(), true},
                      {"bomb.bin", std::string(8 << 20, '\0')}});
    ZipArchive archive;
    ASSERT_TRUE(archive.UnzipOpenFile(fromUtf8(zip.string())));
    EXPECT_FALSE(archive.UnzipFileToOverWrite(fromUtf8(out.string()), true))
        << "skipped entries make the answer false";
    EXPECT_EQ(filesUnder(out), (std::vector<std::string>{"good.txt"}));
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(dir.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "escape2.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    EXPECT_FALSE(fs::is_symlink(out / "sym"));

    // The total bound holds for what is extracted.
    makeArchive(zip, {{"one.bin", std::string(600, 'a')}, {"two.bin", std::string(600, 'b')}});
    const fs::path small = dir.path() / "small";
    ASSERT_TRUE(archive.UnzipOpenFile(fromUtf8(zip.string())));
    archive.setMaximumTotalSize(1000);
    EXPECT_FALSE(archive.UnzipFileToOverWrite(fromUtf8(small.string()), true));
    EXPECT_EQ(filesUnder(small).size(), 1u);
    for (const auto& entry : fs::directory_iterator(small))
        EXPECT_EQ(entry.path().filename().string().find(".bin."), std::string::npos)
            << "no temporary file is left behind";
}

}  // namespace
