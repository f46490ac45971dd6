#include <qn/geo/geography.h>

#include <cmath>
#include <cstdint>

#include "host/geos_support.h"

namespace qn {

namespace {

Ref<WKTPoint> parsePoint(StringView text) {
    return std::dynamic_pointer_cast<WKTPoint>(WKTParser::parseGeometry(text));
}

}  // namespace

std::int64_t QNGeographyHelper::srid(StringView) noexcept {
    return kSRID;
}

double QNGeographyHelper::longitude(StringView text) {
    const Ref<WKTPoint> point = parsePoint(text);
    return point ? point->dimensionX() : 0;
}

double QNGeographyHelper::latitude(StringView text) {
    const Ref<WKTPoint> point = parsePoint(text);
    return point ? point->dimensionY() : 0;
}

std::int64_t QNGeographyHelper::distance(StringView a, StringView b) {
    const Ref<WKTPoint> from = parsePoint(a);
    const Ref<WKTPoint> to = parsePoint(b);
    if (!from || !to) return 0;
    const double metres = qn::distance(*from, Value(to));
    // Two valid locations are at most half a meridian apart, but keep the
    // conversion defined whatever the distance gives.
    if (!(std::fabs(metres) < 9.2e18)) return 0;
    return static_cast<std::int64_t>(metres);
}

bool QNGeographyHelper::intersect(StringView a, StringView b) {
    const geos::GeometryPtr first = geos::readWKT(toUtf8(a));
    if (!first) return false;
    const geos::GeometryPtr second = geos::readWKT(toUtf8(b));
    if (!second) return false;
    // 2 is GEOS's failure (an invalid shape it cannot relate): not an answer.
    return GEOSIntersects_r(geos::threadContext(), first.get(), second.get()) == 1;
}

Ref<WKTGeometry> fromWKT(StringView text) {
    return WKTParser::parseGeometry(text);
}

Ref<WKTGeometry> geography(const std::vector<Value>& arguments) {
    if (arguments.empty()) return nullptr;
    if (arguments[0].isString())
        return WKTParser::parseGeometry(StringView(arguments[0].asString()));
    if (arguments.size() == 2 && arguments[0].isNumber() && arguments[1].isNumber())
        return WKTPoint::initWithDimensionXAndDimensionY(arguments[1].doubleValue(),
                                                         arguments[0].doubleValue());
    return nullptr;
}

String stringValue(const WKTGeometry& geometry) {
    return toWKT(geometry);
}

Value JSON(const WKTGeometry& geometry) {
    return Value(toWKT(geometry));
}

Value json(const WKTGeometry& geometry) {
    return JSON(geometry);
}

double distance(const WKTGeometry& geometry, const Value& other) {
    const auto* point = dynamic_cast<const WKTPoint*>(&geometry);
    const Ref<WKTPoint> otherPoint = other.as<WKTPoint>();
    if (point == nullptr || !otherPoint) return 0;
    const std::optional<QNLocation> from = point->toLocation();
    const std::optional<QNLocation> to = otherPoint->toLocation();
    if (!from || !to) return 0;
    return from->distanceFromLocation(*to);
}

Value valueForProperty(const WKTPoint& point, StringView name) {
    if (name == u"latitude") return Value(point.dimensionY());
    if (name == u"longitude") return Value(point.dimensionX());
    return Value::null();
}

void setValue(WKTPoint& point, const Value& value, StringView name) {
    if (!value.isNumber()) return;
    if (name == u"latitude") {
        point.setDimensionY(value.doubleValue());
    } else if (name == u"longitude") {
        point.setDimensionX(value.doubleValue());
    }
}

}  // namespace qn
