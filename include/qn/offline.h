// Offline data access: generator style and class lookup, connections and
// commands, the database manager, offline procedures, cursors and the
// data-store provider, the offline session and synchronization.
#pragma once

#include <qn/host/offline_helper.h>
#include <qn/offline/data_store.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>
#include <qn/offline/synchronization.h>
