// A generated offline procedure of the sample application (see
// prc_trip_totals.cc).
#pragma once

#include <qn/core/decimal.h>
#include <qn/offline/procedure.h>

#include <cstdint>

namespace travelagency {

class PrcTripTotals : public qn::QNProcedure {
    QN_OBJECT(PrcTripTotals)

public:
    // Sums the fares of the customer's trips into `total` (an out-parameter);
    // answers whether the customer has any.
    qn::Value executeFlexibleClient(std::int64_t customerId, qn::Decimal& total);
};

}  // namespace travelagency
