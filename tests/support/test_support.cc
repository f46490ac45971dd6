#include "support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace qn::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto name = "qn-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                    "-" + std::to_string(rd());
        auto candidate = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path TempDir::write(const std::string& relative, std::string_view contents) const {
    auto target = path_ / relative;
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + target.string());
    return target;
}

ScopedCapturingLogger::ScopedCapturingLogger()
    : logger_(std::make_shared<QNCapturingLogger>()), previous_(QNLog::setLoggerService(logger_)) {}

ScopedCapturingLogger::~ScopedCapturingLogger() { QNLog::setLoggerService(previous_); }

ScopedBundle::ScopedBundle(const fs::path& root)
    : previousRoot_(QNBundle::mainBundle()->bundlePath()) {
    QNBundle::setMainBundlePath(root);
}

ScopedBundle::~ScopedBundle() { QNBundle::setMainBundlePath(previousRoot_); }

ScopedFatalErrorPolicy::ScopedFatalErrorPolicy(QNUtilities::FatalErrorPolicy policy)
    : previous_(QNUtilities::fatalErrorPolicy()) {
    QNUtilities::setFatalErrorPolicy(policy);
}

ScopedFatalErrorPolicy::~ScopedFatalErrorPolicy() { QNUtilities::setFatalErrorPolicy(previous_); }

}  // namespace qn::test
