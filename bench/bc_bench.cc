// Business components beside what they wrap.
//
// The synchronization message of a 20-field record with no files (the
// serialization under the message's flags: assigned attributes, the state,
// files gathered) beside the record's plain toJSONString.
//
// getByKeyArray over 10,000 records (the key description read once, each
// record's key read through its accessor by position and compared) beside a
// loop over the same 10,000 key values held in a vector, and beside a
// hand-written loop reading the records' keys through the generated getter.
//
// A business component's save through the sample transaction (check, the
// update cursor through the data-store provider, the commit with its sync
// nudge) beside the raw SQLite update and commit it ends in; reported.
#include <generated/trip_bc.h>
#include <qn/bc.h>
#include <qn/core/json.h>
#include <qn/host.h>
#include <qn/offline.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "sample_application.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void setupFailed(const std::string& what) {
    std::fprintf(stderr, "bc_bench: %s\n", what.c_str());
    std::abort();
}

// --- A 20-field record -------------------------------------------------------------------

constexpr int kFields = 20;

const qn::QNSDTPropertiesInfo::NameMapping& wideMapping() {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping = [] {
        qn::QNSDTPropertiesInfo::NameMapping m;
        for (int i = 0; i < kFields; ++i) {
            const std::string name = "Field" + std::to_string(i);
            m.emplace_back(qn::fromUtf8(name), qn::fromUtf8("gxTv_SdtWide_" + name));
        }
        return m;
    }();
    return mapping;
}

// Fields 0-9 text, 10-14 integers, 15-19 decimals.
class SdtWide : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtWide)
public:
    const std::vector<qn::String>& sdtLevelPathNames() const override {
        static const std::vector<qn::String> path{u"Wide"};
        return path;
    }
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        return wideMapping();
    }
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override {
        for (std::size_t i = 0; i < wideMapping().size(); ++i)
            if (wideMapping()[i].second == fullName) return objectValueForPropertyIndex(i);
        return qn::Value();
    }
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override {
        for (std::size_t i = 0; i < wideMapping().size(); ++i)
            if (wideMapping()[i].second == fullName) setObjectValueForPropertyIndex(value, i);
    }
    qn::Value objectValueForPropertyIndex(std::size_t index) const override {
        if (index < 10) return qn::Value(text_[index]);
        if (index < 15) return qn::Value(number_[index - 10]);
        if (index < 20) return qn::Value(amount_[index - 15]);
        return qn::Value();
    }
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override {
        if (index < 10) {
            text_[index] = value.isString() ? value.asString() : qn::String();
        } else if (index < 15) {
            number_[index - 10] = value.integerValue();
        } else if (index < 20) {
            amount_[index - 15] = value.decimalValue();
        }
        if (index < 20) setDirtyForPropertyIndex(index);
    }

private:
    qn::String text_[10];
    std::int64_t number_[5] = {};
    qn::Decimal amount_[5];
};

}  // namespace

QN_REGISTER_CLASS(SdtWide, QNSdtBusinessComponent)

namespace {

void installWideMetadata() {
    static const bool installed = [] {
        std::string items;
        for (int i = 0; i < kFields; ++i) {
            const int type = i < 15 ? (i < 10 ? 1 : 0) : 0;
            items += std::string(i ? "," : "") + "{\"name\":\"Field" + std::to_string(i) +
                     "\",\"type\":" + std::to_string(type) +
                     (i < 10   ? ",\"length\":40"
                      : i < 15 ? ",\"length\":9"
                               : ",\"length\":12,\"decimals\":2") +
                     "}";
        }
        const auto sdts = qn::QNJSON::parse(
            "[{\"name\":\"Wide\",\"level\":{\"name\":\"Wide\",\"items\":[" + items + "]}}]");
        if (!sdts) setupFailed("wide metadata");
        for (const auto& info : qn::QNStructureDataTypeInfo::sdtInfosFromJSONValue(*sdts))
            qn::QNStructureDataTypeInfo::installSDTInfo(info);
        return true;
    }();
    (void)installed;
}

std::shared_ptr<SdtWide> wideRecord(std::int64_t seed) {
    auto record = std::make_shared<SdtWide>();
    for (int i = 0; i < 10; ++i)
        record->setObjectValueForPropertyIndex(
            qn::Value(
                qn::fromUtf8("text " + std::to_string(seed) + " of field " + std::to_string(i))),
            static_cast<std::size_t>(i));
    for (int i = 10; i < 15; ++i)
        record->setObjectValueForPropertyIndex(qn::Value(seed * 100 + i),
                                               static_cast<std::size_t>(i));
    for (int i = 15; i < 20; ++i)
        record->setObjectValueForPropertyIndex(
            qn::Value(qn::Decimal::fromString(std::to_string(seed) + "." + std::to_string(i))),
            static_cast<std::size_t>(i));
    return record;
}

void BM_BCSynchronizationMessage20Fields(benchmark::State& state) {
    installWideMetadata();
    auto record = wideRecord(7);
    std::vector<qn::String> files;
    if (record->generateSynchronizationSendMessage(files, u"<file:%d>") != record->toJSONString())
        setupFailed("the message differs from the record's JSON");
    for (auto _ : state) {
        files.clear();
        qn::String message = record->generateSynchronizationSendMessage(files, u"<file:%d>");
        benchmark::DoNotOptimize(message);
    }
}
BENCHMARK(BM_BCSynchronizationMessage20Fields);

void BM_BCSynchronizationMessage20Fields_RawToJSONString(benchmark::State& state) {
    installWideMetadata();
    auto record = wideRecord(7);
    for (auto _ : state) {
        qn::String text = record->toJSONString();
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_BCSynchronizationMessage20Fields_RawToJSONString);

// --- Key look-up ----------------------------------------------------------------------------

constexpr int kRecords = 10'000;

struct KeyedRecords {
    qn::Ref<qn::QNSilentTrnCollection> collection;
    std::vector<qn::Value> keys;
};

const KeyedRecords& keyedRecords() {
    static const KeyedRecords records = [] {
        KeyedRecords made;
        made.collection = qn::QNSilentTrnCollection::initWithTypeName(u"Trip");
        std::vector<qn::Value> items;
        for (int i = 1; i <= kRecords; ++i) {
            auto trip = std::make_shared<travelagency::SdtTrip>();
            trip->setTripId(i);
            items.emplace_back(trip);
            made.keys.emplace_back(std::int64_t{i});
        }
        made.collection->setItems(std::move(items));
        return made;
    }();
    return records;
}

void BM_BCGetByKeyArray10k(benchmark::State& state) {
    const auto& records = keyedRecords();
    const std::vector<qn::Value> key{qn::Value(std::int64_t{kRecords})};  // the last one
    if (std::dynamic_pointer_cast<travelagency::SdtTrip>(records.collection->getByKeyArray(key))
            ->tripId() != kRecords)
        setupFailed("getByKeyArray found the wrong record");
    for (auto _ : state) {
        auto found = records.collection->getByKeyArray(key);
        benchmark::DoNotOptimize(found.get());
    }
}
BENCHMARK(BM_BCGetByKeyArray10k)->Unit(benchmark::kMicrosecond);

// A loop over the same 10,000 key values, held in a vector.
void BM_BCGetByKeyArray10k_RawLoop(benchmark::State& state) {
    const auto& records = keyedRecords();
    const qn::Value key(std::int64_t{kRecords});
    for (auto _ : state) {
        std::size_t found = records.keys.size();
        for (std::size_t i = 0; i < records.keys.size(); ++i)
            if (records.keys[i].isEqual(key)) {
                found = i;
                break;
            }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_BCGetByKeyArray10k_RawLoop)->Unit(benchmark::kMicrosecond);

// What a hand-written search over the records does: each record's key read
// through its generated getter and compared.
void BM_BCGetByKeyArray10k_RawGetterLoop(benchmark::State& state) {
    const auto& records = keyedRecords();
    const std::vector<qn::Value>& items = records.collection->items();
    const std::int64_t key = kRecords;
    for (auto _ : state) {
        const travelagency::SdtTrip* found = nullptr;
        for (const qn::Value& item : items) {
            const auto* trip = static_cast<const travelagency::SdtTrip*>(item.asObject().get());
            if (trip->tripId() == key) {
                found = trip;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_BCGetByKeyArray10k_RawGetterLoop)->Unit(benchmark::kMicrosecond);

// --- A save through the transaction -------------------------------------------------------

// The sample application in a folder of this file's own benchmarks.
const qnbench::SampleApplication& sampleApplication() {
    static const qnbench::SampleApplication app("qn-bc-bench");
    return app.use();
}

void BM_BCSaveThroughTransaction(benchmark::State& state) {
    sampleApplication();
    auto trip = std::make_shared<travelagency::SdtTrip>();
    trip->loadKey({qn::Value(1)});
    if (trip->fail()) setupFailed("trip 1 cannot be loaded");
    std::int64_t cents = 100000;
    for (auto _ : state) {
        trip->setTripFare(qn::Decimal::fromParts(false, static_cast<qn::uint128>(++cents), -2));
        trip->save();
        if (trip->fail()) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_BCSaveThroughTransaction)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BCSaveThroughTransaction_RawUpdate(benchmark::State& state) {
    sqlite3* db = sampleApplication().openRaw();
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db,
                       "UPDATE Trip SET CustomerId = ?, TripDescription = ?, TripDate = ?, "
                       "TripFare = ?, TripPhoto = ? WHERE TripId = ?",
                       -1, &update, nullptr);
    std::int64_t cents = 100000;
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_bind_int64(update, 1, 1);
        sqlite3_bind_text(update, 2, "Lisbon - Rio de Janeiro", -1, SQLITE_STATIC);
        sqlite3_bind_text(update, 3, "2026-12-20 00:00:00.000", -1, SQLITE_STATIC);
        sqlite3_bind_double(update, 4, static_cast<double>(++cents) / 100.0);
        sqlite3_bind_text(update, 5, "", -1, SQLITE_STATIC);
        sqlite3_bind_int64(update, 6, 1);
        if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError("update failed");
        sqlite3_reset(update);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(update);
    sqlite3_close_v2(db);
}
BENCHMARK(BM_BCSaveThroughTransaction_RawUpdate)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
