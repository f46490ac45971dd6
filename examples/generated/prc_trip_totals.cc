// What the generator writes for an offline procedure of the sample
// application: a QNProcedure registered under its name in lower case, whose
// "executeFlexibleClient" operation takes one argument per parameter and
// writes its out-parameter back. It reads the offline database through the
// database manager's connection.

#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>

#include "prc_trip_totals.h"

namespace travelagency {

qn::Value PrcTripTotals::executeFlexibleClient(std::int64_t customerId, qn::Decimal& total) {
    total = qn::Decimal();
    auto connection = qn::QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
    if (!connection) return qn::Value(false);
    auto trips =
        connection->commandWithSQLStatement(u"SELECT TripFare FROM Trip WHERE CustomerId = ?");
    trips->setParameters(std::vector<qn::Value>{qn::Value(customerId)});
    bool any = false;
    if (trips->execute() == qn::QN_STATUS_OK) {
        for (trips->fetch(); trips->status() == qn::QN_STATUS_OK; trips->fetch()) {
            total = total + trips->decimalValueForColumnAtIndex(0);
            any = true;
        }
    }
    trips->close();
    return qn::Value(any);
}

QN_REGISTER_CLASS_AS(PrcTripTotals, "prctriptotals", "QNProcedure", [](qn::ClassDefinition& c) {
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
