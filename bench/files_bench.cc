// Files beside the raw work they stand for: QNFile::readalllines of a 50 MB
// text beside one read, one ICU UTF-8 -> UTF-16 conversion and a split at
// "\n"; and a delimited-file read of a million records beside the same read,
// conversion and split into fields, with the fields turned into what the
// delimited reader hands out (text as strings, integers, Decimals).

#include <qn/files.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The sample files, written once per run into a fresh folder that also holds
// the library's storage roots (so the benchmark never touches a user's data).
class Samples {
public:
    static Samples& get() {
        static Samples samples;
        return samples;
    }
    ~Samples() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const std::string& textPath() const { return textPath_; }
    const std::string& delimitedPath() const { return delimitedPath_; }

private:
    Samples() {
        root_ = fs::temp_directory_path() / ("qn-files-bench-" + std::to_string(::getpid()));
        fs::create_directories(root_);
        auto& storage = qn::QNObjectsModelServices::applicationStorageService();
        storage.setApplicationCachesDirectory(root_ / "caches");
        storage.setApplicationSupportDirectory(root_ / "support");
        storage.setTemporaryDirectory(root_ / "tmp");
        textPath_ = (root_ / "text.txt").string();
        delimitedPath_ = (root_ / "records.csv").string();
        writeText();
        writeDelimited();
    }

    // About 50 MB: lines of 0 to 200 bytes, mostly ASCII with two- to
    // four-byte UTF-8 sequences mixed in.
    void writeText() const {
        static const char* const kPieces[] = {"lorem ",
                                              "ipsum ",
                                              "dolor ",
                                              "caf\xC3\xA9 ",
                                              ("stra\xC3\x9F"
                                               "e "),
                                              "\xE4\xB8\xAD\xE6\x96\x87 ",
                                              "\xF0\x9F\x98\x80 ",
                                              "sit amet, "};
        std::string out;
        out.reserve(51u << 20);
        std::uint32_t seed = 12345;
        while (out.size() < (50u << 20)) {
            seed = seed * 1664525u + 1013904223u;
            const std::size_t target = (seed >> 8) % 201;
            const std::size_t start = out.size();
            while (out.size() - start < target) {
                seed = seed * 1664525u + 1013904223u;
                out += kPieces[(seed >> 12) % 8];
            }
            out += '\n';
        }
        std::ofstream(textPath_, std::ios::binary).write(out.data(), std::streamsize(out.size()));
    }

    // A million records: quoted text, integer, decimal, quoted text.
    void writeDelimited() const {
        std::string out;
        out.reserve(48u << 20);
        char line[160];
        for (int i = 0; i < 1'000'000; ++i) {
            const int n = std::snprintf(line, sizeof line,
                                        "\"Customer %d\",%d,%d.%02d,\"Montevid\xC3\xA9o\"\n", i,
                                        i * 7, i % 5000, i % 100);
            out.append(line, static_cast<std::size_t>(n));
        }
        std::ofstream(delimitedPath_, std::ios::binary)
            .write(out.data(), std::streamsize(out.size()));
    }

    fs::path root_;
    std::string textPath_;
    std::string delimitedPath_;
};

// The whole file read and converted to UTF-16 with one ICU call.
std::u16string readUtf16(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    std::u16string text(bytes.size(), u'\0');  // never more units than bytes
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(text.data(), static_cast<int32_t>(text.size()), &length, bytes.data(),
                         static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
    text.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return text;
}

void BM_ReadAllLines_Qn(benchmark::State& state) {
    const qn::String path = qn::fromUtf8(Samples::get().textPath());
    std::size_t lines = 0;
    for (auto _ : state) {
        qn::QNFile file(path);
        auto collection = file.readalllines(qn::StringView(u"utf-8"));
        lines = collection->items().size();
        benchmark::DoNotOptimize(collection);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(50u << 20));
}
BENCHMARK(BM_ReadAllLines_Qn)->Unit(benchmark::kMillisecond);

void BM_ReadAllLines_RawIcuSplit(benchmark::State& state) {
    const std::string& path = Samples::get().textPath();
    std::size_t lines = 0;
    for (auto _ : state) {
        const std::u16string text = readUtf16(path);
        std::vector<std::u16string> split;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find(u'\n', start)) != std::u16string::npos;
             start = end + 1)
            split.emplace_back(text, start, end - start);
        if (start < text.size()) split.emplace_back(text, start);
        lines = split.size();
        benchmark::DoNotOptimize(split);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(50u << 20));
}
BENCHMARK(BM_ReadAllLines_RawIcuSplit)->Unit(benchmark::kMillisecond);

void BM_DelimitedRead_Qn(benchmark::State& state) {
    const qn::String path = qn::fromUtf8(Samples::get().delimitedPath());
    auto& df = qn::QNDelimitedFile::sharedInstance();
    std::int64_t records = 0;
    for (auto _ : state) {
        records = 0;
        qn::String name, city;
        std::int64_t number = 0;
        qn::Decimal amount;
        if (df.dfropenLengthFiledDelimiterStringDelimiterEncoding(path) != 0)
            state.SkipWithError("open failed");
        while (df.dfrnext() == 0) {
            if (df.dfrgtxtLength(name, 20) != 0 || df.dfrgnum(number) != 0 ||
                df.dfrgdecimal(amount) != 0 || df.dfrgtxtLength(city, 12) != 0) {
                state.SkipWithError("bad record");
                break;
            }
            benchmark::DoNotOptimize(number);
            benchmark::DoNotOptimize(amount);
            ++records;
        }
        df.dfrclose();
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_DelimitedRead_Qn)->Unit(benchmark::kMillisecond);

// The same records by hand: fields are the text between commas; texts lose
// their quotes and are padded as the reader pads them.
void BM_DelimitedRead_RawIcuSplit(benchmark::State& state) {
    const std::string& path = Samples::get().delimitedPath();
    std::int64_t records = 0;
    auto quoted = [](std::u16string_view field, std::size_t width, std::u16string& out) {
        field = field.substr(1, field.size() - 2);
        out.assign(field);
        out.append(width - field.size(), u' ');
    };
    for (auto _ : state) {
        records = 0;
        const std::u16string text = readUtf16(path);
        const std::u16string_view all(text);
        std::u16string name, city;
        std::size_t start = 0;
        for (std::size_t end; (end = all.find(u'\n', start)) != std::u16string_view::npos;
             start = end + 1) {
            std::u16string_view line = all.substr(start, end - start);
            std::u16string_view fields[4];
            for (auto& field : fields) {
                const std::size_t comma = line.find(u',');
                field = line.substr(0, comma);
                line = comma == std::u16string_view::npos ? std::u16string_view()
                                                          : line.substr(comma + 1);
            }
            quoted(fields[0], 20, name);
            std::int64_t number = 0;
            for (char16_t c : fields[1])
                number = number * 10 + (c - u'0');
            const qn::Decimal amount = qn::Decimal::fromString(fields[2]);
            quoted(fields[3], 12, city);
            benchmark::DoNotOptimize(number);
            benchmark::DoNotOptimize(amount);
            benchmark::DoNotOptimize(name);
            ++records;
        }
    }
    state.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_DelimitedRead_RawIcuSplit)->Unit(benchmark::kMillisecond);

}  // namespace
