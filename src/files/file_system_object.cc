// Logical paths, the sandbox roots and the checks every file operation runs.
//
// Containment is lexical: a path is inside a root when its standardized text
// is the root or continues it with "/". Symbolic links are not resolved by
// that test; the roots are folders the application owns, and whatever can
// place a link there can already change the files themselves. The one place
// where a link matters is the sandbox check that guards the operations that
// remove, move or create items: there the folder holding the item is resolved
// through its links and must still lie in a root, so a link planted inside a
// root cannot steer a delete or a move outside it (the item itself, when it
// is a link, is removed or moved as a link).
//
// The bundle's resources ("$RESOURCES/...") are the application's own files,
// shipped with it: they resolve for reading like any other path, but nothing
// the library does may change them. Whether a target is one is decided here,
// from the prefix, and every operation that would write, create, remove or
// move a target asks before it touches the disk.
#include <qn/core/uuid.h>
#include <qn/files/file_system_object.h>
#include <qn/host/bundle.h>
#include <qn/host/entity_helper.h>
#include <qn/host/environment.h>
#include <qn/host/log.h>
#include <qn/host/utilities.h>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/ascii.h"
#include "files/files_internal.h"

namespace qn {

namespace fs = std::filesystem;

QN_REGISTER_CLASS(QNFileSystemObject, Object)

// ---------------------------------------------------------------------------
// Internal helpers

namespace internal {

String errnoText(int error) {
    return fromUtf8(std::strerror(error));
}

String errorCodeText(const std::error_code& error) {
    return fromUtf8(error.message());
}

namespace {
constexpr StringView kResourcesPrefix = u"$RESOURCES/";
}  // namespace

bool namesResource(StringView path) {
    if (path.size() < kResourcesPrefix.size()) return false;
    for (std::size_t i = 0; i < kResourcesPrefix.size(); ++i) {
        const char16_t c = path[i] == u'\\' ? u'/' : path[i];
        if (c != kResourcesPrefix[i]) return false;
    }
    return true;
}

bool allowsChangeTo(QNFileSystemObject& object, StringView target) {
    if (!namesResource(target)) return true;
    object.setErrCode(100);
    object.setErrDescription(u"Security error");
    return false;
}

}  // namespace internal

using internal::fromSystemPath;
using internal::joinPathComponents;
using internal::pathIsWithinRoot;
using internal::standardizePath;
using internal::toSystemPath;

// ---------------------------------------------------------------------------
// The roots

namespace {

void reportDirectoryCreationFailure(StringView what, const std::error_code& error) {
    String message =
        u"Error creating " + String(what) + u" directory " + internal::errorCodeText(error);
    QNLog::loggerService()->logMessage(message, QNLogTypeFiles, QNLogLevelError, true);
    QNUtilities::tryRecoverFatalError(message);
}

String cachesFolder() {
    return fromSystemPath(
        QNObjectsModelServices::applicationStorageService().applicationCachesDirectory());
}

String dataRootUnder(const String& base) {
    String path = joinPathComponents(base, u"QNData");
    QNFileSystemObject::createDirectoryIfNotExistsAtPath(path);
    return standardizePath(path);
}

// Each root is computed once (function-local statics are initialised once,
// even when first asked for from several threads) and never changes.
const String& appDataRoot() {
    static const String root = dataRootUnder(cachesFolder());
    return root;
}

const String& cacheRoot() {
    static const String root = dataRootUnder(cachesFolder());
    return root;
}

const String& tempRoot() {
    static const String root = dataRootUnder(
        fromSystemPath(QNObjectsModelServices::applicationStorageService().temporaryDirectory()));
    return root;
}

const String& uploadsRoot() {
    static const String root =
        QNFileSystemObject::createApplicationSupportDirectorySubpathExcludeFromBackup(u"QNUploads",
                                                                                      true);
    return root;
}

const String& blobRoot() {
    static const String root =
        QNFileSystemObject::createApplicationSupportDirectorySubpathExcludeFromBackup(u"QNBlobData",
                                                                                      true);
    return root;
}

// In the order the sandbox test tries them.
std::array<const String*, 5> sandboxRoots() {
    return {&tempRoot(), &appDataRoot(), &blobRoot(), &uploadsRoot(), &cacheRoot()};
}

// The roots with their links resolved, for the link test below.
const std::vector<String>& resolvedRoots() {
    static const std::vector<String> roots = [] {
        std::vector<String> out;
        for (const String* root : sandboxRoots()) {
            std::error_code ec;
            fs::path real = fs::weakly_canonical(toSystemPath(*root), ec);
            out.push_back(ec ? *root : fromSystemPath(real));
        }
        return out;
    }();
    return roots;
}

bool isWithinSomeRoot(StringView path) {
    for (const String* root : sandboxRoots())
        if (pathIsWithinRoot(path, *root)) return true;
    return false;
}

// False when `path` (standardized) lies in a root by its text but the folder
// that holds it leads, through symbolic links, out of every root.
bool linksStayInSandbox(const String& path) {
    if (!isWithinSomeRoot(path)) return true;
    fs::path folder = toSystemPath(path);
    bool isRoot = false;
    for (const String* root : sandboxRoots())
        isRoot = isRoot || path == *root;
    if (!isRoot) folder = folder.parent_path();
    std::error_code ec;
    fs::path real = fs::weakly_canonical(folder, ec);
    if (ec) return false;  // a loop or an unreadable folder: refuse rather than guess
    String realText = fromSystemPath(real);
    for (const String& root : resolvedRoots())
        if (pathIsWithinRoot(realText, root)) return true;
    return false;
}

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

// Moves a file or folder without replacing anything at the destination (the
// system's rename would silently replace a file there); across file systems,
// copies and then removes the original.
std::error_code moveItem(const fs::path& from, const fs::path& to) {
    if (from.empty() || to.empty())
        return std::make_error_code(std::errc::no_such_file_or_directory);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    std::error_code error = lastError();
    std::error_code ec;
    if (error.value() == EINVAL || error.value() == ENOSYS) {
        // A file system without the no-replace flag.
        if (fs::exists(fs::symlink_status(to, ec)))
            return std::make_error_code(std::errc::file_exists);
        if (::rename(from.c_str(), to.c_str()) == 0) return {};
        error = lastError();
    }
    if (error.value() != EXDEV) return error;
    if (fs::exists(fs::symlink_status(to, ec))) return std::make_error_code(std::errc::file_exists);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        return ec;
    }
    fs::remove_all(from, ec);
    return ec;
}

// The converter registration runs when the host core is initialised.
[[maybe_unused]] const bool blobConverterObserverAdded = [] {
    QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([] {
        auto converter = std::make_shared<QNFileSystemObject_EntityHelperNSURLConverter>();
        QNEntityHelper::registerNSURLConverterForQNScheme(
            [converter](StringView url) { return converter->convertQNSchemeAbsoluteURL(url); },
            u"qnblobdata");
    });
    return true;
}();

}  // namespace

String QNFileSystemObject::appDataPath() {
    return appDataRoot();
}
String QNFileSystemObject::cachePath() {
    return cacheRoot();
}
String QNFileSystemObject::tempPath() {
    return tempRoot();
}
String QNFileSystemObject::pendingUploadsPath() {
    return uploadsRoot();
}
String QNFileSystemObject::blobDataPath() {
    return blobRoot();
}

void QNFileSystemObject::createDirectoryIfNotExistsAtPath(StringView path) {
    fs::path target = toSystemPath(path);
    std::error_code ec;
    if (fs::exists(target, ec)) return;
    if (target.empty())
        ec = std::make_error_code(std::errc::invalid_argument);
    else
        fs::create_directories(target, ec);
    if (ec) reportDirectoryCreationFailure(path, ec);
}

String QNFileSystemObject::createApplicationSupportDirectorySubpathExcludeFromBackup(
    StringView name, bool excludeFromBackup) {
    String path = joinPathComponents(cachesFolder(), name);
    std::error_code ec;
    if (!fs::exists(toSystemPath(path), ec)) createDirectoryWithSubpathSubpath(path, name);
    if (excludeFromBackup) QNUtilities::excludePathFromBackup(toUtf8(path));
    return standardizePath(path);
}

void QNFileSystemObject::createDirectoryWithSubpathSubpath(StringView fullPath, StringView name) {
    fs::path target = toSystemPath(fullPath);
    std::error_code ec;
    if (target.empty())
        ec = std::make_error_code(std::errc::invalid_argument);
    else
        fs::create_directories(target, ec);
    if (ec) reportDirectoryCreationFailure(name, ec);
}

std::optional<String> QNFileSystemObject::standardizePathCheckIsInSandbox(StringView path,
                                                                          bool checkIsInSandbox) {
    String standardized = standardizePath(path);
    if (!checkIsInSandbox) return standardized;
    return sandboxPathOrNilForStandardizedPath(standardized);
}

std::optional<String> QNFileSystemObject::sandboxPathOrNilForStandardizedPath(StringView path) {
    if (path.find(u'\0') != StringView::npos) return std::nullopt;
    if (!isWithinSomeRoot(path)) return std::nullopt;
    return String(path);
}

String QNFileSystemObject::joinPath(StringView base, StringView rest) {
    return joinPathComponents(base, rest);
}

// ---------------------------------------------------------------------------
// Resolution

String QNFileSystemObject::absoluteFilePathForWriting(std::optional<StringView> path) {
    if (path && internal::namesResource(*path)) return {};
    return absoluteFilePathForRelativePath(path);
}

String QNFileSystemObject::absoluteFilePathForRelativePath(std::optional<StringView> path) {
    if (!path || path->find(u'\0') != StringView::npos) return {};
    String text(*path);
    for (char16_t& c : text)
        if (c == u'\\') c = u'/';
    StringView view(text);
    if (view.starts_with(u"/")) return text;

    if (internal::namesResource(view)) {
        auto found = QNBundle::mainBundle()->pathForResourceOfType(
            toUtf8(view.substr(internal::kResourcesPrefix.size())), std::string());
        return found ? fromSystemPath(*found) : String();
    }

    struct Prefix {
        StringView text;
        const String& (*root)();
    };
    static constexpr Prefix kPrefixes[] = {
        {u"$APPDATA/", &appDataRoot},  {u"$TEMP/", &tempRoot},      {u"$EXTERNAL/", &tempRoot},
        {u"qnblobdata://", &blobRoot}, {u"$BLOB_DATA/", &blobRoot}, {u"$UPLOADS/", &uploadsRoot},
    };
    const String* root = nullptr;
    StringView rest = view;
    for (const Prefix& prefix : kPrefixes) {
        if (view.starts_with(prefix.text)) {
            root = &prefix.root();
            rest = view.substr(prefix.text.size());
            break;
        }
    }
    if (root == nullptr) root = &tempRoot();
    // The standardized form is what the operations then hand to the system,
    // so the path the test approved is the path that is used.
    return sandboxPathOrNilForStandardizedPath(standardizePath(joinPathComponents(*root, rest)))
        .value_or(String());
}

String QNFileSystemObject::relativePathForAbsoluteFilePath(StringView path) {
    String text = internal::pathOfFileURL(path).value_or(String(path));
    const String& blob = blobRoot();
    if (text.size() > blob.size() && text.starts_with(blob) && text[blob.size()] == u'/')
        return u"qnblobdata://" + text.substr(blob.size() + 1);
    const String& uploads = uploadsRoot();
    if (text.size() > uploads.size() && text.starts_with(uploads) && text[uploads.size()] == u'/')
        return u"$UPLOADS/" + text.substr(uploads.size() + 1);
    return {};
}

bool QNFileSystemObject::filePathIsRelativeToBlobDataPath(StringView path) {
    return path.starts_with(u"qnblobdata://") || path.starts_with(u"$BLOB_DATA/");
}

bool QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(StringView path) {
    String resolved = absoluteFilePathForRelativePath(path);
    if (resolved.empty()) return false;
    return pathIsWithinRoot(standardizePath(resolved), uploadsRoot());
}

// ---------------------------------------------------------------------------
// The object

QNFileSystemObject::~QNFileSystemObject() = default;

String QNFileSystemObject::absoluteFilePath() const {
    if (source_.starts_with(u"file")) {
        if (auto path = internal::pathOfFileURL(source_)) return *path;
    }
    return absoluteFilePathForRelativePath(source_);
}

bool QNFileSystemObject::checkFileAndSetErrorCodeAndDescription(bool checkIsInSandbox) {
    if (source_.empty()) {
        errCode_ = 1;
        errDescription_ = u"Invalid file";
        return false;
    }
    if (internal::namesResource(source_)) {
        // A resource is read wherever it lies; the sandbox check guards the
        // changes, and a resource is never changed.
        if (checkIsInSandbox) {
            errCode_ = 100;
            errDescription_ = u"Security error";
            return false;
        }
    } else {
        auto path = standardizePathCheckIsInSandbox(absoluteFilePath(), checkIsInSandbox);
        if (!path || path->empty() || (checkIsInSandbox && !linksStayInSandbox(*path))) {
            errCode_ = 100;
            errDescription_ = u"Security error";
            return false;
        }
    }
    errCode_ = 0;
    errDescription_.clear();
    return true;
}

bool QNFileSystemObject::exists() {
    if (!checkFileAndSetError()) return false;
    fs::path path = toSystemPath(absoluteFilePath());
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

String QNFileSystemObject::getName() {
    if (!checkFileAndSetError()) return {};
    return internal::lastPathComponent(absoluteFilePath());
}

String QNFileSystemObject::getAbsoluteName() {
    if (!checkFileAndSetError()) return {};
    return absoluteFilePath();
}

void QNFileSystemObject::renameTo(StringView destination) {
    if (!checkSandboxFileAndSetError()) return;
    String from = absoluteFilePath();
    if (from.empty()) {
        errCode_ = 2;
        errDescription_ = u"Source file does not exist";
        return;
    }
    if (!internal::allowsChangeTo(*this, destination)) return;
    String to = absoluteFilePathForRelativePath(destination);
    if (to.empty()) {
        errCode_ = 3;
        errDescription_ = u"Destination file already exists";
        return;
    }
    if (!linksStayInSandbox(standardizePath(to))) {
        errCode_ = 100;
        errDescription_ = u"Security error";
        return;
    }
    if (std::error_code ec = moveItem(toSystemPath(standardizePath(from)), toSystemPath(to))) {
        errCode_ = -1;
        errDescription_ = internal::errorCodeText(ec);
    }
}

Value QNFileSystemObject::valueForPropertyWithName(StringView) const {
    return Value::null();
}

void QNFileSystemObject::setValueForPropertyName(const Value& value, StringView name) {
    if (internal::equalsIgnoringASCIICase(name, u"source") && value.isString())
        source_ = value.asString();
}

String QNFileSystemObject::debugDescription() const {
    return u"<" + Object::description() + u"\n\tsource: " + source_ + u">";
}

// ---------------------------------------------------------------------------
// The blob URL converter and the temporary-path generators

std::optional<String> QNFileSystemObject_EntityHelperNSURLConverter::convertQNSchemeAbsoluteURL(
    StringView url) const {
    static constexpr StringView kScheme = u"qnblobdata:";
    if (url.size() < kScheme.size() ||
        !internal::equalsIgnoringASCIICase(url.substr(0, kScheme.size()), kScheme))
        return std::nullopt;
    if (url.find(u'\0') != StringView::npos) return std::nullopt;
    const String& root = blobRoot();
    String path = standardizePath(joinPathComponents(root, url.substr(kScheme.size())));
    // "qnblobdata://../x" names nothing in the blob folder.
    if (!pathIsWithinRoot(path, root)) return std::nullopt;
    return internal::fileURLForPath(path);
}

String QNUtilities::createUniqueQNDataTemporaryFilePath() {
    return joinPathComponents(tempRoot(), QNUUID::createUUID().uuidString());
}

String QNUtilities::createUniqueQNDataTemporaryDirectoryPath() {
    return createUniqueQNDataTemporaryFilePath() + u"/";
}

}  // namespace qn
