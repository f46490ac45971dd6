// Host services on hot paths, each beside the raw call it wraps.

#include <benchmark/benchmark.h>
#include <plist/plist.h>
#include <qn/host.h>
#include <qn/runtime.h>
#include <unicode/ucnv.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unordered_map>

namespace benchclasses {
class BenchRecord : public qn::Object {
    QN_OBJECT(BenchRecord)
};
QN_REGISTER_CLASS(BenchRecord, Object)
}  // namespace benchclasses

namespace {

// Class lookup by name (collections make their items this way).
void BM_ClassNamed_Registry(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::ClassRegistry::classNamed("BenchRecord"));
}
BENCHMARK(BM_ClassNamed_Registry);

void BM_ClassNamed_RawMap(benchmark::State& state) {
    std::map<std::string, int, std::less<>> names;
    for (const auto& n : qn::ClassRegistry::classNames())
        names.emplace(n, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(names.find(std::string_view("BenchRecord")));
}
BENCHMARK(BM_ClassNamed_RawMap);

void BM_CreateByName_Registry(benchmark::State& state) {
    const qn::ClassInfo* info = qn::ClassRegistry::classNamed("BenchRecord");
    for (auto _ : state)
        benchmark::DoNotOptimize(info->create());
}
BENCHMARK(BM_CreateByName_Registry);

void BM_CreateByName_RawMakeShared(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(std::make_shared<benchclasses::BenchRecord>());
}
BENCHMARK(BM_CreateByName_RawMakeShared);

// Property-list reading: QNPropertyList::parse (libplist plus conversion to
// Values) beside libplist alone.
std::string sampleConfig() {
    std::string body =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>QNLanguajesData</key><array>";
    for (int i = 0; i < 20; ++i) {
        body += "<dict><key>QNLanguajeCode</key><string>Lang" + std::to_string(i) +
                "</string><key>QNDateFormat</key><string>DMY4</string>"
                "<key>QNDecimalPoint</key><string>,</string><key>QNyear</key><integer>" +
                std::to_string(i) + "</integer></dict>";
    }
    return body + "</array></dict></plist>";
}

void BM_PlistParse_Qn(benchmark::State& state) {
    std::string text = sampleConfig();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNPropertyList::parse(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PlistParse_Qn);

void BM_PlistParse_RawLibplist(benchmark::State& state) {
    std::string text = sampleConfig();
    for (auto _ : state) {
        plist_t p = nullptr;
        plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &p);
        benchmark::DoNotOptimize(p);
        plist_free(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PlistParse_RawLibplist);

// Charset names (HTTP responses, files): remembered lookups beside opening
// an ICU converter each time.
void BM_CharsetLookup_Qn(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNUtilities::stringEncodingFromCharsetString(u"iso-8859-1"));
}
BENCHMARK(BM_CharsetLookup_Qn);

void BM_CharsetLookup_RawIcu(benchmark::State& state) {
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open("iso-8859-1", &status);
        benchmark::DoNotOptimize(ucnv_getName(c, &status));
        ucnv_close(c);
    }
}
BENCHMARK(BM_CharsetLookup_RawIcu);

// Translations and per-language settings are read on every built-in call
// that formats for the user.
struct SampleBundle {
    SampleBundle() {
        root = std::filesystem::temp_directory_path() / ("qn-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        std::ofstream(root / "model.json")
            << R"({"defaultLanguage": "English", "languages": [{"name": "English",
                 "translations": {"hello": "Hello %1", "bye": "Goodbye"}}]})";
        std::ofstream(root / "qnconfig.plist")
            << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>QNLanguajesData</key>"
               "<array><dict><key>QNLanguajeCode</key><string>English</string>"
               "<key>QNDecimalPoint</key><string>.</string></dict></array></dict></plist>";
        qn::QNBundle::setMainBundlePath(root);
    }
    ~SampleBundle() { std::filesystem::remove_all(root); }
    std::filesystem::path root;
};

SampleBundle& sampleBundle() {
    static SampleBundle bundle;
    return bundle;
}

void BM_Translation_Qn(benchmark::State& state) {
    sampleBundle();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNMessages::getMessage(u"bye"));
}
BENCHMARK(BM_Translation_Qn);

void BM_Translation_RawHashMap(benchmark::State& state) {
    std::unordered_map<qn::String, qn::String> table{{u"hello", u"Hello %1"}, {u"bye", u"Goodbye"}};
    qn::String key = u"bye";
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::String(table.find(key)->second));
}
BENCHMARK(BM_Translation_RawHashMap);

void BM_DecimalSeparator_Qn(benchmark::State& state) {
    sampleBundle();
    auto& config = qn::QNConfig::sharedInstance();
    for (auto _ : state)
        benchmark::DoNotOptimize(config.decimalSeparator());
}
BENCHMARK(BM_DecimalSeparator_Qn);

}  // namespace
