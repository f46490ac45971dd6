#include <qn/host/data_layer.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace qn {

QNBlobDownloadService::~QNBlobDownloadService() = default;
QNSynchronizationSendService::~QNSynchronizationSendService() = default;
QNSynchronizationReceiveService::~QNSynchronizationReceiveService() = default;

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

struct SynchronizationServices {
    std::mutex mutex;
    std::shared_ptr<QNSynchronizationSendService> send;
    std::shared_ptr<QNSynchronizationReceiveService> receive;
};

SynchronizationServices& synchronizationServices() {
    static SynchronizationServices* services = new SynchronizationServices;  // outlives exit
    return *services;
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

std::shared_ptr<QNSynchronizationSendService> QNDataLayerServices::synchronizationSendService() {
    auto& services = synchronizationServices();
    std::lock_guard lock(services.mutex);
    return services.send;
}

void QNDataLayerServices::setSynchronizationSendService(
    std::shared_ptr<QNSynchronizationSendService> service) {
    auto& services = synchronizationServices();
    std::lock_guard lock(services.mutex);
    services.send = std::move(service);
}

std::shared_ptr<QNSynchronizationReceiveService>
QNDataLayerServices::synchronizationReceiveService() {
    auto& services = synchronizationServices();
    std::lock_guard lock(services.mutex);
    return services.receive;
}

void QNDataLayerServices::setSynchronizationReceiveService(
    std::shared_ptr<QNSynchronizationReceiveService> service) {
    auto& services = synchronizationServices();
    std::lock_guard lock(services.mutex);
    services.receive = std::move(service);
}

std::size_t QNDataLayerServices::maximumBlobLength() noexcept {
    return maximumBlobLengthSetting().load(std::memory_order_relaxed);
}

void QNDataLayerServices::setMaximumBlobLength(std::size_t bytes) noexcept {
    maximumBlobLengthSetting().store(bytes == 0 ? kDefaultMaximumBlobLength : bytes,
                                     std::memory_order_relaxed);
}

}  // namespace qn
