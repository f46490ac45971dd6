// `qn path`: where logical file paths resolve, and the demo's section on
// files and delimited files.

#include <qn/files.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNFileSystemObject;
using qn::String;
using qn::StringView;
using qn::toUtf8;

namespace {

// Why a path resolved to "": the two ways resolution can fail.
const char* unresolvedReason(StringView path) {
    String slashed(path);
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    if (slashed.starts_with(u"$RESOURCES/")) return "the bundle has no resource of that name";
    return "the path leaves its root";
}

void printRoots() {
    const std::pair<const char*, String> roots[] = {
        {"$APPDATA/ (appDataPath, cachePath)", QNFileSystemObject::appDataPath()},
        {"$TEMP/, $EXTERNAL/, relative (tempPath)", QNFileSystemObject::tempPath()},
        {"qnblobdata://, $BLOB_DATA/ (blobDataPath)", QNFileSystemObject::blobDataPath()},
        {"$UPLOADS/ (pendingUploadsPath)", QNFileSystemObject::pendingUploadsPath()},
    };
    for (const auto& [name, path] : roots)
        std::cout << name << "\n    " << toUtf8(path) << "\n";
}

}  // namespace

int runPath(const std::vector<std::string>& args) {
    if (args.empty()) {
        printRoots();
        return 0;
    }
    int status = 0;
    for (const std::string& arg : args) {
        const String logical = qn::fromUtf8(arg);
        const String absolute = QNFileSystemObject::absoluteFilePathForRelativePath(logical);
        std::cout << (arg.empty() ? "\"\"" : arg) << "\n";
        if (absolute.empty()) {
            std::cout << "    \"\" (" << unresolvedReason(logical) << ")\n";
            status = 1;
            continue;
        }
        std::cout << "    " << toUtf8(absolute) << "\n";
        const String back = QNFileSystemObject::relativePathForAbsoluteFilePath(absolute);
        if (!back.empty()) std::cout << "    back: " << toUtf8(back) << "\n";
    }
    return status;
}

void showFiles(std::ostream& out) {
    using qn::QNDelimitedFile;
    using qn::QNFile;
    using qn::Value;

    qn::QNDirectory folder(u"$TEMP/demo");
    folder.create();
    QNFile notes(u"$TEMP/demo/notes.txt");
    notes.writeAllTextWithDefaultEncoding(u"first line\nsegunda l\u00ednea\n\u6700\u540e\n");
    out << "   wrote $TEMP/demo/notes.txt: " << notes.getLength() << " bytes\n";

    // Delimited file: fixed-width quoted text, numbers rounded, dates.
    auto& df = QNDelimitedFile::sharedInstance();
    const String csv = u"$TEMP/demo/trips.csv";
    struct Trip {
        const char16_t* city;
        std::int64_t nights;
        double price;
        std::int64_t day;
    };
    const Trip trips[] = {{u"Montevideo", 3, 1250.499, 6}, {u"Punta del Este", 2, 980.0, 24}};
    df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(csv);
    for (const Trip& t : trips) {
        df.dfwptxtLength(t.city, 12);
        df.dfwpnumDecimals(Value(t.nights), 0);
        df.dfwpnumDecimals(Value(t.price), 2);
        df.dfwpdateFormatSeparator(qn::DateTime::fromCivilUTC({2026, 12, int(t.day), 0, 0, 0, 0}),
                                   u"Y4MD");
        df.dfwnext();
    }
    df.dfwclose();

    std::vector<std::string> names;
    auto files = folder.getFiles();
    for (std::int64_t i = 1; i <= static_cast<std::int64_t>(files->items().size()); ++i)
        names.push_back(toUtf8(files->item(i)->getName()));
    std::sort(names.begin(), names.end());  // the system lists in its own order
    out << "   $TEMP/demo holds:";
    for (const auto& name : names)
        out << " " << name;
    out << "\n   notes.txt line by line:\n";
    notes.openReadWithDefaultEncoding();
    while (!notes.eof())
        out << "     \"" << toUtf8(notes.readline()) << "\"\n";
    notes.close();

    out << "   trips.csv as written:\n";
    auto lines = QNFile(csv).readalllines();
    for (std::int64_t i = 1; i <= static_cast<std::int64_t>(lines->items().size()); ++i)
        out << "     " << toUtf8(lines->item(i)) << "\n";
    out << "   trips.csv read back field by field:\n";
    df.dfropenLengthFiledDelimiterStringDelimiterEncoding(csv);
    while (df.dfrnext() == 0) {
        String city;
        std::int64_t nights = 0;
        qn::Decimal price;
        qn::DateTime date;
        df.dfrgtxtLength(city, 12);
        df.dfrgnum(nights);
        df.dfrgdecimal(price);
        df.dfrgdateFormatSeparator(date, u"y4md");
        out << "     city \"" << toUtf8(city) << "\"  nights " << nights << "  price "
            << price.toStdString() << "  date " << toUtf8(date.description()) << "\n";
    }
    df.dfrclose();
    // Appending, so the demo's file stays as it is.
    out << "   opening trips.csv twice answers "
        << df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(csv, std::nullopt, std::nullopt,
                                                                 true)
        << ", then " << df.dfwopenFiledDelimiterStringDelimiterAppendEncoding(csv)
        << " (one delimited file at a time)\n";
    df.dfwclose();
}

}  // namespace qntool
