// QNDirectory and the typed collections its listings come back in.
#include <qn/files/file.h>
#include <qn/host/utilities.h>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "core/characters.h"
#include "files/files_internal.h"

namespace qn {

namespace fs = std::filesystem;

QN_REGISTER_CLASS(QNDirectory, QNFileSystemObject)
QN_REGISTER_CLASS(QNFileCollection, QNObjectCollection)
QN_REGISTER_CLASS(QNDirectoryCollection, QNObjectCollection)

namespace {

bool equalsFoldingCase(StringView a, StringView b) {
    UErrorCode status = U_ZERO_ERROR;
    return u_strCaseCompare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                            static_cast<int32_t>(b.size()), U_FOLD_CASE_DEFAULT, &status) == 0 &&
           U_SUCCESS(status);
}

String systemPathText(const QNFileSystemObject& object) {
    return internal::standardizePath(object.absoluteFilePath());
}

}  // namespace

void QNDirectory::create() {
    if (!checkSandboxFileAndSetError()) return;
    fs::path path = internal::toSystemPath(systemPathText(*this));
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        setErrCode(3);
        setErrDescription(u"Directory already exists");
        return;
    }
    ec.clear();
    fs::create_directories(path, ec);
    if (ec) {
        setErrCode(-1);
        setErrDescription(internal::errorCodeText(ec));
    }
}

void QNDirectory::deleteDirectory() {
    if (!checkSandboxFileAndSetError()) return;
    fs::path path = internal::toSystemPath(systemPathText(*this));
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        setErrCode(2);
        setErrDescription(u"Directory does not exists");
        return;
    }
    // A link to a folder is removed as a link; its target stays.
    ec.clear();
    fs::remove_all(path, ec);
    if (ec) {
        setErrCode(-1);
        setErrDescription(internal::errorCodeText(ec));
    }
}

Ref<QNFileCollection> QNDirectory::getFiles() {
    return getFiles(std::nullopt);
}

Ref<QNFileCollection> QNDirectory::getFiles(std::optional<StringView> filter) {
    std::optional<String> kept;
    if (filter) kept = QNUtilities::nonEmptyStringFromObject(Value(*filter));
    auto listing =
        getContentsWithExtension(false, kept ? std::optional<StringView>(*kept) : std::nullopt);
    return makeRef<QNFileCollection>(listing->items());
}

Ref<QNDirectoryCollection> QNDirectory::getDirectories() {
    return makeRef<QNDirectoryCollection>(getContentsWithExtension(true, std::nullopt)->items());
}

Ref<QNObjectCollection> QNDirectory::getContentsWithExtension(bool directories,
                                                              std::optional<StringView> filter) {
    auto result = makeRef<QNObjectCollection>();
    if (!checkFileAndSetError()) return result;
    const String folder = absoluteFilePath();
    std::error_code ec;
    fs::directory_iterator it(internal::toSystemPath(internal::standardizePath(folder)), ec);
    if (ec) {
        setErrCode(-1);
        setErrDescription(internal::errorCodeText(ec));
        return result;
    }
    String extension, lowerFilter;
    if (filter) {
        extension = standarizePathExtension(*filter);
        lowerFilter = internal::lowercased(*filter);
    }
    std::vector<Value> items;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        String name = internal::fromSystemPath(it->path().filename());
        if (name == u".DS_Store") continue;
        if (filter && !equalsFoldingCase(internal::pathExtension(name), extension) &&
            !internal::lowercased(name).ends_with(lowerFilter))
            continue;
        // Links are followed: a link to a folder lists as a folder; a broken
        // link is nothing.
        std::error_code statusError;
        fs::file_status status = fs::status(it->path(), statusError);
        if (statusError || !fs::exists(status) || fs::is_directory(status) != directories) continue;
        String source = internal::joinPathComponents(folder, name);
        if (directories) {
            items.emplace_back(makeRef<QNDirectory>(std::move(source)));
        } else {
            items.emplace_back(makeRef<QNFile>(std::move(source)));
        }
    }
    if (ec) {
        setErrCode(-1);
        setErrDescription(internal::errorCodeText(ec));
        return result;
    }
    result->setItems(std::move(items));
    return result;
}

String QNDirectory::standarizePathExtension(StringView filter) {
    if (filter.starts_with(u"*.")) return String(filter.substr(2));
    if (filter.starts_with(u".")) return String(filter.substr(1));
    return String(filter);
}

String QNDirectory::applicationdatapath() {
    return appDataPath();
}

String QNDirectory::temporaryfilespath() {
    return tempPath();
}

String QNDirectory::cachefilespath() {
    return cachePath();
}

// ---------------------------------------------------------------------------
// Collections

Value QNFileCollection::createItemInstance() const {
    return Value(makeRef<QNFile>());
}

Ref<QNFile> QNFileCollection::item(std::int64_t position) const {
    return objectAtIndex(position).as<QNFile>();
}

Value QNDirectoryCollection::createItemInstance() const {
    return Value(makeRef<QNDirectory>());
}

Ref<QNDirectory> QNDirectoryCollection::item(std::int64_t position) const {
    return objectAtIndex(position).as<QNDirectory>();
}

}  // namespace qn
