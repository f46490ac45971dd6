
#include <qn/files.h>
#include <qn/runtime.h>

#include "support/test_support.h"

#include <unistd.h>
#include <set>

namespace qn {
namespace {

// Return codes of calls made in order (a braced list evaluates left to right).
using Codes = std::vector<std::int64_t>;

// The shared instance outlives each test: whatever a failed test left open is
// closed so the next one starts from the closed state.
class DelimitedFileTest : public ::testing::Test {
protected:
    QNDelimitedFile& df = QNDelimitedFile::sharedInstance();

    void TearDown() override {
        df.dfrclose();
        df.dfwclose();
    }

    // A logical path in $TEMP that no other test process uses.
    static String tempName(const std::string& name) {
        return fromUtf8("$TEMP/df-" + std::to_string(::getpid()) + "-" + name);
    }

    static std::string contents(StringView logical) {
        const std::string path =
            toUtf8(QNFileSystemObject::absoluteFilePathForRelativePath(logical));
        return test::readFile(path);
    }

    std::int64_t openRead(const std::filesystem::path& path,
                          std::optional<StringView> field = std::nullopt,
                          std::optional<StringView> quote = std::nullopt) {
        return df.dfropenLengthFiledDelimiterStringDelimiterEncoding(fromUtf8(path.string()),
                                                                     std::nullopt, field, quote);
    }
};

TEST_F(DelimitedFileTest, WritesQuotedFixedTextNumbersAndDates) {
    const String path = tempName("write.csv");
    using O = std::optional<std::int64_t>;
    const DateTime d = DateTime::fromCivilUTC({2026, 3, 7, 23, 59, 0, 0});
    // The calls in order, each with its return code. While open for writing,
    // no second open; a line is ended once.
    EXPECT_EQ((Codes{df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(path),
                     df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(path),
                     df.dfropenLengthFiledDelimiterStringDelimiterEncoding(path), df.dfrnext(),
                     df.dfwnext(), df.dfwptxtLength(u"abc", 5),
                     df.dfwpnumDecimals(Value(3.14159), 2), df.dfwnext(), df.dfwnext()}),
              (Codes{0, -1, -1, -1, -9, 0, 0, 0, -9}));
    // Cut, absent and negative lengths; a length no field can have is refused.
    EXPECT_EQ((Codes{df.dfwptxtLength(u"abc", O(2)), df.dfwptxtLength(u"abc", O()),
                     df.dfwptxtLength(u"abc", O(-3)),
                     df.dfwptxtLength(u"abc", O(std::int64_t{1} << 40)), df.dfwnext()}),
              (Codes{0, 0, 0, -1, 0}));
    // No grouping, no trailing zeros, halves away from zero, Decimals exact.
    EXPECT_EQ((Codes{df.dfwpnumDecimals(Value(1234567.891), 1),
                     df.dfwpnumDecimals(Value(Decimal::fromString("-0.125")), 2),
                     df.dfwpnumDecimals(Value(Decimal::fromString("12345678901234567890.5")), 0),
                     df.dfwpnumDecimals(Value(2.5), std::nullopt), df.dfwnext()}),
              (Codes{0, 0, 0, 0, 0}));
    // Codes in any case, "-" by default; a code without a pattern appends
    // nothing, not even the delimiter. Closing writes the pending line.
    EXPECT_EQ((Codes{df.dfwpdateFormatSeparator(d, u"dmy4"), df.dfwpdateFormatSeparator(d, u"XYZ"),
                     df.dfwpdateFormatSeparator(d, u"YMD", u"/"),
                     df.dfwpdateFormatSeparator(d, u"MDY4", u""), df.dfwclose(), df.dfwclose(),
                     df.dfwptxtLength(u"x", 1)}),
              (Codes{0, -10, 0, 0, 0, -1, -1}));
    EXPECT_EQ(contents(path),
              "\"abc  \",3.14\n"
              "\"ab\",\"\",\"\"\n"
              "1234567.9,-0.13,12345678901234567891,3\n"
              "07-03-2026,26/03/07,03072026\n");

    // Append adds, replace starts over; an empty string delimiter writes no
    // quotes; the charset reaches the bytes.
    EXPECT_EQ((Codes{df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(path, u";", u"'", true),
                     df.dfwptxtLength(u"a", 1), df.dfwpnumDecimals(Value(1), 0), df.dfwclose()}),
              (Codes{0, 0, 0, 0}));
    EXPECT_TRUE(contents(path).ends_with("03072026\n'a';1\n"));
    EXPECT_EQ((Codes{df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(path, u"||", u"", false,
                                                                           u"iso-8859-1"),
                     df.dfwptxtLength(u"\u00e9", 2), df.dfwptxtLength(u"b", 1), df.dfwclose()}),
              (Codes{0, 0, 0, 0}));
    EXPECT_EQ(contents(path), "\xE9 ||b\n");
    String text;
    EXPECT_EQ((Codes{df.dfropenLengthFiledDelimiterStringDelimiterEncoding(path, 10, u"||", u"",
                                                                           u"iso-8859-1"),
                     df.dfrnext(), df.dfrgtxtLength(text, 2)}),
              (Codes{0, 0, 0}));
    EXPECT_EQ(text, u"\u00e9 ");
}

TEST_F(DelimitedFileTest, ReadsFieldsOneAfterAnother) {
    test::TempDir dir;
    const auto path = dir.write("in.csv",
                                "\"ab\",7,rest\n"
                                "plain,\"\",\"toolong\",\"a,b\"\r\n"
                                "  -12abc,x,99999999999999999999,-99999999999999999999\n"
                                "3.25,abc,\n"
                                "2026-12-06,06/12/26,2026-13-06,01-02-2026\n"
                                "\"\xF0\x9F\x98\x80\"\n");
    String text = u"unchanged";
    auto num = [&] {
        std::int64_t n = -1;
        EXPECT_EQ(df.dfrgnum(n), 0);
        return n;
    };
    auto dec = [&] {
        Decimal d;
        EXPECT_EQ(df.dfrgdecimal(d), 0);
        return d;
    };
    std::int64_t n = 0;
    DateTime date;

    ASSERT_EQ(openRead(path), 0);
    EXPECT_EQ(df.dfrgtxtLength(text, 4), -1);  // no line read yet
    ASSERT_EQ(df.dfrnext(), 0);
    EXPECT_EQ(df.dfrgtxtLength(text, 4), 0);
    EXPECT_EQ(text, u"ab  ");
    EXPECT_EQ(num(), 7);
    EXPECT_EQ(df.dfrgtxtLength(text, std::int64_t{1} << 40), -1);  // refused, field kept
    EXPECT_EQ(num(), 0);
    EXPECT_EQ(df.dfrgnum(n), -1);

    // -5 and -6 take the field all the same; a delimiter inside quotes
    // splits. The CR of CR LF ends the line, so an empty line follows.
    ASSERT_EQ(df.dfrnext(), 0);
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -5);
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -5);
    text = u"unchanged";
    EXPECT_EQ(df.dfrgtxtLength(text, 3), -6);
    EXPECT_EQ(text, u"unchanged");
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -5);  // "a
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -5);  // b"
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -1);
    ASSERT_EQ(df.dfrnext(), 0);
    EXPECT_EQ(df.dfrgtxtLength(text, 10), -5);
    EXPECT_EQ(df.dfrgnum(n), -1);

    ASSERT_EQ(df.dfrnext(), 0);
    EXPECT_EQ(num(), -12);
    EXPECT_EQ(num(), 0);
    EXPECT_EQ(num(), INT64_MAX);
    EXPECT_EQ(num(), INT64_MIN);
    ASSERT_EQ(df.dfrnext(), 0);
    EXPECT_EQ(dec(), Decimal::fromString("3.25"));
    EXPECT_TRUE(dec().isNaN());
    EXPECT_TRUE(dec().isNaN());  // the empty last field

    ASSERT_EQ(df.dfrnext(), 0);
    const DateTime dec6 = DateTime::fromCivilUTC({2026, 12, 6, 0, 0, 0, 0});
    EXPECT_EQ(df.dfrgdateFormatSeparator(date, u"y4md"), 0);
    EXPECT_EQ(date, dec6);
    EXPECT_EQ(df.dfrgdateFormatSeparator(date, u"nope"), -10);  // takes no field
    EXPECT_EQ(df.dfrgdateFormatSeparator(date, u"DMY", u"/"), 0);
    EXPECT_EQ(date, dec6);
    date = DateTime();
    EXPECT_EQ(df.dfrgdateFormatSeparator(date, u"Y4MD"), -7);
    EXPECT_EQ(date, DateTime());
    EXPECT_EQ(df.dfrgdateFormatSeparator(date, u"MDY4"), 0);
    EXPECT_EQ(date, DateTime::fromCivilUTC({2026, 1, 2, 0, 0, 0, 0}));

    ASSERT_EQ(df.dfrnext(), 0);  // lengths count UTF-16 code units
    EXPECT_EQ(df.dfrgtxtLength(text, 1), -6);
    ASSERT_EQ(df.dfrnext(), -4);
    EXPECT_EQ(df.dfrclose(), 0);
    EXPECT_EQ(df.dfrclose(), -1);

    // Lines break where QNFile's line reading breaks them, wherever the break
    // falls in a long line; tabs and characters above U+8000 are no breaks.
    // An empty field delimiter makes the line one field.
    const char* const kBreaks[] = {"\n",       "\r",           "\v",           "\f",
                                   "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\r\n"};
    std::string broken;
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < i; ++j)
            broken += j == 3 ? "\t" : (j % 3 == 0 ? "\xEF\xBF\xBD" : ",");
        broken += kBreaks[i % 8];
    }
    const auto breaks = dir.write("breaks.txt", broken + "last");
    ASSERT_EQ(openRead(breaks, u"", u""), 0);
    auto lines = QNFile(fromUtf8(breaks.string())).readalllines();
    ASSERT_GT(lines->count(), 40u);
    for (std::int64_t i = 1; i <= static_cast<std::int64_t>(lines->count()); ++i) {
        ASSERT_EQ(df.dfrnext(), 0);
        EXPECT_EQ(df.dfrgtxtLength(text, 40), 0);
        EXPECT_EQ(text, qnStringOfLengthByAppendingBlanksOnRight(lines->item(i), 40));
        EXPECT_EQ(df.dfrgtxtLength(text, 40), -1);
    }
    EXPECT_EQ(df.dfrnext(), -4);
}

TEST_F(DelimitedFileTest, FilesThatCannotBeOpened) {
    test::TempDir dir;
    ASSERT_EQ(openRead(dir.path() / "missing.csv"), 0);
    EXPECT_EQ(df.dfrnext(), -4);
    EXPECT_EQ(df.dfrclose(), 0);

    // A path that leaves its root cannot be written; the state stays closed.
    EXPECT_EQ(df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(u"$TEMP/../../etc/x.csv"), -2);
    EXPECT_EQ(df.dfwptxtLength(u"x", 1), -1);

    // Replacing a file outside the roots would append to it (it may not be
    // removed): refused, the file is left as it was.
    const auto outside = dir.write("outside.csv", "old\n");
    const String outsidePath = fromUtf8(outside.string());
    EXPECT_EQ(df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(outsidePath), -2);
    ASSERT_EQ(df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(outsidePath, std::nullopt,
                                                                    std::nullopt, true),
              0);
    EXPECT_EQ(df.dfwptxtLength(u"new", 3), 0);
    EXPECT_EQ(df.dfwclose(), 0);
    EXPECT_EQ(test::readFile(outside), "old\n\"new\"\n");
}

// Threads race for the one shared file: an open either wins the whole
// instance or answers -1, every answer is a documented code, and every line
// on disk is one whole record.
TEST_F(DelimitedFileTest, ConcurrentOpenPutNextCloseAndReads) {
    const String path = tempName("concurrent.csv");
    ASSERT_EQ(df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(path), 0);
    ASSERT_EQ(df.dfwclose(), 0);

    const std::set<std::int64_t> documented{0, -1, -2, -4, -5, -6, -7, -9, -10};
    std::atomic<int> undocumented{0}, wrongRecords{0}, linesWritten{0}, readCycles{0};
    auto record = [&](std::int64_t rc) {
        if (!documented.contains(rc)) ++undocumented;
        return rc;
    };
    auto worker = [&](int id) {
        const String tag = fromUtf8("t" + std::to_string(id));
        for (int i = 0; i < 150; ++i) {
            if ((i + id) % 3 != 0) {
                if (record(df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(
                        path, std::nullopt, std::nullopt, true)) != 0)
                    continue;
                for (int line = 0; line < 3; ++line) {
                    if (record(df.dfwptxtLength(tag, 4)) != 0 ||
                        record(df.dfwpnumDecimals(Value(id), 0)) != 0 || record(df.dfwnext()) != 0)
                        ++wrongRecords;
                    ++linesWritten;
                }
                if (record(df.dfwclose()) != 0) ++wrongRecords;
            } else {
                if (record(df.dfropenLengthFiledDelimiterStringDelimiterEncoding(path)) != 0)
                    continue;
                ++readCycles;
                while (record(df.dfrnext()) == 0) {
                    String text;
                    std::int64_t n = -1;
                    if (record(df.dfrgtxtLength(text, 4)) != 0 || record(df.dfrgnum(n)) != 0 ||
                        text != qnStringOfLengthByAppendingBlanksOnRight(
                                    fromUtf8("t" + std::to_string(n)), 4) ||
                        record(df.dfrgnum(n)) != -1)
                        ++wrongRecords;
                }
                if (record(df.dfrclose()) != 0) ++wrongRecords;
            }
        }
    };
    test::onThreads(8, worker);

    EXPECT_EQ(undocumented.load(), 0);
    EXPECT_EQ(wrongRecords.load(), 0);
    EXPECT_GT(readCycles.load(), 0);
    const std::string all = contents(path);
    int lines = 0;
    for (std::size_t start = 0; start < all.size(); ++lines) {
        const std::size_t end = all.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = all.substr(start, end - start);
        const std::string id = line.substr(line.find(',') + 1);
        EXPECT_EQ(line, "\"t" + id + std::string(4 - 1 - id.size(), ' ') + "\"," + id);
        start = end + 1;
    }
    EXPECT_EQ(lines, linesWritten.load());
}

}  // namespace
}  // namespace qn
