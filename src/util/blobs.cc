// Blob values of generated code and where they are read from.
//
// A blob value is a text naming content: a blob path ("qnblobdata://..."),
// a logical or absolute path, a file URL or an http(s) URL. Turning one into
// bytes (blobToBase64) reads only what the application owns or asked for:
// the sandbox roots, the bundle, and the network. A value that names any
// other file ("/etc/passwd", a path climbing out with "..") reads as
// nothing, since such texts can arrive from a server or a user.
//
// Files this code writes (decoded Base64, downloads) are written whole to a
// temporary file beside the target and renamed over it, so a reader never
// sees half a blob.
#include <qn/files/file.h>
#include <qn/files/file_system_object.h>
#include <qn/host/bundle.h>
#include <qn/host/data_layer.h>
#include <qn/host/environment.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/net/url_session.h>
#include <qn/util/qnutil.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "core/ascii.h"
#include "core/base64.h"
#include "host/internal.h"
#include "host/paths.h"
#include "host/url.h"

namespace qn {

namespace fs = std::filesystem;

namespace {

constexpr StringView kBlobScheme = u"qnblobdata://";
constexpr StringView kBlobDataPrefix = u"$BLOB_DATA/";

bool isHttpScheme(const std::optional<String>& scheme) {
    return scheme && (*scheme == u"http" || *scheme == u"https");
}

// Whether an absolute path lies in a sandbox root or in the bundle (checked
// on its standardized text, as every file operation checks paths).
bool isReadableLocation(const String& standardized) {
    if (standardized.empty() || standardized.find(u'\0') != String::npos) return false;
    if (QNFileSystemObject::sandboxPathOrNilForStandardizedPath(standardized)) return true;
    std::error_code ec;
    const fs::path bundle = fs::absolute(QNBundle::mainBundle()->bundlePath(), ec);
    if (ec) return false;
    // A bundle at the file system's root would open every file.
    const String root = internal::standardizePath(internal::fromSystemPath(bundle));
    return root != u"/" && internal::pathIsWithinRoot(standardized, root);
}

// The bytes of a regular file, within the blob bound; absent otherwise (a
// folder or a device reads as nothing rather than blocking or failing late).
std::optional<std::string> readBlobFile(const String& path) {
    const fs::path system = internal::toSystemPath(path);
    std::error_code ec;
    if (system.empty() || !fs::is_regular_file(system, ec)) return std::nullopt;
    return internal::readFile(system, QNDataLayerServices::maximumBlobLength());
}

// The absolute path a blob value names when it may be read; absent for a
// value that names nothing readable.
std::optional<String> readablePathOf(StringView value) {
    String absolute;
    if (QNFileSystemObject::filePathIsRelativeToBlobDataPath(value)) {
        // Resolution already refuses a path that leaves the blob root.
        absolute = QNFileSystemObject::absoluteFilePathForRelativePath(value);
    } else if (auto path = internal::pathOfFileURL(value)) {
        absolute = std::move(*path);
    } else {
        // A logical, relative or absolute path; a bundle resource resolves to
        // a path in the bundle.
        absolute = QNFileSystemObject::absoluteFilePathForRelativePath(value);
        if (!absolute.empty() && absolute.front() != u'/') {
            std::error_code ec;
            const fs::path full = fs::absolute(internal::toSystemPath(absolute), ec);
            absolute = ec ? String() : internal::fromSystemPath(full);
        }
    }
    if (absolute.empty() || absolute.front() != u'/') return std::nullopt;
    String standardized = internal::standardizePath(absolute);
    if (!isReadableLocation(standardized)) return std::nullopt;
    return standardized;
}

// The path extension a new blob file keeps: that of the last component of
// the URL or path (cut before its first "?", and a URL also before its
// fragment), when it is letters, digits, "-" and "_" only. Anything else is
// dropped, so no URL can put a separator or ".." into the blob's name.
String blobExtensionOf(StringView urlOrPath) {
    StringView text = urlOrPath.substr(0, urlOrPath.find(u'?'));
    if (internal::lowercasedSchemeOf(text)) text = text.substr(0, text.find(u'#'));
    const std::size_t slash = text.find_last_of(u"/\\");
    const StringView last = slash == StringView::npos ? text : text.substr(slash + 1);
    const std::size_t dot = last.rfind(u'.');
    if (dot == StringView::npos || dot == 0 || dot + 1 == last.size()) return {};
    const StringView extension = last.substr(dot + 1);
    for (const char16_t c : extension) {
        if (!internal::isAsciiAlpha(c) && !internal::isAsciiDigit(c) && c != u'-' && c != u'_')
            return {};
    }
    return String(extension);
}

// Characters a URL query may hold unescaped: the unreserved ones, the
// sub-delimiters, ":", "@", "/" and "?".
bool isURLQueryByte(unsigned char c) {
    return internal::isUnreservedURLByte(c) || (c != '\0' && std::strchr("!$&'()*+,;=:@/?", c));
}

// The file of the blob root a download writes to; absent when the relative
// path is absolute, would leave the root (lexically, or through a link in
// its folders) or names the root itself.
std::optional<fs::path> downloadTarget(StringView relativePath) {
    if (relativePath.find(u'\0') != StringView::npos) return std::nullopt;
    String rest(relativePath);
    if (relativePath.starts_with(kBlobScheme))
        rest = relativePath.substr(kBlobScheme.size());
    else if (relativePath.starts_with(kBlobDataPrefix))
        rest = relativePath.substr(kBlobDataPrefix.size());
    for (char16_t& c : rest)
        if (c == u'\\') c = u'/';
    if (rest.empty() || rest.front() == u'/') return std::nullopt;
    const String root = QNFileSystemObject::blobDataPath();
    const String target = internal::standardizePath(internal::joinPathComponents(root, rest));
    if (target == root || !internal::pathIsWithinRoot(target, root)) return std::nullopt;
    const fs::path system = internal::toSystemPath(target);
    std::error_code ec;
    const fs::path realRoot = fs::weakly_canonical(internal::toSystemPath(root), ec);
    if (ec) return std::nullopt;
    const fs::path realFolder = fs::weakly_canonical(system.parent_path(), ec);
    if (ec || !internal::pathIsWithinRoot(internal::fromSystemPath(realFolder),
                                          internal::fromSystemPath(realRoot)))
        return std::nullopt;
    return system;
}

// The library's blob download service: fetches an http(s) URL synchronously
// through the shared session (within the blob bound and a 2xx answer) and
// writes the bytes atomically into the blob root. Stateless, so thread-safe.
class DefaultBlobDownloadService final : public QNBlobDownloadService {
public:
    bool downloadBlobDataFromURLStringToRelativePath(StringView url,
                                                     StringView relativePath) override {
        // Only the network: a file URL here would copy any local file into
        // the blob folder.
        if (!isHttpScheme(internal::lowercasedSchemeOf(url))) return false;
        const auto target = downloadTarget(relativePath);
        if (!target) {
            internal::logError(QNLogTypeSynchronization,
                               "blob download refused: " + toUtf8(relativePath) +
                                   " is not a path in the blob folder");
            return false;
        }
        auto bytes = dataWithContentsOfURL(url, QNDataLayerServices::maximumBlobLength());
        if (!bytes) return false;
        std::string error;
        const std::string_view contents(reinterpret_cast<const char*>(bytes->data()),
                                        bytes->size());
        if (!internal::writeFileAtomically(*target, contents, &error)) {
            internal::logError(QNLogTypeSynchronization, "blob download not saved: " + error);
            return false;
        }
        return true;
    }
};

[[maybe_unused]] const bool blobDownloadServiceObserverAdded = [] {
    QNExecutionEnvironmentHelper::addCoreInitializationOnceObserver([] {
        QNDataLayerServices::setDefaultSynchronizationBlobDownloadService(
            std::make_shared<DefaultBlobDownloadService>());
    });
    return true;
}();

}  // namespace

String QNutil::blobFromBase64(StringView base64) {
    String path = QNUtilities::createUniqueQNDataTemporaryFilePath();
    if (auto bytes = internal::base64DecodeStrict(base64)) {
        std::string error;
        if (!internal::writeFileAtomically(internal::toSystemPath(path), *bytes, &error))
            internal::logError(QNLogTypeFiles, "blob not saved: " + error);
    }
    return path;
}

String QNutil::blobToBase64(StringView pathOrURL) {
    if (pathOrURL.empty()) return {};
    std::optional<std::string> bytes;
    const auto scheme = internal::lowercasedSchemeOf(pathOrURL);
    if (isHttpScheme(scheme)) {
        if (auto data = dataWithContentsOfURL(pathOrURL, QNDataLayerServices::maximumBlobLength()))
            bytes.emplace(data->begin(), data->end());
    } else if (!scheme || *scheme == u"file" ||
               QNFileSystemObject::filePathIsRelativeToBlobDataPath(pathOrURL)) {
        if (auto path = readablePathOf(pathOrURL)) bytes = readBlobFile(*path);
    }
    if (!bytes) return {};
    return internal::base64String(bytes->data(), bytes->size());
}

String QNutil::blobToURLString(StringView text) {
    if (text.starts_with(u"http://") || text.starts_with(u"https://")) return String(text);
    QNFile file{String(text)};
    if (!file.exists()) return String(text);
    String path = file.getAbsoluteName();
    if (path.empty()) return String(text);
    if (path.front() != u'/') {
        // A bundle resource of a bundle named by a relative folder.
        std::error_code ec;
        const fs::path full = fs::absolute(internal::toSystemPath(path), ec);
        if (ec) return String(text);
        path = internal::fromSystemPath(full);
    }
    return internal::fileURLForPath(path);
}

String QNutil::getRelativeBlobFile(StringView text) {
    return String(text);
}

String QNutil::newBlobRelativeFilePathForURLString(StringView urlOrPath) {
    String path = String(kBlobScheme) + QNUUID::createUUID().uuidString();
    const String extension = blobExtensionOf(urlOrPath);
    if (!extension.empty()) path += u"." + extension;
    return path;
}

String QNutil::localPathOrURLString(StringView from, std::optional<StringView> attribute) {
    if (from.empty()) return {};
    if (attribute) {
        const auto info = QNAttributeInfo::attribute(*attribute);
        if (info && info->downloadContentOffline()) {
            String relative = newBlobRelativeFilePathForURLString(from);
            if (QNFileSystemObject::filePathIsRelativeToBlobDataPath(from)) {
                QNFile source{String(from)};
                source.copyToPath(relative);
            } else {
                // The default service is installed once the core is up.
                QNExecutionEnvironmentHelper::initializeCore();
                if (auto service = QNDataLayerServices::synchronizationBlobDownloadService())
                    service->downloadBlobDataFromURLStringToRelativePath(from, relative);
            }
            return relative;
        }
    }
    const auto scheme = internal::lowercasedSchemeOf(from);
    if (scheme && scheme->starts_with(u"http")) {
        if (auto url = QNUtilities::urlFromMaybeEscapedURLString(from)) return *url;
    }
    if (from.starts_with(u"PublicTempStorage")) {
        const String escaped = internal::percentEncoded(from, isURLQueryByte);
        const auto model = QNApplicationModel::currentModel();
        const auto base = internal::URL::parse(model->serverBaseUrl());
        const auto reference = internal::URL::parse(escaped);
        if (base && base->scheme && reference) return base->resolve(*reference).text();
        return escaped;
    }
    if (auto url = internal::URL::parse(from)) return url->text();
    return String(from);
}

String QNutil::localPathOrURLString(StringView from, StringView qni,
                                    std::optional<StringView> attribute) {
    if (!from.empty() && !QNFileSystemObject::filePathIsRelativeToBlobDataPath(qni))
        return localPathOrURLString(from, attribute);
    return String(qni);
}

String QNutil::getImagePath(StringView name, StringView /*language*/, StringView /*themeName*/) {
    std::optional<String> url;
    if (name.size() == 36) url = QNResources::urlForImageGuid(name);
    if (!url) url = QNResources::urlForImageName(name);
    return url.value_or(String());
}

}  // namespace qn
