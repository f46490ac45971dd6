// Record property tables: a look-up by name in any letter case beside a raw
// hash-map look-up of the already lower-cased name, and the first build of a
// class's table.
//
// Records' JSON forms: 10,000 sample customers (every field set, two lines
// each) in a typed collection written with toJSONString and loaded back with
// fromJSONString, beside hand-written YAJL code writing and reading the same
// document from and into plain structs.
//
// Their XML forms: the same collection written with toxmlIncludeHeader and
// loaded with fromxml, beside hand-written libxml2 xmlTextWriter and
// xmlTextReader code over plain structs; both sides take and give the text
// as UTF-16, as the library does.
#include <benchmark/benchmark.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>
#include <qn/data.h>
#include <qn/host.h>
#include <yajl/yajl_gen.h>
#include <yajl/yajl_parse.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <generated/sdt_customer.h>

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

// --- Records' JSON forms ----------------------------------------------------------

constexpr int kCustomers = 10000;
constexpr int kLinesPerCustomer = 2;

// The sample bundle's model describes the generated records; it must be the
// main bundle when a record class is first used (its property table is built
// then) and while records are written and read. The previous bundle comes
// back afterwards, for the benchmarks that install their own.
class UsingSampleBundle {
public:
    UsingSampleBundle() : previous_(qn::QNBundle::mainBundle()->bundlePath()) {
        qn::QNBundle::setMainBundlePath(QN_SAMPLE_BUNDLE_DIR);
    }
    ~UsingSampleBundle() { qn::QNBundle::setMainBundlePath(previous_); }
    UsingSampleBundle(const UsingSampleBundle&) = delete;
    UsingSampleBundle& operator=(const UsingSampleBundle&) = delete;

private:
    std::filesystem::path previous_;
};

// The raw side's records. Strings, and the document text, are UTF-8
// std::string (YAJL's own form); the library keeps both as UTF-16 and
// converts around its UTF-8 writer and reader, which is part of what the
// ratio measures. Decimals are sign, 128-bit coefficient
// and scale (as the library's Decimal), without trailing fractional zeros;
// dates are seconds since 1970 in UTC; GUIDs their 16 bytes.
struct RawDecimal {
    bool negative = false;
    qn::uint128 coefficient = 0;
    int scale = 0;
};

struct RawLine {
    std::int64_t id = 0;
    std::string product;
    RawDecimal amount;
};

struct RawCustomer {
    std::int64_t id = 0;
    std::string name;
    bool nameIsNull = false;
    std::string oldName;  // the name's old value, in XML with state only
    unsigned char guid[16] = {};
    std::int64_t since = 0;
    RawDecimal balance;
    bool active = false;
    std::string photo;
    std::string photoURI;
    std::vector<RawLine> lines;
};

RawDecimal normalized(RawDecimal d) {
    while (d.scale > 0 && d.coefficient % 10 == 0) {
        d.coefficient /= 10;
        --d.scale;
    }
    return d;
}

// Every field set, values varying per record: non-ASCII and escaped
// characters in names, 38-digit balances (some negative), dates spread over
// years.
std::vector<RawCustomer> sampleCustomers() {
    std::vector<RawCustomer> out(kCustomers);
    qn::uint128 base = 1234567890123456789ull;
    base = base * 10000000000000000000ull;  // 38 digits with the 19 below
    std::uint64_t mix = 0x9e3779b97f4a7c15ull;
    for (int i = 0; i < kCustomers; ++i) {
        RawCustomer& c = out[static_cast<std::size_t>(i)];
        c.id = i + 1;
        c.name = "Cliente n\xC2\xBA " + std::to_string(i) +
                 " \"Pe\xC3\xB1"
                 "a\" \xE2\x82\xAC";
        for (unsigned char& b : c.guid) {
            mix ^= mix >> 29;
            mix *= 0xbf58476d1ce4e5b9ull;
            b = static_cast<unsigned char>(mix >> 56);
        }
        c.since = 1000000000 + static_cast<std::int64_t>(i) * 86461;
        c.balance = normalized(
            {i % 7 == 0, base + static_cast<qn::uint128>(i) * 1000003u * 10u + 1 + i % 9, 10});
        c.active = i % 2 == 0;
        c.photo = "https://example.com/photos/" + std::to_string(i) + ".png";
        for (int l = 1; l <= kLinesPerCustomer; ++l) {
            RawLine line;
            line.id = l;
            line.product = l == 1 ? "Tent" : "Stove \"2\" burners";
            line.amount =
                normalized({false, 100u + static_cast<unsigned>(i % 9000) * 10u + 1u + l % 2, 2});
            c.lines.push_back(std::move(line));
        }
    }
    return out;
}

// --- The raw writer: hand-written yajl_gen calls ---

void appendToString(void* ctx, const char* text, std::size_t length) {
    static_cast<std::string*>(ctx)->append(text, length);
}

void genKey(yajl_gen gen, std::string_view key) {
    yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(key.data()), key.size());
}

void genString(yajl_gen gen, const std::string& text) {
    yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// The exact digits, as the library writes a Decimal (JSON number text and
// XML element text alike); at most kDecimalTextMax characters, their count
// returned.
constexpr int kDecimalTextMax = 41;

int decimalText(const RawDecimal& d, char* text) {
    char digits[48];
    int n = 0;
    qn::uint128 v = d.coefficient;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    while (n <= d.scale)
        digits[n++] = '0';
    int t = 0;
    if (d.negative && d.coefficient != 0) text[t++] = '-';
    for (int i = n - 1; i >= 0; --i) {
        text[t++] = digits[i];
        if (i == d.scale && i != 0) text[t++] = '.';
    }
    return t;
}

void genDecimal(yajl_gen gen, const RawDecimal& d) {
    char text[kDecimalTextMax];
    yajl_gen_number(gen, text, static_cast<std::size_t>(decimalText(d, text)));
}

// Civil date of days since 1970-01-01 (proleptic Gregorian).
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void putDigits(char* at, unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// "yyyy-MM-ddTHH:mm:ss", as the library writes a date-time item.
constexpr int kDateTimeText = 19;

void dateTimeText(std::int64_t seconds, char* text) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    putDigits(text, static_cast<unsigned>(y), 4);
    text[4] = '-';
    putDigits(text + 5, m, 2);
    text[7] = '-';
    putDigits(text + 8, d, 2);
    text[10] = 'T';
    putDigits(text + 11, static_cast<unsigned>(rest / 3600), 2);
    text[13] = ':';
    putDigits(text + 14, static_cast<unsigned>(rest / 60 % 60), 2);
    text[16] = ':';
    putDigits(text + 17, static_cast<unsigned>(rest % 60), 2);
}

void genDateTime(yajl_gen gen, std::int64_t seconds) {
    char text[kDateTimeText];
    dateTimeText(seconds, text);
    yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(text), sizeof text);
}

// The canonical upper-case form.
constexpr int kGuidText = 36;

void guidText(const unsigned char (&bytes)[16], char* text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    int t = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text[t++] = '-';
        text[t++] = kHex[bytes[i] >> 4];
        text[t++] = kHex[bytes[i] & 15];
    }
}

void genGuid(yajl_gen gen, const unsigned char (&bytes)[16]) {
    char text[kGuidText];
    guidText(bytes, text);
    yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(text), sizeof text);
}

std::string rawToJSON(const std::vector<RawCustomer>& customers) {
    std::string text;
    yajl_gen gen = yajl_gen_alloc(nullptr);
    yajl_gen_config(gen, yajl_gen_print_callback, &appendToString, &text);
    yajl_gen_array_open(gen);
    for (const RawCustomer& c : customers) {
        yajl_gen_map_open(gen);
        genKey(gen, "CustomerId");
        yajl_gen_integer(gen, c.id);
        genKey(gen, "CustomerName");
        genString(gen, c.name);
        genKey(gen, "CustomerName_N");
        yajl_gen_bool(gen, c.nameIsNull);
        genKey(gen, "CustomerGuid");
        genGuid(gen, c.guid);
        genKey(gen, "CustomerSince");
        genDateTime(gen, c.since);
        genKey(gen, "CustomerBalance");
        genDecimal(gen, c.balance);
        genKey(gen, "CustomerActive");
        yajl_gen_bool(gen, c.active);
        genKey(gen, "CustomerPhoto");
        genString(gen, c.photo);
        genKey(gen, "CustomerPhoto_QNI");
        genString(gen, c.photoURI);
        genKey(gen, "Lines");
        yajl_gen_array_open(gen);
        for (const RawLine& line : c.lines) {
            yajl_gen_map_open(gen);
            genKey(gen, "LineId");
            yajl_gen_integer(gen, line.id);
            genKey(gen, "Product");
            genString(gen, line.product);
            genKey(gen, "Amount");
            genDecimal(gen, line.amount);
            yajl_gen_map_close(gen);
        }
        yajl_gen_array_close(gen);
        yajl_gen_map_close(gen);
    }
    yajl_gen_array_close(gen);
    yajl_gen_free(gen);
    return text;
}

// --- The raw reader: hand-written yajl_parse callbacks ---
//
// Keys are matched exactly (the library matches them in any letter case and
// by JSON or short name); values are converted to the structs' types as the
// library converts them to the records' (numbers to integers and decimals,
// texts to GUIDs and dates).

enum class RawField {
    kNone,
    kId,
    kName,
    kNameIsNull,
    kOldName,
    kGuid,
    kSince,
    kBalance,
    kActive,
    kPhoto,
    kPhotoURI,
    kLines,
    kLineId,
    kProduct,
    kAmount
};

struct RawReader {
    std::vector<RawCustomer>* out = nullptr;
    RawField field = RawField::kNone;
    bool inLines = false;
};

RawReader& readerOf(void* ctx) {
    return *static_cast<RawReader*>(ctx);
}

RawField customerKey(std::string_view key) {
    if (key == "CustomerId") return RawField::kId;
    if (key == "CustomerName") return RawField::kName;
    if (key == "CustomerName_N") return RawField::kNameIsNull;
    if (key == "CustomerName_Z") return RawField::kOldName;
    if (key == "CustomerGuid") return RawField::kGuid;
    if (key == "CustomerSince") return RawField::kSince;
    if (key == "CustomerBalance") return RawField::kBalance;
    if (key == "CustomerActive") return RawField::kActive;
    if (key == "CustomerPhoto") return RawField::kPhoto;
    if (key == "CustomerPhoto_QNI") return RawField::kPhotoURI;
    if (key == "Lines") return RawField::kLines;
    return RawField::kNone;
}

RawField lineKey(std::string_view key) {
    if (key == "LineId") return RawField::kLineId;
    if (key == "Product") return RawField::kProduct;
    if (key == "Amount") return RawField::kAmount;
    return RawField::kNone;
}

bool parseDecimal(std::string_view text, RawDecimal& out) {
    RawDecimal d;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        d.negative = true;
        ++i;
    }
    bool point = false;
    int digits = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '.' && !point) {
            point = true;
        } else if (ch >= '0' && ch <= '9') {
            if (++digits > 38) return false;
            d.coefficient = d.coefficient * 10 + static_cast<unsigned>(ch - '0');
            d.scale += point;
        } else {
            return false;  // exponents do not occur in this document
        }
    }
    out = normalized(d);
    return digits > 0;
}

bool parseGuid(std::string_view text, unsigned char (&bytes)[16]) {
    if (text.size() != 36) return false;
    auto nibble = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        return -1;
    };
    int b = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-') return false;
            continue;
        }
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[b++] = static_cast<unsigned char>(hi << 4 | lo);
        i += 2;
    }
    return true;
}

bool parseDateTime(std::string_view text, std::int64_t& seconds) {
    if (text.size() != 19) return false;
    auto number = [&](std::size_t at, std::size_t width, unsigned& value) {
        return std::from_chars(text.data() + at, text.data() + at + width, value).ptr ==
               text.data() + at + width;
    };
    unsigned y, m, d, h, mi, s;
    if (!number(0, 4, y) || !number(5, 2, m) || !number(8, 2, d) || !number(11, 2, h) ||
        !number(14, 2, mi) || !number(17, 2, s))
        return false;
    seconds = daysFromCivil(y, m, d) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

RawCustomer& current(RawReader& r) {
    return r.out->back();
}

int onStartMap(void* ctx) {
    RawReader& r = readerOf(ctx);
    if (r.inLines) {
        current(r).lines.emplace_back();
    } else {
        r.out->emplace_back();
    }
    return 1;
}

int onMapKey(void* ctx, const unsigned char* key, std::size_t length) {
    RawReader& r = readerOf(ctx);
    const std::string_view k(reinterpret_cast<const char*>(key), length);
    r.field = r.inLines ? lineKey(k) : customerKey(k);
    return 1;
}

int onEndMap(void* ctx) {
    readerOf(ctx).field = RawField::kNone;
    return 1;
}

int onStartArray(void* ctx) {
    RawReader& r = readerOf(ctx);
    if (r.field == RawField::kLines) r.inLines = true;
    return 1;
}

int onEndArray(void* ctx) {
    readerOf(ctx).inLines = false;
    return 1;
}

int onNumber(void* ctx, const char* text, std::size_t length) {
    RawReader& r = readerOf(ctx);
    const std::string_view t(text, length);
    switch (r.field) {
        case RawField::kId:
            return std::from_chars(t.data(), t.data() + t.size(), current(r).id).ec == std::errc();
        case RawField::kLineId:
            return std::from_chars(t.data(), t.data() + t.size(), current(r).lines.back().id).ec ==
                   std::errc();
        case RawField::kBalance:
            return parseDecimal(t, current(r).balance);
        case RawField::kAmount:
            return parseDecimal(t, current(r).lines.back().amount);
        default:
            return 1;
    }
}

int onString(void* ctx, const unsigned char* text, std::size_t length) {
    RawReader& r = readerOf(ctx);
    const std::string_view t(reinterpret_cast<const char*>(text), length);
    switch (r.field) {
        case RawField::kName:
            current(r).name.assign(t);
            return 1;
        case RawField::kGuid:
            return parseGuid(t, current(r).guid);
        case RawField::kSince:
            return parseDateTime(t, current(r).since);
        case RawField::kPhoto:
            current(r).photo.assign(t);
            return 1;
        case RawField::kPhotoURI:
            current(r).photoURI.assign(t);
            return 1;
        case RawField::kProduct:
            current(r).lines.back().product.assign(t);
            return 1;
        default:
            return 1;
    }
}

int onBoolean(void* ctx, int value) {
    RawReader& r = readerOf(ctx);
    if (r.field == RawField::kNameIsNull) current(r).nameIsNull = value != 0;
    if (r.field == RawField::kActive) current(r).active = value != 0;
    return 1;
}

int onNull(void*) {
    return 1;
}

const yajl_callbacks kRawCallbacks = {
    onNull,     onBoolean, nullptr,  nullptr,      onNumber,   onString,
    onStartMap, onMapKey,  onEndMap, onStartArray, onEndArray,
};

bool rawFromJSON(const std::string& text, std::vector<RawCustomer>& out) {
    RawReader reader;
    reader.out = &out;
    yajl_handle handle = yajl_alloc(&kRawCallbacks, nullptr, &reader);
    yajl_status status =
        yajl_parse(handle, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (status == yajl_status_ok) status = yajl_complete_parse(handle);
    yajl_free(handle);
    return status == yajl_status_ok;
}

// --- The library's records, made of the same data ---

qn::Decimal toDecimal(const RawDecimal& d) {
    return qn::Decimal::fromParts(d.negative, d.coefficient, -d.scale);
}

qn::Ref<qn::QNObjectCollection> libraryCustomers(const std::vector<RawCustomer>& raw) {
    auto customers = qn::makeRef<qn::QNObjectCollection>(std::optional<qn::String>(u"Customer"));
    for (const RawCustomer& c : raw) {
        auto customer = qn::makeRef<travelagency::SdtCustomer>();
        customer->setCustomerId(c.id);
        customer->setCustomerName(qn::fromUtf8(c.name));
        customer->setCustomerNameIsNull(c.nameIsNull);
        qn::QNUUID::Bytes16 bytes;
        std::memcpy(bytes.data(), c.guid, sizeof c.guid);
        customer->setCustomerGuid(qn::QNUUID(bytes));
        customer->setCustomerSince(
            qn::DateTime::fromTimeIntervalSince1970(static_cast<double>(c.since)));
        customer->setCustomerBalance(toDecimal(c.balance));
        customer->setCustomerActive(c.active);
        customer->setCustomerPhoto(qn::fromUtf8(c.photo));
        for (const RawLine& l : c.lines) {
            auto line = qn::makeRef<travelagency::SdtCustomer_Line>();
            line->setLineId(l.id);
            line->setProduct(qn::fromUtf8(l.product));
            line->setAmount(toDecimal(l.amount));
            customer->lines()->addItem(qn::Value(line));
        }
        customers->addItem(qn::Value(customer));
    }
    return customers;
}

[[noreturn]] void setupFailed(const char* what) {
    std::fprintf(stderr, "records_bench: %s\n", what);
    std::abort();
}

// Aborts, showing where, unless the library's text and the raw one are the
// same bytes.
void requireSameText(const char* form, const std::string& library, const std::string& raw) {
    if (library == raw) return;
    std::size_t at = 0;
    while (at < raw.size() && at < library.size() && raw[at] == library[at])
        ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    std::fprintf(stderr,
                 "records_bench: the %s texts differ at byte %zu\nlibrary: %s\nraw:     %s\n", form,
                 at, library.substr(from, 200).c_str(), raw.substr(from, 200).c_str());
    std::abort();
}

// Both sides' data and texts, made and checked once: the library's text and
// the raw text must be the same document, byte for byte, and each side must
// read it back into what it wrote.
struct CustomerDocuments {
    std::vector<RawCustomer> raw;
    qn::Ref<qn::QNObjectCollection> records;
    std::string rawText;
    qn::String libraryText;

    CustomerDocuments() {
        raw = sampleCustomers();
        records = libraryCustomers(raw);
        rawText = rawToJSON(raw);
        libraryText = records->toJSONString();
        requireSameText("JSON", qn::toUtf8(libraryText), rawText);
        std::vector<RawCustomer> rawLoaded;
        if (!rawFromJSON(rawText, rawLoaded) || rawToJSON(rawLoaded) != rawText)
            setupFailed("the raw reader does not read back what was written");
        qn::QNObjectCollection loaded(std::optional<qn::String>(u"Customer"));
        if (!loaded.fromJSONString(libraryText) || loaded.count() != raw.size() ||
            loaded.toJSONString() != libraryText)
            setupFailed("the library does not read back what it wrote");
    }
};

const CustomerDocuments& customerDocuments() {
    static const CustomerDocuments documents;
    return documents;
}

void BM_RecordsToJSON10k_Qn(benchmark::State& state) {
    UsingSampleBundle bundle;
    const qn::QNObjectCollection& records = *customerDocuments().records;
    std::size_t bytes = 0;
    for (auto _ : state) {
        qn::String text = records.toJSONString();
        bytes += text.size() * sizeof(char16_t);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordsToJSON10k_Qn)->Unit(benchmark::kMillisecond);

void BM_RecordsToJSON10k_RawYajl(benchmark::State& state) {
    UsingSampleBundle bundle;  // the same state as the library's run, though unused
    const std::vector<RawCustomer>& customers = customerDocuments().raw;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = rawToJSON(customers);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordsToJSON10k_RawYajl)->Unit(benchmark::kMillisecond);

void BM_RecordsFromJSON10k_Qn(benchmark::State& state) {
    UsingSampleBundle bundle;
    const qn::String& text = customerDocuments().libraryText;
    for (auto _ : state) {
        qn::QNObjectCollection customers(std::optional<qn::String>(u"Customer"));
        if (!customers.fromJSONString(text)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(customers.count());
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_RecordsFromJSON10k_Qn)->Unit(benchmark::kMillisecond);

void BM_RecordsFromJSON10k_RawYajl(benchmark::State& state) {
    UsingSampleBundle bundle;
    const std::string& text = customerDocuments().rawText;
    for (auto _ : state) {
        std::vector<RawCustomer> customers;
        if (!rawFromJSON(text, customers)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(customers.size());
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_RecordsFromJSON10k_RawYajl)->Unit(benchmark::kMillisecond);

// --- Records' XML forms ---------------------------------------------------------------
//
// The same customers as one document: a "Customer" element holding one
// <Customer xmlns=""> per record, each property with a value as an element
// of its short name and the lines as <Lines><Line xmlns="">...</Line></Lines>.

// --- The raw XML writer: hand-written xmlTextWriter calls into a memory buffer ---

const xmlChar* xmlName(const char* name) {
    return reinterpret_cast<const xmlChar*>(name);
}

// An element with its text; `text` must be NUL-terminated.
void writeElement(xmlTextWriterPtr writer, const char* name, const char* text) {
    xmlTextWriterWriteElement(writer, xmlName(name), reinterpret_cast<const xmlChar*>(text));
}

void writeInteger(xmlTextWriterPtr writer, const char* name, std::int64_t value) {
    char text[24];
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
    writeElement(writer, name, text);
}

void writeDecimal(xmlTextWriterPtr writer, const char* name, const RawDecimal& value) {
    char text[kDecimalTextMax + 1];
    text[decimalText(value, text)] = '\0';
    writeElement(writer, name, text);
}

void writeBool(xmlTextWriterPtr writer, const char* name, bool value) {
    writeElement(writer, name, value ? "true" : "false");
}

// The text as the library returns it: UTF-16, from the buffer's UTF-8; ""
// when a step failed.
qn::String rawToXML(const std::vector<RawCustomer>& customers) {
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
    xmlTextWriterStartElement(writer, xmlName("Customer"));
    for (const RawCustomer& c : customers) {
        xmlTextWriterStartElement(writer, xmlName("Customer"));
        xmlTextWriterWriteAttribute(writer, xmlName("xmlns"), xmlName(""));
        writeInteger(writer, "CustomerId", c.id);
        writeElement(writer, "CustomerName", c.name.c_str());
        writeBool(writer, "CustomerName_N", c.nameIsNull);
        writeElement(writer, "CustomerName_Z", c.oldName.c_str());
        char guid[kGuidText + 1];
        guidText(c.guid, guid);
        guid[kGuidText] = '\0';
        writeElement(writer, "CustomerGuid", guid);
        char since[kDateTimeText + 1];
        dateTimeText(c.since, since);
        since[kDateTimeText] = '\0';
        writeElement(writer, "CustomerSince", since);
        writeDecimal(writer, "CustomerBalance", c.balance);
        writeBool(writer, "CustomerActive", c.active);
        writeElement(writer, "CustomerPhoto", c.photo.c_str());
        writeElement(writer, "CustomerPhoto_QNI", c.photoURI.c_str());
        xmlTextWriterStartElement(writer, xmlName("Lines"));
        for (const RawLine& line : c.lines) {
            xmlTextWriterStartElement(writer, xmlName("Line"));
            xmlTextWriterWriteAttribute(writer, xmlName("xmlns"), xmlName(""));
            writeInteger(writer, "LineId", line.id);
            writeElement(writer, "Product", line.product.c_str());
            writeDecimal(writer, "Amount", line.amount);
            xmlTextWriterEndElement(writer);
        }
        xmlTextWriterEndElement(writer);
        xmlTextWriterEndElement(writer);
    }
    const bool ok = xmlTextWriterEndDocument(writer) >= 0;
    xmlFreeTextWriter(writer);  // flushes into the buffer
    qn::String text;
    if (ok)
        text =
            qn::fromUtf8(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                          static_cast<std::size_t>(xmlBufferLength(buffer))));
    xmlBufferFree(buffer);
    return text;
}

// --- The raw XML reader: a hand-written xmlTextReader loop ---
//
// Elements are matched by exact name and depth (the library looks names up
// in its property table); an element's text is gathered from its text nodes
// and converted when the element ends: numbers, decimals, dates and GUIDs
// parsed, texts to UTF-16 as the library's records hold them.

struct XmlLine {
    std::int64_t id = 0;
    qn::String product;
    RawDecimal amount;
};

struct XmlCustomer {
    std::int64_t id = 0;
    qn::String name;
    bool nameIsNull = false;
    qn::String oldName;
    unsigned char guid[16] = {};
    std::int64_t since = 0;
    RawDecimal balance;
    bool active = false;
    qn::String photo;
    qn::String photoURI;
    std::vector<XmlLine> lines;
};

bool parseInteger(std::string_view text, std::int64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool parseBool(std::string_view text, bool& value) {
    value = text == "true";
    return value || text == "false";
}

// A property's text into the customer (or its last line).
bool setField(XmlCustomer& c, RawField field, std::string_view text) {
    switch (field) {
        case RawField::kId:
            return parseInteger(text, c.id);
        case RawField::kName:
            c.name = qn::fromUtf8(text);
            return true;
        case RawField::kNameIsNull:
            return parseBool(text, c.nameIsNull);
        case RawField::kOldName:
            c.oldName = qn::fromUtf8(text);
            return true;
        case RawField::kGuid:
            return parseGuid(text, c.guid);
        case RawField::kSince:
            return parseDateTime(text, c.since);
        case RawField::kBalance:
            return parseDecimal(text, c.balance);
        case RawField::kActive:
            return parseBool(text, c.active);
        case RawField::kPhoto:
            c.photo = qn::fromUtf8(text);
            return true;
        case RawField::kPhotoURI:
            c.photoURI = qn::fromUtf8(text);
            return true;
        case RawField::kLineId:
            return parseInteger(text, c.lines.back().id);
        case RawField::kProduct:
            c.lines.back().product = qn::fromUtf8(text);
            return true;
        case RawField::kAmount:
            return parseDecimal(text, c.lines.back().amount);
        default:
            return true;
    }
}

std::string_view readerText(const xmlChar* text) {
    return text == nullptr ? std::string_view() : reinterpret_cast<const char*>(text);
}

// The depths of the document: the root, a customer, its properties, a line,
// a line's properties.
constexpr int kRootDepth = 0, kCustomerDepth = 1, kPropertyDepth = 2, kLineDepth = 3,
              kLinePropertyDepth = 4;

bool rawFromXML(const qn::String& text, std::vector<XmlCustomer>& out) {
    const std::string bytes = qn::toUtf8(text);
    xmlTextReaderPtr reader =
        xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (reader == nullptr) return false;
    RawField field = RawField::kNone;  // the property element being read
    bool inLines = false;
    std::string value;  // its text so far
    bool ok = true;
    int status;
    while (ok && (status = xmlTextReaderRead(reader)) == 1) {
        switch (xmlTextReaderNodeType(reader)) {
            case XML_READER_TYPE_ELEMENT: {
                const int depth = xmlTextReaderDepth(reader);
                const std::string_view name = readerText(xmlTextReaderConstLocalName(reader));
                if (depth == kRootDepth) {
                    ok = name == "Customer";
                } else if (depth == kCustomerDepth) {
                    out.emplace_back();
                } else if (depth == kPropertyDepth) {
                    field = customerKey(name);
                    inLines = field == RawField::kLines;
                } else if (depth == kLineDepth && inLines) {
                    out.back().lines.emplace_back();
                } else if (depth == kLinePropertyDepth && inLines) {
                    field = lineKey(name);
                }
                value.clear();
                // <Name/> has no end tag to wait for.
                if (xmlTextReaderIsEmptyElement(reader) == 1 &&
                    (depth == kPropertyDepth || depth == kLinePropertyDepth)) {
                    ok = ok && setField(out.back(), field, value);
                    field = RawField::kNone;
                }
                break;
            }
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                if (field != RawField::kNone && field != RawField::kLines)
                    value += readerText(xmlTextReaderConstValue(reader));
                break;
            case XML_READER_TYPE_END_ELEMENT: {
                const int depth = xmlTextReaderDepth(reader);
                if (depth == kPropertyDepth || depth == kLinePropertyDepth) {
                    ok = setField(out.back(), field, value);
                    field = RawField::kNone;
                    if (depth == kPropertyDepth) inLines = false;
                }
                break;
            }
            default:
                break;
        }
    }
    xmlFreeTextReader(reader);
    return ok && status == 0;
}

bool sameDecimal(const RawDecimal& a, const RawDecimal& b) {
    return a.negative == b.negative && a.coefficient == b.coefficient && a.scale == b.scale;
}

bool sameCustomers(const std::vector<RawCustomer>& raw, const std::vector<XmlCustomer>& read) {
    if (raw.size() != read.size()) return false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawCustomer& a = raw[i];
        const XmlCustomer& b = read[i];
        if (a.id != b.id || qn::fromUtf8(a.name) != b.name || a.nameIsNull != b.nameIsNull ||
            qn::fromUtf8(a.oldName) != b.oldName ||
            std::memcmp(a.guid, b.guid, sizeof a.guid) != 0 || a.since != b.since ||
            !sameDecimal(a.balance, b.balance) || a.active != b.active ||
            qn::fromUtf8(a.photo) != b.photo || qn::fromUtf8(a.photoURI) != b.photoURI ||
            a.lines.size() != b.lines.size())
            return false;
        for (std::size_t l = 0; l < a.lines.size(); ++l) {
            if (a.lines[l].id != b.lines[l].id ||
                qn::fromUtf8(a.lines[l].product) != b.lines[l].product ||
                !sameDecimal(a.lines[l].amount, b.lines[l].amount))
                return false;
        }
    }
    return true;
}

// The XML texts of both sides, made and checked once as the JSON ones are.
struct CustomerXMLDocuments {
    qn::String libraryText;
    qn::String rawText;

    CustomerXMLDocuments() {
        const CustomerDocuments& json = customerDocuments();
        libraryText = json.records->toxmlIncludeHeader(false, true, u"Customer", u"");
        rawText = rawToXML(json.raw);
        requireSameText("XML", qn::toUtf8(libraryText), qn::toUtf8(rawText));
        std::vector<XmlCustomer> rawLoaded;
        if (!rawFromXML(rawText, rawLoaded) || !sameCustomers(json.raw, rawLoaded))
            setupFailed("the raw XML reader does not read back what was written");
        qn::QNObjectCollection loaded(std::optional<qn::String>(u"Customer"));
        if (!loaded.fromxml(libraryText) || loaded.count() != json.raw.size() ||
            loaded.toxmlIncludeHeader(false, true, u"Customer", u"") != libraryText)
            setupFailed("the library does not read back the XML it wrote");
    }
};

const CustomerXMLDocuments& customerXMLDocuments() {
    static const CustomerXMLDocuments documents;
    return documents;
}

void BM_RecordsToXML10k_Qn(benchmark::State& state) {
    UsingSampleBundle bundle;
    customerXMLDocuments();
    const qn::QNObjectCollection& records = *customerDocuments().records;
    std::size_t bytes = 0;
    for (auto _ : state) {
        qn::String text = records.toxmlIncludeHeader(false, true, u"Customer", u"");
        bytes += text.size() * sizeof(char16_t);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordsToXML10k_Qn)->Unit(benchmark::kMillisecond);

void BM_RecordsToXML10k_RawXmlWriter(benchmark::State& state) {
    UsingSampleBundle bundle;
    customerXMLDocuments();
    const std::vector<RawCustomer>& customers = customerDocuments().raw;
    std::size_t bytes = 0;
    for (auto _ : state) {
        qn::String text = rawToXML(customers);
        bytes += text.size() * sizeof(char16_t);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordsToXML10k_RawXmlWriter)->Unit(benchmark::kMillisecond);

void BM_RecordsFromXML10k_Qn(benchmark::State& state) {
    UsingSampleBundle bundle;
    const qn::String& text = customerXMLDocuments().libraryText;
    for (auto _ : state) {
        qn::QNObjectCollection customers(std::optional<qn::String>(u"Customer"));
        if (!customers.fromxml(text)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(customers.count());
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_RecordsFromXML10k_Qn)->Unit(benchmark::kMillisecond);

void BM_RecordsFromXML10k_RawXmlReader(benchmark::State& state) {
    UsingSampleBundle bundle;
    const qn::String& text = customerXMLDocuments().rawText;
    for (auto _ : state) {
        std::vector<XmlCustomer> customers;
        if (!rawFromXML(text, customers)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(customers.size());
    }
    state.SetItemsProcessed(state.iterations() * kCustomers);
}
BENCHMARK(BM_RecordsFromXML10k_RawXmlReader)->Unit(benchmark::kMillisecond);

// --- Sorting ------------------------------------------------------------------------

constexpr int kSortedLines = 100000;

// 100,000 lines with five products and amounts 0.00 to 49.99 in a fixed
// pseudo-random order, sorted by product, then by amount descending.
struct SortInput {
    std::vector<qn::Value> lines;
    SortInput() {
        const char16_t* products[] = {u"Tent", u"Stove", u"Axe", u"Lamp", u"Rope"};
        std::uint32_t seed = 7;
        lines.reserve(kSortedLines);
        for (int i = 0; i < kSortedLines; ++i) {
            seed = seed * 1664525u + 1013904223u;
            auto line = qn::makeRef<travelagency::SdtCustomer_Line>();
            line->setLineId(i);
            line->setProduct(products[(seed >> 20) % 5]);
            line->setAmount(qn::Decimal::fromParts(false, (seed >> 4) % 5000, 2));
            lines.emplace_back(std::move(line));
        }
    }
};

void BM_SortRecords100k_Qn(benchmark::State& state) {
    UsingSampleBundle bundle;
    const SortInput input;
    qn::QNObjectCollection lines(std::optional<qn::String>(u"Customer.Line"));
    for (auto _ : state) {
        state.PauseTiming();
        lines.setItems(input.lines);
        state.ResumeTiming();
        lines.sort(u"Product, (Amount)");
        benchmark::DoNotOptimize(lines.items().data());
    }
}
BENCHMARK(BM_SortRecords100k_Qn)->Unit(benchmark::kMillisecond);

// The same order with keys taken from the records beforehand: a stable sort
// of (product, amount, position) triples.
void BM_SortRecords100k_RawStableSort(benchmark::State& state) {
    UsingSampleBundle bundle;
    const SortInput input;
    struct Key {
        qn::String product;
        qn::Decimal amount;
        std::size_t position;
    };
    std::vector<Key> keys;
    for (std::size_t i = 0; i < input.lines.size(); ++i) {
        const auto& line = *input.lines[i].as<travelagency::SdtCustomer_Line>();
        keys.push_back({line.product(), line.amount(), i});
    }
    std::vector<Key> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = keys;
        state.ResumeTiming();
        std::stable_sort(work.begin(), work.end(), [](const Key& a, const Key& b) {
            if (const int c = a.product.compare(b.product); c != 0) return c < 0;
            return b.amount < a.amount;
        });
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_SortRecords100k_RawStableSort)->Unit(benchmark::kMillisecond);

}  // namespace
