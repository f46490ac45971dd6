// What the generator writes for a procedure of the sample application: a
// class registered by name, whose "executeFlexibleClient" operation takes
// one argument per parameter and writes its out-parameter back.
//
// Compiled into the qn tool, where `qn demo` finds and calls it by name.

#include <qn/host.h>

#include "prc_trip_totals.h"

namespace travelagency {

qn::Value PrcTripTotals::executeFlexibleClient(std::int64_t trips, qn::Decimal& total) {
    // A real procedure would read the offline database; the sample sums a
    // fixed fare table (in cents) so the demo is reproducible.
    static constexpr std::int64_t kFareCents[] = {125050, 98025, 31000};
    std::int64_t cents = 0;
    for (std::int64_t i = 0; i < trips && i < 3; ++i)
        cents += kFareCents[i];
    total = qn::Decimal::fromParts(false, static_cast<qn::uint128>(cents), -2);
    return qn::Value(trips > 0);
}

QN_REGISTER_CLASS_WITH(PrcTripTotals, Object, [](qn::ClassDefinition& c) {
    c.method("executeFlexibleClient::", 2, {1}, [](qn::Object* self, std::vector<qn::Value>& args) {
        qn::Decimal total = args[1].decimalValue();
        qn::Value result =
            static_cast<PrcTripTotals*>(self)->executeFlexibleClient(args[0].integerValue(), total);
        args[1] = qn::Value(total);
        return result;
    });
    c.property("gxTv_Active", qn::PropertyType::kBool);
})

}  // namespace travelagency
