// The process environment the host provides: where the application may
// write and the core-initialisation hook (the application time zone is in
// <qn/host/dates.h>).
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <filesystem>
#include <functional>
#include <string>

namespace qn {

// Base folders of the application's data. Defaults follow the per-user
// locations of this system:
//   caches        $XDG_CACHE_HOME/<app> (else ~/.cache/<app>)
//   support       $XDG_DATA_HOME/<app> (else ~/.local/share/<app>)
//   temporary     $TMPDIR/<app>-<uid> (else /tmp/<app>-<uid>)
// where <app> is the model's application name ("QNApplication" without one).
// Nothing is created here; the parts that write create what they need.
// Tests set each folder to a fresh temporary one.
class QN_API QNApplicationStorageService {
public:
    std::filesystem::path applicationCachesDirectory() const;
    std::filesystem::path applicationSupportDirectory() const;
    std::filesystem::path temporaryDirectory() const;

    // Empty paths restore the defaults.
    void setApplicationCachesDirectory(std::filesystem::path path);
    void setApplicationSupportDirectory(std::filesystem::path path);
    void setTemporaryDirectory(std::filesystem::path path);
};

class QN_API QNObjectsModelServices {
public:
    static QNApplicationStorageService& applicationStorageService();
};

// Work to run once the host core is initialised.
class QN_API QNExecutionEnvironmentHelper {
public:
    // Runs `observer` once the core is initialised: at once (on this thread)
    // when it already is, else on the thread that initialises it.
    static void addCoreInitializationOnceObserver(std::function<void()> observer);
    // Initialises the core (first use of the main bundle does it too); later
    // calls do nothing.
    static void initializeCore();
    static bool isCoreInitialized() noexcept;
};

}  // namespace qn
