#include <qn/core/registry.h>
#include <qn/host/wkt.h>

#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "core/ascii.h"
#include "host/geos_support.h"

namespace qn {

QN_REGISTER_CLASS(WKTGeometry, Object)
QN_REGISTER_CLASS(WKTPoint, WKTGeometry)
QN_REGISTER_CLASS(WKTLineString, WKTGeometry)
QN_REGISTER_CLASS(WKTPolygon, WKTGeometry)
QN_REGISTER_CLASS(WKTMultiPoint, WKTGeometry)
QN_REGISTER_CLASS(WKTMultiLineString, WKTGeometry)
QN_REGISTER_CLASS(WKTMultiPolygon, WKTGeometry)
QN_REGISTER_CLASS(WKTGeometryCollection, WKTGeometry)

namespace geos {
namespace {

void ignoreMessage(const char*, void*) {}

// GEOS_finish_r runs when the thread ends.
class ThreadContext {
public:
    ThreadContext() noexcept : handle_(GEOS_init_r()) {
        if (handle_ == nullptr) return;
        GEOSContext_setNoticeMessageHandler_r(handle_, ignoreMessage, nullptr);
        GEOSContext_setErrorMessageHandler_r(handle_, ignoreMessage, nullptr);
        reader_ = GEOSWKTReader_create_r(handle_);
    }
    ~ThreadContext() {
        if (handle_ == nullptr) return;
        if (reader_ != nullptr) GEOSWKTReader_destroy_r(handle_, reader_);
        GEOS_finish_r(handle_);
    }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

    GEOSContextHandle_t handle() const noexcept { return handle_; }
    GEOSWKTReader* reader() const noexcept { return reader_; }

private:
    GEOSContextHandle_t handle_;
    GEOSWKTReader* reader_ = nullptr;
};

ThreadContext& thisThread() noexcept {
    thread_local ThreadContext context;
    return context;
}

bool isSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
using qn::internal::equalsIgnoringASCIICase;
using qn::internal::isAsciiAlpha;
using qn::internal::isAsciiDigit;

// Length of the decimal number at the start of `s` ([+-] digits [. digits]
// [e [+-] digits], at least one mantissa digit); 0 when there is none.
std::size_t numberLength(std::string_view s) noexcept {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isAsciiDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isAsciiDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < s.size() && isAsciiDigit(s[i]))
            ++i, ++exponent;
        if (exponent == 0) return 0;
    }
    return i;
}

// True when the number (as numberLength measured it) is too large for a
// double: GEOS would read it as an infinity. Too small is fine (it reads 0).
bool overflows(std::string_view number) noexcept {
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec != std::errc::result_out_of_range) return false;
    // Out of range either way: decide by the magnitude's decimal exponent.
    std::size_t i = number.front() == '-' ? 1 : 0;
    long magnitude = 0;  // digits before the point, or minus the zeros after it
    bool seen = false;
    for (; i < number.size() && isAsciiDigit(number[i]); ++i)
        if (seen || number[i] != '0') seen = true, ++magnitude;
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && isAsciiDigit(number[i]); ++i) {
            if (seen) continue;
            if (number[i] != '0')
                seen = true;
            else
                --magnitude;
        }
    }
    long exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
        for (; i < number.size() && isAsciiDigit(number[i]); ++i)
            exponent = std::min(exponent * 10 + (number[i] - '0'), 100000L);
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

// What GEOS's reader lets through but the library refuses: measures (GEOS
// reads an M as a Z and drops the M of ZM), tuples whose dimension differs
// within one geometry (GEOS drops or invents ordinates), hexadecimal and
// non-finite number words, numbers beyond the double range, text after the
// geometry (GEOS ignores it) and
// nesting deep enough to exhaust the reader's recursion. GEOS checks the
// rest of the grammar.
bool screen(std::string_view s) noexcept {
    int depth = 0;
    bool done = false;  // the geometry is complete: only white space may follow
    int ordinates = 0;  // numbers in the current tuple
    int dimension = 0;  // numbers per tuple in the current geometry, once known
    bool zTagged = false;
    auto endTuple = [&]() noexcept {
        if (ordinates == 0) return true;
        if (ordinates > 3 || ordinates < 2 || (zTagged && ordinates != 3) ||
            (dimension != 0 && ordinates != dimension))
            return false;
        dimension = ordinates;
        ordinates = 0;
        return true;
    };
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (isSpace(c)) {
            ++i;
            continue;
        }
        if (done) return false;
        if (c == '(') {
            if (ordinates != 0 || ++depth > WKTParser::kMaxNesting) return false;
            ++i;
        } else if (c == ')' || c == ',') {
            if (depth == 0 || !endTuple()) return false;
            if (c == ')' && --depth == 0) done = true;
            ++i;
        } else if (isAsciiAlpha(c)) {
            std::size_t end = i;
            while (end < s.size() && isAsciiAlpha(s[end]))
                ++end;
            const std::string_view word = s.substr(i, end - i);
            i = end;
            if (ordinates != 0) return false;
            if (equalsIgnoringASCIICase(word, "EMPTY")) {
                if (depth == 0) done = true;
            } else if (equalsIgnoringASCIICase(word, "Z")) {
                zTagged = true;
            } else if (equalsIgnoringASCIICase(word, "M") || equalsIgnoringASCIICase(word, "ZM")) {
                return false;
            } else {  // a geometry type: its own dimension
                dimension = 0;
                zTagged = false;
            }
        } else {
            const std::size_t length = numberLength(s.substr(i));
            if (length == 0 || depth == 0 || overflows(s.substr(i, length))) return false;
            i += length;
            if (i < s.size() && !isSpace(s[i]) && s[i] != ',' && s[i] != ')') return false;
            ++ordinates;
        }
    }
    return done;
}

}  // namespace

GEOSContextHandle_t threadContext() noexcept {
    return thisThread().handle();
}

void GeometryDeleter::operator()(GEOSGeometry* geometry) const noexcept {
    GEOSGeom_destroy_r(threadContext(), geometry);
}

GeometryPtr readWKT(std::string_view utf8) {
    if (!screen(utf8)) return nullptr;
    ThreadContext& context = thisThread();
    if (context.reader() == nullptr) return nullptr;
    const std::string text(utf8);  // GEOS wants it NUL-terminated
    return GeometryPtr(GEOSWKTReader_read_r(context.handle(), context.reader(), text.c_str()));
}

}  // namespace geos

namespace {

// The shortest text that reads back to the same double: plain digits in the
// range where coordinates live, an exponent outside it. GEOS's own writer is
// not used: in 3.11 its trimmed output overflows a fixed buffer for large
// coordinates and its fixed precision drops digits of small ones.
void appendNumber(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-Infinity" : "Infinity";
        return;
    }
    char buffer[64];
    const double magnitude = std::fabs(v);
    const auto format = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e17)
                            ? std::chars_format::fixed
                            : std::chars_format::general;
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, format);
    out.append(buffer, result.ptr);
}

const char* typeName(int typeId) noexcept {
    switch (typeId) {
        case GEOS_POINT:
            return "POINT";
        case GEOS_LINESTRING:
            return "LINESTRING";
        case GEOS_LINEARRING:
            return "LINEARRING";
        case GEOS_POLYGON:
            return "POLYGON";
        case GEOS_MULTIPOINT:
            return "MULTIPOINT";
        case GEOS_MULTILINESTRING:
            return "MULTILINESTRING";
        case GEOS_MULTIPOLYGON:
            return "MULTIPOLYGON";
        case GEOS_GEOMETRYCOLLECTION:
            return "GEOMETRYCOLLECTION";
        default:
            return nullptr;
    }
}

// Writes canonical WKT from a GEOS geometry; false when a coordinate is not
// finite (such text would not read back) or GEOS fails.
class Writer {
public:
    Writer(GEOSContextHandle_t context, std::string& out) : context_(context), out_(out) {}

    bool geometry(const GEOSGeometry* g) {
        const char* name = typeName(GEOSGeomTypeId_r(context_, g));
        if (name == nullptr) return false;
        out_ += name;
        const char empty = GEOSisEmpty_r(context_, g);
        if (empty == 2) return false;
        const bool hasZ = empty == 0 && GEOSGeom_getCoordinateDimension_r(context_, g) == 3;
        // A collection's members say their own dimension.
        if (hasZ && GEOSGeomTypeId_r(context_, g) != GEOS_GEOMETRYCOLLECTION) out_ += " Z";
        out_ += ' ';
        return body(g, hasZ);
    }

private:
    // "EMPTY" or the parenthesised coordinates, without the type name. A
    // collection of empty members keeps them (GEOS calls it empty as a whole).
    bool body(const GEOSGeometry* g, bool hasZ) {
        const int type = GEOSGeomTypeId_r(context_, g);
        switch (type) {
            case GEOS_POINT:
            case GEOS_LINESTRING:
            case GEOS_LINEARRING:
                return sequence(GEOSGeom_getCoordSeq_r(context_, g), hasZ);
            case GEOS_POLYGON: {
                const GEOSGeometry* shell = GEOSGetExteriorRing_r(context_, g);
                const int holes = GEOSGetNumInteriorRings_r(context_, g);
                if (shell == nullptr || holes < 0) return false;
                if (holes == 0 && GEOSisEmpty_r(context_, shell) == 1) {
                    out_ += "EMPTY";
                    return true;
                }
                out_ += '(';
                if (!body(shell, hasZ)) return false;
                for (int i = 0; i < holes; ++i) {
                    out_ += ", ";
                    if (!body(GEOSGetInteriorRingN_r(context_, g, i), hasZ)) return false;
                }
                out_ += ')';
                return true;
            }
            default: {
                const int count = GEOSGetNumGeometries_r(context_, g);
                if (count < 0) return false;
                if (count == 0) {
                    out_ += "EMPTY";
                    return true;
                }
                out_ += '(';
                for (int i = 0; i < count; ++i) {
                    if (i > 0) out_ += ", ";
                    const GEOSGeometry* member = GEOSGetGeometryN_r(context_, g, i);
                    if (member == nullptr) return false;
                    const bool ok =
                        type == GEOS_GEOMETRYCOLLECTION ? geometry(member) : body(member, hasZ);
                    if (!ok) return false;
                }
                out_ += ')';
                return true;
            }
        }
    }

    bool sequence(const GEOSCoordSequence* coordinates, bool hasZ) {
        unsigned int size = 0;
        if (coordinates == nullptr || !GEOSCoordSeq_getSize_r(context_, coordinates, &size))
            return false;
        if (size == 0) {
            out_ += "EMPTY";
            return true;
        }
        const unsigned int stride = hasZ ? 3 : 2;
        buffer_.resize(std::size_t{size} * stride);
        if (!GEOSCoordSeq_copyToBuffer_r(context_, coordinates, buffer_.data(), hasZ, 0))
            return false;
        out_ += '(';
        for (std::size_t i = 0; i < buffer_.size(); ++i) {
            if (!std::isfinite(buffer_[i])) return false;
            if (i > 0) out_ += i % stride == 0 ? ", " : " ";
            appendNumber(out_, buffer_[i]);
        }
        out_ += ')';
        return true;
    }

    GEOSContextHandle_t context_;
    std::string& out_;
    std::vector<double> buffer_;
};

template <class Kind>
Ref<WKTGeometry> kind() {
    return makeRef<Kind>();
}

}  // namespace

std::optional<QNLocation> QNLocation::fromLatitudeLongitude(double latitude,
                                                            double longitude) noexcept {
    // The comparisons are false for NaN; infinities fall outside the ranges.
    if (!(latitude >= -90 && latitude <= 90 && longitude >= -180 && longitude <= 180))
        return std::nullopt;
    return QNLocation(latitude, longitude);
}

double QNLocation::distanceFromLocation(const QNLocation& other) const {
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(latitude_, longitude_, other.latitude_,
                                             other.longitude_, metres);
    return metres;
}

WKTGeometry::~WKTGeometry() = default;

String WKTGeometry::emptyValue() {
    return u"GEOMETRYCOLLECTION EMPTY";
}

String toWKT(const WKTGeometry& geometry) {
    std::optional<String> text = geometry.wkt();
    return text ? std::move(*text) : geometry.classEmptyValue();
}

String WKTGeometry::description() const {
    return toWKT(*this);
}

bool WKTGeometry::isEqual(const Value& other) const {
    const Ref<WKTGeometry> geometry = other.as<WKTGeometry>();
    if (!geometry) return false;
    if (geometry.get() == this) return true;
    const WKTGeometry& that = *geometry;
    return typeid(that) == typeid(*this) && toWKT(that) == toWKT(*this);
}

std::size_t WKTGeometry::hash() const {
    return std::hash<String>()(toWKT(*this));
}

Value WKTGeometry::jsonValue() const {
    return Value(toWKT(*this));
}

String WKTLineString::emptyValue() {
    return u"LINESTRING EMPTY";
}
String WKTPolygon::emptyValue() {
    return u"POLYGON EMPTY";
}
String WKTMultiPoint::emptyValue() {
    return u"MULTIPOINT EMPTY";
}
String WKTMultiLineString::emptyValue() {
    return u"MULTILINESTRING EMPTY";
}
String WKTMultiPolygon::emptyValue() {
    return u"MULTIPOLYGON EMPTY";
}
String WKTGeometryCollection::emptyValue() {
    return u"GEOMETRYCOLLECTION EMPTY";
}
String WKTPoint::emptyValue() {
    return u"POINT EMPTY";
}

std::optional<String> WKTPoint::wkt() const {
    if (empty_) return emptyValue();
    std::string text = z_ ? "POINT Z (" : "POINT (";
    appendNumber(text, x_);
    text += ' ';
    appendNumber(text, y_);
    if (z_) {
        text += ' ';
        appendNumber(text, *z_);
    }
    text += ')';
    return asciiString(text);
}

std::optional<QNLocation> WKTPoint::toLocation() const noexcept {
    if (empty_) return std::nullopt;
    return QNLocation::fromLatitudeLongitude(y_, x_);
}

Ref<WKTGeometry> WKTParser::parseGeometry(StringView text) {
    // Every character WKT uses is ASCII; anything else fails the screen.
    return parseGeometry(std::string_view(toUtf8(text)));
}

Ref<WKTGeometry> WKTParser::parseGeometry(std::string_view utf8) {
    const geos::GeometryPtr parsed = geos::readWKT(utf8);
    if (!parsed) return nullptr;
    GEOSContextHandle_t context = geos::threadContext();
    const GEOSGeometry* g = parsed.get();
    const int type = GEOSGeomTypeId_r(context, g);

    if (type == GEOS_POINT) {
        auto point = makeRef<WKTPoint>();
        const char empty = GEOSisEmpty_r(context, g);
        if (empty == 2) return nullptr;
        if (empty == 1) return point;
        const GEOSCoordSequence* coordinates = GEOSGeom_getCoordSeq_r(context, g);
        const bool hasZ = GEOSGeom_getCoordinateDimension_r(context, g) == 3;
        double xyz[3] = {0, 0, 0};
        if (coordinates == nullptr ||
            !GEOSCoordSeq_copyToBuffer_r(context, coordinates, xyz, hasZ, 0))
            return nullptr;
        for (int i = 0; i < (hasZ ? 3 : 2); ++i)
            if (!std::isfinite(xyz[i])) return nullptr;
        point->setDimensionX(xyz[0]);
        point->setDimensionY(xyz[1]);
        if (hasZ) point->setDimensionZ(xyz[2]);
        return point;
    }

    Ref<WKTGeometry> geometry;
    switch (type) {
        case GEOS_LINESTRING:
        case GEOS_LINEARRING:
            geometry = kind<WKTLineString>();
            break;
        case GEOS_POLYGON:
            geometry = kind<WKTPolygon>();
            break;
        case GEOS_MULTIPOINT:
            geometry = kind<WKTMultiPoint>();
            break;
        case GEOS_MULTILINESTRING:
            geometry = kind<WKTMultiLineString>();
            break;
        case GEOS_MULTIPOLYGON:
            geometry = kind<WKTMultiPolygon>();
            break;
        case GEOS_GEOMETRYCOLLECTION:
            geometry = kind<WKTGeometryCollection>();
            break;
        default:
            return nullptr;
    }
    std::string text;
    text.reserve(utf8.size());
    if (!Writer(context, text).geometry(g)) return nullptr;
    geometry->text_ = asciiString(text);
    return geometry;
}

}  // namespace qn
