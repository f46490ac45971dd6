// What the generator writes for a program's data access: the cursors by
// number with their SQL text, comparison operators chosen at run time left
// as {{placeholders}}, and the dynamic cursor's text built from the
// conditions in use, with one bind flag per parameter (0 binds it).

#include <qn/core/containers.h>

#include "trips_data_store.h"

namespace travelagency {

TripsDataStoreHelper::TripsDataStoreHelper()
    : cursors_{
          std::make_shared<qn::ForEachCursor>(
              u"T_TripsByFare",
              u"SELECT TripId, TripDescription, TripFare FROM Trip WHERE TripFare {{fareop}} ? "
              u"ORDER BY TripId"),
          std::make_shared<qn::UpdateCursor>(
              u"T_InsertCustomer",
              u"INSERT INTO Customer (CustomerId, CustomerName, CustomerEmail) VALUES (?, ?, ?)"),
          std::make_shared<qn::ForEachCursor>(u"T_TripsDynamic", u"scmdbuf"),
          std::make_shared<qn::UpdateCursor>(
              u"T_InsertTrip",
              u"INSERT INTO Trip (TripId, CustomerId, TripDescription, TripDate, TripFare) "
              u"VALUES (?, ?, ?, ?, ?)"),
          std::make_shared<qn::ForEachCursor>(u"T_CountTrips",
                                              u"SELECT COUNT(*) AS Trips FROM Trip"),
      } {}

std::shared_ptr<const qn::QNCursor> TripsDataStoreHelper::getCursor(std::int64_t cursor) {
    if (cursor < 0 || cursor >= static_cast<std::int64_t>(cursors_.size())) return nullptr;
    return cursors_[static_cast<std::size_t>(cursor)];
}

std::vector<qn::Value> TripsDataStoreHelper::getDynamicStatement(
    std::int64_t cursor, const std::vector<qn::Value>& values) {
    if (cursor != T_TripsDynamic || values.size() != 2) return {};
    const bool byCustomer = values[0].integerValue() != 0;
    const bool fromFare = !values[1].decimalValue().isZero();
    qn::String where;
    if (byCustomer) where = addWhere(where, u"CustomerId = ?");
    if (fromFare) where = addWhere(where, u"TripFare >= ?");
    auto flags = qn::makeRef<qn::Array>();
    flags->append(qn::Value(byCustomer ? 0 : 1));
    flags->append(qn::Value(fromFare ? 0 : 1));
    return {qn::Value(u"SELECT TripId, TripDescription, TripFare FROM Trip" + where +
                      u" ORDER BY TripId"),
            qn::Value(flags)};
}

}  // namespace travelagency
