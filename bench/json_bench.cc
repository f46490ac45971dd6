// The JSON reader and writer beside the YAJL calls they are built on.
//
// Reading: yajl_tree_parse (YAJL's own tree, numbers through strtod) and a
// bare validating parse with no callbacks (the lexer alone).
// Writing: the same document from its Value tree through generateUtf8, and
// raw yajl_gen writing the same content from YAJL's tree (UTF-8 strings as
// they are, numbers as their text through yajl_gen_number) into a string.
// The ratios are the wrapper's cost.

#include <qn/data.h>

#include <benchmark/benchmark.h>
#include <yajl/yajl_gen.h>
#include <yajl/yajl_parse.h>
#include <yajl/yajl_tree.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

// About 1 MB of records: objects, arrays, integers, decimals, strings
// with and without escapes, booleans and nulls.
const std::string& document() {
    static const std::string text = [] {
        std::string s = "{\"generated\": \"2024-05-01T10:00:00Z\", \"records\": [";
        char buffer[512];
        for (int i = 0; i < 3600; ++i) {
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

void BM_QNJsonParse(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        auto value = qn::QNJSON::parse(std::string_view(text));
        if (!value) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_QNJsonParse);

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

const qn::Value& documentValue() {
    static const qn::Value value = *qn::QNJSON::parse(std::string_view(document()));
    return value;
}

// The whole document (arg 0), or one of its records, as generated code
// writes a record or collection at a time (arg 1).
const qn::Value& generated(int which) {
    if (which == 0) return documentValue();
    return documentValue().asDictionary()->get(u"records").asArray()->at(0);
}

void BM_QNJsonGenerate(benchmark::State& state) {
    const qn::Value& value = generated(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::optional<std::string> text = qn::QNJSON::generateUtf8(value);
        if (!text) state.SkipWithError("generation failed");
        bytes += text->size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_QNJsonGenerate)->Arg(0)->Arg(1);

void appendText(void* ctx, const char* text, std::size_t length) {
    static_cast<std::string*>(ctx)->append(text, length);
}

void generateTree(yajl_gen gen, yajl_val value) {
    switch (value->type) {
        case yajl_t_string: {
            const char* s = value->u.string;
            yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(s), std::strlen(s));
            break;
        }
        case yajl_t_number: {
            const char* r = value->u.number.r;
            yajl_gen_number(gen, r, std::strlen(r));
            break;
        }
        case yajl_t_object:
            yajl_gen_map_open(gen);
            for (std::size_t i = 0; i < value->u.object.len; ++i) {
                const char* key = value->u.object.keys[i];
                yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
                generateTree(gen, value->u.object.values[i]);
            }
            yajl_gen_map_close(gen);
            break;
        case yajl_t_array:
            yajl_gen_array_open(gen);
            for (std::size_t i = 0; i < value->u.array.len; ++i)
                generateTree(gen, value->u.array.values[i]);
            yajl_gen_array_close(gen);
            break;
        case yajl_t_true:
            yajl_gen_bool(gen, 1);
            break;
        case yajl_t_false:
            yajl_gen_bool(gen, 0);
            break;
        default:
            yajl_gen_null(gen);
            break;
    }
}

void BM_YajlGenerate(benchmark::State& state) {
    char error[256];
    yajl_val tree = yajl_tree_parse(document().c_str(), error, sizeof error);
    if (tree == nullptr) {
        state.SkipWithError(error);
        return;
    }
    const char* path[] = {"records", nullptr};
    const yajl_val generated =
        state.range(0) == 0 ? tree
                            : YAJL_GET_ARRAY(yajl_tree_get(tree, path, yajl_t_array))->values[0];
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text;
        yajl_gen gen = yajl_gen_alloc(nullptr);
        yajl_gen_config(gen, yajl_gen_print_callback, &appendText, &text);
        generateTree(gen, generated);
        yajl_gen_free(gen);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    yajl_tree_free(tree);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_YajlGenerate)->Arg(0)->Arg(1);

}  // namespace
