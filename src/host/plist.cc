// Property lists to and from Values.
//
// Reading goes through libplist, which understands both the XML and the
// binary forms. Writing produces the XML form directly: it is small, and it
// lets dates outside libplist's 32-bit seconds range round-trip.

#include <qn/host/bundle.h>
#include <qn/host/log.h>

#include <plist/plist.h>

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "core/base64.h"
#include "host/internal.h"

namespace qn {

namespace {

namespace fs = std::filesystem;

// Generous: a configuration or user-data file is a few kilobytes.
constexpr std::uintmax_t kMaxPropertyListBytes = 64u * 1024u * 1024u;
// Deeper nesting than this is not a property list anyone writes by hand.
constexpr int kMaxDepth = 256;

struct PlistDeleter {
    void operator()(plist_t p) const noexcept { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist 2.2 hands dates out as 32-bit seconds and clamps anything outside
// 1933..2069. Such a date is read back from the node's own XML text instead.
std::optional<DateTime> dateFromNodeXML(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (xml == nullptr) return std::nullopt;
    std::string text(xml, length);
    plist_to_xml_free(xml);
    auto open = text.find("<date>");
    auto close = text.find("</date>");
    if (open == std::string::npos || close == std::string::npos || close < open)
        return std::nullopt;
    return internal::parseISO8601UTC(std::string_view(text).substr(open + 6, close - open - 6));
}

Value toValue(plist_t node, int depth, std::string& error) {
    if (depth > kMaxDepth) {
        error = "property list nested too deeply";
        return Value();
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            // Negative integers arrive as their two's complement.
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return Value(static_cast<std::int64_t>(v));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return Value(fromUtf8(std::string_view(s ? s : "", s ? length : 0)));
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* p = plist_get_data_ptr(node, &length);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(p);
            return Value(Bytes(bytes, bytes + (p ? length : 0)));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            if (sec == INT32_MIN || sec == INT32_MAX) {
                if (auto exact = dateFromNodeXML(node)) return Value(*exact);
            }
            return Value(DateTime(static_cast<double>(sec) + usec / 1e6));
        }
        case PLIST_UID: {
            uint64_t v = 0;
            plist_get_uid_val(node, &v);
            return Value(static_cast<std::int64_t>(v));
        }
        case PLIST_ARRAY: {
            auto array = makeRef<Array>();
            uint32_t n = plist_array_get_size(node);
            array->items().reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                array->append(toValue(plist_array_get_item(node, i), depth + 1, error));
                if (!error.empty()) return Value();
            }
            return Value(array);
        }
        case PLIST_DICT: {
            auto dict = makeRef<Dictionary>();
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (item == nullptr) {
                    std::free(key);
                    break;
                }
                Value v = toValue(item, depth + 1, error);
                dict->set(fromUtf8(key ? key : ""), std::move(v));
                std::free(key);
                if (!error.empty()) break;
            }
            std::free(it);
            if (!error.empty()) return Value();
            return Value(dict);
        }
        default:
            return Value::null();
    }
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

void appendDouble(std::string& out, double d) {
    if (std::isnan(d)) {
        out += "nan";
        return;
    }
    if (std::isinf(d)) {
        out += d > 0 ? "+infinity" : "-infinity";
        return;
    }
    std::array<char, 64> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), d);
    out.append(buffer.data(), ec == std::errc() ? end : buffer.data());
}

void appendValue(std::string& out, const Value& v, int indent) {
    auto pad = [&](int n) { out.append(static_cast<std::size_t>(n), '\t'); };
    switch (v.kind()) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            return;  // property lists have no null
        case ValueKind::kBool:
            pad(indent);
            out += v.boolValue() ? "<true/>\n" : "<false/>\n";
            return;
        case ValueKind::kInt:
            pad(indent);
            out += "<integer>" + std::to_string(v.integerValue()) + "</integer>\n";
            return;
        case ValueKind::kDouble:
            pad(indent);
            out += "<real>";
            appendDouble(out, v.doubleValue());
            out += "</real>\n";
            return;
        case ValueKind::kDecimal:
            pad(indent);
            out += "<real>" + v.decimalValue().toStdString() + "</real>\n";
            return;
        case ValueKind::kString:
        case ValueKind::kUuid:
            pad(indent);
            out += "<string>";
            appendEscaped(out, toUtf8(v.description()));
            out += "</string>\n";
            return;
        case ValueKind::kDate:
            pad(indent);
            out += "<date>" + internal::formatISO8601UTC(v.asDate()) + "</date>\n";
            return;
        case ValueKind::kData:
            pad(indent);
            out += "<data>";
            internal::appendBase64(out, v.asData().data(), v.asData().size());
            out += "</data>\n";
            return;
        case ValueKind::kObject:
            if (const Array* a = v.asArray()) {
                pad(indent);
                out += "<array>\n";
                for (const auto& item : *a)
                    appendValue(out, item, indent + 1);
                pad(indent);
                out += "</array>\n";
            } else if (const Dictionary* d = v.asDictionary()) {
                pad(indent);
                out += "<dict>\n";
                for (const auto& [key, item] : *d) {
                    if (item.isAbsentOrNull()) continue;
                    pad(indent + 1);
                    out += "<key>";
                    appendEscaped(out, toUtf8(key));
                    out += "</key>\n";
                    appendValue(out, item, indent + 1);
                }
                pad(indent);
                out += "</dict>\n";
            } else {
                pad(indent);
                out += "<string>";
                appendEscaped(out, toUtf8(v.description()));
                out += "</string>\n";
            }
            return;
    }
}

}  // namespace

std::optional<Value> QNPropertyList::parse(std::string_view bytes, std::string* error) {
    std::string reason;
    if (bytes.empty()) {
        reason = "empty property list";
    } else if (bytes.size() > kMaxPropertyListBytes) {
        reason = "property list too large";
    } else {
        plist_t raw = nullptr;
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
        PlistPtr root(raw);
        if (!root) {
            reason = "not a property list";
        } else {
            Value v = toValue(root.get(), 0, reason);
            if (reason.empty()) return v;
        }
    }
    if (error) *error = reason;
    return std::nullopt;
}

std::optional<Value> QNPropertyList::readFile(const fs::path& path, std::string* error) {
    auto bytes = internal::readFile(path, kMaxPropertyListBytes, error);
    if (!bytes) return std::nullopt;
    std::string reason;
    auto v = parse(*bytes, &reason);
    if (!v && error) *error = path.string() + ": " + reason;
    return v;
}

std::string QNPropertyList::toXML(const Value& root) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    appendValue(out, root, 0);
    out += "</plist>\n";
    return out;
}

bool QNPropertyList::writeFileAtomically(const fs::path& path, const Value& root,
                                         std::string* error) {
    return internal::writeFileAtomically(path, toXML(root), error);
}

}  // namespace qn
