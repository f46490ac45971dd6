// Test helpers shared by every suite: fresh temporary folders, a capturing
// logger installed for the life of a scope, bundles built on disk, a latch;
// and, so that the suites need not repeat them, GoogleTest and the standard
// headers most of them use.
#pragma once

#include <gtest/gtest.h>
#include <qn/host.h>

// QN_TEST_UNDER_TSAN is 1 in a ThreadSanitizer build (GCC or clang), so a
// suite can exempt what libraries built without it do on their own threads.
#if defined(__SANITIZE_THREAD__)
#define QN_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QN_TEST_UNDER_TSAN 1
#endif
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace qn::test {

// An object's error pair, to be compared whole: ErrorPair{code, description}.
using ErrorPair = std::pair<std::int64_t, String>;
template <class T>
ErrorPair errorOf(T& object) {
    return {object.errCode(), String(object.errDescription())};
}

// The whole contents of a file; "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Writes `contents` to `path`, creating its folders.
void writeFile(const std::filesystem::path& path, std::string_view contents);

// A new empty folder under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    // Writes `contents` to `relative` (creating folders) and returns its path.
    std::filesystem::path write(const std::string& relative, std::string_view contents) const;

private:
    std::filesystem::path path_;
};

// Runs body(0) ... body(count - 1), each on a thread of its own, and returns
// when all of them have ended.
template <class Body>
void onThreads(int count, const Body& body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&body, i] { body(i); });
    for (auto& thread : threads)
        thread.join();
}

// Counts arrivals; a waiter blocks until a number is reached, so a test
// decides when held work goes on without racing the clock. The wait is
// bounded only so that a broken build fails instead of hanging. Share it
// through a shared_ptr with anything that may outlive the test (a server
// handler still waking when the test is over).
class Latch {
public:
    // Notifies under the lock: the waiter may destroy the latch once it wakes.
    void arrive() {
        std::lock_guard lock(mutex_);
        ++count_;
        cv_.notify_all();
    }
    bool waitFor(int n = 1) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return count_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

// Installs a QNCapturingLogger while in scope, then puts the previous one back.
class ScopedCapturingLogger {
public:
    ScopedCapturingLogger();
    ~ScopedCapturingLogger();
    QNCapturingLogger& operator*() const noexcept { return *logger_; }
    QNCapturingLogger* operator->() const noexcept { return logger_.get(); }

private:
    std::shared_ptr<QNCapturingLogger> logger_;
    std::shared_ptr<QNLogger> previous_;
};

// Makes the given folder the main bundle while in scope, points the
// application's storage folders at fresh temporary folders, and starts from
// the model's default language and theme.
class ScopedBundle {
public:
    explicit ScopedBundle(const std::filesystem::path& root);
    ~ScopedBundle();
    const TempDir& storage() const noexcept { return storage_; }

private:
    std::filesystem::path previousRoot_;
    TempDir storage_;
};

// Sets the application time zone and convertTimesFromUTC while in scope.
class ScopedTimeZone {
public:
    ScopedTimeZone(StringView identifier, bool convertTimesFromUTC);
    ~ScopedTimeZone();

private:
    String previousName_;
    bool previousConvert_;
};

// Sets the fatal-error policy while in scope.
class ScopedFatalErrorPolicy {
public:
    explicit ScopedFatalErrorPolicy(QNUtilities::FatalErrorPolicy policy);
    ~ScopedFatalErrorPolicy();

private:
    QNUtilities::FatalErrorPolicy previous_;
};

// Writes a small application bundle into `dir`: Info.plist (with the given
// generator style, or no style key when empty), qnconfig.plist with the
// languages "English" (MDY, 12-hour, "." and ",") and "Spanish" (DMY4,
// 24-hour, "," and "."), "Plain" (nothing but "."), default language
// "English", and model.json with
// the same two languages, translations and two procedures.
void writeSampleBundle(const TempDir& dir, const std::string& generatorStyle = "swift");

// The shared configuration is read once per process: makes sure it is read
// from a sample bundle, whichever test reaches it first (the bundle's folder
// lives until the process ends).
void loadSharedConfigurationFromSampleBundle();

// A property-list XML document around `body` (the root element).
std::string plistDocument(std::string_view body);

}  // namespace qn::test
