// Offline data access: generator style and class lookup, connections and
// commands, the database manager, offline procedures.
#pragma once

#include <qn/host/offline_helper.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>
