#include <qn/host.h>
#include <qn/offline.h>

#include "support/test_support.h"

namespace gentest {

class SdtTrip : public qn::Object {
    QN_OBJECT(SdtTrip)
};
QN_REGISTER_CLASS(SdtTrip, Object)

class sdtflight : public qn::Object {
    QN_OBJECT(sdtflight)
};
QN_REGISTER_CLASS(sdtflight, Object)

}  // namespace gentest

namespace qn {
namespace {

Ref<Dictionary> infoWith(const char16_t* style) {
    auto info = makeRef<Dictionary>();
    if (style) info->set(String(QNOfflineHelper::kGeneratorLanguageKey), Value(style));
    return info;
}

TEST(GeneratorStyleTest, DefaultStyleUnlessTheKeySaysOtherwise) {
    EXPECT_TRUE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*infoWith(nullptr)));
    EXPECT_TRUE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*infoWith(u"swift")));
    EXPECT_FALSE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*infoWith(u"Swift")));
    EXPECT_FALSE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*infoWith(u"objc")));
    EXPECT_FALSE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*infoWith(u"")));
    auto numeric = makeRef<Dictionary>();
    numeric->set(String(QNOfflineHelper::kGeneratorLanguageKey), Value(1));
    EXPECT_FALSE(QNOfflineHelper::isSwiftGeneratorForInfoDictionary(*numeric));
}

TEST(GeneratorStyleTest, SelectorsInBothStyles) {
    auto selector = [](std::string_view name, int count, bool swift) {
        return QNOfflineHelper::selectorFromMethodNameParametersCount(name, count, swift);
    };
    for (bool swift : {true, false}) {
        EXPECT_EQ(selector("executeFlexibleClient", 0, swift), "executeFlexibleClient");
        EXPECT_EQ(selector("executeFlexibleClient", 1, swift), "executeFlexibleClient:");
    }
    EXPECT_EQ(selector("executeFlexibleClient", 3, true), "executeFlexibleClient:::");
    EXPECT_EQ(selector("executeFlexibleClient", 3, false), "executeFlexibleClient:param2:param3:");
    EXPECT_EQ(selector("run", 12, false).substr(3),
              ":param2:param3:param4:param5:param6:param7:"
              "param8:param9:param10:param11:param12:");
    EXPECT_EQ(selector("run", -1, true), "run");
}

TEST(GeneratorStyleTest, ClassLookupInBothStyles) {
    EXPECT_NE(QNOfflineHelper::classFromString("SdtTrip", true), nullptr);
    EXPECT_EQ(QNOfflineHelper::classFromString("SdtTrip", false), nullptr)
        << "only the mixed-case class exists";
    EXPECT_NE(QNOfflineHelper::classFromString("SdtFlight", false), nullptr);
    EXPECT_EQ(QNOfflineHelper::classFromString("SdtFlight", false)->name(), "sdtflight");
    EXPECT_EQ(QNOfflineHelper::classFromString("SdtFlight", true), nullptr);
    EXPECT_EQ(QNOfflineHelper::classFromString("", true), nullptr);
}

// The process-wide style is decided once, from the main bundle's information
// dictionary. Each case runs in a fresh process.
[[noreturn]] void processStyleChild(const std::string& style, bool swift) {
    test::TempDir dir;
    test::writeSampleBundle(dir, style);
    QNBundle::setMainBundlePath(dir.path());
    std::vector<int> answers(6, -1);
    test::onThreads(6, [&answers](int i) { answers[i] = QNOfflineHelper::isSwiftGenerator(); });
    // A later change of bundle does not change the decision.
    test::TempDir other;
    test::writeSampleBundle(other, swift ? "objc" : "swift");
    QNBundle::setMainBundlePath(other.path());
    bool ok = QNOfflineHelper::isSwiftGenerator() == swift;
    for (int a : answers)
        ok = ok && a == static_cast<int>(swift);
    const ClassInfo* trip = QNOfflineHelper::classFromString(StringView(u"SdtTrip"));
    const ClassInfo* flight = QNOfflineHelper::classFromString(std::string_view("SdtFlight"));
    ok =
        ok && (swift ? trip != nullptr && flight == nullptr : trip == nullptr && flight != nullptr);
    ok = ok && QNOfflineHelper::selectorFromMethodNameParametersCount("f", 2) ==
                   (swift ? "f::" : "f:param2:");
    std::exit(ok ? 0 : 1);
}

// A missing key and "swift" mean the default style; a capitalised value
// the lower-case one.
TEST(GeneratorStyleOnceTest, DecidedOnceFromTheMainBundle) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& [style, swift] : {std::pair{"", true}, {"swift", true}, {"Swift", false}})
        EXPECT_EXIT(processStyleChild(style, swift), ::testing::ExitedWithCode(0), "") << style;
}

}  // namespace
}  // namespace qn
