// qn: the command-line face of the library, for trying it out and for demos.

#include <qn/host.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"demo", "qn demo [BUNDLE]", "walk through the library on a sample application bundle",
     qntool::runDemo},
    {"config", "qn config [BUNDLE]", "print the configuration and language settings of a bundle",
     qntool::runConfig},
    {"str", "qn str NUMBER [LENGTH [DECIMALS]]",
     "number to text as generated code's str() does (length 10, 0 decimals by default)",
     qntool::runStr},
    {"like", "qn like SUBJECT PATTERN [--no-escape]",
     "whether SUBJECT is like PATTERN (% any run, _ one character, \\ escapes)", qntool::runLike},
    {"decimal", "qn decimal 'A OP B'",
     "38-digit decimal arithmetic: + - * / and ^ (e.g. qn decimal '1/3')", qntool::runDecimal},
    {"date", "qn date [--tz ZONE] [--utc-conversion] SUBCOMMAND ...",
     "date built-ins: add-days, add-months, add-years, add-seconds, diff, eom, dow, rest, db, "
     "parse, format, now (e.g. qn date add-months 2021-01-31 1)",
     qntool::runDate},
    {"path", "qn path [LOGICAL...]",
     "where logical file paths resolve ($TEMP/x, $APPDATA/x, qnblobdata://x, $RESOURCES/x, a "
     "relative path), and the blob or uploads form back; without arguments, the roots (created "
     "when missing, as on any first use)",
     qntool::runPath},
    {"http",
     "qn http METHOD URL [-H name:value] [-d text] [-F name=@file] [-F name=value] "
     "[--timeout S]",
     "send one request through the HTTP client and print the status, headers and body (-F "
     "parts go as multipart/form-data)",
     qntool::runHttp},
    {"xml", "qn xml FILE [--keep-white] [--no-simple]",
     "walk an XML document with the XML reader and print each node it stops on: code, kind, "
     "name, attributes by position and value",
     qntool::runXml},
    {"json", "qn json FILE",
     "read a JSON text (- for standard input) into values and write it back as compact JSON; "
     "large integers and decimals keep every digit",
     qntool::runJson},
    {"encrypt64", "qn encrypt64 TEXT KEY",
     "Encrypt64: TEXT encrypted with Twofish under KEY (32 hexadecimal digits), as Base64",
     qntool::runEncrypt64},
    {"decrypt64", "qn decrypt64 BASE64 KEY", "Decrypt64: the text back from Encrypt64's Base64",
     qntool::runDecrypt64},
    {"newkey", "qn newkey", "a fresh random Encrypt64 key (32 hexadecimal digits)",
     qntool::runNewkey},
    {"eval", "qn eval 'EXPRESSION' [NAME=VALUE ...]",
     "evaluate an expression as a decimal, with variables (e.g. qn eval 'iif(x > 2, x * 1.21, 0)' "
     "X=7)",
     qntool::runEval},
    {"geo", "qn geo distance 'POINT(LON LAT)' 'POINT(LON LAT)' | qn geo lat|lon|wkt 'WKT'",
     "the geography built-ins on WKT texts: geodesic distance in whole metres, latitude, "
     "longitude, canonical WKT",
     qntool::runGeo},
    {"image", "qn image info|resize|scale|rotate|crop|flip FILE ...",
     "image sizes and transformations; each transformation prints the new file's path",
     qntool::runImage},
    {"regex", "qn regex match|split TEXT PATTERN | qn regex replace TEXT PATTERN TEMPLATE",
     "regular expressions (ICU syntax): every match with its groups, the pieces between "
     "matches, or the text with each match replaced ($1 is group 1)",
     qntool::runRegex},
    {"fmt", "qn fmt [--decimals] NUMBER PICTURE [LANGUAGE]",
     "a number formatted for a picture as formatNumber does (e.g. qn fmt 1234.5 'Z,ZZ9.99' "
     "Spanish); LANGUAGE is one of the bundle's",
     qntool::runFmt},
    {"sdt", "qn sdt TYPE FILE [--collection] [--json-names]",
     "load a record of the SDT TYPE (a collection of them with --collection) from the JSON "
     "in FILE (- for standard input) and write it back, with JSON names when asked (e.g. qn "
     "sdt Customer customer.json); TYPE is one of the bundle's SDTs",
     qntool::runSdt},
    {"sql", "qn sql DBFILE 'STATEMENT' [VALUE...]",
     "run one statement on a database file through the library's connection, each ? taking "
     "the next VALUE (an integer or a decimal when it reads as one, null for the null marker, "
     "otherwise the text); rows print tab-separated under their column names, any other "
     "statement its status; what it wrote is committed",
     qntool::runSql},
    {"sync-server", "qn sync-server DIR [PORT]",
     "run the reference synchronization server on 127.0.0.1 (a free port unless given), "
     "keeping the events it receives under DIR/events and answering changes from "
     "DIR/changes.json, until interrupted",
     qntool::runSyncServer},
};

void printUsage(std::ostream& out) {
    out << "usage: qn COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& c : kCommands)
        out << "  " << c.usage << "\n      " << c.summary << "\n";
    out << "\nBUNDLE defaults to $QN_BUNDLE, else examples/bundle.\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        printUsage(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 2 : 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        try {
            return c.run(args);
        } catch (const qn::FatalError& e) {
            std::cerr << "qn: " << e.what() << "\n";
            return 1;
        } catch (const std::exception& e) {
            std::cerr << "qn: " << e.what() << "\n";
            return 1;
        }
    }
    std::cerr << "qn: unknown command '" << argv[1] << "'\n\n";
    printUsage(std::cerr);
    return 2;
}
