#include <qn/host/data_layer.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace qn {

QNBlobDownloadService::~QNBlobDownloadService() = default;

namespace {

// Two slots rather than one, so an application that installs its service
// before the core is initialised is not overwritten by the default.
struct BlobDownloadServices {
    std::mutex mutex;
    std::shared_ptr<QNBlobDownloadService> application;
    std::shared_ptr<QNBlobDownloadService> fallback;
};

BlobDownloadServices& blobDownloadServices() {
    static BlobDownloadServices services;
    return services;
}

std::atomic<std::size_t>& maximumBlobLengthSetting() {
    static std::atomic<std::size_t> bytes{QNDataLayerServices::kDefaultMaximumBlobLength};
    return bytes;
}

}  // namespace

std::shared_ptr<QNBlobDownloadService> QNDataLayerServices::synchronizationBlobDownloadService() {
    auto& services = blobDownloadServices();
    std::lock_guard lock(services.mutex);
    return services.application ? services.application : services.fallback;
}

void QNDataLayerServices::setSynchronizationBlobDownloadService(
    std::shared_ptr<QNBlobDownloadService> service) {
    auto& services = blobDownloadServices();
    std::lock_guard lock(services.mutex);
    services.application = std::move(service);
}

void QNDataLayerServices::setDefaultSynchronizationBlobDownloadService(
    std::shared_ptr<QNBlobDownloadService> service) {
    auto& services = blobDownloadServices();
    std::lock_guard lock(services.mutex);
    services.fallback = std::move(service);
}

std::size_t QNDataLayerServices::maximumBlobLength() noexcept {
    return maximumBlobLengthSetting().load(std::memory_order_relaxed);
}

void QNDataLayerServices::setMaximumBlobLength(std::size_t bytes) noexcept {
    maximumBlobLengthSetting().store(bytes == 0 ? kDefaultMaximumBlobLength : bytes,
                                     std::memory_order_relaxed);
}

}  // namespace qn
