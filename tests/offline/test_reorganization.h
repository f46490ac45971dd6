// The reorganization program the database manager finds in the tests and in
// qn_db_worker ("test_sync_reorg", for a synchronizer named "Test.Sync").
#pragma once

#include <qn/core/string.h>
#include <qn/offline/db.h>

#include <atomic>
#include <cstdint>
#include <functional>

namespace qn::test {

// What the reorganization does; the default when empty. Set by a test before
// it starts a creation.
std::function<void()>& reorganizationBody();

// The default: creates fresh(id, note) with two rows, then reads them back
// through the manager's connection (the creating thread passes its own gate)
// into rowsSeenByReorganization.
void defaultReorganization();
extern std::atomic<std::int64_t> rowsSeenByReorganization;

// The rows of a table through a connection; -1 when it cannot be read.
std::int64_t countRows(QNDBConnection& connection, StringView table);

}  // namespace qn::test
