// Geometries in the OGC Well-Known Text form (WKT), as the host gives them.
//
// Generated code keeps geographic values as WKT text ("POINT (-56.16 -34.9)")
// and turns it into geometry objects with WKTParser. Coordinates are WGS 84
// degrees: x is the longitude, y the latitude. A point also converts to a
// QNLocation, the platform's position on the WGS 84 ellipsoid, which measures
// geodesic distances.
//
// The grammar is the OGC simple-features one: POINT, LINESTRING (and its
// closed form LINEARRING), POLYGON, MULTIPOINT, MULTILINESTRING, MULTIPOLYGON
// and GEOMETRYCOLLECTION, each possibly EMPTY, keywords in any case.
// Coordinates are two-dimensional or carry a Z (tagged "Z" or given as a
// third number); Z survives every round trip and is ignored by locations.
// Measures (M, ZM, four numbers) are refused rather than read as Z or
// dropped, as are mixed dimensions inside one geometry, numbers that are not
// finite, trailing text and nesting deeper than WKTParser::kMaxNesting.
//
// Text written by the library is canonical: upper-case keywords, one space
// after each comma, "POINT Z (1 2 3)", "MULTIPOINT ((1 2), (3 4))", and every
// coordinate in its shortest form that reads back to the same double.
#pragma once

#include <qn/core/json.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace qn {

// A position on the WGS 84 ellipsoid. Always valid: latitude in [-90, 90] and
// longitude in [-180, 180], both finite.
// Immutable.
class QN_API QNLocation {
public:
    // None when either coordinate is out of range or not finite.
    static std::optional<QNLocation> fromLatitudeLongitude(double latitude,
                                                           double longitude) noexcept;

    double latitude() const noexcept { return latitude_; }
    double longitude() const noexcept { return longitude_; }

    // The geodesic distance to `other` in metres, on the ellipsoid surface
    // (accurate to nanometres, antipodal points included).
    double distanceFromLocation(const QNLocation& other) const;

private:
    QNLocation(double latitude, double longitude) noexcept
        : latitude_(latitude), longitude_(longitude) {}

    double latitude_;
    double longitude_;
};

// A geometry and its WKT text. A plain WKTGeometry has no kind and no text of
// its own (it answers the generic empty value); the subclasses below are the
// kinds. Geometries other than points are immutable once made; JSON writes a
// geometry as its WKT string. The library's own operations on geometries
// (toWKT, distance, ...) are in <qn/geo/geography.h>.
// Thread-compatible.
class QN_API WKTGeometry : public Object, public QNJSONValueSource {
    QN_OBJECT(WKTGeometry)
public:
    WKTGeometry() = default;
    ~WKTGeometry() override;

    // The WKT text of an empty geometry of this class (class side).
    static String emptyValue();
    // emptyValue() of this object's own class.
    virtual String classEmptyValue() const { return emptyValue(); }
    // This geometry's WKT text; none when its class gives no text.
    virtual std::optional<String> wkt() const { return text_; }

    // Its toWKT text.
    String description() const override;
    // Equal to a geometry of the same class with the same text.
    bool isEqual(const Value& other) const override;
    std::size_t hash() const override;
    // The toWKT text as a JSON string.
    Value jsonValue() const override;

protected:
    explicit WKTGeometry(String text) : text_(std::move(text)) {}

private:
    friend class WKTParser;
    std::optional<String> text_;
};

// The geometry's WKT text, or its class's empty value when the class gives
// none.
QN_API String toWKT(const WKTGeometry& geometry);

// The kinds other than points. Each is made empty and is given its text by
// the parser.

// A line string (or a closed LINEARRING).
// Thread-compatible.
class QN_API WKTLineString : public WKTGeometry {
    QN_OBJECT(WKTLineString)
public:
    WKTLineString() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A polygon.
// Thread-compatible.
class QN_API WKTPolygon : public WKTGeometry {
    QN_OBJECT(WKTPolygon)
public:
    WKTPolygon() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A multi-point.
// Thread-compatible.
class QN_API WKTMultiPoint : public WKTGeometry {
    QN_OBJECT(WKTMultiPoint)
public:
    WKTMultiPoint() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A multi-line string.
// Thread-compatible.
class QN_API WKTMultiLineString : public WKTGeometry {
    QN_OBJECT(WKTMultiLineString)
public:
    WKTMultiLineString() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A multi-polygon.
// Thread-compatible.
class QN_API WKTMultiPolygon : public WKTGeometry {
    QN_OBJECT(WKTMultiPolygon)
public:
    WKTMultiPolygon() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A geometry collection.
// Thread-compatible.
class QN_API WKTGeometryCollection : public WKTGeometry {
    QN_OBJECT(WKTGeometryCollection)
public:
    WKTGeometryCollection() : WKTGeometry(emptyValue()) {}
    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
};

// A point: dimensionX is the longitude, dimensionY the latitude, and an
// optional Z. A point made with no coordinates is empty ("POINT EMPTY") and
// reads 0 for both; setting either coordinate makes it a point (the other
// stays 0).
// Thread-compatible.
class QN_API WKTPoint : public WKTGeometry {
    QN_OBJECT(WKTPoint)
public:
    WKTPoint() = default;
    WKTPoint(double x, double y) : x_(x), y_(y), empty_(false) {}

    static Ref<WKTPoint> initWithDimensionXAndDimensionY(double x, double y) {
        return makeRef<WKTPoint>(x, y);
    }

    static String emptyValue();
    String classEmptyValue() const override { return emptyValue(); }
    // "POINT (x y)", "POINT Z (x y z)" or "POINT EMPTY"; a coordinate that is
    // not finite is written NaN, Infinity or -Infinity (which no parser reads
    // back).
    std::optional<String> wkt() const override;

    bool isEmpty() const noexcept { return empty_; }
    double dimensionX() const noexcept { return x_; }
    double dimensionY() const noexcept { return y_; }
    void setDimensionX(double x) noexcept {
        x_ = x;
        empty_ = false;
    }
    void setDimensionY(double y) noexcept {
        y_ = y;
        empty_ = false;
    }
    const std::optional<double>& dimensionZ() const noexcept { return z_; }
    void setDimensionZ(std::optional<double> z) noexcept { z_ = z; }

    // The point's location; none when it is empty, or its latitude is outside
    // [-90, 90], its longitude outside [-180, 180] or either is not finite.
    std::optional<QNLocation> toLocation() const noexcept;

private:
    double x_ = 0;
    double y_ = 0;
    std::optional<double> z_;
    bool empty_ = true;
};

// Reads WKT text into geometries (GEOS reads the grammar).
// Thread-safe: each thread reads with its own GEOS context.
class QN_API WKTParser {
public:
    // Parentheses nested deeper than this are refused (the reader recurses).
    static constexpr int kMaxNesting = 64;

    // The geometry of `text` (a WKTPoint, WKTLineString, ... by its kind), or
    // null when the text is not WKT the library accepts (see above). Never
    // prints anything.
    static Ref<WKTGeometry> parseGeometry(StringView text);
    static Ref<WKTGeometry> parseGeometry(std::string_view utf8);
};

}  // namespace qn
