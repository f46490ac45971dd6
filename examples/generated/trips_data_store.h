// The data-store helper the generator writes for a program of the sample
// application that lists and books trips (see trips_data_store.cc).
#pragma once

#include <qn/offline/data_store.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace travelagency {

class TripsDataStoreHelper : public qn::QNDataStoreHelperBase {
public:
    enum Cursor : std::int64_t {
        T_TripsByFare = 0,  // trips whose fare compares ({{fareop}}) with a value
        T_InsertCustomer = 1,
        T_TripsDynamic = 2,  // trips of a customer and/or from a fare, built at run time
        T_InsertTrip = 3,
        T_CountTrips = 4,
    };

    TripsDataStoreHelper();
    std::shared_ptr<const qn::QNCursor> getCursor(std::int64_t cursor) override;
    // values: the customer (0 for any) and the lowest fare (0 for any).
    std::vector<qn::Value> getDynamicStatement(std::int64_t cursor,
                                               const std::vector<qn::Value>& values) override;

private:
    std::vector<std::shared_ptr<const qn::QNCursor>> cursors_;
};

}  // namespace travelagency
