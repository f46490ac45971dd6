#include <qn/geo/geography.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/geos_support.h"

namespace qn {

namespace {

Ref<WKTPoint> parsePoint(StringView text) {
    return std::dynamic_pointer_cast<WKTPoint>(WKTParser::parseGeometry(text));
}

struct PreparedDeleter {
    void operator()(const GEOSPreparedGeometry* prepared) const noexcept {
        GEOSPreparedGeom_destroy_r(geos::threadContext(), prepared);
    }
};
using PreparedPtr = std::unique_ptr<const GEOSPreparedGeometry, PreparedDeleter>;

// The members of `geometry` that are not collections (points, lines,
// polygons and their multi forms), nested collections walked through; empty
// members are left out, as they intersect nothing.
void collectParts(GEOSContextHandle_t context, const GEOSGeometry* geometry,
                  std::vector<const GEOSGeometry*>& parts) {
    if (GEOSGeomTypeId_r(context, geometry) == GEOS_GEOMETRYCOLLECTION) {
        const int count = GEOSGetNumGeometries_r(context, geometry);
        for (int i = 0; i < count; ++i)
            collectParts(context, GEOSGetGeometryN_r(context, geometry, i), parts);
        return;
    }
    if (GEOSisEmpty_r(context, geometry) == 0) parts.push_back(geometry);
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
    // GEOS's plain predicates build the full relate graph, which leaks on
    // some inputs (coordinates far beyond double precision leave edge ends
    // behind on every call). The prepared predicates answer from segment
    // intersections and point location alone. They take no collections
    // (a prepared collection falls back to the relate graph, and a mixed
    // collection as the tested shape is judged by its highest dimension
    // only), so collections are split into their members: two shapes
    // intersect exactly when some member of one meets some member of the
    // other.
    GEOSContextHandle_t context = geos::threadContext();
    std::vector<const GEOSGeometry*> left, right;
    collectParts(context, first.get(), left);
    collectParts(context, second.get(), right);
    for (const GEOSGeometry* part : left) {
        const PreparedPtr prepared(GEOSPrepare_r(context, part));
        if (!prepared) continue;
        // 2 is GEOS's failure (a shape it cannot compute with): not an answer.
        for (const GEOSGeometry* other : right)
            if (GEOSPreparedIntersects_r(context, prepared.get(), other) == 1) return true;
    }
    return false;
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
