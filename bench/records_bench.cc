// Record property tables: a look-up by name in any letter case beside a raw
// hash-map look-up of the already lower-cased name, and the first build of a
// class's table.
#include <benchmark/benchmark.h>
#include <qn/data.h>
#include <qn/host.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kFields = 50;

std::shared_ptr<const qn::QNStructureDataTypeLevelInfo> fiftyFieldLevel() {
    qn::QNStructureDataTypeLevelInfo::Definition level;
    level.name = u"Wide";
    for (int i = 0; i < kFields; ++i) {
        qn::QNStructureDataTypeItemInfo::Definition item;
        item.name = qn::asciiString("CustomerField" + std::to_string(i));
        item.jsonName = item.name;
        level.items.push_back(std::make_shared<const qn::QNStructureDataTypeItemInfo>(item));
    }
    return std::make_shared<const qn::QNStructureDataTypeLevelInfo>(std::move(level));
}

qn::QNSDTPropertiesInfo::NameMapping fiftyFieldMapping() {
    qn::QNSDTPropertiesInfo::NameMapping mapping;
    for (int i = 0; i < kFields; ++i) {
        const std::string name = "CustomerField" + std::to_string(i);
        mapping.emplace_back(qn::asciiString(name), qn::asciiString("gxTv_" + name));
    }
    return mapping;
}

// The names as generated code spells them (mixed case).
std::vector<qn::String> names() {
    std::vector<qn::String> out;
    for (int i = 0; i < kFields; ++i)
        out.push_back(qn::asciiString("CustomerField" + std::to_string(i)));
    return out;
}

void BM_PropertyLookup50_Qn(benchmark::State& state) {
    const qn::QNSDTPropertiesInfo table(fiftyFieldMapping(), fiftyFieldLevel(), nullptr);
    const auto keys = names();
    std::size_t found = 0;
    for (auto _ : state) {
        for (const qn::String& key : keys)
            found += table.propertyInfoForShortName(key) != nullptr;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * kFields);
}
BENCHMARK(BM_PropertyLookup50_Qn);

// The same keys already lower-cased, in a plain hash map.
void BM_PropertyLookup50_RawMap(benchmark::State& state) {
    std::unordered_map<std::u16string, int> map;
    std::vector<std::u16string> keys;
    for (int i = 0; i < kFields; ++i) {
        std::u16string key = qn::asciiString("customerfield" + std::to_string(i));
        map.emplace(key, i);
        keys.push_back(key);
    }
    std::size_t found = 0;
    for (auto _ : state) {
        for (const auto& key : keys)
            found += map.find(key) != map.end();
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * kFields);
}
BENCHMARK(BM_PropertyLookup50_RawMap);

// Building the table of a 50-field class, as its first use does.
void BM_PropertyTableBuild50(benchmark::State& state) {
    const auto mapping = fiftyFieldMapping();
    const auto level = fiftyFieldLevel();
    for (auto _ : state) {
        qn::QNSDTPropertiesInfo table(mapping, level, nullptr);
        benchmark::DoNotOptimize(table.size());
    }
}
BENCHMARK(BM_PropertyTableBuild50);

}  // namespace
