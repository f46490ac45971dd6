// JSON writer on YAJL's generator. yajl_gen does the structure (separators,
// key/value order) and the escaping of strings; its print callback appends
// straight to the one std::string that becomes the result. Containers are
// walked with an explicit stack, so nesting costs heap, never C++ stack.
//
// What is done here rather than left to YAJL:
//  - Numbers are written as text through yajl_gen_number: an Int its exact
//    digits, a Decimal its plain text, a Double its shortest round-trip text
//    (yajl_gen_double would print %.20g: 0.1 as 0.10000000000000000555).
//  - Strings are UTF-16: they are converted to UTF-8 in one reused scratch
//    buffer and handed to yajl_gen_string. A lone surrogate has no UTF-8
//    form; such a string is escaped here (as YAJL escapes, plus \uXXXX for
//    the lone surrogate, which the reader turns back into the same code
//    unit) and put in place of an empty string YAJL has just written.
//  - yajl_gen nests at most YAJL_MAX_DEPTH - 1 containers, fewer than
//    QNJSON::kMaxDepth. Every kLevelsPerGenerator levels the value goes on
//    in a further generator writing to the same text; to the outer one it is
//    an atom of no text (yajl_gen_number with ""), which places its
//    separator.

#include <qn/core/containers.h>
#include <qn/core/json.h>

#include <yajl/yajl_common.h>
#include <yajl/yajl_gen.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "core/utf8.h"

namespace qn {

QNJSONValueSource::~QNJSONValueSource() = default;
QNJSONEmitter::~QNJSONEmitter() = default;
QNJSONStreamSource::~QNJSONStreamSource() = default;

namespace {

constexpr std::string_view kOutOfMemory = "out of memory";

constexpr int kLevelsPerGenerator = 100;
static_assert(kLevelsPerGenerator < YAJL_MAX_DEPTH);
constexpr int kGenerators = (QNJSON::kMaxDepth + kLevelsPerGenerator - 1) / kLevelsPerGenerator;

std::string depthErrorText() {
    return "JSON value nested deeper than " + std::to_string(QNJSON::kMaxDepth) + " levels";
}

// "\u" and four upper-case hex digits, as YAJL writes control characters.
char* writeUnicodeEscape(char* out, unsigned unit) noexcept {
    constexpr const char* kHex = internal::kUpperHexDigits;
    *out++ = '\\';
    *out++ = 'u';
    *out++ = kHex[(unit >> 12) & 0xF];
    *out++ = kHex[(unit >> 8) & 0xF];
    *out++ = kHex[(unit >> 4) & 0xF];
    *out++ = kHex[unit & 0xF];
    return out;
}

// One open container. The reference keeps it alive while it is written: a
// tree from QNJSONValueSource::jsonValue has no other owner. A container a
// stream source opened has neither array nor dictionary: the source fills
// and closes it itself.
struct Frame {
    Ref<Object> container;
    const Array* array;  // at most one of array and dictionary is set
    const Dictionary* dictionary;
    std::size_t next;
    yajl_gen gen;
};

class Writer;

// What a stream source writes through: each call goes to the generator of
// the innermost open container.
class WriterEmitter final : public QNJSONEmitter {
public:
    explicit WriterEmitter(Writer& writer) : writer_(writer) {}
    bool beginObject(std::size_t) override;
    bool key(StringView key) override;
    bool endObject() override;
    bool beginArray(std::size_t) override;
    bool endArray() override;
    bool value(const Value& value) override;

private:
    Writer& writer_;
};

// One generation at a time; its generators, stack and scratch buffer are
// kept for the next one (each thread keeps one Writer: generated code
// generates in tight loops).
class Writer {
public:
    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() {
        for (yajl_gen gen : gens_)
            if (gen != nullptr) yajl_gen_free(gen);
    }

    // Writes the whole value into `out` (which it resizes as it needs);
    // false with the reason in error().
    bool run(const Value& root, std::string& out);
    // The same for what `body` hands its emitter.
    bool runWith(const std::function<bool(QNJSONEmitter&)>& body, std::string& out);
    const std::string& error() const noexcept { return error_; }

private:
    // YAJL's print callback. The text goes straight into out_, which is
    // kept sized to its capacity, with length_ the part written so far
    // (cheaper per call than std::string::append, and YAJL prints mostly
    // single characters). Nothing may unwind through YAJL's C frames: a
    // failed allocation is remembered and fails the whole generation.
    static void print(void* ctx, const char* text, std::size_t length) noexcept {
        auto* self = static_cast<Writer*>(ctx);
        if (self->out_->size() - self->length_ < length) [[unlikely]] {
            if (!self->grow(length)) return;
        }
        char* at = self->out_->data() + self->length_;
        if (length == 1) {
            *at = *text;
        } else {
            std::memcpy(at, text, length);
        }
        self->length_ += length;
    }

    [[gnu::noinline]] bool grow(std::size_t more) noexcept {
        try {
            out_->resize(std::max(2 * out_->size(), std::max<std::size_t>(length_ + more, 256)));
            return true;
        } catch (...) {
            failed_ = true;
            return false;
        }
    }

    bool fail(std::string text) {
        error_ = std::move(text);
        return false;
    }
    bool check(yajl_gen_status status) {
        if (status == yajl_gen_status_ok) [[likely]]
            return true;
        return fail("JSON generator error " + std::to_string(static_cast<int>(status)));
    }

    // The generator for levels from `index * kLevelsPerGenerator`, fresh.
    yajl_gen generator(int index) {
        yajl_gen& gen = gens_[static_cast<std::size_t>(index)];
        if (gen == nullptr) {
            gen = yajl_gen_alloc(nullptr);
            if (gen == nullptr) return nullptr;
            // Compact, "/" unescaped, no UTF-8 check: YAJL's defaults.
            yajl_gen_config(gen, yajl_gen_print_callback, static_cast<yajl_print_t>(&Writer::print),
                            this);
        } else {
            yajl_gen_reset(gen, nullptr);
        }
        return gen;
    }

    char* scratch(std::size_t size) {
        if (size > scratchSize_) {
            scratchSize_ = std::max(size, 2 * scratchSize_);
            scratch_ = std::make_unique_for_overwrite<char[]>(scratchSize_);
        }
        return scratch_.get();
    }

    bool writeValue(yajl_gen gen, const Value& value);
    bool writeObject(yajl_gen gen, const Value& value);
    bool open(yajl_gen gen, const Ref<Object>& container, const Array* array,
              const Dictionary* dictionary, bool isMap);
    bool writeString(yajl_gen gen, StringView text);
    bool writeEscaped(yajl_gen gen, StringView text);
    bool writeNumber(yajl_gen gen, const char* text, std::size_t length) {
        return check(yajl_gen_number(gen, text, length));
    }

    // A scratch buffer larger than this is not kept between generations.
    static constexpr std::size_t kKeptScratch = 64 * 1024;

    bool write(const Value& root);
    template <class Body>
    bool runBody(std::string& out, Body&& body);
    // Writes the open containers above `level` to their end.
    bool drain(std::size_t level);
    yajl_gen currentGenerator() const { return stack_.empty() ? root_ : stack_.back().gen; }

    friend class WriterEmitter;
    yajl_gen root_ = nullptr;  // the generator of the outermost level
    int streamHops_ = 0;       // stream sources being written, one inside another

    std::string* out_ = nullptr;
    std::size_t length_ = 0;
    std::array<yajl_gen, kGenerators> gens_{};
    std::vector<Frame> stack_;
    std::unique_ptr<char[]> scratch_;
    std::size_t scratchSize_ = 0;
    bool failed_ = false;
    std::string error_;
};

bool Writer::run(const Value& root, std::string& out) {
    return runBody(out, [&] { return write(root); });
}

bool Writer::runWith(const std::function<bool(QNJSONEmitter&)>& body, std::string& out) {
    return runBody(out, [&] {
        root_ = generator(0);
        if (root_ == nullptr) return fail(std::string(kOutOfMemory));
        WriterEmitter emitter(*this);
        if (!body(emitter)) {
            if (error_.empty()) fail("the value could not be written");
            return false;
        }
        if (!stack_.empty()) return fail("a container was left open");
        if (failed_) return fail(std::string(kOutOfMemory));
        return true;
    });
}

template <class Body>
bool Writer::runBody(std::string& out, Body&& body) {
    out_ = &out;
    length_ = 0;
    failed_ = false;
    error_.clear();
    // Whatever the outcome (an exception from a QNJSONValueSource too),
    // nothing of this value is kept.
    struct Reset {
        Writer& w;
        ~Reset() {
            w.stack_.clear();
            w.out_ = nullptr;
            w.root_ = nullptr;
            if (w.scratchSize_ > kKeptScratch) {
                w.scratch_.reset();
                w.scratchSize_ = 0;
            }
        }
    } reset{*this};
    if (!body()) return false;
    out.resize(length_);
    return true;
}

bool Writer::write(const Value& root) {
    root_ = generator(0);
    if (root_ == nullptr) return fail(std::string(kOutOfMemory));
    if (!writeValue(root_, root)) return false;
    if (!drain(0)) return false;
    if (failed_) return fail(std::string(kOutOfMemory));
    return true;
}

bool Writer::drain(std::size_t level) {
    yajl_gen gen = nullptr;
    while (stack_.size() > level) {
        Frame& top = stack_.back();
        // `top` is not used after a write: a nested container moves the stack.
        if (top.array != nullptr) {
            const std::vector<Value>& items = top.array->items();
            if (top.next < items.size()) {
                if (!writeValue(top.gen, items[top.next++])) return false;
                continue;
            }
            if (!check(yajl_gen_array_close(top.gen))) return false;
        } else {
            const std::vector<Dictionary::Entry>& entries = top.dictionary->entries();
            if (top.next < entries.size()) {
                const Dictionary::Entry& entry = entries[top.next++];
                gen = top.gen;
                if (!writeString(gen, entry.first) || !writeValue(gen, entry.second)) return false;
                continue;
            }
            if (!check(yajl_gen_map_close(top.gen))) return false;
        }
        stack_.pop_back();
    }
    return !failed_;
}

bool Writer::writeValue(yajl_gen gen, const Value& value) {
    // Longest shortest-round-trip double: "-2.2250738585072014e-308".
    char digits[32];
    switch (value.kind()) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            return check(yajl_gen_null(gen));
        case ValueKind::kBool:
            return check(yajl_gen_bool(gen, value.boolValue() ? 1 : 0));
        case ValueKind::kInt: {
            const auto result = std::to_chars(digits, digits + sizeof digits, value.integerValue());
            return writeNumber(gen, digits, static_cast<std::size_t>(result.ptr - digits));
        }
        case ValueKind::kDouble: {
            const double d = value.doubleValue();
            if (!std::isfinite(d)) return check(yajl_gen_null(gen));
            const auto result = std::to_chars(digits, digits + sizeof digits, d);
            return writeNumber(gen, digits, static_cast<std::size_t>(result.ptr - digits));
        }
        case ValueKind::kDecimal: {
            const Decimal decimal = value.decimalValue();
            if (decimal.isNaN()) return check(yajl_gen_null(gen));
            char text[Decimal::kMaxTextLength];
            return writeNumber(gen, text, decimal.toChars(text));
        }
        case ValueKind::kString:
            return writeString(gen, value.asString());
        case ValueKind::kDate:
        case ValueKind::kData:
        case ValueKind::kUuid:
            return writeString(gen, value.description());
        case ValueKind::kObject:
            return writeObject(gen, value);
    }
    return check(yajl_gen_null(gen));
}

bool Writer::writeObject(yajl_gen gen, const Value& value) {
    if (const Array* array = value.asArray())
        return open(gen, value.asObject(), array, nullptr, false);
    if (const Dictionary* dictionary = value.asDictionary())
        return open(gen, value.asObject(), nullptr, dictionary, true);
    // An object that stands for a JSON value. A source may give another
    // source, and one that gives itself would never end: each step counts
    // as a level.
    Ref<Object> object = value.asObject();
    if (const auto* stream = dynamic_cast<const QNJSONStreamSource*>(object.get())) {
        // Sources writing sources recurse on the C++ stack: they are counted
        // as levels of their own (containers they open count on the stack).
        if (streamHops_ >= QNJSON::kMaxDepth) return fail(depthErrorText());
        ++streamHops_;
        struct Hop {
            int& hops;
            ~Hop() { --hops; }
        } hop{streamHops_};
        // The source writes at this level; its containers open above it.
        const std::size_t level = stack_.size();
        WriterEmitter emitter(*this);
        if (!stream->writeJSON(emitter)) {
            if (error_.empty()) fail("the value could not be written");
            return false;
        }
        if (stack_.size() != level) return fail("a container was left open");
        return !failed_;
    }
    Value substitute;
    for (int hops = 0; object != nullptr; ++hops) {
        const auto* source = dynamic_cast<const QNJSONValueSource*>(object.get());
        if (source == nullptr) return writeString(gen, object->description());
        if (hops + static_cast<int>(stack_.size()) >= QNJSON::kMaxDepth)
            return fail(depthErrorText());
        substitute = source->jsonValue();
        if (!substitute.isObject() || substitute.isArray() || substitute.isDictionary()) {
            return writeValue(gen, substitute);
        }
        object = substitute.asObject();
    }
    return check(yajl_gen_null(gen));
}

bool Writer::open(yajl_gen gen, const Ref<Object>& container, const Array* array,
                  const Dictionary* dictionary, bool isMap) {
    const std::size_t level = stack_.size();
    if (level >= static_cast<std::size_t>(QNJSON::kMaxDepth)) return fail(depthErrorText());
    if (level != 0 && level % kLevelsPerGenerator == 0) {
        if (!check(yajl_gen_number(gen, "", 0))) return false;
        gen = generator(static_cast<int>(level / kLevelsPerGenerator));
        if (gen == nullptr) return fail(std::string(kOutOfMemory));
    }
    if (gen == nullptr) return fail(std::string(kOutOfMemory));
    if (!check(isMap ? yajl_gen_map_open(gen) : yajl_gen_array_open(gen))) return false;
    stack_.push_back(Frame{container, array, dictionary, 0, gen});
    return true;
}

bool WriterEmitter::beginObject(std::size_t) {
    return writer_.open(writer_.currentGenerator(), nullptr, nullptr, nullptr, true);
}

bool WriterEmitter::beginArray(std::size_t) {
    return writer_.open(writer_.currentGenerator(), nullptr, nullptr, nullptr, false);
}

bool WriterEmitter::endObject() {
    if (writer_.stack_.empty()) return writer_.fail("no object to close");
    const yajl_gen gen = writer_.stack_.back().gen;
    writer_.stack_.pop_back();
    return writer_.check(yajl_gen_map_close(gen)) && !writer_.failed_;
}

bool WriterEmitter::endArray() {
    if (writer_.stack_.empty()) return writer_.fail("no array to close");
    const yajl_gen gen = writer_.stack_.back().gen;
    writer_.stack_.pop_back();
    return writer_.check(yajl_gen_array_close(gen)) && !writer_.failed_;
}

bool WriterEmitter::key(StringView key) {
    return writer_.writeString(writer_.currentGenerator(), key) && !writer_.failed_;
}

bool WriterEmitter::value(const Value& value) {
    const std::size_t level = writer_.stack_.size();
    yajl_gen gen = writer_.currentGenerator();
    if (gen == nullptr) return writer_.fail(std::string(kOutOfMemory));
    return writer_.writeValue(gen, value) && writer_.drain(level);
}

bool Writer::writeString(yajl_gen gen, StringView text) {
    // At most three bytes per UTF-16 unit (a pair gives four for two).
    char* const begin = scratch(3 * text.size());
    const char16_t* const end = text.data() + text.size();
    const internal::Utf16Prefix done =
        internal::encodeUtf8<internal::LoneSurrogate::kStop>(text.data(), end, begin);
    if (done.stop != end) return writeEscaped(gen, text);  // a lone surrogate
    return check(yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(begin),
                                 static_cast<std::size_t>(done.out - begin)));
}

// A string with a lone surrogate: escaped here as yajl_gen_string escapes
// (the two-character forms, other control characters as \u00XX, "/" as it
// is), with the lone surrogate as its \uXXXX code unit.
bool Writer::writeEscaped(yajl_gen gen, StringView text) {
    // At most six bytes per UTF-16 unit ("\u001F", a lone surrogate).
    char* const begin = scratch(6 * text.size());
    char* out = begin;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned c = text[i];
        if (c >= 0x80) {
            // A run of non-ASCII units (no pair straddles an ASCII one),
            // encoded up to each lone surrogate.
            std::size_t next = i + 1;
            while (next < text.size() && text[next] >= 0x80)
                ++next;
            const char16_t* p = text.data() + i;
            const char16_t* const run = text.data() + next;
            for (;;) {
                const internal::Utf16Prefix done =
                    internal::encodeUtf8<internal::LoneSurrogate::kStop>(p, run, out);
                out = done.out;
                p = done.stop;
                if (p == run) break;
                out = writeUnicodeEscape(out, *p++);
            }
            i = next;
        } else {
            char two = 0;
            switch (c) {
                case '"':
                    two = '"';
                    break;
                case '\\':
                    two = '\\';
                    break;
                case '\b':
                    two = 'b';
                    break;
                case '\f':
                    two = 'f';
                    break;
                case '\n':
                    two = 'n';
                    break;
                case '\r':
                    two = 'r';
                    break;
                case '\t':
                    two = 't';
                    break;
                default:
                    break;
            }
            if (two != 0) {
                *out++ = '\\';
                *out++ = two;
            } else if (c < 0x20) {
                out = writeUnicodeEscape(out, c);
            } else {
                *out++ = static_cast<char>(c);
            }
            ++i;
        }
    }
    // YAJL places the string (separator, key or value state) as the empty
    // string; its closing quote is then moved past the escaped text.
    if (!check(yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(""), 0))) return false;
    if (failed_ || length_ < 2 || out_->compare(length_ - 2, 2, "\"\"") != 0)
        return fail(std::string(kOutOfMemory));
    --length_;
    print(this, begin, static_cast<std::size_t>(out - begin));
    print(this, "\"", 1);
    return !failed_;
}

template <class T>
std::optional<T> failed(std::string* error, std::string_view text) {
    if (error != nullptr) *error = text;
    return std::nullopt;
}

}  // namespace

namespace {

// Runs `run` (Writer&, std::string& out) on the thread's Writer, unless a
// value being written generates JSON text of its own meanwhile: that nested
// generation gets a Writer of its own.
template <class Run>
std::optional<std::string> onThreadWriter(Run&& run, std::string* error) {
    thread_local Writer cached;
    thread_local bool busy = false;
    try {
        std::string out;
        if (busy) {
            Writer writer;
            if (!run(writer, out)) return failed<std::string>(error, writer.error());
        } else {
            busy = true;
            struct Release {
                ~Release() { busy = false; }
            } release;
            if (!run(cached, out)) return failed<std::string>(error, cached.error());
        }
        return std::optional<std::string>(std::move(out));
    } catch (const std::bad_alloc&) {
        return failed<std::string>(error, kOutOfMemory);
    }
}

std::optional<String> toString(std::optional<std::string> utf8, std::string* error) {
    if (!utf8) return std::nullopt;
    try {
        return fromUtf8(*utf8);
    } catch (const std::bad_alloc&) {
        return failed<String>(error, kOutOfMemory);
    }
}

}  // namespace

std::optional<std::string> QNJSON::generateUtf8(const Value& value, std::string* error) {
    return onThreadWriter([&](Writer& writer, std::string& out) { return writer.run(value, out); },
                          error);
}

std::optional<String> QNJSON::generateWith(const std::function<bool(QNJSONEmitter&)>& write,
                                           std::string* error) {
    return toString(
        onThreadWriter([&](Writer& writer, std::string& out) { return writer.runWith(write, out); },
                       error),
        error);
}

std::optional<String> QNJSON::generate(const Value& value, std::string* error) {
    return toString(generateUtf8(value, error), error);
}

std::optional<String> yajl_JSONString(const Value& value) {
    return QNJSON::generate(value);
}

// --- QNJSONTreeBuilder -------------------------------------------------------------

bool QNJSONTreeBuilder::place(Value value) {
    if (open_.empty()) {
        result_ = std::move(value);
        return true;
    }
    const Ref<Object>& container = open_.back().asObject();
    if (auto* array = dynamic_cast<Array*>(container.get())) {
        array->append(std::move(value));
    } else {
        static_cast<Dictionary*>(container.get())->set(std::move(keys_.back()), std::move(value));
        keys_.back().clear();
    }
    return true;
}

bool QNJSONTreeBuilder::beginObject(std::size_t sizeHint) {
    auto map = makeRef<Dictionary>();
    map->reserve(sizeHint);
    open_.emplace_back(std::move(map));
    keys_.emplace_back();
    return true;
}

bool QNJSONTreeBuilder::key(StringView key) {
    if (keys_.empty()) return false;
    keys_.back().assign(key);
    return true;
}

bool QNJSONTreeBuilder::endObject() {
    if (open_.empty() || !open_.back().isDictionary()) return false;
    Value done = std::move(open_.back());
    open_.pop_back();
    keys_.pop_back();
    return place(std::move(done));
}

bool QNJSONTreeBuilder::beginArray(std::size_t sizeHint) {
    auto list = makeRef<Array>();
    list->items().reserve(sizeHint);
    open_.emplace_back(std::move(list));
    return true;
}

bool QNJSONTreeBuilder::endArray() {
    if (open_.empty() || !open_.back().isArray()) return false;
    Value done = std::move(open_.back());
    open_.pop_back();
    return place(std::move(done));
}

bool QNJSONTreeBuilder::value(const Value& value) {
    return place(value);
}

}  // namespace qn
