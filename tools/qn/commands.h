// Sub-commands of the qn tool.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qntool {

// Each returns the process exit code.
int runDemo(const std::vector<std::string>& args);
int runConfig(const std::vector<std::string>& args);
int runStr(const std::vector<std::string>& args);
int runLike(const std::vector<std::string>& args);
int runDecimal(const std::vector<std::string>& args);
int runDate(const std::vector<std::string>& args);
int runPath(const std::vector<std::string>& args);
int runHttp(const std::vector<std::string>& args);
int runXml(const std::vector<std::string>& args);
int runJson(const std::vector<std::string>& args);
int runEncrypt64(const std::vector<std::string>& args);
int runDecrypt64(const std::vector<std::string>& args);
int runNewkey(const std::vector<std::string>& args);
int runEval(const std::vector<std::string>& args);
int runGeo(const std::vector<std::string>& args);
int runImage(const std::vector<std::string>& args);
int runRegex(const std::vector<std::string>& args);
int runFmt(const std::vector<std::string>& args);
int runSdt(const std::vector<std::string>& args);
int runSql(const std::vector<std::string>& args);
int runSyncServer(const std::vector<std::string>& args);

// The demo's section on the string and number built-ins.
void showBuiltins(std::ostream& out);
// The demo's section on the date built-ins (fixed dates, stable output).
void showDates(std::ostream& out);
// The demo's section on files and delimited files, in the demo's $TEMP.
void showFiles(std::ostream& out);
// The demo's section on the HTTP client, against a loopback server of its own.
void showHttp(std::ostream& out);
// The demo's section on the XML writer and reader and on JSON text.
void showXmlJson(std::ostream& out);
// The demo's section on Encrypt64 and the crypto objects (a fixed key).
void showCrypto(std::ostream& out);
// The demo's section on the expression evaluator.
void showExpressions(std::ostream& out);
// The demo's section on geographic values (WKT texts, distances).
void showGeography(std::ostream& out);
// The demo's section on images, made in the demo's $TEMP.
void showImages(std::ostream& out);
// The demo's section on regular expressions.
void showRegex(std::ostream& out);
// The demo's section on picture formatting of numbers, in both languages.
void showPictures(std::ostream& out);

// The demo's offline road: the sample application's offline database from
// its creation to a manual send, on a copy of the sample bundle.
void showOfflineRoad(std::ostream& out);
// The demo's online road: a business component loaded, edited and saved
// through its transaction, its messages, synchronization message and a grid.
void showOnlineRoad(std::ostream& out);
// The demo's end: the sample application run twice against the reference
// synchronization server.
void showApplication(std::ostream& out);

// The demo's section on records and their JSON forms (the sample customer).
void showRecords(std::ostream& out);

// The whole file at `path` ("-" for standard input); false when unreadable.
bool readAllText(const std::string& path, std::string& out);

// Makes `path` the main bundle and points the application's writable folders
// at a fresh temporary folder, so the tool never writes into a user's data.
// False (with a message on stderr) when `path` is not a folder.
bool useBundle(const std::string& path);

}  // namespace qntool
