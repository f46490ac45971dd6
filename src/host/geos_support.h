// GEOS inside the library: the reentrant C API, one context per thread, with
// its notices and errors silenced (a failure is the caller's empty result,
// never a line on standard error).
#pragma once

#ifndef GEOS_USE_ONLY_R_API
#define GEOS_USE_ONLY_R_API
#endif
#include <geos_c.h>

#include <memory>
#include <string_view>

namespace qn::geos {

// The calling thread's context, made on first use; null when GEOS cannot make
// one.
GEOSContextHandle_t threadContext() noexcept;

struct GeometryDeleter {
    void operator()(GEOSGeometry* geometry) const noexcept;
};
using GeometryPtr = std::unique_ptr<GEOSGeometry, GeometryDeleter>;

// The geometry of WKT text the library accepts (see <qn/host/wkt.h>); null for
// any other text.
GeometryPtr readWKT(std::string_view utf8);

}  // namespace qn::geos
