// The data layer's services that the library hands work to: today the blob
// download service that fetches a file for a blob kept for offline use.
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

#include <cstddef>
#include <memory>

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

class QN_API QNDataLayerServices {
public:
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
