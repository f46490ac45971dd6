#include <qn/host/bundle.h>
#include <qn/host/environment.h>
#include <qn/host/log.h>

#include <cstdlib>
#include <mutex>

#include "host/internal.h"

namespace qn {

namespace fs = std::filesystem;

namespace {

struct MainBundleState {
    std::mutex mutex;
    std::shared_ptr<const QNBundle> bundle;
};

MainBundleState& mainBundleState() {
    static MainBundleState state;
    return state;
}

fs::path defaultBundleRoot() {
    if (const char* env = std::getenv("QN_BUNDLE"); env != nullptr && *env != '\0') return env;
    std::error_code ec;
    auto cwd = fs::current_path(ec);
    return ec ? fs::path(".") : cwd;
}

// A resource name may name a file in a sub-folder, but never leave the bundle.
bool isSafeRelative(const fs::path& relative) {
    if (relative.empty() || relative.is_absolute() || relative.has_root_name()) return false;
    for (const auto& part : relative) {
        if (part == "..") return false;
    }
    return true;
}

}  // namespace

QNBundle::QNBundle(fs::path root) : root_(std::move(root)), info_(std::make_shared<Dictionary>()) {
    auto infoPath = pathForResourceOfType("Info", "plist");
    if (!infoPath) return;
    std::string error;
    auto value = QNPropertyList::readFile(*infoPath, &error);
    if (value && value->isDictionary()) {
        info_ = value->as<Dictionary>();
    } else {
        internal::logError(QNLogTypeFiles,
                           "Info.plist ignored: " + (error.empty() ? "not a dictionary" : error));
    }
}

std::shared_ptr<const QNBundle> QNBundle::mainBundle() {
    std::shared_ptr<const QNBundle> bundle;
    {
        auto& state = mainBundleState();
        std::lock_guard lock(state.mutex);
        if (!state.bundle) state.bundle = std::make_shared<const QNBundle>(defaultBundleRoot());
        bundle = state.bundle;
    }
    // Outside the lock: observers of core initialisation may ask for the bundle.
    QNExecutionEnvironmentHelper::initializeCore();
    return bundle;
}

void QNBundle::setMainBundlePath(const fs::path& root) {
    auto bundle = std::make_shared<const QNBundle>(root);
    auto& state = mainBundleState();
    {
        std::lock_guard lock(state.mutex);
        state.bundle = std::move(bundle);
    }
    internal::bumpLanguageGeneration();
}

std::optional<fs::path> QNBundle::pathForResourceOfType(const std::string& name,
                                                        const std::string& type) const {
    std::string file = name;
    if (!type.empty()) {
        file += type.front() == '.' ? type : "." + type;
    }
    fs::path relative(file);
    if (!isSafeRelative(relative)) return std::nullopt;
    fs::path candidate = root_ / relative;
    std::error_code ec;
    if (!fs::is_regular_file(candidate, ec)) return std::nullopt;
    return candidate;
}

}  // namespace qn
