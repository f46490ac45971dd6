// Geography beside the libraries it is built on.
//
// Parsing: WKTParser::parseGeometry (screening, GEOS's reader, then the
// canonical text written from GEOS's coordinates) beside GEOSWKTReader_read_r
// alone, and beside read plus GEOS's own WKT writer, for a point and for a
// polygon of 1000 vertices.
// Distance: QNGeographyHelper::distance from two point texts (two parses and
// the geodesic), the point operation on two parsed points, and
// GeographicLib's Geodesic::Inverse called directly.
// Intersection: QNGeographyHelper::intersect of the polygon's text and a point
// inside it beside GEOS reading both and answering with the prepared
// predicate the helper uses, and with the relate-based GEOSIntersects_r.

#include <qn/geo.h>

#include <benchmark/benchmark.h>
#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <string>

#define GEOS_USE_ONLY_R_API
#include <geos_c.h>

namespace {

const std::string kPoint = "POINT (-56.1645 -34.9011)";

const std::string& polygon() {
    static const std::string text = [] {
        std::string s = "POLYGON ((";
        for (int i = 0; i <= 1000; ++i) {
            const double angle = 2 * M_PI * (i % 1000) / 1000;
            s += (i ? ", " : "") + std::to_string(-56.16 + std::cos(angle)) + " " +
                 std::to_string(-34.9 + std::sin(angle));
        }
        return s + "))";
    }();
    return text;
}

void parse(benchmark::State& state, const std::string& utf8) {
    const qn::String text = qn::fromUtf8(utf8);
    for (auto _ : state) {
        auto geometry = qn::WKTParser::parseGeometry(text);
        if (!geometry) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(geometry);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

// Raw GEOS: one context, reader (and writer) made once, as the library does
// per thread.
void geosRead(benchmark::State& state, const std::string& text, bool write) {
    GEOSContextHandle_t context = GEOS_init_r();
    GEOSWKTReader* reader = GEOSWKTReader_create_r(context);
    GEOSWKTWriter* writer = GEOSWKTWriter_create_r(context);
    GEOSWKTWriter_setTrim_r(context, writer, 1);
    GEOSWKTWriter_setRoundingPrecision_r(context, writer, 17);
    for (auto _ : state) {
        GEOSGeometry* g = GEOSWKTReader_read_r(context, reader, text.c_str());
        if (g == nullptr) state.SkipWithError("read failed");
        if (write) {
            char* out = GEOSWKTWriter_write_r(context, writer, g);
            benchmark::DoNotOptimize(out);
            GEOSFree_r(context, out);
        }
        GEOSGeom_destroy_r(context, g);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    GEOSWKTWriter_destroy_r(context, writer);
    GEOSWKTReader_destroy_r(context, reader);
    GEOS_finish_r(context);
}

void BM_QNParsePoint(benchmark::State& state) {
    parse(state, kPoint);
}
BENCHMARK(BM_QNParsePoint);

void BM_GeosReadPoint(benchmark::State& state) {
    geosRead(state, kPoint, false);
}
BENCHMARK(BM_GeosReadPoint);

void BM_GeosReadWritePoint(benchmark::State& state) {
    geosRead(state, kPoint, true);
}
BENCHMARK(BM_GeosReadWritePoint);

void BM_QNParsePolygon1000(benchmark::State& state) {
    parse(state, polygon());
}
BENCHMARK(BM_QNParsePolygon1000);

void BM_GeosReadPolygon1000(benchmark::State& state) {
    geosRead(state, polygon(), false);
}
BENCHMARK(BM_GeosReadPolygon1000);

void BM_GeosReadWritePolygon1000(benchmark::State& state) {
    geosRead(state, polygon(), true);
}
BENCHMARK(BM_GeosReadWritePolygon1000);

// Montevideo to Buenos Aires.
constexpr double kLat1 = -34.9011, kLon1 = -56.1645, kLat2 = -34.6037, kLon2 = -58.3816;

void BM_QNHelperDistanceTexts(benchmark::State& state) {
    const qn::String a = u"POINT (-56.1645 -34.9011)", b = u"POINT (-58.3816 -34.6037)";
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNGeographyHelper::distance(a, b));
}
BENCHMARK(BM_QNHelperDistanceTexts);

void BM_QNPointDistance(benchmark::State& state) {
    const auto a = qn::WKTPoint::initWithDimensionXAndDimensionY(kLon1, kLat1);
    const qn::Value b(qn::WKTPoint::initWithDimensionXAndDimensionY(kLon2, kLat2));
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::distance(*a, b));
}
BENCHMARK(BM_QNPointDistance);

void BM_GeodesicInverse(benchmark::State& state) {
    const GeographicLib::Geodesic& geodesic = GeographicLib::Geodesic::WGS84();
    double lat1 = kLat1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lat1);
        double s12 = 0;
        geodesic.Inverse(lat1, kLon1, kLat2, kLon2, s12);
        benchmark::DoNotOptimize(s12);
    }
}
BENCHMARK(BM_GeodesicInverse);

void BM_QNIntersectPolygon1000Point(benchmark::State& state) {
    const qn::String a = qn::fromUtf8(polygon()), b = qn::fromUtf8(kPoint);
    for (auto _ : state)
        if (!qn::QNGeographyHelper::intersect(a, b)) state.SkipWithError("no intersection");
}
BENCHMARK(BM_QNIntersectPolygon1000Point);

void geosIntersect(benchmark::State& state, bool prepared) {
    GEOSContextHandle_t context = GEOS_init_r();
    GEOSWKTReader* reader = GEOSWKTReader_create_r(context);
    for (auto _ : state) {
        GEOSGeometry* a = GEOSWKTReader_read_r(context, reader, polygon().c_str());
        GEOSGeometry* b = GEOSWKTReader_read_r(context, reader, kPoint.c_str());
        char answer = 0;
        if (prepared) {
            const GEOSPreparedGeometry* p = GEOSPrepare_r(context, a);
            answer = GEOSPreparedIntersects_r(context, p, b);
            GEOSPreparedGeom_destroy_r(context, p);
        } else {
            answer = GEOSIntersects_r(context, a, b);
        }
        if (answer != 1) state.SkipWithError("no intersection");
        GEOSGeom_destroy_r(context, b);
        GEOSGeom_destroy_r(context, a);
    }
    GEOSWKTReader_destroy_r(context, reader);
    GEOS_finish_r(context);
}

void BM_GeosPreparedIntersectPolygon1000Point(benchmark::State& state) {
    geosIntersect(state, true);
}
BENCHMARK(BM_GeosPreparedIntersectPolygon1000Point);

void BM_GeosIntersectPolygon1000Point(benchmark::State& state) {
    geosIntersect(state, false);
}
BENCHMARK(BM_GeosIntersectPolygon1000Point);

}  // namespace
