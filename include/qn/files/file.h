// Files and directories named by logical paths (<qn/files/file_system_object.h>).
//
// A file can be read line by line or whole, written or appended line by line
// or whole, created, copied, renamed, deleted and asked for its size, date and
// location; a directory can be created, deleted and listed. Every failure is
// reported on the object (errCode, errDescription) and answered with an empty
// result; nothing throws.
//
// Every write goes to the end of the file, whatever the open mode. Texts are
// encoded and decoded with the charset given to the operation (ICU
// converters; an unknown or empty name means UTF-8).
//
// Thread-compatible: one thread at a time per object.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/datetime.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/files/file_system_object.h>
#include <qn/host/sdt_data.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

class QN_API QNFile : public QNFileSystemObject, public QNTextFileSource {
    QN_OBJECT(QNFile)
public:
    QNFile();
    explicit QNFile(String source);
    ~QNFile() override;

    const String& separator() const noexcept { return separator_; }

    // Opening: for reading and writing, for reading, for writing. open and
    // openwrite create a missing file; open and openread load every line
    // for readline. -1 "The file is already open" on an open file; open
    // and openwrite refuse a resource (100), openread reads it.
    void open(StringView charset);
    void openWithDefaultEncoding() { open(u"utf-8"); }
    void openread(StringView charset);
    void openReadWithDefaultEncoding() { openread(u"utf-8"); }
    void openwrite(StringView charset);
    void openWriteWithDefaultEncoding() { openwrite(u"utf-8"); }
    void close();
    bool isOpen() const noexcept;

    // The next loaded line; "" at the end. -1 "The file should be opened
    // first" when the file is not open.
    String readline();
    bool eof() const noexcept;

    // The whole file decoded; "" (with -1 and the system's text) on failure.
    // Needs no open.
    String readalltext(std::optional<StringView> charset);
    String readAllTextWithDefaultEncoding() { return readalltext(StringView(u"utf-8")); }
    // The whole file as UTF-8 for records and collections to load; absent,
    // with the error pair's text in `failure`, when it cannot be read.
    std::optional<String> readAllTextForLoading(String* failure) override;
    // readalltext split at LF, CR, VT, FF, U+0085, U+2028 and U+2029 (CR LF
    // gives an empty line between); a final break adds no line.
    Ref<QNStringCollection> readalllines(std::optional<StringView> charset);
    Ref<QNStringCollection> readalllines() { return readalllines(StringView()); }

    // Appends the encoded text at the end of the open file; a text the
    // charset cannot hold is not written (and not reported).
    void writeText(StringView text);
    void writeline(StringView text);

    void appendalltextEncoding(StringView text, StringView charset);
    void appendalllinesEncoding(const QNObjectCollection& lines, StringView charset);
    // deleteFile, create, then the append above.
    void writealltextEncoding(StringView text, StringView charset);
    void writealllinesEncoding(const QNObjectCollection& lines, StringView charset);
    void appendAllTextWithDefaultEncoding(StringView text) {
        appendalltextEncoding(text, u"utf-8");
    }
    void appendAllLinesWithDefaultEncoding(const QNObjectCollection& lines) {
        appendalllinesEncoding(lines, u"utf-8");
    }
    void writeAllTextWithDefaultEncoding(StringView text) { writealltextEncoding(text, u"utf-8"); }
    void writeAllLinesWithDefaultEncoding(const QNObjectCollection& lines) {
        writealllinesEncoding(lines, u"utf-8");
    }

    // An empty file at the path (an existing one is emptied); reports
    // nothing but a refused resource (100).
    void create();
    // Removes the item at the path (after the sandbox check); a missing file
    // is a failure (-1).
    void deleteFile();
    // Copies to a logical path; copying onto an existing file fails (-1).
    void copyToPath(StringView destination);
    // Size in bytes; 0 on failure.
    std::int64_t getLength();
    Value internal_getLength() override { return Value(getLength()); }
    // The modification time; the empty date on failure.
    DateTime getLastModified();
    // The absolute path up to its last "/".
    String getPath();
    String getURI() { return getAbsoluteName(); }
    // Writes the decoded bytes of strict Base64 text as the whole file
    // (replacing it atomically); false when the text is not Base64 or the
    // file cannot be written. The error pair is not touched, except for a
    // refused resource (100).
    bool frombase64string(StringView text);

    // The last path component, and its extension without the dot.
    static String qnFileName(StringView path);
    static String qnFileExt(StringView path);

    // The error setters the operations use: -1 with a text as given or
    // translated, a code with a text as given or translated.
    void setUnknownErrorWithLocalizedDescription(StringView text);
    void setUnknownErrorWithDescription(StringView text);
    void setErrorWithCodeLocalizedDescription(std::int64_t code, StringView text);
    void setErrorWithCodeDescription(std::int64_t code, StringView text);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    String separator_ = u"/";
};

class QNFileCollection;
class QNDirectoryCollection;

class QN_API QNDirectory : public QNFileSystemObject {
    QN_OBJECT(QNDirectory)
public:
    QNDirectory() = default;
    explicit QNDirectory(String source) : QNFileSystemObject(std::move(source)) {}

    // Creates the folder with its parents (after the sandbox check); 3
    // "Directory already exists" when it is there.
    void create();
    // Removes the folder and everything in it; 2 "Directory does not exists"
    // when no folder is at the path.
    void deleteDirectory();
    // The files (not folders, never ".DS_Store") whose extension equals the
    // filter ("*.txt", ".txt", "txt"; any case) or whose name ends with it.
    Ref<QNFileCollection> getFiles();
    Ref<QNFileCollection> getFiles(std::optional<StringView> filter);
    Ref<QNDirectoryCollection> getDirectories();
    // The listing the three above wrap: QNDirectory items when `directories`,
    // else QNFile items, in the system's order.
    Ref<QNObjectCollection> getContentsWithExtension(bool directories,
                                                     std::optional<StringView> filter);
    // The filter without a leading "*." or, failing that, ".".
    static String standarizePathExtension(StringView filter);

    static String applicationdatapath();
    static String externalfilespath() { return applicationdatapath(); }
    static String temporaryfilespath();
    static String cachefilespath();
};

class QN_API QNFileCollection : public QNObjectCollection {
    QN_OBJECT(QNFileCollection)
public:
    QNFileCollection() = default;
    explicit QNFileCollection(std::optional<String> itemsTypeName)
        : QNObjectCollection(std::move(itemsTypeName)) {}
    explicit QNFileCollection(const std::vector<Value>& array) : QNObjectCollection(array) {}
    // A new QNFile.
    Value createItemInstance() const override;
    // The file at a 1-based position (null when the item is not a file).
    Ref<QNFile> item(std::int64_t position) const;
};

class QN_API QNDirectoryCollection : public QNObjectCollection {
    QN_OBJECT(QNDirectoryCollection)
public:
    QNDirectoryCollection() = default;
    explicit QNDirectoryCollection(std::optional<String> itemsTypeName)
        : QNObjectCollection(std::move(itemsTypeName)) {}
    explicit QNDirectoryCollection(const std::vector<Value>& array) : QNObjectCollection(array) {}
    // A new QNDirectory.
    Value createItemInstance() const override;
    Ref<QNDirectory> item(std::int64_t position) const;
};

}  // namespace qn
