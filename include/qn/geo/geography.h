// The geography built-ins of generated code.
//
// Generated code keeps a geography as WKT text or as a host geometry
// (<qn/host/wkt.h>). QNGeographyHelper answers the built-in functions on
// texts; the free functions below are the operations generated code expects
// on every geometry and point. Like every operation this library adds to
// another framework's type, each is a free function whose first parameter is
// the receiver (`qn::toWKT(geometry)`); the class-side ones (`fromWKT`,
// `geography`) take no receiver. Coordinates are WGS 84 degrees (SRID 4326);
// distances are geodesic, in metres, on the WGS 84 ellipsoid.
//
// Nothing here raises or prints: text that does not parse gives 0, false,
// null or "" as each operation says.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/wkt.h>
#include <qn/value.h>

#include <cstdint>
#include <vector>

namespace qn {

// Thread-safe (no shared state).
class QN_API QNGeographyHelper {
public:
    static constexpr std::int64_t kSRID = 4326;

    // 4326, whatever the text.
    static std::int64_t srid(StringView text) noexcept;
    // The point's dimensionX (dimensionY); 0 when the text is not a point.
    static double longitude(StringView text);
    static double latitude(StringView text);
    // The geodesic distance in whole metres (truncated) between two point
    // texts; 0 when either is not a point or has no location.
    static std::int64_t distance(StringView a, StringView b);
    // True when the two geometries share at least one point, tested in the
    // plane of longitude and latitude (edges are straight in degrees; shapes
    // crossing the antimeridian are not unwrapped); false when either text
    // does not parse.
    static bool intersect(StringView a, StringView b);
};

// WKTParser::parseGeometry of the text.
QN_API Ref<WKTGeometry> fromWKT(StringView text);
// From a list of arguments: the parsed geometry when the first is a string;
// a point with dimensionY = the first and dimensionX = the second when there
// are exactly two numbers (latitude, then longitude); null otherwise.
QN_API Ref<WKTGeometry> geography(const std::vector<Value>& arguments);

// toWKT(geometry) is declared beside the geometries, in <qn/host/wkt.h>.
QN_API String stringValue(const WKTGeometry& geometry);
// The toWKT text as a JSON string value.
QN_API Value JSON(const WKTGeometry& geometry);
QN_API Value json(const WKTGeometry& geometry);

// For a point: the geodesic distance in metres to `other` when that holds a
// point; 0 when it does not, or either point has no location. 0 for every
// other geometry.
QN_API double distance(const WKTGeometry& geometry, const Value& other);

// "latitude": dimensionY as a number; "longitude": dimensionX; any other name
// (compared exactly): the null marker.
QN_API Value valueForProperty(const WKTPoint& point, StringView name);
// Sets dimensionY ("latitude") or dimensionX ("longitude") from a number
// value; any other value or name changes nothing.
QN_API void setValue(WKTPoint& point, const Value& value, StringView name);

}  // namespace qn
