// The data layer's services that the library hands work to: sending the
// local changes to the server, receiving the server's data, and fetching
// the file of a blob kept for offline use.
//
// The library ships a default service (src/util, installed once the host
// core is initialised); an application installs its own to take over, and
// removing it brings the default back. Which one answers never depends on
// the order in which the two were installed.
//
// Thread-safe: services may be read and replaced from any thread; a service
// handed out stays alive while the caller holds it, even when replaced.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/errors.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace qn {

// Fetches the content of a URL into a file of the blob folder.
class QN_API QNBlobDownloadService {
public:
    virtual ~QNBlobDownloadService();
    // Fetches `url` into `relativePath` (a blob path, "qnblobdata://..."). A
    // synchronous service answers whether the file is there on return; an
    // asynchronous one whether it took the work. Callers use the path at
    // once either way and must not assume the file is complete.
    virtual bool downloadBlobDataFromURLStringToRelativePath(StringView url,
                                                             StringView relativePath) = 0;
};

// Sends the local change log to the server. Completions are called once, on
// any thread, when the work has ended.
class QN_API QNSynchronizationSendService {
public:
    virtual ~QNSynchronizationSendService();
    // Called with the error the send ended with, or none.
    using Completion = std::function<void(const std::optional<QNError>& error)>;
    virtual bool isSynchronizationSendEnabled() = 0;
    virtual void sendPendingEventsStartedFromUserCodeWithCompletionBlock(bool fromUserCode,
                                                                         Completion completion) = 0;
    // Marks the current point of the local change log.
    virtual void createSendCheckpoint() = 0;
    virtual bool shouldSendAutomaticallyWhenConnected() = 0;
    virtual bool hasPendingSynchronizationEvents() = 0;
    virtual bool hasMinimumTimeBetweenSendsBeenElapsed() = 0;
    virtual void scheduledSendAfterMinimumTime() = 0;
};

// Receives the server's data. Each operation answers whether the work was
// started; when it was, the completion is called once with its status.
class QN_API QNSynchronizationReceiveService {
public:
    virtual ~QNSynchronizationReceiveService();
    using Completion = std::function<void(std::uint32_t status)>;
    virtual bool synchronizeWithSettingsCompletionBlock(std::int64_t settings,
                                                        Completion completion) = 0;
    virtual bool checkServerSynchronizationStatusWithCompletionBlock(Completion completion) = 0;
};

class QN_API QNDataLayerServices {
public:
    // The application's synchronization services; null until it installs
    // them (the library has no server of its own to talk to).
    static std::shared_ptr<QNSynchronizationSendService> synchronizationSendService();
    static void setSynchronizationSendService(
        std::shared_ptr<QNSynchronizationSendService> service);
    static std::shared_ptr<QNSynchronizationReceiveService> synchronizationReceiveService();
    static void setSynchronizationReceiveService(
        std::shared_ptr<QNSynchronizationReceiveService> service);

    // The application's service when it installed one, else the library's
    // default; null only before the core has been initialised.
    static std::shared_ptr<QNBlobDownloadService> synchronizationBlobDownloadService();
    // Installs the application's service; null goes back to the default.
    static void setSynchronizationBlobDownloadService(
        std::shared_ptr<QNBlobDownloadService> service);
    // The library's own default (answers while the application installs
    // none). Installed by the library; applications use the setter above.
    static void setDefaultSynchronizationBlobDownloadService(
        std::shared_ptr<QNBlobDownloadService> service);

    // The most bytes the library reads whole into memory for one blob: a
    // file or URL content turned into Base64, a download by the default
    // service. Larger content reads as nothing. 128 MiB unless set; 0
    // restores that.
    static constexpr std::size_t kDefaultMaximumBlobLength = std::size_t{128} << 20;
    static std::size_t maximumBlobLength() noexcept;
    static void setMaximumBlobLength(std::size_t bytes) noexcept;
};

}  // namespace qn
