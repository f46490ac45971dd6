// Files named the way generated code names them.
//
// Generated code never handles platform paths. It uses logical paths: a prefix
// such as "$APPDATA/" or "$TEMP/" and a relative path, a bare relative path,
// or a blob reference "qnblobdata://...". The library turns them into
// absolute paths inside a few application-owned folders (the sandbox roots):
//
//   "/..."            the path itself (checked against the roots only by
//                     the sandbox check)
//   "$RESOURCES/x"    the bundle's resource x; "" when there is none
//   "$APPDATA/x"      appDataPath/x           "$TEMP/x", "$EXTERNAL/x"  tempPath/x
//   "qnblobdata://x", "$BLOB_DATA/x"  blobDataPath/x
//   "$UPLOADS/x"      pendingUploadsPath/x    anything else  tempPath/<path>
//
// Prefixes match case-sensitively after every "\" became "/". A resolved path
// that leaves its root ("$TEMP/../../etc/x") resolves to "": an operation on
// it stops with 100 "Security error" before touching the disk. A root
// contains a path only when the path is the root itself or continues it with
// "/": a sibling folder whose name merely begins with the root's name is
// outside.
//
// The bundle's resources are read-only: an operation that would write,
// create, remove or move a "$RESOURCES/" target (the object's own path, or
// the destination of a copy or a rename) stops with 100 "Security error"
// before touching the disk. Reading them needs no permission.
//
// QNFileSystemObject is thread-compatible; the class operations are
// thread-safe (each root is computed once, on first use, from any thread).
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

// The common base of files and directories: a source path and the error pair
// every file operation reports on the object.
class QN_API QNFileSystemObject : public Object {
    QN_OBJECT(QNFileSystemObject)
public:
    QNFileSystemObject() = default;
    explicit QNFileSystemObject(String source) : source_(std::move(source)) {}
    ~QNFileSystemObject() override;

    const String& source() const noexcept { return source_; }
    void setSource(String source) { source_ = std::move(source); }
    std::int64_t errCode() const noexcept { return errCode_; }
    void setErrCode(std::int64_t code) noexcept { errCode_ = code; }
    const String& errDescription() const noexcept { return errDescription_; }
    void setErrDescription(String text) { errDescription_ = std::move(text); }

    // The path of a "file:" URL source, else the resolution of the source;
    // may be "".
    String absoluteFilePath() const;
    // After the plain check: whether anything is at the absolute path.
    bool exists();
    // After the plain check: the last component / the absolute path; "" when
    // the check fails.
    String getName();
    String getAbsoluteName();
    // Moves the file or directory (after the sandbox check). The source is
    // not changed: the object still names the old path.
    void renameTo(StringView destination);

    // The plain check: a non-empty source that resolves inside the roots
    // (absolute paths and file URLs pass). Sets the error pair: 0 "", 1
    // "Invalid file" or 100 "Security error".
    bool checkFileAndSetError() { return checkFileAndSetErrorCodeAndDescription(false); }
    // The same, with absolute paths held to the roots too; and the folder
    // that holds the item, resolved through symbolic links, must lie in a
    // root as well (this check guards removals, moves and folder creation,
    // so a "$RESOURCES/" source never passes it).
    bool checkSandboxFileAndSetError() { return checkFileAndSetErrorCodeAndDescription(true); }
    bool checkFileAndSetErrorCodeAndDescription(bool checkIsInSandbox);

    Value internal_exists() { return Value(exists()); }
    // 0 here; files give their length.
    virtual Value internal_getLength() { return Value(std::int64_t{0}); }
    // Always the null marker.
    Value valueForPropertyWithName(StringView name) const;
    // "source" (any case) with a string sets the source; anything else is
    // ignored.
    void setValueForPropertyName(const Value& value, StringView name);
    // "<description>\n\tsource: <source>".
    String debugDescription() const override;

    // --- Class operations ---------------------------------------------------

    // The prefix table above; "" for no path, a missing resource or a path
    // that leaves its root.
    static String absoluteFilePathForRelativePath(std::optional<StringView> path);
    // The same for a target about to be written: also "" for a "$RESOURCES/"
    // path, since the bundle's resources are read-only. Writers outside the
    // files classes (XML writer, HTTP client) resolve through this.
    static String absoluteFilePathForWriting(std::optional<StringView> path);
    // A path (or file URL) under the blob root as "qnblobdata://...", under
    // the uploads root as "$UPLOADS/..."; "" otherwise.
    static String relativePathForAbsoluteFilePath(StringView path);
    // Begins with "qnblobdata://" or "$BLOB_DATA/" (nothing is resolved).
    static bool filePathIsRelativeToBlobDataPath(StringView path);
    static bool filePathIsRelativeToPendingUploadsPath(StringView path);

    // The roots, standardized, created on first use: "QNData" under the
    // caches folder (appDataPath and cachePath) and under the temporary
    // folder (tempPath); "QNUploads" and "QNBlobData" under the caches folder,
    // excluded from backup.
    static String appDataPath();
    static String cachePath();
    static String tempPath();
    static String pendingUploadsPath();
    static String blobDataPath();

    // Creates the folder (with its parents) when nothing is at the path; a
    // failure is logged and reported to the fatal-error hook.
    static void createDirectoryIfNotExistsAtPath(StringView path);
    // The caches folder joined with `name`, created when missing, excluded
    // from backup when asked; standardized.
    static String createApplicationSupportDirectorySubpathExcludeFromBackup(StringView name,
                                                                            bool excludeFromBackup);
    static void createDirectoryWithSubpathSubpath(StringView fullPath, StringView name);
    // Tilde expanded, "//" and "." dropped, ".." resolved lexically, no
    // trailing "/"; links are not followed. With the check, absent outside
    // the roots.
    static std::optional<String> standardizePathCheckIsInSandbox(StringView path,
                                                                 bool checkIsInSandbox);
    // The path when it is a root or lies under one; absent otherwise.
    static std::optional<String> sandboxPathOrNilForStandardizedPath(StringView path);

    // Joins path components with one "/" (repeated "/" collapsed).
    static String joinPath(StringView base, StringView rest);

private:
    String source_;
    std::int64_t errCode_ = 0;
    String errDescription_;
};

// Turns "qnblobdata:" URLs into file URLs under the blob root. Registered with
// the host for the scheme "qnblobdata" once the host core is initialised.
class QN_API QNFileSystemObject_EntityHelperNSURLConverter {
public:
    // "file://" + blobDataPath joined with what follows "qnblobdata:",
    // standardized; absent for any other scheme.
    std::optional<String> convertQNSchemeAbsoluteURL(StringView url) const;
};

}  // namespace qn
