// A generated procedure of the sample application (see prc_trip_totals.cc).
#pragma once

#include <qn/host.h>

#include <cstdint>

namespace travelagency {

class PrcTripTotals : public qn::Object {
    QN_OBJECT(PrcTripTotals)

public:
    // Sums the fares of the first `trips` trips into `total` (an
    // out-parameter); answers whether there was any.
    qn::Value executeFlexibleClient(std::int64_t trips, qn::Decimal& total);
};

}  // namespace travelagency
