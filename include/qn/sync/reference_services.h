// The reference synchronization services: the host's send and receive
// services spoken over the library's HTTP client with the protocol of
// docs/sync-protocol.md.
//
// Send posts the pending events in order, in batches, each batch one
// multipart request (the events as JSON in the part "events", each upload
// file in a part of its own), and removes exactly the events the server
// acknowledged. Anything else (an HTTP error, a time-out, a dropped
// connection, an answer that does not parse) leaves every event pending and
// ends the send with an error; the next send delivers them. The server
// acknowledges an event id it has seen again without applying it twice.
//
// Receive asks for the changes since the last token, applies every table's
// rows (INSERT OR REPLACE by their columns) and deletions in one
// transaction, and stores the new token only after the commit. Table and
// column names must be plain identifiers; an answer with any other is
// refused whole.
//
// Thread-safe: sends (and receives) are serialized.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/data_layer.h>
#include <qn/host/errors.h>
#include <qn/sync/pending_event_log.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace qn {

class QN_API QNReferenceSendService : public QNSynchronizationSendService {
public:
    static constexpr std::size_t kEventsPerRequest = 100;
    static constexpr std::size_t kBytesPerRequest = std::size_t{32} << 20;

    // `baseURL` ends with "/" and the protocol's paths follow it.
    QNReferenceSendService(std::shared_ptr<QNPendingEventLog> log, String baseURL);

    bool isSynchronizationSendEnabled() override { return !baseURL_.empty(); }
    // Sends from user code on the calling thread (its caller waits anyway),
    // automatic sends in the background.
    void sendPendingEventsStartedFromUserCodeWithCompletionBlock(bool fromUserCode,
                                                                 Completion completion) override;
    // Stores the log's highest sequence number: automatic sends go up to it.
    void createSendCheckpoint() override;
    // Off unless set: the application sends when it chooses.
    bool shouldSendAutomaticallyWhenConnected() override { return automatic_; }
    void setSendsAutomatically(bool automatic) { automatic_ = automatic; }
    bool hasPendingSynchronizationEvents() override { return log_->pendingEventCount() > 0; }
    bool hasMinimumTimeBetweenSendsBeenElapsed() override { return true; }
    void scheduledSendAfterMinimumTime() override {
        sendPendingEventsStartedFromUserCodeWithCompletionBlock(false, nullptr);
    }

    // One whole send: every pending event (from user code) or those up to
    // the checkpoint, in batches; the error it ended with, or none.
    std::optional<QNError> sendNow(bool fromUserCode);

    // How long one request may take, in seconds (30 unless set).
    void setTimeout(std::int64_t seconds) { timeoutSeconds_ = seconds; }

private:
    std::shared_ptr<QNPendingEventLog> log_;
    String baseURL_;
    std::atomic<std::int64_t> timeoutSeconds_{30};
    std::atomic<bool> automatic_{false};
    std::mutex sending_;
};

class QN_API QNReferenceReceiveService : public QNSynchronizationReceiveService {
public:
    static constexpr StringView kTokenKey = u"QNSyncReceiveToken";
    // Statuses: 2 done, 3 the server could not be reached, 4 it answered
    // with an error, 5 its answer could not be applied.
    static constexpr std::uint32_t kDone = 2;
    static constexpr std::uint32_t kUnreachable = 3;
    static constexpr std::uint32_t kRefused = 4;
    static constexpr std::uint32_t kUnusable = 5;

    explicit QNReferenceReceiveService(String baseURL) : baseURL_(std::move(baseURL)) {}

    // Runs on the calling thread and calls the completion before it returns.
    bool synchronizeWithSettingsCompletionBlock(std::int64_t settings,
                                                Completion completion) override;
    bool checkServerSynchronizationStatusWithCompletionBlock(Completion completion) override;

    std::uint32_t receiveNow();
    std::uint32_t statusNow();

    // How long one request may take, in seconds (30 unless set).
    void setTimeout(std::int64_t seconds) { timeoutSeconds_ = seconds; }

private:
    String baseURL_;
    std::atomic<std::int64_t> timeoutSeconds_{30};
    std::mutex receiving_;
};

class QN_API QNReferenceSynchronization {
public:
    // Installs the pending-event log and both services for `baseURL` (the
    // model's server followed by "qnsync/v1/" when absent); false when the
    // log cannot be made.
    static bool install(std::optional<String> baseURL = std::nullopt);
    // Removes the services and the change log.
    static void uninstall();
};

}  // namespace qn
