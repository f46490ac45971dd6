// The log of local changes waiting to be sent to the server: one event per
// business-component change, kept in the offline database's table
// QNPendingEvent and written inside the change's own transaction, so an
// event exists exactly when its change was committed (docs/sync-protocol.md).
//
// Installed as the business components' change log, it records each insert,
// update and delete with the record's synchronization message; the files
// the message queues for upload are registered with the transaction, so a
// rollback removes them with the event.
//
// Thread-safe as far as the database connection is (one shared connection).
#pragma once

#include <qn/core/string.h>
#include <qn/data/business_component.h>
#include <qn/export.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qn {

class QN_API QNPendingEventLog : public QNBusinessComponentChangeLog {
public:
    static constexpr StringView kTableName = u"QNPendingEvent";
    // What a file's value becomes in a message: "<file:N>", N its position
    // in the event's file list.
    static constexpr StringView kPlaceholderFormat = u"<file:%d>";

    struct Event {
        std::int64_t seq = 0;       // order of the changes
        String id;                  // a UUID, kept across sends
        String bc;                  // the business component's name
        String mode;                // INS, UPD or DLT
        String message;             // the synchronization message (JSON)
        std::vector<String> files;  // "$UPLOADS/..." paths, by position
    };

    // Makes the table when missing and installs a log as the change log;
    // null (nothing installed) when the table cannot be made.
    static std::shared_ptr<QNPendingEventLog> install();

    // Writes the record's event through the "DEFAULT" connection. A record
    // of no business component is not logged. A failure is logged and put on
    // the thread's error list.
    void recordChange(const QNSdtBusinessComponent& record, StringView mode) override;

    // Pending events in order; at most `limit` of them (0: all).
    std::vector<Event> pendingEvents(std::size_t limit = 0) const;
    std::int64_t pendingEventCount() const;
    // Removes the events with these ids, and their upload files, in one
    // transaction; answers how many were removed.
    std::size_t removeEvents(const std::vector<String>& ids);
};

}  // namespace qn
