#include "support/test_support.h"

#include <gtest/gtest.h>
#include <qn/runtime/config.h>

#include <unistd.h>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace qn::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto name = "qn-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                    "-" + std::to_string(rd());
        auto candidate = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, std::string_view contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path TempDir::write(const std::string& relative, std::string_view contents) const {
    writeFile(path_ / relative, contents);
    return path_ / relative;
}

ScopedCapturingLogger::ScopedCapturingLogger()
    : logger_(std::make_shared<QNCapturingLogger>()), previous_(QNLog::setLoggerService(logger_)) {}

ScopedCapturingLogger::~ScopedCapturingLogger() {
    QNLog::setLoggerService(previous_);
}

namespace {

void resetHostState(const fs::path& storage) {
    auto& service = QNObjectsModelServices::applicationStorageService();
    service.setApplicationCachesDirectory(storage.empty() ? storage : storage / "caches");
    service.setApplicationSupportDirectory(storage.empty() ? storage : storage / "support");
    service.setTemporaryDirectory(storage.empty() ? storage : storage / "tmp");
    QNModel::currentModel().reloadUserData();
    QNResources::setCurrentLanguageName(std::nullopt);
    QNStyleKBObject::setCurrentStyleName(std::nullopt);
}

}  // namespace

ScopedBundle::ScopedBundle(const fs::path& root)
    : previousRoot_(QNBundle::mainBundle()->bundlePath()) {
    QNBundle::setMainBundlePath(root);
    resetHostState(storage_.path());
}

ScopedBundle::~ScopedBundle() {
    QNBundle::setMainBundlePath(previousRoot_);
    resetHostState({});
}

ScopedTimeZone::ScopedTimeZone(StringView identifier, bool convertTimesFromUTC)
    : previousName_(QNTimeZone::currentTimeZoneName()),
      previousConvert_(QNTimeZone::convertTimesFromUTC()) {
    if (!QNTimeZone::setCurrentTimeZoneName(identifier))
        ADD_FAILURE() << "unknown time zone " << toUtf8(String(identifier));
    QNTimeZone::setConvertTimesFromUTC(convertTimesFromUTC);
}

ScopedTimeZone::~ScopedTimeZone() {
    QNTimeZone::setCurrentTimeZoneName(previousName_);
    QNTimeZone::setConvertTimesFromUTC(previousConvert_);
}

ScopedFatalErrorPolicy::ScopedFatalErrorPolicy(QNUtilities::FatalErrorPolicy policy)
    : previous_(QNUtilities::fatalErrorPolicy()) {
    QNUtilities::setFatalErrorPolicy(policy);
}

ScopedFatalErrorPolicy::~ScopedFatalErrorPolicy() {
    QNUtilities::setFatalErrorPolicy(previous_);
}

void loadSharedConfigurationFromSampleBundle() {
    static const bool loaded = [] {
        static TempDir dir;
        writeSampleBundle(dir);
        ScopedBundle scope(dir.path());
        (void)QNConfig::sharedInstance();
        return true;
    }();
    (void)loaded;
}

std::string plistDocument(std::string_view body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n" +
           std::string(body) + "\n</plist>\n";
}

void writeSampleBundle(const TempDir& dir, const std::string& generatorStyle) {
    std::string info = "<dict><key>CFBundleName</key><string>Sample</string>";
    if (!generatorStyle.empty())
        info += "<key>QNiOSGeneratorLanguage</key><string>" + generatorStyle + "</string>";
    info += "</dict>";
    dir.write("Info.plist", plistDocument(info));
    dir.write("qnconfig.plist", plistDocument(R"(<dict>
  <key>QNlanguage</key><string>English</string><key>QNyear_limit</key><integer>30</integer>
  <key>QNLanguajesData</key><array>
    <dict><key>QNLanguajeCode</key><string>English</string>
      <key>QNLanguajeSection</key><string>English</string><key>QNCulture</key><string>en_US</string>
      <key>QNDateFormat</key><string>MDY</string><key>QNTimeFormat</key><string>12</string>
      <key>QNDecimalPoint</key><string>.</string><key>QNThousandSep</key><string>,</string></dict>
    <dict><key>QNLanguajeCode</key><string>Spanish</string>
      <key>QNLanguajeSection</key><string>Castellano</string><key>QNCulture</key><string>es_ES</string>
      <key>QNDateFormat</key><string>DMY4</string><key>QNTimeFormat</key><string>24</string>
      <key>QNDecimalPoint</key><string>,</string><key>QNThousandSep</key><string>.</string></dict>
    <dict><key>QNLanguajeCode</key><string>Plain</string>
      <key>QNDecimalPoint</key><string>.</string></dict>
  </array>
</dict>)"));
    dir.write("model.json", R"({
  "appName": "Sample", "connectivitySupport": 1, "serverBaseUrl": "https://server.example/app/",
  "synchronizerObjectName": "SampleSync", "defaultLanguage": "English", "theme": "Blue",
  "procedures": [
    {"name": "PrcTotals", "parameters": [{"name": "Id", "type": "numeric"},
                                         {"name": "Total", "type": "numeric", "direction": "out"}]},
    {"name": "PrcEmpty"}],
  "languages": [
    {"name": "English", "code": "eng", "culture": "en_US", "dateFormat": "ENG",
     "languageCode": "en", "countryCode": "US",
     "translations": {"hello": "Hello %1", "bye": "Goodbye", "pair": "%2 then %1"}},
    {"name": "Spanish", "code": "spa", "dateFormat": "SPA", "languageCode": "es",
     "countryCode": "ES", "translations": "translations/Spanish.json"}]
})");
    dir.write("translations/Spanish.json", R"({"hello": "Hola %1", "bye": "Adiós"})");
}

}  // namespace qn::test
