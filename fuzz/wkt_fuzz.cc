// Arbitrary bytes through the WKT parser. A text either gives no geometry or
// one whose canonical text reads back to a geometry with the same text (the
// writer's form is a fixed point), and whose latitude, longitude and
// distance answers are finite. Text that gives no geometry intersects
// nothing.

#include <qn/geo.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qn::String text =
        qn::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const qn::Ref<qn::WKTGeometry> geometry = qn::fromWKT(text);
    check(qn::QNGeographyHelper::srid(text) == 4326);
    check(std::isfinite(qn::QNGeographyHelper::latitude(text)));
    check(std::isfinite(qn::QNGeographyHelper::longitude(text)));
    // Relating a shape to itself must not crash GEOS, whatever it holds.
    const bool intersects = qn::QNGeographyHelper::intersect(text, text);
    if (!geometry) {
        check(!intersects);
        return 0;
    }
    const qn::String canonical = qn::toWKT(*geometry);
    const qn::Ref<qn::WKTGeometry> again = qn::fromWKT(canonical);
    check(again != nullptr);
    check(qn::toWKT(*again) == canonical);
    check(std::isfinite(qn::distance(*geometry, qn::Value(again))));
    return 0;
}
