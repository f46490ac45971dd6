// QNutil's conversions that need no files or network: booleans, colours,
// value lists, JSON from string collections, messages, the workstation name,
// wrapping, links and dynamic comparison; QNPrivateUtilities and the UUID
// helpers.
#include <qn/host/entity_helper.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/runtime/strings.h>
#include <qn/util/qnutil.h>

#include "core/ascii.h"
#include "core/base64.h"
#include "host/internal.h"

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace qn {
namespace {

constexpr StringView kWorkstationKey = u"workstation.qn";

bool isHighSurrogate(char16_t c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) noexcept {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// One line to standard error in a single write, so lines of several threads
// never interleave.
void writeConsoleLine(StringView text) {
    std::string line = toUtf8(text);
    line.push_back('\n');
    (void)internal::writeAll(STDERR_FILENO, line);
}

// "'" + text + "'" with every quote inside doubled: a value can never close
// the literal early.
// Whether the text holds a quote: eight units at a time where SSE2 is there,
// since most values hold none and this scan is the list's only extra work.
bool containsQuote(StringView text) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16(u'\'');
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(units, quote)) != 0) return true;
    }
#endif
    for (; i < text.size(); ++i) {
        if (text[i] == u'\'') return true;
    }
    return false;
}

// The text with every quote doubled, so no value can close its literal early.
void appendQuoteDoubled(String& out, StringView text) {
    if (!containsQuote(text)) {
        out.append(text);
        return;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\'') continue;
        out.append(text.substr(start, i + 1 - start));
        out.push_back(u'\'');
        start = i + 1;
    }
    out.append(text.substr(start));
}

void appendQuoted(String& out, StringView text) {
    out.push_back(u'\'');
    appendQuoteDoubled(out, text);
    out.push_back(u'\'');
}

// A value's text: strings as they are (no copy through description()).
void appendText(String& out, const Value& v, bool quoted) {
    if (v.isString()) {
        if (quoted) {
            appendQuoted(out, v.asString());
        } else {
            out.append(v.asString());
        }
        return;
    }
    const String text = v.isDate() ? QNBuiltins::dateToCharDB(v.asDate()) : v.description();
    if (quoted) {
        appendQuoted(out, text);
    } else {
        out.append(text);
    }
}

// The lines wrapping gives, one at a time, in a single pass over the text.
class LineWrapper {
public:
    LineWrapper(StringView text, std::size_t width) : text_(text), width_(width) {}

    // The next line; false at the end.
    bool next(StringView& line) {
        for (;;) {
            if (paragraph_.empty()) {
                if (pos_ >= text_.size()) return false;
                const std::size_t lf = text_.find(u'\n', pos_);
                const std::size_t end = lf == StringView::npos ? text_.size() : lf;
                paragraph_ = text_.substr(pos_, end - pos_);
                // CR LF is one break: the CR belongs to it, not to the line.
                if (lf != StringView::npos && !paragraph_.empty() && paragraph_.back() == u'\r')
                    paragraph_.remove_suffix(1);
                pos_ = lf == StringView::npos ? text_.size() : lf + 1;
                continue;  // an empty paragraph gives no line
            }
            if (paragraph_.size() <= width_) {
                line = paragraph_;
                paragraph_ = {};
                return true;
            }
            const std::size_t cut = cutPoint();
            line = paragraph_.substr(0, cut);
            paragraph_.remove_prefix(cut);
            return true;
        }
    }

private:
    // Where a paragraph longer than the width ends its line: just after the
    // last blank or tab among its first width + 1 units, else at the width,
    // moved so a surrogate pair stays whole.
    std::size_t cutPoint() const {
        for (std::size_t i = width_ + 1; i-- > 0;) {
            const char16_t c = paragraph_[i];
            if (c == u' ' || c == u'\t') return i + 1;
        }
        std::size_t cut = width_;
        if (isHighSurrogate(paragraph_[cut - 1]) && isLowSurrogate(paragraph_[cut])) {
            // A one-unit line cannot hold the pair; it takes the whole pair.
            cut = cut == 1 ? 2 : cut - 1;
        }
        return cut;
    }

    StringView text_;
    std::size_t width_;
    std::size_t pos_ = 0;
    StringView paragraph_;
};

bool hasObjectLinkPrefix(StringView name) {
    for (StringView prefix : {StringView(u"sd:"), StringView(u"prc:"), StringView(u"eo:"),
                              StringView(u"wbp:"), StringView(u"sdsynchro:")}) {
        if (name.starts_with(prefix)) return true;
    }
    return false;
}

std::optional<std::partial_ordering> dynamicOrder(const Value& a, const Value& b) {
    if (a.isString()) {
        const StringView other = b.isString() ? StringView(b.asString()) : StringView();
        return QNBuiltins::strcmp(a.asString(), other) <=> 0;
    }
    if (a.isUuid()) return QNUUIDHelpers::compare(a.asUuid(), b) <=> 0;
    // Numbers and dates order only among themselves; a number against a
    // string or a date has no ordering rather than failing.
    if ((a.isNumber() && b.isNumber()) || (a.isDate() && b.isDate()))
        return QNBuiltins::compareOrder(a, b);
    return std::nullopt;
}

int compareUuidText(StringView mine, StringView other) {
    // ASCII letter case is ignored: a UUID's text is upper-case, but the same
    // UUID arrives in lower case from many peers.
    const std::size_t n = std::min(mine.size(), other.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = internal::asciiUpper(mine[i]);
        const char16_t y = internal::asciiUpper(other[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (mine.size() == other.size()) return 0;
    return mine.size() < other.size() ? -1 : 1;
}

}  // namespace

// --- Formatting and simple conversions ---------------------------------------

String QNutil::boolToStr(const Value& value) {
    return boolToStr(value.boolValue());
}

bool QNutil::strToBool(StringView text) {
    return qnBooleanValue(text).boolValue();
}

Value QNutil::qniif(const Value& condition, const Value& op1, const Value& op2) {
    return condition.boolValue() ? op1 : op2;
}

std::int64_t QNutil::colorValueFromRGB(std::int64_t red, std::int64_t green,
                                       std::int64_t blue) noexcept {
    const auto clamp = [](std::int64_t c) { return std::clamp<std::int64_t>(c, 0, 255); };
    return clamp(red) * 65536 + clamp(green) * 256 + clamp(blue);
}

std::int64_t QNutil::sleep(std::int64_t seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

// --- Value lists ----------------------------------------------------------------

String QNutil::toValueList(StringView /*dbms*/, const QNObjectCollection& collection,
                           StringView prefix, StringView tail) {
    const auto& items = collection.items();
    if (items.empty()) return String(u"1 = 0");
    String out;
    out.reserve(prefix.size() + tail.size() + items.size() * 8);
    out.append(prefix);
    // Every item is quoted: the quotes and separator between two items go in
    // as one piece.
    out.push_back(u'\'');
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out.append(u"', '");
        const Value& v = items[i];
        if (v.isString()) {
            appendQuoteDoubled(out, v.asString());
        } else {
            appendQuoteDoubled(out, v.isDate() ? dateToCharDB(v.asDate()) : v.description());
        }
    }
    out.push_back(u'\'');
    out.append(tail);
    return out;
}

String QNutil::toValueListForDBMS(StringView /*dbms*/, const QNObjectCollection& collection,
                                  StringView prefix, StringView tail) {
    const auto& items = collection.items();
    if (items.empty()) return String(u"1 == 0");
    String out;
    out.reserve(prefix.size() + tail.size() + items.size() * 8);
    out.append(prefix);
    for (std::size_t i = 0; i < items.size(); ++i) {
        // Joined with ", ": items written back to back would fuse (1 and 2
        // giving "12").
        if (i > 0) out.append(u", ");
        appendText(out, items[i], !items[i].isNumber());
    }
    out.append(tail);
    return out;
}

// --- JSON from string collections ---------------------------------------------

String QNutil::stringCollectionsToJSONWithCodes(const QNObjectCollection& codes,
                                                const QNObjectCollection& descriptions) {
    const bool withCodes = codes.count() > 0;
    const auto appendString = [](String& out, const Value& v) {
        out.push_back(u'"');
        out.append(qnJSONEncode(v.isString() ? StringView(v.asString())
                                             : StringView(QNUtilities::stringFromObject(v))));
        out.push_back(u'"');
    };
    String out(u"[");
    const auto& items = descriptions.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out.push_back(u',');
        if (withCodes) {
            out.push_back(u'[');
            // A code missing for a description reads as "".
            appendString(out, i < codes.items().size() ? codes.items()[i] : Value());
            out.push_back(u',');
            appendString(out, items[i]);
            out.push_back(u']');
        } else {
            appendString(out, items[i]);
        }
    }
    out.push_back(u']');
    return out;
}

Ref<QNJSONArray> QNutil::stringCollectionsToJSONArray(const QNObjectCollection& codes,
                                                      const QNObjectCollection& descriptions) {
    return makeRef<QNJSONArray>(stringCollectionsToJSONWithCodes(codes, descriptions));
}

// --- Messages and logging -----------------------------------------------------------

void QNutil::msg(StringView text) {
    writeConsoleLine(text);
}

void QNutil::msgStatus(StringView text) {
    writeConsoleLine(text);
    auto logger = QNLog::loggerService();
    // The default logger writes to the console too: the line is there already.
    if (dynamic_cast<QNStandardErrorLogger*>(logger.get()) != nullptr) return;
    logger->logMessage(String(text), 0, 5, false);
}

void QNutil::writeLog(StringView text) {
    writeConsoleLine(text);
}

void QNutil::writeLogln(StringView text) {
    writeConsoleLine(text);
}

// --- Workstation name ---------------------------------------------------------------------

String QNutil::workstationName() {
    const Value stored = QNModel::currentModel().getUserDataForKey(String(kWorkstationKey));
    if (stored.isString()) return stored.asString();
    return QNUtilities::deviceName();
}

std::int64_t QNutil::setWorkstationName(std::optional<StringView> name) {
    if (!name) return 0;
    const bool stored =
        QNModel::currentModel().setUserDataForKey(Value(String(*name)), String(kWorkstationKey));
    return stored ? 1 : 0;
}

// --- Multi-line text ----------------------------------------------------------------------

std::int64_t QNutil::qnMLines(StringView text, std::int64_t lineLength) {
    if (lineLength < 1) return 0;
    LineWrapper wrapper(text, static_cast<std::size_t>(lineLength));
    std::int64_t count = 0;
    for (StringView line; wrapper.next(line);)
        ++count;
    return count;
}

String QNutil::qnGetMLine(StringView text, std::int64_t lineNumber, std::int64_t lineLength) {
    if (lineLength < 1 || lineNumber < 1) return String();
    LineWrapper wrapper(text, static_cast<std::size_t>(lineLength));
    StringView line;
    for (std::int64_t i = 0; i < lineNumber; ++i) {
        if (!wrapper.next(line)) return String();
    }
    return String(line);
}

// --- Links and comparison ------------------------------------------------------------------

String QNutil::formatLink(StringView name, const std::vector<Value>* parameters) {
    if (auto url = QNEntityHelper::webPanelURLFromNameParameters(name, parameters)) return *url;
    if (!hasObjectLinkPrefix(name)) return String();
    String link(name);
    if (parameters == nullptr || parameters->empty()) return link;
    for (const Value& p : *parameters) {
        if (!p.isString()) return link;
    }
    if (name.find(u'&') != StringView::npos) link.push_back(u',');
    for (std::size_t i = 0; i < parameters->size(); ++i) {
        if (i > 0) link.push_back(u',');
        link.append((*parameters)[i].asString());
    }
    return link;
}

bool QNutil::dynamicCompare(const Value& a, StringView op, const Value& b) {
    if (op == u"like")
        return a.isString() && b.isString() && qnIsLikeString(a.asString(), b.asString());
    const auto order = dynamicOrder(a, b);
    const bool ordered = order && *order != std::partial_ordering::unordered;
    if (op == u"<>") return !ordered || *order != 0;
    if (!ordered) return false;
    if (op == u"=") return *order == 0;
    if (op == u"<") return *order < 0;
    if (op == u"<=") return *order <= 0;
    if (op == u">") return *order > 0;
    if (op == u">=") return *order >= 0;
    return false;
}

// --- QNPrivateUtilities ---------------------------------------------------------------------

String QNPrivateUtilities::toBase64(StringView text) {
    const std::string bytes = toUtf8(text);
    return internal::base64String(bytes.data(), bytes.size());
}

std::optional<String> QNPrivateUtilities::fromBase64(StringView base64) {
    auto bytes = internal::base64DecodeStrict(base64);
    if (!bytes || !isValidUtf8(*bytes)) return std::nullopt;
    return fromUtf8(*bytes);
}

// --- UUID helpers -------------------------------------------------------------------------------

String QNUUIDHelpers::toString(const QNUUID& uuid) {
    return uuid.uuidString();
}

int QNUUIDHelpers::compare(const QNUUID& uuid, const Value& other) {
    if (other.isString()) return compareUuidText(uuid.uuidString(), other.asString());
    if (other.isUuid()) return compareUuidText(uuid.uuidString(), other.asUuid().uuidString());
    return -1;
}

bool QNUUIDHelpers::qnIsEmpty(const QNUUID& uuid) noexcept {
    return uuid.isEmpty();
}

bool QNUUIDHelpers::equals(const QNUUID& uuid, const QNUUID& other) noexcept {
    return uuid == other;
}

QNUUID QNUUIDHelpers::fromObject(const Value& value) {
    if (value.isUuid()) return value.asUuid();
    if (value.isString()) return QNUUID::fromString(value.asString()).value_or(QNUUID::emptyUUID());
    return QNUUID::emptyUUID();
}

bool QNUUIDHelpers::qnObjectIsNull(const Value& value) noexcept {
    return value.isAbsent();
}

int QNUUIDHelpers::qnCompare(const Value& receiver, const Value& other) {
    if (receiver.isString() && other.isUuid()) return -compare(other.asUuid(), receiver);
    if (receiver.isUuid()) return compare(receiver.asUuid(), other);
    const auto order = QNBuiltins::compareOrder(receiver, other);
    if (!order || *order == std::partial_ordering::unordered) return -1;
    return *order < 0 ? -1 : (*order > 0 ? 1 : 0);
}

}  // namespace qn
