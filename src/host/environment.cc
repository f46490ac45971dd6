#include <qn/host/environment.h>
#include <qn/host/log.h>
#include <qn/host/model.h>

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace qn {

namespace fs = std::filesystem;

namespace {

struct StorageState {
    std::mutex mutex;
    fs::path caches;
    fs::path support;
    fs::path temporary;
};

StorageState& storageState() {
    static StorageState state;
    return state;
}

std::string applicationFolderName() {
    auto name = toUtf8(QNApplicationModel::currentModel()->appName());
    // The name becomes one path component: keep it to one.
    std::string safe;
    for (char c : name)
        safe += (c == '/' || c == '\0') ? '_' : c;
    if (safe.empty() || safe == "." || safe == "..") safe = "QNApplication";
    return safe;
}

fs::path homeSubfolder(const char* xdgVariable, const char* fallback) {
    if (const char* xdg = std::getenv(xdgVariable); xdg != nullptr && *xdg == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home) / fallback;
    return fs::temp_directory_path();
}

fs::path chosenOr(const fs::path StorageState::*member, const std::function<fs::path()>& fallback) {
    {
        auto& state = storageState();
        std::lock_guard lock(state.mutex);
        if (!(state.*member).empty()) return state.*member;
    }
    return fallback();
}

void setMember(fs::path StorageState::*member, fs::path path) {
    auto& state = storageState();
    std::lock_guard lock(state.mutex);
    state.*member = std::move(path);
}

struct CoreState {
    std::mutex mutex;
    std::condition_variable done;
    bool initialized = false;
    std::thread::id initializer;  // the thread running the observers, if any
    std::vector<std::function<void()>> observers;
};

CoreState& coreState() {
    static CoreState state;
    return state;
}

std::atomic<bool>& coreInitializedFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

}  // namespace

fs::path QNApplicationStorageService::applicationCachesDirectory() const {
    return chosenOr(&StorageState::caches, [] {
        return homeSubfolder("XDG_CACHE_HOME", ".cache") / applicationFolderName();
    });
}

fs::path QNApplicationStorageService::applicationSupportDirectory() const {
    return chosenOr(&StorageState::support, [] {
        return homeSubfolder("XDG_DATA_HOME", ".local/share") / applicationFolderName();
    });
}

fs::path QNApplicationStorageService::temporaryDirectory() const {
    return chosenOr(&StorageState::temporary, [] {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);  // honours TMPDIR
        if (ec) base = "/tmp";
        return base / (applicationFolderName() + "-" + std::to_string(::getuid()));
    });
}

void QNApplicationStorageService::setApplicationCachesDirectory(fs::path path) {
    setMember(&StorageState::caches, std::move(path));
}

void QNApplicationStorageService::setApplicationSupportDirectory(fs::path path) {
    setMember(&StorageState::support, std::move(path));
}

void QNApplicationStorageService::setTemporaryDirectory(fs::path path) {
    setMember(&StorageState::temporary, std::move(path));
}

QNApplicationStorageService& QNObjectsModelServices::applicationStorageService() {
    static QNApplicationStorageService service;
    return service;
}

void QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver(
    std::function<void()> observer) {
    if (!observer) return;
    {
        auto& state = coreState();
        std::lock_guard lock(state.mutex);
        if (!state.initialized) {
            state.observers.push_back(std::move(observer));
            return;
        }
    }
    observer();
}

void QNExecutionEnvironmentHelper::initializeCore() {
    if (coreInitializedFlag().load(std::memory_order_acquire)) return;
    auto& state = coreState();
    std::unique_lock lock(state.mutex);
    if (state.initializer == std::this_thread::get_id()) return;  // an observer reached us again
    // Another thread is initialising: the core is ready only when it is done.
    state.done.wait(lock,
                    [&] { return state.initialized || state.initializer == std::thread::id(); });
    if (state.initialized) return;
    state.initializer = std::this_thread::get_id();
    while (!state.observers.empty()) {
        std::vector<std::function<void()>> observers;
        observers.swap(state.observers);
        // Observers run outside the lock: they may use the bundle or add
        // further observers, which join the next round.
        lock.unlock();
        for (auto& observer : observers) {
            // One failing observer must neither stop the others nor leave
            // the core half initialised with waiters blocked for ever.
            try {
                observer();
            } catch (const std::exception& e) {
                QNLog::loggerService()->logMessage(
                    u"Core initialization observer failed: " + fromUtf8(e.what()), QNLogTypeFiles,
                    QNLogLevelError);
            } catch (...) {
                QNLog::loggerService()->logMessage(u"Core initialization observer failed",
                                                   QNLogTypeFiles, QNLogLevelError);
            }
        }
        lock.lock();
    }
    state.initialized = true;
    state.initializer = std::thread::id();
    coreInitializedFlag().store(true, std::memory_order_release);
    state.done.notify_all();
}

bool QNExecutionEnvironmentHelper::isCoreInitialized() noexcept {
    return coreInitializedFlag().load(std::memory_order_acquire);
}

}  // namespace qn
