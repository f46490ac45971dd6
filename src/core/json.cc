// JSON reader. Documents are read with simdjson's On-Demand API, which finds
// the structure of the whole text in a few SIMD passes; the tree is built
// with an explicit stack of open containers, so nesting costs heap, never
// C++ stack, and the depth limit is enforced there. Any text that reader
// does not take as it stands (anything malformed, a lone scalar, nesting
// past the limit) is read again by YAJL's event parser, whose error texts
// are the ones callers see; where both read a text they give one result.
//
// Three things are done here rather than left to either library:
//  - Numbers are read from their raw text, exactly (Int, else Decimal, else
//    Double), never through a double conversion.
//  - Strings that contain escapes are decoded from the raw JSON text
//    straight to UTF-16. YAJL's own decoder pairs a high-surrogate escape
//    with whatever \u escape follows ("\uD800\u0041" becomes U+10041 and the
//    "A" is lost), emits CESU bytes for a lone low surrogate and "?" for a
//    lone high one. In UTF-16 a surrogate escape is simply its code unit:
//    pairs come out as the character, lone surrogates are kept as they are
//    (as JavaScript's JSON.parse keeps them).
//  - YAJL's UTF-8 check lets overlong forms, encoded surrogates and code
//    points above U+10FFFF through; every string is decoded here with a
//    strict check, so that any ill-formed UTF-8 is an error rather than
//    silently replaced text.
//
// An array's items gather on one stack shared by all open arrays and become
// the Array, at its exact size, when it closes.

#include <qn/core/containers.h>
#include <qn/core/json.h>

#include <simdjson.h>
#include <yajl/yajl_parse.h>

#include "core/ascii.h"
#include "core/utf8.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

namespace qn {
namespace {

constexpr std::string_view kEmptyText = "empty JSON text";
constexpr std::string_view kInvalidUtf8 = "lexical error: invalid bytes in UTF8 string.";
// Short enough for the small-string buffer: reporting it allocates nothing.
constexpr std::string_view kOutOfMemory = "out of memory";

std::string depthErrorText() {
    return "JSON text nested deeper than " + std::to_string(QNJSON::kMaxDepth) + " levels";
}

bool isJsonSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

// Where the significant digits of a number text sit: the decimal exponents
// of its first and last non-zero digits (the exponent part included,
// saturated: only the side of the ranges matters that far out).
struct Magnitude {
    bool nonZero = false;
    std::int64_t first = 0;
    std::int64_t last = 0;
};

Magnitude magnitudeOf(std::string_view text) noexcept {
    Magnitude m;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    // Position of each digit counted from the decimal point: 0 for the units.
    std::int64_t integerDigits = 0;
    for (std::size_t j = i; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) {
        ++integerDigits;
    }
    std::int64_t position = integerDigits;
    auto digit = [&](char c) {
        --position;
        if (c == '0') return;
        if (!m.nonZero) m.first = position;
        m.nonZero = true;
        m.last = position;
    };
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        digit(text[i]);
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            digit(text[i]);
    }
    std::int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        constexpr std::int64_t kSaturated = 1'000'000'000;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (exponent < kSaturated) exponent = exponent * 10 + (text[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    m.first += exponent;
    m.last += exponent;
    return m;
}

// Significant digits a double carries.
constexpr std::int64_t kDoubleDigits = 17;

// The value of a JSON number text (already checked by YAJL's lexer).
//
// Int when the text is an integer that fits 64 bits. Otherwise a Decimal,
// exact up to 38 significant digits and rounded beyond, unless the number
// lies outside the Decimal's exponent range: above it (the Decimal is
// not-a-number), or so far below it that the Decimal would keep fewer
// digits than a double and not the exact value (1e-130 would read as 0,
// 1.5e-128 as 2e-128). Such a number is the nearest Double; past the double
// range it is the infinity of its sign (as JavaScript reads it) or zero.
Value numberValue(std::string_view text) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (text.find_first_of(".eE") == std::string_view::npos) {
        std::int64_t n = 0;
        auto [ptr, ec] = std::from_chars(first, last, n);
        if (ec == std::errc() && ptr == last) return Value(n);
    }
    const Decimal decimal = Decimal::fromString(text);
    if (!decimal.isNaN()) {
        if (decimal.exponent() > Decimal::kMinExponent) return Value(decimal);
        // Rounded at the bottom of the exponent range, or exact there?
        const Magnitude m = magnitudeOf(text);
        if (!m.nonZero || m.last >= Decimal::kMinExponent ||
            m.first >= Decimal::kMinExponent + kDoubleDigits - 1) {
            return Value(decimal);
        }
    }
    double d = 0;
    auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) {
        d = magnitudeOf(text).first >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
        if (!text.empty() && text.front() == '-') d = -d;
    }
    return Value(d);
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

// Decodes the UTF-8 in [p, end) to UTF-16 at `out` (room for one unit per
// byte), as strictly as isValidUtf8. The end of the output, or null for
// ill-formed UTF-8.
char16_t* decodeUtf8Run(const unsigned char* p, const unsigned char* end, char16_t* out) noexcept {
    const internal::Utf8Prefix done = internal::decodeWellFormedUtf8(p, end, out);
    return done.stop == end ? done.out : nullptr;
}

// Strict UTF-8 to UTF-16 in `out`; false for ill-formed UTF-8.
bool decodeUtf8(std::string_view utf8, String& out) {
    // UTF-8 never has fewer bytes than UTF-16 has units.
    out.resize(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    char16_t* end = decodeUtf8Run(p, p + utf8.size(), out.data());
    if (end == nullptr) return false;
    out.resize(static_cast<std::size_t>(end - out.data()));
    return true;
}

enum class Decoded { Ok, IllFormedUtf8, BadEscape };

// Decodes the raw content of a string token (between the quotes) into
// `out`. BadEscape for an escape JSON does not allow.
Decoded decodeEscaped(std::string_view raw, String& out) {
    // Every escape and every UTF-8 sequence is at least as long as the
    // UTF-16 units it gives.
    out.resize(raw.size());
    char16_t* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const auto* const end = p + raw.size();
    while (p < end) {
        const auto* escape = static_cast<const unsigned char*>(
            std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
        if (escape == nullptr) escape = end;
        o = decodeUtf8Run(p, escape, o);
        if (o == nullptr) return Decoded::IllFormedUtf8;
        if (escape == end) break;
        if (end - escape < 2) return Decoded::BadEscape;
        p = escape + 2;
        switch (escape[1]) {
            case '"':
                *o++ = u'"';
                break;
            case '\\':
                *o++ = u'\\';
                break;
            case '/':
                *o++ = u'/';
                break;
            case 'b':
                *o++ = u'\b';
                break;
            case 'f':
                *o++ = u'\f';
                break;
            case 'n':
                *o++ = u'\n';
                break;
            case 'r':
                *o++ = u'\r';
                break;
            case 't':
                *o++ = u'\t';
                break;
            case 'u': {
                if (end - p < 4) return Decoded::BadEscape;
                unsigned unit = 0;
                for (int k = 0; k < 4; ++k) {
                    const int digit = internal::hexValue(p[k]);
                    if (digit < 0) return Decoded::BadEscape;
                    unit = unit << 4 | static_cast<unsigned>(digit);
                }
                // A surrogate escape is its own UTF-16 code unit: a pair of
                // escapes forms the character, a lone one stays lone.
                *o++ = static_cast<char16_t>(unit);
                p += 4;
                break;
            }
            default:
                return Decoded::BadEscape;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return Decoded::Ok;
}

// ---------------------------------------------------------------------------
// The tree builder behind YAJL's callbacks
// ---------------------------------------------------------------------------

// One open container. Its members so far are items_[first...] for an array
// and members_[first...] for a dictionary; the container is made at its
// exact size when it closes.
struct Frame {
    bool isMap = false;
    std::size_t first = 0;
    String key;  // the key whose value comes next (dictionaries)
};

// One open container of the On-Demand reader: where its iteration stands.
struct FastFrame {
    bool isMap = false;
    bool started = false;  // its first member has been taken
    std::size_t first = 0;
    String key;
    simdjson::ondemand::array_iterator item;
    simdjson::ondemand::object_iterator member;
};

// The readers' working storage. A thread keeps one set from parse to parse,
// so it is grown once rather than for every document.
struct Stacks {
    std::vector<Frame> frames;
    std::vector<FastFrame> fastFrames;
    std::vector<Value> items;                // items of the open arrays, innermost last
    std::vector<Dictionary::Entry> members;  // members of the open dictionaries
    simdjson::ondemand::parser parser;
    // The text with the zeroed padding simdjson reads past its end.
    std::unique_ptr<char[]> padded;
    std::size_t paddedCapacity = 0;
    bool inUse = false;
};

// Lends the thread's stacks (or fresh ones when they are lent already) and
// takes them back empty; storage beyond a bound is released.
class StacksLease {
public:
    // Texts up to this size leave their reading storage to the next parse.
    static constexpr std::size_t kKeepText = std::size_t{2} << 20;

    StacksLease() {
        thread_local Stacks kept;
        stacks_ = kept.inUse ? &own_ : &kept;
        stacks_->inUse = true;
    }
    ~StacksLease() {
        constexpr std::size_t kKeep = 4096;
        release(stacks_->frames, kKeep);
        release(stacks_->fastFrames, kKeep);
        release(stacks_->items, kKeep);
        release(stacks_->members, kKeep);
        // The parser's index takes several bytes per byte of text.
        if (stacks_->paddedCapacity > kKeepText) {
            stacks_->parser = simdjson::ondemand::parser();
            stacks_->padded.reset();
            stacks_->paddedCapacity = 0;
        }
        stacks_->inUse = false;
    }
    StacksLease(const StacksLease&) = delete;
    StacksLease& operator=(const StacksLease&) = delete;
    Stacks& operator*() const noexcept { return *stacks_; }

private:
    template <class T>
    static void release(std::vector<T>& v, std::size_t keep) noexcept {
        v.clear();
        if (v.capacity() > keep) std::vector<T>().swap(v);
    }

    Stacks own_;
    Stacks* stacks_;
};

class Builder {
public:
    Builder(std::string_view text, Stacks& stacks)
        : text_(text), stack_(stacks.frames), items_(stacks.items), members_(stacks.members) {}

    void setHandle(yajl_handle handle) noexcept { handle_ = handle; }
    const std::string& error() const noexcept { return error_; }
    Value takeRoot() noexcept { return std::move(root_); }

    // YAJL's callbacks; `ctx` is the Builder.
    static int onNull(void* ctx);
    static int onBoolean(void* ctx, int value);
    static int onNumber(void* ctx, const char* text, std::size_t length);
    static int onString(void* ctx, const unsigned char* text, std::size_t length);
    static int onMapKey(void* ctx, const unsigned char* text, std::size_t length);
    static int onStartMap(void* ctx);
    static int onStartArray(void* ctx);
    static int onEndMap(void* ctx);
    static int onEndArray(void* ctx);

private:
    // Runs a callback body. Nothing may unwind through YAJL's C frames, so a
    // failed allocation cancels the parse with an error text instead.
    template <class F>
    static int guarded(void* ctx, F&& body) noexcept {
        auto* self = static_cast<Builder*>(ctx);
        try {
            return body(*self) ? 1 : 0;
        } catch (...) {
            self->error_ = kOutOfMemory;
            return 0;
        }
    }

    bool enter() {
        if (stack_.size() < static_cast<std::size_t>(QNJSON::kMaxDepth)) return true;
        error_ = depthErrorText();
        return false;
    }

    // Puts a finished value where it belongs: the open container, or the
    // root (YAJL lets only one top-level value through).
    bool add(Value value) {
        if (stack_.empty()) {
            root_ = std::move(value);
        } else if (Frame& top = stack_.back(); !top.isMap) {
            items_.push_back(std::move(value));
        } else {
            members_.emplace_back(std::move(top.key), std::move(value));
            top.key.clear();
        }
        return true;
    }

    // YAJL hands over a string without escapes as a pointer into the text,
    // and one with escapes already decoded (see the file comment). For the
    // latter the raw token is found again: YAJL's offset is just past its
    // closing quote, and its opening quote is the nearest quote before that
    // not escaped by an odd run of backslashes.
    bool decodeString(const unsigned char* data, std::size_t length, String& out) {
        std::string_view given(reinterpret_cast<const char*>(data), length);
        const auto begin = reinterpret_cast<std::uintptr_t>(text_.data());
        const auto at = reinterpret_cast<std::uintptr_t>(given.data());
        if (at >= begin && at - begin <= text_.size() && length <= text_.size() - (at - begin)) {
            return convertUtf8(given, out);
        }
        std::string_view raw;
        if (findRawString(raw)) {
            switch (decodeEscaped(raw, out)) {
                case Decoded::Ok:
                    return true;
                case Decoded::IllFormedUtf8:
                    error_ = kInvalidUtf8;
                    return false;
                case Decoded::BadEscape:
                    break;
            }
        }
        // Not where it should be: fall back to YAJL's decoding.
        return convertUtf8(given, out);
    }

    bool convertUtf8(std::string_view utf8, String& out) {
        if (decodeUtf8(utf8, out)) return true;
        error_ = kInvalidUtf8;
        return false;
    }

    bool findRawString(std::string_view& raw) const {
        const std::size_t end = yajl_get_bytes_consumed(handle_);
        if (end < 2 || end > text_.size() || text_[end - 1] != '"') return false;
        std::size_t quote = end - 1;
        while (quote > 0) {
            --quote;
            if (text_[quote] != '"') continue;
            std::size_t backslashes = 0;
            while (backslashes < quote && text_[quote - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2 == 0) {
                raw = text_.substr(quote + 1, end - 1 - (quote + 1));
                return true;
            }
        }
        return false;
    }

    std::string_view text_;
    yajl_handle handle_ = nullptr;
    std::vector<Frame>& stack_;
    std::vector<Value>& items_;
    std::vector<Dictionary::Entry>& members_;
    Value root_;
    std::string error_;
};

int Builder::onNull(void* ctx) {
    return guarded(ctx, [](Builder& b) { return b.add(Value::null()); });
}
int Builder::onBoolean(void* ctx, int value) {
    return guarded(ctx, [value](Builder& b) { return b.add(Value(value != 0)); });
}
int Builder::onNumber(void* ctx, const char* text, std::size_t length) {
    return guarded(ctx,
                   [=](Builder& b) { return b.add(numberValue(std::string_view(text, length))); });
}
int Builder::onString(void* ctx, const unsigned char* text, std::size_t length) {
    return guarded(ctx, [=](Builder& b) {
        String s;
        return b.decodeString(text, length, s) && b.add(Value(std::move(s)));
    });
}
int Builder::onMapKey(void* ctx, const unsigned char* text, std::size_t length) {
    return guarded(ctx,
                   [=](Builder& b) { return b.decodeString(text, length, b.stack_.back().key); });
}
int Builder::onStartMap(void* ctx) {
    return guarded(ctx, [](Builder& b) {
        if (!b.enter()) return false;
        b.stack_.push_back(Frame{true, b.members_.size(), {}});
        return true;
    });
}
int Builder::onStartArray(void* ctx) {
    return guarded(ctx, [](Builder& b) {
        if (!b.enter()) return false;
        b.stack_.push_back(Frame{false, b.items_.size(), {}});
        return true;
    });
}
int Builder::onEndMap(void* ctx) {
    return guarded(ctx, [](Builder& b) {
        const auto first = b.members_.begin() + static_cast<std::ptrdiff_t>(b.stack_.back().first);
        auto dictionary = std::make_shared<Dictionary>();
        dictionary->reserve(static_cast<std::size_t>(b.members_.end() - first));
        // A repeated key: the last value wins, in the first one's place.
        for (auto it = first; it != b.members_.end(); ++it)
            dictionary->set(std::move(it->first), std::move(it->second));
        b.members_.erase(first, b.members_.end());
        b.stack_.pop_back();
        return b.add(Value(std::move(dictionary)));
    });
}
int Builder::onEndArray(void* ctx) {
    return guarded(ctx, [](Builder& b) {
        const auto first = b.items_.begin() + static_cast<std::ptrdiff_t>(b.stack_.back().first);
        auto array = std::make_shared<Array>(std::vector<Value>(
            std::make_move_iterator(first), std::make_move_iterator(b.items_.end())));
        b.items_.erase(first, b.items_.end());
        b.stack_.pop_back();
        return b.add(Value(std::move(array)));
    });
}

constexpr yajl_callbacks kCallbacks = {
    &Builder::onNull,
    &Builder::onBoolean,
    nullptr,
    nullptr,  // every number goes to onNumber as text
    &Builder::onNumber,
    &Builder::onString,
    &Builder::onStartMap,
    &Builder::onMapKey,
    &Builder::onEndMap,
    &Builder::onStartArray,
    &Builder::onEndArray,
};

struct HandleDeleter {
    void operator()(yajl_handle handle) const noexcept { yajl_free(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<yajl_handle>, HandleDeleter>;

std::string yajlErrorText(yajl_handle handle) {
    unsigned char* message = yajl_get_error(handle, 0, nullptr, 0);
    if (message == nullptr) return std::string(kOutOfMemory);
    std::string text(reinterpret_cast<const char*>(message));
    yajl_free_error(handle, message);
    while (!text.empty() && isJsonSpace(text.back()))
        text.pop_back();
    if (text.empty()) text = "malformed JSON text";
    return text;
}

std::optional<Value> fail(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// The On-Demand reader
// ---------------------------------------------------------------------------

// A JSON number token: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?.
// On-Demand leaves a number's text unchecked until it is converted, and it
// is never converted here.
bool isJsonNumber(std::string_view t) noexcept {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    const std::size_t n = t.size();
    if (i < n && t[i] == '-') ++i;
    if (i == n) return false;
    if (t[i] == '0') {
        ++i;
    } else if (digit(t[i])) {
        while (i < n && digit(t[i]))
            ++i;
    } else {
        return false;
    }
    if (i < n && t[i] == '.') {
        const std::size_t start = ++i;
        while (i < n && digit(t[i]))
            ++i;
        if (i == start) return false;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        const std::size_t start = i;
        while (i < n && digit(t[i]))
            ++i;
        if (i == start) return false;
    }
    return i == n;
}

// A token's text without the blanks On-Demand counts to it.
std::string_view trimmed(std::string_view token) noexcept {
    while (!token.empty() && isJsonSpace(token.back()))
        token.remove_suffix(1);
    return token;
}

// Builds the tree from simdjson's On-Demand iteration. Every method answers
// false where the text is not plainly well-formed JSON this reader decodes
// as YAJL's reader would; the caller then leaves the text to that reader.
class FastReader {
public:
    explicit FastReader(Stacks& stacks)
        : stacks_(stacks),
          stack_(stacks.fastFrames),
          items_(stacks.items),
          members_(stacks.members) {}

    std::optional<Value> read(std::string_view utf8) {
        using namespace simdjson;
        const std::size_t capacity = utf8.size() + SIMDJSON_PADDING;
        if (stacks_.paddedCapacity < capacity) {
            stacks_.padded.reset();
            stacks_.padded = std::make_unique<char[]>(capacity);
            stacks_.paddedCapacity = capacity;
        }
        char* buffer = stacks_.padded.get();
        std::memcpy(buffer, utf8.data(), utf8.size());
        std::memset(buffer + utf8.size(), 0, SIMDJSON_PADDING);

        ondemand::document doc;
        if (stacks_.parser.iterate(buffer, utf8.size(), capacity).get(doc)) return std::nullopt;
        ondemand::json_type type;
        if (doc.type().get(type)) return std::nullopt;
        // A lone scalar is short; YAJL reads it.
        if (type != ondemand::json_type::array && type != ondemand::json_type::object) {
            return std::nullopt;
        }
        ondemand::value root;
        if (doc.get_value().get(root) || !open(root, type)) return std::nullopt;
        while (!stack_.empty()) {
            if (!step()) return std::nullopt;
        }
        // Nothing may follow the root.
        if (!doc.is_alive() || doc.current_location().error() != OUT_OF_BOUNDS) {
            return std::nullopt;
        }
        return std::move(root_);
    }

private:
    // Takes the next member of the innermost container, or closes it.
    bool step() {
        using namespace simdjson;
        FastFrame& top = stack_.back();
        ondemand::value child;
        if (!top.isMap) {
            if (top.started) ++top.item;
            top.started = true;
            if (!(top.item != top.item)) return closeArray();
            if ((*top.item).get(child)) return false;
        } else {
            if (top.started) ++top.member;
            top.started = true;
            if (!(top.member != top.member)) return closeMap();
            ondemand::field field;
            if ((*top.member).get(field)) return false;
            child = field.value();
            // The key runs from past its opening quote to the closing one,
            // which is the last quote before the colon.
            const char* keyStart = field.key().raw();
            const char* p = child.raw_json_token().data();
            while (p > keyStart && isJsonSpace(p[-1]))
                --p;
            if (p <= keyStart || *--p != ':') return false;
            while (p > keyStart && isJsonSpace(p[-1]))
                --p;
            if (p <= keyStart || *--p != '"') return false;
            if (decodeEscaped(std::string_view(keyStart, static_cast<std::size_t>(p - keyStart)),
                              top.key) != Decoded::Ok) {
                return false;
            }
        }
        return value(child);
    }

    bool value(simdjson::ondemand::value& v) {
        using namespace simdjson;
        ondemand::json_type type;
        if (v.type().get(type)) return false;
        switch (type) {
            case ondemand::json_type::array:
            case ondemand::json_type::object:
                return open(v, type);
            case ondemand::json_type::number: {
                const std::string_view text = trimmed(v.raw_json_token());
                if (!isJsonNumber(text)) return false;
                add(numberValue(text));
                return true;
            }
            case ondemand::json_type::string: {
                const std::string_view text = trimmed(v.raw_json_token());
                if (text.size() < 2 || text.back() != '"') return false;
                // Taken, so that what follows is checked as after any value:
                // skipping a string not taken would read a colon after it as
                // the end of a key and skip on without checking.
                ondemand::raw_json_string taken;
                if (v.get_raw_json_string().get(taken)) return false;
                String s;
                if (decodeEscaped(text.substr(1, text.size() - 2), s) != Decoded::Ok) return false;
                add(Value(std::move(s)));
                return true;
            }
            case ondemand::json_type::boolean: {
                bool b = false;
                if (v.get_bool().get(b)) return false;
                add(Value(b));
                return true;
            }
            case ondemand::json_type::null: {
                bool isNull = false;
                if (v.is_null().get(isNull) || !isNull) return false;
                add(Value::null());
                return true;
            }
        }
        return false;
    }

    bool open(simdjson::ondemand::value& v, simdjson::ondemand::json_type type) {
        using namespace simdjson;
        // Too deep: YAJL's reader reports it.
        if (stack_.size() >= static_cast<std::size_t>(QNJSON::kMaxDepth)) return false;
        FastFrame frame;
        if (type == ondemand::json_type::array) {
            ondemand::array array;
            if (v.get_array().get(array) || array.begin().get(frame.item)) return false;
            frame.first = items_.size();
        } else {
            ondemand::object object;
            if (v.get_object().get(object) || object.begin().get(frame.member)) return false;
            frame.isMap = true;
            frame.first = members_.size();
        }
        stack_.push_back(std::move(frame));
        return true;
    }

    bool closeArray() {
        const auto first = items_.begin() + static_cast<std::ptrdiff_t>(stack_.back().first);
        auto array = std::make_shared<Array>(std::vector<Value>(
            std::make_move_iterator(first), std::make_move_iterator(items_.end())));
        items_.erase(first, items_.end());
        stack_.pop_back();
        add(Value(std::move(array)));
        return true;
    }

    bool closeMap() {
        const auto first = members_.begin() + static_cast<std::ptrdiff_t>(stack_.back().first);
        auto dictionary = std::make_shared<Dictionary>();
        dictionary->reserve(static_cast<std::size_t>(members_.end() - first));
        // A repeated key: the last value wins, in the first one's place.
        for (auto it = first; it != members_.end(); ++it)
            dictionary->set(std::move(it->first), std::move(it->second));
        members_.erase(first, members_.end());
        stack_.pop_back();
        add(Value(std::move(dictionary)));
        return true;
    }

    void add(Value value) {
        if (stack_.empty()) {
            root_ = std::move(value);
        } else if (FastFrame& top = stack_.back(); !top.isMap) {
            items_.push_back(std::move(value));
        } else {
            members_.emplace_back(std::move(top.key), std::move(value));
            top.key.clear();
        }
    }

    Stacks& stacks_;
    std::vector<FastFrame>& stack_;
    std::vector<Value>& items_;
    std::vector<Dictionary::Entry>& members_;
    Value root_;
};

// Reads a text that is not blank with YAJL's event parser.
std::optional<Value> parseWithYajl(std::string_view utf8, Stacks& stacks, std::string* error) {
    Builder builder(utf8, stacks);
    Handle handle(yajl_alloc(&kCallbacks, nullptr, &builder));
    if (!handle) return fail(error, std::string(kOutOfMemory));
    builder.setHandle(handle.get());
    // Strict JSON: these are YAJL's defaults, stated so nobody relaxes them
    // by accident.
    yajl_config(handle.get(), yajl_allow_comments, 0);
    yajl_config(handle.get(), yajl_dont_validate_strings, 0);
    yajl_config(handle.get(), yajl_allow_trailing_garbage, 0);
    yajl_config(handle.get(), yajl_allow_multiple_values, 0);
    yajl_config(handle.get(), yajl_allow_partial_values, 0);

    yajl_status status =
        yajl_parse(handle.get(), reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
    if (status == yajl_status_ok) status = yajl_complete_parse(handle.get());
    switch (status) {
        case yajl_status_ok: {
            Value root = builder.takeRoot();
            if (root.isAbsent()) return fail(error, std::string(kEmptyText));
            return root;
        }
        case yajl_status_client_canceled:
            return fail(error,
                        builder.error().empty() ? std::string(kOutOfMemory) : builder.error());
        case yajl_status_error:
            break;
    }
    return fail(error, yajlErrorText(handle.get()));
}

std::optional<Value> parseUtf8(std::string_view utf8, std::string* error) {
    // A leading byte order mark is skipped, as editors on some systems write
    // one; JSON allows a reader to ignore it.
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
    bool blank = true;
    for (char c : utf8) {
        if (!isJsonSpace(c)) {
            blank = false;
            break;
        }
    }
    if (blank) return fail(error, std::string(kEmptyText));

    StacksLease stacks;
    if (std::optional<Value> value = FastReader(*stacks).read(utf8)) return value;
    // Clear what the On-Demand reader left behind.
    (*stacks).fastFrames.clear();
    (*stacks).items.clear();
    (*stacks).members.clear();
    return parseWithYajl(utf8, *stacks, error);
}

}  // namespace

std::optional<Value> QNJSON::parse(std::string_view utf8, std::string* error) {
    try {
        return parseUtf8(utf8, error);
    } catch (const std::exception&) {  // only allocation can fail
        return fail(error, std::string(kOutOfMemory));
    }
}

std::optional<Value> QNJSON::parse(StringView text, std::string* error) {
    try {
        return parseUtf8(toUtf8(text), error);
    } catch (const std::exception&) {  // only allocation can fail
        return fail(error, std::string(kOutOfMemory));
    }
}

}  // namespace qn
