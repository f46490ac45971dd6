// The generated reorganization program of the sample application: creates
// its offline database (see travelagency_reorg.cc).
#pragma once

#include <qn/offline/procedure.h>

namespace travelagency {

class TravelAgencySynchronizer_reorg : public qn::QNProcedure {
    QN_OBJECT(TravelAgencySynchronizer_reorg)

public:
    // Creates the tables and the rows the application starts with.
    void executeFlexibleClient();
};

}  // namespace travelagency
