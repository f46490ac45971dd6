// What the generator writes for the reorganization of the sample
// application. The database manager finds it by the synchronizer's name
// ("TravelAgencySynchronizer" + "_reorg", in lower case) and runs it once
// per new database; its statements run while every other reader waits for
// the creation to end, and the manager commits them together.

#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>

#include "travelagency_reorg.h"

namespace travelagency {

namespace {

bool run(const char16_t* statement) {
    return qn::QNDBManager::executeInDatastoreCommandString(u"DEFAULT", statement) ==
           qn::QN_STATUS_OK;
}

}  // namespace

void TravelAgencySynchronizer_reorg::executeFlexibleClient() {
    qn::QNReorganization::addMsg(u"Creating table Customer");
    run(u"CREATE TABLE Customer (CustomerId INTEGER NOT NULL PRIMARY KEY, "
        u"CustomerName TEXT NOT NULL, CustomerEmail TEXT NOT NULL DEFAULT '', "
        u"CustomerPhoto TEXT NOT NULL DEFAULT '')");
    qn::QNReorganization::addMsg(u"Creating table Trip");
    run(u"CREATE TABLE Trip (TripId INTEGER NOT NULL PRIMARY KEY, "
        u"CustomerId INTEGER NOT NULL REFERENCES Customer (CustomerId), "
        u"TripDescription TEXT NOT NULL, TripDate TEXT, TripFare NUMERIC(10, 2) NOT NULL, "
        u"TripPhoto TEXT NOT NULL DEFAULT '')");
    run(u"CREATE INDEX ITrip1 ON Trip (CustomerId)");
    qn::QNReorganization::addMsg(u"Loading the initial data");
    run(u"INSERT INTO Customer (CustomerId, CustomerName, CustomerEmail) VALUES "
        u"(1, 'Ana Souza', 'ana@example.com'), (2, 'Bruno Lima', 'bruno@example.com')");
    run(u"INSERT INTO Trip (TripId, CustomerId, TripDescription, TripDate, TripFare) VALUES "
        u"(1, 1, 'Lisbon - Rio de Janeiro', '2026-12-20', 1250.50), "
        u"(2, 1, 'Rio de Janeiro - Montevideo', '2027-01-04', 980.25), "
        u"(3, 1, 'Montevideo - Buenos Aires', '2027-01-09', 310.00), "
        u"(4, 2, 'Madrid - Paris', '2027-02-14', 145.90)");
}

QN_REGISTER_CLASS_AS(
    TravelAgencySynchronizer_reorg, "travelagencysynchronizer_reorg", "QNProcedure",
    [](qn::ClassDefinition& c) {
        c.method("executeFlexibleClient", 0, {}, [](qn::Object* self, std::vector<qn::Value>&) {
            static_cast<TravelAgencySynchronizer_reorg*>(self)->executeFlexibleClient();
            return qn::Value();
        });
    })

}  // namespace travelagency
