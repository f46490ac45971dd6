#include <qn/host.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace qn {
namespace {

using test::ScopedBundle;
using test::TempDir;

TEST(ApplicationModelTest, ReadsTheSampleModel) {
    TempDir dir;
    test::writeSampleBundle(dir);
    ScopedBundle bundle(dir.path());
    auto model = QNApplicationModel::currentModel();
    EXPECT_EQ(model->appName(), u"Sample");
    EXPECT_EQ(model, QNKBObjectsModel::currentModel()) << "one model per bundle";

    const QNProcedureDefinition* totals = model->procedureForName(u"PrcTotals");
    ASSERT_NE(totals, nullptr);
    ASSERT_EQ(totals->parameters().size(), 2u);
    EXPECT_EQ(totals->parameters()[0].direction, u"in") << "direction defaults to in";
    EXPECT_EQ(totals->parameters()[1].direction, u"out");
    EXPECT_TRUE(model->procedureForName(u"PrcEmpty")->parameters().empty());
    EXPECT_EQ(model->procedureForName(u"prctotals"), nullptr);

    auto spanish = model->resources().languageWithName(u"Spanish");
    ASSERT_TRUE(spanish);
    EXPECT_EQ(spanish->translationFor(u"bye"), u"Adi\u00f3s") << "translations from a file";
    EXPECT_EQ(spanish->translationFor(u"untranslated"), u"untranslated");
    EXPECT_EQ(model->resources().languageWithName(u"German"), nullptr);

    // Changing the bundle rereads the model.
    TempDir other;
    other.write("model.json", R"({"appName": "Other"})");
    ScopedBundle second(other.path());
    EXPECT_EQ(QNApplicationModel::currentModel()->appName(), u"Other");
}

TEST(ApplicationModelTest, MissingOrMalformedModelGivesAnEmptyModel) {
    test::ScopedCapturingLogger log;
    TempDir none;
    {
        ScopedBundle bundle(none.path());
        auto model = QNApplicationModel::currentModel();
        EXPECT_TRUE(model->appName().empty());
        EXPECT_TRUE(model->resources().languages().empty());
        EXPECT_FALSE(QNResources::currentLanguageName());
        EXPECT_EQ(QNResources::translationFor(u"key"), u"key");
    }
    struct Case {
        const char* text;
        const char16_t* logged;  // a fragment of the expected log line, or null
    };
    for (const Case& c :
         {Case{"{\"appName\": ", u"model.json"}, Case{"[1, 2]", u"not an object"},
          Case{"{\"languages\": 5, \"procedures\": {}}", nullptr},
          Case{"{\"languages\": [{\"name\": \"X\", \"translations\": \"nope.json\"}]}",
               u"nope.json"}}) {
        TempDir dir;
        dir.write("model.json", c.text);
        ScopedBundle bundle(dir.path());
        log->clear();
        auto model = QNApplicationModel::currentModel();
        EXPECT_TRUE(model->procedures().empty()) << c.text;
        EXPECT_TRUE(model->appName().empty()) << c.text;
        for (const auto& language : model->resources().languages())
            EXPECT_EQ(language->translationFor(u"k"), u"k");
        if (c.logged) {
            EXPECT_TRUE(log->contains(c.logged)) << "nothing logged for " << c.text;
        }
    }
}

TEST(ResourcesTest, CurrentLanguageFallsBackToTheModelDefaultThenTheFirstLanguage) {
    TempDir dir;
    test::writeSampleBundle(dir);
    ScopedBundle bundle(dir.path());
    EXPECT_EQ(QNResources::currentLanguageName(), u"English");
    EXPECT_EQ(QNResources::translationFor(u"bye"), u"Goodbye");
    EXPECT_EQ(QNResources::currentLanguageLocale(), "en_US");
    EXPECT_EQ(QNStyleKBObject::currentStyleObjectName(), u"Blue") << "the model's theme";

    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(QNResources::translationFor(u"bye"), u"Adi\u00f3s");
    EXPECT_EQ(QNResources::currentLanguageLocale(), "es_ES")
        << "built from the codes without a culture";

    QNResources::setCurrentLanguageName(u"Klingon");
    EXPECT_EQ(QNResources::currentLanguageName(), u"Klingon");
    EXPECT_EQ(QNResources::currentLanguage(), nullptr);
    EXPECT_FALSE(QNResources::currentLanguageLocale());
    EXPECT_EQ(QNResources::translationFor(u"bye"), u"bye");

    QNResources::setCurrentLanguageName(std::nullopt);
    EXPECT_EQ(QNResources::currentLanguageName(), u"English");

    TempDir noDefault;
    noDefault.write("model.json", R"({"languages": [{"name": "First"}, {"name": "Second"}]})");
    ScopedBundle other(noDefault.path());
    EXPECT_EQ(QNResources::currentLanguageName(), u"First");
    EXPECT_FALSE(QNResources::currentLanguageLocale());

    // Each thread keeps its last locale, yet sees bundle changes and
    // language changes made on other threads.
    TempDir cultures;
    cultures.write("model.json", R"({"languages": [{"name": "Fr", "culture": "fr_CA"},
                                                   {"name": "De", "culture": "de_CH"}]})");
    ScopedBundle third(cultures.path());
    EXPECT_EQ(QNResources::currentLanguageLocale(), "fr_CA");
    std::thread([] { QNResources::setCurrentLanguageName(u"De"); }).join();
    EXPECT_EQ(QNResources::currentLanguageLocale(), "de_CH");
}

// The images and attributes the model lists. Bundle paths become file URLs of
// files that really lie in the bundle; nothing outside it is ever named.
TEST(ResourcesTest, ImagesByIdentifierOrNameFromTheModel) {
    TempDir outside;
    const auto secret = outside.write("secret.png", "x");
    TempDir dir;
    dir.write("images/logo 1#.png", "png");
    dir.write("images/plain.png", "png");
    std::filesystem::create_symlink(secret, dir.path() / "images" / "link.png");
    dir.write("model.json", R"json({"images": [
        {"guid": "0a1b2c3d-0000-4000-8000-00000000000a", "name": "Logo",
         "path": "images/logo 1#.png"},
        {"name": "Remote", "url": "https://cdn.example.com/a b.png"},
        {"name": "Fallback", "path": "images/missing.png", "url": "https://cdn.example.com/f.png"},
        {"name": "Climb", "path": "../secret.png"},
        {"name": "Absolute", "path": ")json" +
                                secret.string() + R"json("},
        {"name": "Linked", "path": "images/link.png"},
        {"name": "Scheme", "url": "javascript:alert(1)"},
        {"name": "\u00d1and\u00fa", "path": "images/plain.png"},
        {"name": "logo", "url": "https://cdn.example.com/second.png"},
        "not an object"]})json");
    ScopedBundle bundle(dir.path());

    const auto byGuid = QNResources::urlForImageGuid(u"0A1B2C3D-0000-4000-8000-00000000000A");
    ASSERT_TRUE(byGuid);
    // Escaped, and naming the very file once unescaped.
    EXPECT_EQ(*byGuid, u"file://" + fromUtf8(std::filesystem::canonical(dir.path()).string()) +
                           u"/images/logo%201%23.png");
    EXPECT_EQ(QNResources::urlForImageName(u"LOGO"), byGuid) << "the first of a name wins";
    EXPECT_EQ(QNResources::urlForImageName(u"remote"), u"https://cdn.example.com/a%20b.png");
    EXPECT_EQ(QNResources::urlForImageName(u"Fallback"), u"https://cdn.example.com/f.png");
    EXPECT_EQ(QNResources::urlForImageName(u"\u00f1AND\u00da"),
              u"file://" + fromUtf8(std::filesystem::canonical(dir.path()).string()) +
                  u"/images/plain.png");
    for (const char16_t* none : {u"Climb", u"Absolute", u"Linked", u"Scheme", u"Unknown", u""})
        EXPECT_FALSE(QNResources::urlForImageName(none)) << toUtf8(String(none));
    EXPECT_FALSE(QNResources::urlForImageGuid(u"Logo")) << "names are not identifiers";

    // An installed provider takes over; removing it brings the model back.
    struct Provider : QNImageURLProvider {
        std::optional<String> urlForImageGuid(StringView guid) override {
            return u"https://img.example.com/g/" + String(guid);
        }
        std::optional<String> urlForImageName(StringView) override { return std::nullopt; }
    };
    QNResources::setImageURLProvider(std::make_shared<Provider>());
    EXPECT_EQ(QNResources::urlForImageGuid(u"x"), u"https://img.example.com/g/x");
    EXPECT_FALSE(QNResources::urlForImageName(u"Logo"));
    QNResources::setImageURLProvider(nullptr);
    EXPECT_EQ(QNResources::urlForImageName(u"Logo"), byGuid);
}

TEST(ResourcesTest, AttributesAreFoundByNameInAnyCase) {
    TempDir dir;
    dir.write("model.json", R"({"attributes": [
        {"name": "CustomerPhoto", "downloadContentOffline": true},
        {"name": "CustomerThumb", "downloadContentOffline": false},
        {"name": "CustomerNote"},
        {"name": "Quoted", "downloadContentOffline": "true"},
        {"name": "customerphoto", "downloadContentOffline": false},
        {"downloadContentOffline": true}]})");
    ScopedBundle bundle(dir.path());
    auto photo = QNAttributeInfo::attribute(u"CUSTOMERPHOTO");
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->name(), u"CustomerPhoto") << "the first of a name wins";
    EXPECT_TRUE(photo->downloadContentOffline());
    for (const char16_t* name : {u"customerthumb", u"CustomerNote", u"Quoted"}) {
        auto info = QNAttributeInfo::attribute(name);
        ASSERT_TRUE(info) << toUtf8(String(name));
        EXPECT_FALSE(info->downloadContentOffline()) << toUtf8(String(name));
    }
    EXPECT_FALSE(QNAttributeInfo::attribute(u"Unknown"));
    EXPECT_FALSE(QNAttributeInfo::attribute(u""));
}

TEST(UserDataTest, ValuesPersistAcrossReloadsAndRemovals) {
    TempDir dir;
    test::writeSampleBundle(dir);
    ScopedBundle bundle(dir.path());
    auto& model = QNModel::currentModel();
    EXPECT_TRUE(model.getUserDataForKey(u"missing").isAbsent());

    auto when = DateTime::fromCivilUTC({2026, 1, 2, 3, 4, 5, 0});
    ASSERT_TRUE(model.setUserDataForKey(Value(when), u"lastSync"));
    ASSERT_TRUE(model.setUserDataForKey(Value(u"abc"), u"token"));
    ASSERT_TRUE(model.setUserDataForKey(Value(std::int64_t{1} << 40), u"big"));
    model.reloadUserData();
    EXPECT_EQ(model.getUserDataForKey(u"lastSync").asDate(), when);
    EXPECT_EQ(model.getUserDataForKey(u"token").asString(), u"abc");
    EXPECT_EQ(model.getUserDataForKey(u"big").integerValue(), std::int64_t{1} << 40);

    ASSERT_TRUE(model.setUserDataForKey(Value(), u"token"));
    model.reloadUserData();
    EXPECT_TRUE(model.getUserDataForKey(u"token").isAbsent());
    EXPECT_EQ(model.getUserDataForKey(u"lastSync").asDate(), when);
    EXPECT_TRUE(std::filesystem::exists(bundle.storage().path() / "support" / "QNUserData.plist"));
}

TEST(UserDataTest, CorruptOrUnwritableStore) {
    TempDir dir;
    ScopedBundle bundle(dir.path());
    auto& model = QNModel::currentModel();
    test::ScopedCapturingLogger log;
    // A corrupt store is logged and starts empty.
    bundle.storage().write("support/QNUserData.plist", "garbage that is no plist");
    model.reloadUserData();
    EXPECT_TRUE(model.getUserDataForKey(u"a").isAbsent());
    EXPECT_TRUE(log->contains(u"user data ignored"));

    // Memory and disk stay in agreement when the store cannot be written:
    // make the folder a file, and every later write fails.
    ASSERT_TRUE(model.setUserDataForKey(Value(1), u"kept"));
    auto support = bundle.storage().path() / "blocked";
    bundle.storage().write("blocked", "not a folder");
    QNObjectsModelServices::applicationStorageService().setApplicationSupportDirectory(support /
                                                                                       "x");
    EXPECT_FALSE(model.setUserDataForKey(Value(2), u"lost"));
    EXPECT_TRUE(model.getUserDataForKey(u"lost").isAbsent())
        << "a value that was not saved is not kept";
    EXPECT_EQ(model.getUserDataForKey(u"kept").integerValue(), 1);
    EXPECT_TRUE(log->contains(u"user data not saved"));
}

TEST(EnvironmentTest, StorageFoldersDefaultToPerUserLocationsNamedAfterTheApplication) {
    TempDir dir;
    test::writeSampleBundle(dir);
    ScopedBundle bundle(dir.path());
    auto& storage = QNObjectsModelServices::applicationStorageService();
    EXPECT_EQ(storage.applicationCachesDirectory(), bundle.storage().path() / "caches");
    storage.setApplicationCachesDirectory({});
    storage.setTemporaryDirectory({});
    ::setenv("XDG_CACHE_HOME", "/xdg/cache", 1);
    EXPECT_EQ(storage.applicationCachesDirectory(), std::filesystem::path("/xdg/cache/Sample"));
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(storage.temporaryDirectory().filename().string().rfind("Sample-", 0), 0u);
}

[[noreturn]] void coreInitializationChild() {
    if (QNExecutionEnvironmentHelper::isCoreInitialized()) std::exit(3);
    static std::atomic<int> first{0}, second{0}, chained{0};
    QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([] {
        first++;
        // An observer may use the bundle (which initialises the core).
        (void)QNBundle::mainBundle();
        QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([] { chained++; });
    });
    QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        second++;
    });
    std::atomic<int> early{0};
    test::onThreads(4, [&](int) {
        QNExecutionEnvironmentHelper::initializeCore();
        if (second.load() != 1 || chained.load() != 1) early++;
    });
    int late = 0;
    QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([&] { late++; });
    bool ok = first == 1 && second == 1 && chained == 1 && early == 0 && late == 1 &&
              QNExecutionEnvironmentHelper::isCoreInitialized();
    std::exit(ok ? 0 : 1);
}

// Runs in a fresh process (the threadsafe death-test style re-executes the
// binary), where the core has not been initialised yet.
TEST(CoreInitializationOnceTest, ObserversRunOnceBeforeAnyInitializerReturns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(coreInitializationChild(), ::testing::ExitedWithCode(0), "");
}

[[noreturn]] void sharedInstancesChild() {
    TempDir dir;
    test::writeSampleBundle(dir);
    ::setenv("QN_BUNDLE", dir.path().c_str(), 1);
    constexpr int kThreads = 6;
    using Seen = std::array<const void*, 6>;
    std::vector<Seen> seen(kThreads);
    test::onThreads(kThreads, [&seen](int i) {
        seen[i] = {&QNModel::currentModel(),
                   &QNObjectsModelServices::applicationStorageService(),
                   &QNNotificationCenter::defaultCenter(),
                   QNApplicationModel::currentModel().get(),
                   QNBundle::mainBundle().get(),
                   QNLog::loggerService().get()};
    });
    bool ok = QNApplicationModel::currentModel()->appName() == u"Sample";
    for (const auto& s : seen)
        ok = ok && s == seen[0];
    std::exit(ok ? 0 : 1);
}

// Concurrent first calls of every shared instance get one object.
TEST(SharedInstancesOnceTest, ConcurrentFirstCallsGetOneObject) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sharedInstancesChild(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qn
