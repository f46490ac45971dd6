// Test helpers shared by every suite: fresh temporary folders, a capturing
// logger installed for the life of a scope, and bundles built on disk.
#pragma once

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

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace qn::test {

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
