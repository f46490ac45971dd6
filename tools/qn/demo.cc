// `qn demo` and `qn config`: what a new user should see first. Each later
// subsystem adds a section to kSections.

#include <qn/host.h>
#include <qn/offline.h>
#include <qn/runtime.h>
#include <qn/util.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "commands.h"

namespace qntool {

namespace fs = std::filesystem;
using qn::String;
using qn::toUtf8;

namespace {

std::string quoted(const String& s) {
    return "\"" + toUtf8(s) + "\"";
}

fs::path& scratchFolder() {
    static fs::path folder;
    return folder;
}

void removeScratch() {
    std::error_code ec;
    if (!scratchFolder().empty()) fs::remove_all(scratchFolder(), ec);
}

void heading(std::ostream& out, int number, const char* title) {
    out << "\n" << number << ". " << title << "\n";
}

void showModel(std::ostream& out) {
    auto model = qn::QNApplicationModel::currentModel();
    out << "   application:      " << toUtf8(model->appName()) << "\n"
        << "   runs offline:     " << (model->isOffline() ? "yes" : "no") << "\n"
        << "   server:           " << toUtf8(model->serverBaseUrl()) << "\n"
        << "   synchronizer:     " << toUtf8(model->synchronizerObjectName()) << "\n"
        << "   procedures:\n";
    for (const auto& p : model->procedures()) {
        out << "     " << toUtf8(p.name()) << "(";
        const char* sep = "";
        for (const auto& parameter : p.parameters()) {
            out << sep << toUtf8(parameter.direction) << " " << toUtf8(parameter.name) << ": "
                << toUtf8(parameter.type);
            sep = ", ";
        }
        out << ")\n";
    }
    out << "   generator style:  "
        << (qn::QNOfflineHelper::isSwiftGenerator() ? "default" : "lower-case") << " (a call of "
        << "executeFlexibleClient with 3 arguments is \""
        << qn::QNOfflineHelper::selectorFromMethodNameParametersCount("executeFlexibleClient", 3)
        << "\")\n";
}

void showConfiguration(std::ostream& out) {
    auto& config = qn::QNConfig::sharedInstance();
    out << "   two-digit years:  00.." << config.yearLimit() << " become 20xx, "
        << config.yearLimit() + 1 << "..99 become 19xx\n"
        << "   autocommit:       " << (config.autocommit() ? "on" : "off") << "\n"
        << "   like escape:      " << quoted(config.likeEscapeCharacter()) << "\n"
        << "   theme:            " << quoted(qn::QNThemeHelper::currentThemeName()) << "\n";
}

void showLanguages(std::ostream& out) {
    auto model = qn::QNApplicationModel::currentModel();
    auto& config = qn::QNConfig::sharedInstance();
    auto current = qn::QNResources::currentLanguageName();
    out << "   current language: " << (current ? toUtf8(*current) : std::string("(none)"))
        << "\n\n";
    out << "   " << std::left << std::setw(10) << "language" << std::setw(13) << "date"
        << std::setw(9) << "clock" << std::setw(9) << "decimal" << std::setw(11) << "thousands"
        << std::setw(8) << "order"
        << "locale\n";
    for (const auto& language : model->resources().languages()) {
        qn::QNResources::setCurrentLanguageName(language->name());
        auto locale = config.localeIdentifierFromLanguage(language->name());
        out << "   " << std::left << std::setw(10) << toUtf8(language->name()) << std::setw(13)
            << toUtf8(config.dateFormat()) << std::setw(9)
            << (config.timeFormat() == 0 ? "12-hour" : "24-hour") << std::setw(9)
            << quoted(config.decimalSeparator()) << std::setw(11)
            << quoted(config.thousandsSeparator()) << std::setw(8)
            << qn::QNutil::dateFormatForCurrentLanguage()
            << (locale ? toUtf8(*locale) : std::string("-")) << "\n";
    }
    qn::QNResources::setCurrentLanguageName(current);
}

void showMessages(std::ostream& out) {
    auto model = qn::QNApplicationModel::currentModel();
    std::vector<qn::Value> values{qn::Value(model->appName()), qn::Value(u"Ana")};
    auto current = qn::QNResources::currentLanguageName();
    for (const auto& language : model->resources().languages()) {
        qn::QNResources::setCurrentLanguageName(language->name());
        out << "   " << std::left << std::setw(9) << toUtf8(language->name())
            << quoted(qn::QNMessages::getMessage(u"msg_welcome", values)) << "  "
            << quoted(qn::QNMessages::getMessage(u"msg_trips_found", {qn::Value(12)})) << "  "
            << quoted(qn::QNMessages::getMessage(u"msg_save")) << "\n";
    }
    qn::QNResources::setCurrentLanguageName(current);
    out << "   a key without a translation stands for itself: "
        << quoted(qn::QNMessages::getMessage(u"msg_not_translated")) << "\n";
}

void showUserData(std::ostream& out) {
    auto& model = qn::QNModel::currentModel();
    auto when = qn::DateTime::fromCivilUTC({2026, 12, 6, 9, 30, 0, 0});
    bool saved = model.setUserDataForKey(qn::Value(when), u"lastSynchronization");
    model.reloadUserData();  // read back from the file, not from memory
    out << "   stored lastSynchronization = " << toUtf8(when.description())
        << (saved ? " (written atomically)" : " (NOT written)") << "\n"
        << "   read back from disk:        "
        << toUtf8(model.getUserDataForKey(u"lastSynchronization").description()) << "\n";
}

struct Section {
    const char* title;
    void (*show)(std::ostream&);
};

// clang-format off
const Section kSections[] = {
    {"Application model", showModel},
    {"Configuration (qnconfig.plist)", showConfiguration},
    {"Languages", showLanguages},
    {"Translated messages", showMessages},
    {"Persistent user data", showUserData},
    {"The offline road: database, cursors, procedures, session, send", showOfflineRoad},
    {"The online road: a business component edited and saved", showOnlineRoad},
    {"String and number built-ins", showBuiltins},
    {"Date and time built-ins", showDates},
    {"Files and delimited files", showFiles},
    {"HTTP client", showHttp},
    {"XML and JSON", showXmlJson},
    {"Records and their JSON and XML", showRecords},
    {"Encrypt64 and the crypto objects", showCrypto},
    {"Expressions", showExpressions},
    {"Geography", showGeography},
    {"Images", showImages},
    {"Regular expressions", showRegex},
    {"Picture formatting", showPictures},
    {"The whole application, synchronized with a server", showApplication},
};
// clang-format on

}  // namespace

bool useBundle(const std::string& path) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        std::cerr << "qn: " << path << " is not a bundle folder\n";
        return false;
    }
    qn::QNBundle::setMainBundlePath(fs::absolute(path, ec));
    auto base = fs::temp_directory_path(ec) / ("qn-demo-" + std::to_string(::getpid()));
    fs::create_directories(base, ec);
    scratchFolder() = base;
    std::atexit(removeScratch);
    auto& storage = qn::QNObjectsModelServices::applicationStorageService();
    storage.setApplicationCachesDirectory(base / "caches");
    storage.setApplicationSupportDirectory(base / "support");
    storage.setTemporaryDirectory(base / "tmp");
    return true;
}

namespace {

std::string bundleArgument(const std::vector<std::string>& args) {
    if (!args.empty()) return args.front();
    if (const char* env = std::getenv("QN_BUNDLE"); env != nullptr && *env != '\0') return env;
    return "examples/bundle";
}

}  // namespace

int runDemo(const std::vector<std::string>& args) {
    std::string bundle = bundleArgument(args);
    if (!useBundle(bundle)) return 1;
    std::cout << "QNStandardClasses demo on the bundle " << bundle << "\n";
    int number = 1;
    for (const auto& section : kSections) {
        heading(std::cout, number++, section.title);
        section.show(std::cout);
    }
    std::cout << "\nDone.\n";
    return 0;
}

int runConfig(const std::vector<std::string>& args) {
    if (!useBundle(bundleArgument(args))) return 1;
    heading(std::cout, 1, "Configuration (qnconfig.plist)");
    showConfiguration(std::cout);
    heading(std::cout, 2, "Languages");
    showLanguages(std::cout);
    return 0;
}

}  // namespace qntool
