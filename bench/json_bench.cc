// The JSON reader beside the YAJL calls it is built on: yajl_tree_parse (the
// library's own tree, numbers through strtod) and a bare validating parse
// with no callbacks (the lexer alone). The ratios are the wrapper's cost.

#include <qn/data.h>

#include <benchmark/benchmark.h>
#include <yajl/yajl_parse.h>
#include <yajl/yajl_tree.h>

#include <cstdio>
#include <string>

namespace {

// About 100 KB of records: objects, arrays, integers, decimals, strings
// with and without escapes, booleans and nulls.
const std::string& document() {
    static const std::string text = [] {
        std::string s = "{\"generated\": \"2024-05-01T10:00:00Z\", \"records\": [";
        char buffer[512];
        for (int i = 0; i < 360; ++i) {
            std::snprintf(
                buffer, sizeof buffer,
                "%s{\"id\": %d, \"code\": \"C-%05d\", \"name\": \"Caf\\u00e9 n\\u00ba %d "
                "\\\"quoted\\\"\", \"city\": \"Montevideo\", \"price\": %d.%02d, "
                "\"ratio\": 1.5e-3, \"stock\": %d, \"active\": %s, \"notes\": null, "
                "\"tags\": [\"alpha\", \"beta\", \"gamma\"], \"dims\": [%d, %d.5, 0.25], "
                "\"owner\": {\"first\": \"Ana\", \"last\": \"P\xC3\xA9rez\", \"age\": %d}}",
                i ? ", " : "", i, i, i, i % 1000, i % 100, i * 7, i % 2 ? "true" : "false", i % 13,
                i % 17, 20 + i % 50);
            s += buffer;
        }
        s += "]}";
        return s;
    }();
    return text;
}

void BM_QNJSONParse(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        auto value = qn::QNJSON::parse(std::string_view(text));
        if (!value) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_QNJSONParse);

void BM_YajlTreeParse(benchmark::State& state) {
    const std::string& text = document();
    char error[256];
    for (auto _ : state) {
        yajl_val tree = yajl_tree_parse(text.c_str(), error, sizeof error);
        if (tree == nullptr) state.SkipWithError(error);
        benchmark::DoNotOptimize(tree);
        yajl_tree_free(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_YajlTreeParse);

void BM_YajlValidateOnly(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        yajl_handle handle = yajl_alloc(nullptr, nullptr, nullptr);
        yajl_status status =
            yajl_parse(handle, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        if (status == yajl_status_ok) status = yajl_complete_parse(handle);
        if (status != yajl_status_ok) state.SkipWithError("parse failed");
        yajl_free(handle);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_YajlValidateOnly);

}  // namespace
