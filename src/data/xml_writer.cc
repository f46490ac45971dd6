// QNXMLWriter over libxml2's xmlTextWriter.
//
// Generated code writes whole documents through this class, one call per
// construct, often in tight loops, so a write call stays close to the bare
// text-writer call: its arguments are converted into reusable UTF-8 buffers
// (no allocation once they have grown to the largest argument), the open
// check and the per-thread libxml2 set-up are a load each, and one
// text-writer call follows.
//
// Every empty argument is handed to libxml2 as no string.
// Where libxml2 refuses that only after it has opened a construct (an
// attribute, a comment, a namespaced element) it leaves the construct open
// and whatever is written next lands inside it; those calls write the empty
// construct instead. Text XML cannot carry as given is refused (error 4)
// before anything is written, and CDATA holding "]]>" is split.
#include <qn/core/registry.h>
#include <qn/data/xml_writer.h>
#include <qn/files/file_system_object.h>
#include <qn/host/utilities.h>

#include <libxml/xmlIO.h>
#include <libxml/xmlwriter.h>
#include <unicode/ucnv.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/utf8.h"
#include "data/xml_internal.h"

namespace qn {

QN_REGISTER_CLASS(QNXMLWriter, Object)

namespace {

constexpr std::int64_t kOpenFileError = 1;
constexpr std::int64_t kCreateError = 2;
constexpr std::int64_t kNotOpenError = 3;
constexpr std::int64_t kOperationError = 4;

const String& notOpenText() {
    static const String text = u"XMLWriter is not open";
    return text;
}
const String& createText() {
    static const String text = u"Could not create XMLWriter object";
    return text;
}
const String& operationText() {
    static const String text = u"Could not complete operation";
    return text;
}

// xml::prepareThread has run on this thread. Its own flag is a
// general-dynamic thread-local (a __tls_get_addr call); this initial-exec one
// is a plain load, which matters in a write call.
__attribute__((tls_model("initial-exec"))) thread_local bool preparedHere = false;

const xmlChar* X(const char* s) noexcept {
    return reinterpret_cast<const xmlChar*>(s);
}

// One argument's UTF-8 bytes, NUL-terminated, in storage that is reused
// from call to call (it only grows). A lone surrogate becomes U+FFFD, as
// qn::toUtf8 does.
class Utf8Buffer {
public:
    // Converts `text`; false when it contains U+0000, where libxml2 (which
    // takes NUL-terminated strings) would silently cut it short.
    bool set(StringView text) {
        reserve(3 * text.size() + 1);  // a unit gives at most 3 bytes, a pair 4 for 2
        const char16_t* const end = text.data() + text.size();
        char* const start = data_.get();
        const internal::Utf16Prefix done =
            internal::encodeUtf8<internal::LoneSurrogate::kReplace, internal::Nul::kStop>(
                text.data(), end, start);
        *done.out = 0;
        size_ = static_cast<std::size_t>(done.out - start);
        return done.stop == end;
    }
    // The library's rule: an empty text is no string at all.
    const xmlChar* arg() const noexcept { return size_ == 0 ? nullptr : text(); }
    // The text itself, the empty one included.
    const xmlChar* text() const noexcept { return data_ ? X(data_.get()) : X(""); }
    std::string_view view() const noexcept {
        return data_ ? std::string_view(data_.get(), size_) : std::string_view();
    }
    bool empty() const noexcept { return size_ == 0; }

private:
    void reserve(std::size_t bytes) {
        if (bytes <= capacity_) return;
        const std::size_t grown = std::max(bytes, std::max<std::size_t>(2 * capacity_, 64));
        data_ = std::make_unique_for_overwrite<char[]>(grown);
        capacity_ = grown;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The file target: a descriptor written through libxml2's output callbacks.
// (xmlNewTextWriterFilename would take the path as a URI and unescape it,
// so "a%41.xml" would be written as "aA.xml".)
int writeToFile(void* context, const char* data, int length) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(context));
    int done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, static_cast<std::size_t>(length - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<int>(n);
    }
    return length;
}

int closeFile(void* context) {
    return ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(context))) == 0 ? 0 : -1;
}

xmlTextWriterPtr newFileWriter(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    void* context = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(writeToFile, closeFile, context, nullptr);
    if (out == nullptr) {
        ::close(fd);
        return nullptr;
    }
    xmlTextWriterPtr writer = xmlNewTextWriter(out);  // owns `out` from here on
    if (writer == nullptr) xmlOutputBufferClose(out);
    return writer;
}

// The buffer's bytes as text: UTF-8, or the encoding the document declared
// (libxml2 then wrote the buffer in that encoding).
String decodeBuffer(const xmlBufferPtr buffer, const std::string& encoding) {
    const char* bytes = reinterpret_cast<const char*>(xmlBufferContent(buffer));
    const int length = xmlBufferLength(buffer);
    if (bytes == nullptr || length <= 0) return {};
    const std::string_view view(bytes, static_cast<std::size_t>(length));
    std::optional<StringEncoding> declared;
    if (!encoding.empty())
        declared = QNUtilities::stringEncodingFromCharsetString(fromUtf8(encoding));
    if (!declared || declared->isUTF8()) return fromUtf8(view);

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(
        ucnv_open(declared->name().c_str(), &status), &ucnv_close);
    if (U_FAILURE(status) || !converter) return fromUtf8(view);
    String out;
    char16_t chunk[2048];
    const char* source = view.data();
    const char* const limit = view.data() + view.size();
    for (;;) {
        UChar* target = chunk;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(converter.get(), &target, chunk + std::size(chunk), &source, limit, nullptr,
                       true, &status);
        out.append(chunk, static_cast<std::size_t>(target - chunk));
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
    }
    return out;
}

}  // namespace

struct QNXMLWriter::Impl {
    xmlTextWriterPtr writer = nullptr;
    xmlBufferPtr buffer = nullptr;
    Ref<QNHttpClient> httpClient;
    std::int64_t errCode = 0;
    String errDescription;
    std::int64_t indentation = 2;
    String indentChar = u" ";
    // The encoding of the last document started (the buffer's encoding).
    std::string encoding;
    Utf8Buffer a, b, c;

    ~Impl() {
        freeWriter();
        freeBuffer();
    }

    void freeWriter() noexcept {
        if (writer != nullptr) xmlFreeTextWriter(writer);
        writer = nullptr;
    }
    void freeBuffer() noexcept {
        if (buffer != nullptr) xmlBufferFree(buffer);
        buffer = nullptr;
        encoding.clear();
    }

    void fail(std::int64_t code, const String& text) {
        errCode = code;
        errDescription = text;
    }
    void failOperation() { fail(kOperationError, operationText()); }
    // A libxml2 result: negative is a failure (error 4).
    bool check(int result) {
        if (result >= 0) return true;
        failOperation();
        return false;
    }
    // The open writer, or null after recording error 3.
    xmlTextWriterPtr open() {
        if (writer == nullptr) {
            fail(kNotOpenError, notOpenText());
            return nullptr;
        }
        prepareThread();
        return writer;
    }
    static void prepareThread() {
        if (!preparedHere) {
            xml::prepareThread();
            preparedHere = true;
        }
    }
    // Converts the arguments; a U+0000 in one of them fails the call.
    bool convert(StringView x) {
        if (a.set(x)) return true;
        failOperation();
        return false;
    }
    bool convert(StringView x, StringView y) {
        if (a.set(x) && b.set(y)) return true;
        failOperation();
        return false;
    }
    bool convert(StringView x, StringView y, StringView z) {
        if (a.set(x) && b.set(y) && c.set(z)) return true;
        failOperation();
        return false;
    }

    void applyIndentation() {
        // Any non-zero value is "on"; libxml2 takes an int and refuses a
        // negative one, so the 64-bit setting is passed as 1 or 0.
        check(xmlTextWriterSetIndent(writer, indentation != 0 ? 1 : 0));
    }
    void applyIndentChar() {
        if (!a.set(indentChar)) {
            failOperation();
            return;
        }
        check(xmlTextWriterSetIndentString(writer, a.arg()));  // null: refused (-1)
    }
    void applySettings() {
        applyIndentation();
        applyIndentChar();
    }
};

QNXMLWriter::QNXMLWriter() : d_(std::make_unique<Impl>()) {}
QNXMLWriter::~QNXMLWriter() = default;

// --- Opening and closing ---------------------------------------------------

void QNXMLWriter::openURL(StringView path) {
    Impl& d = *d_;
    d.prepareThread();
    d.freeWriter();
    d.freeBuffer();  // a file writer has no text to answer
    const String absolute = QNFileSystemObject::absoluteFilePathForWriting(path);
    if (!absolute.empty()) d.writer = newFileWriter(toUtf8(absolute));
    if (d.writer == nullptr) {
        d.fail(kOpenFileError, u"Could not open file at URL " + String(path));
        return;
    }
    d.applySettings();
}

void QNXMLWriter::openToString() {
    Impl& d = *d_;
    d.prepareThread();
    d.freeWriter();  // it may write into the buffer as it goes
    d.freeBuffer();
    d.buffer = xmlBufferCreate();
    if (d.buffer != nullptr) d.writer = xmlNewTextWriterMemory(d.buffer, 0);
    if (d.writer == nullptr) {
        d.freeBuffer();
        d.fail(kCreateError, createText());
        return;
    }
    d.applySettings();
}

void QNXMLWriter::openRequest(const Ref<QNHttpClient>& client) {
    d_->httpClient = client;
    // The client keeps its delegate weakly, so only a writer owned by a Ref
    // can be one; for any other the client gets no delegate (and no body).
    if (client) {
        if (auto self = weak_from_this().lock())
            client->setHttpClientDelegate(std::static_pointer_cast<QNXMLWriter>(self));
    }
    openToString();
}

void QNXMLWriter::close() {
    Impl& d = *d_;
    if (d.writer == nullptr) return;
    d_->prepareThread();
    d.check(xmlTextWriterEndDocument(d.writer));
    d.check(xmlTextWriterFlush(d.writer));
    d.freeWriter();
}

String QNXMLWriter::resultingString() {
    Impl& d = *d_;
    if (d.buffer == nullptr) return {};
    if (d.writer != nullptr) {
        d_->prepareThread();
        d.check(xmlTextWriterFlush(d.writer));
    }
    return decodeBuffer(d.buffer, d.encoding);
}

std::optional<String> QNXMLWriter::stringBodyForHTTPClient(QNHttpClient& client) {
    if (&client != d_->httpClient.get()) return std::nullopt;
    return resultingString();
}

// --- Settings ----------------------------------------------------------------

std::int64_t QNXMLWriter::indentation() const noexcept {
    return d_->indentation;
}

void QNXMLWriter::setIndentation(std::int64_t indentation) {
    d_->indentation = indentation;
    if (d_->writer != nullptr) {
        d_->prepareThread();
        d_->applyIndentation();
    }
}

const String& QNXMLWriter::indentChar() const noexcept {
    return d_->indentChar;
}

void QNXMLWriter::setIndentChar(StringView indentChar) {
    d_->indentChar = String(indentChar);
    if (d_->writer != nullptr) {
        d_->prepareThread();
        d_->applyIndentChar();
    }
}

std::int64_t QNXMLWriter::errCode() const noexcept {
    return d_->errCode;
}

const String& QNXMLWriter::errDescription() const noexcept {
    return d_->errDescription;
}

// --- Writing -------------------------------------------------------------------

void QNXMLWriter::writeStartDocumentStandalone(StringView encoding, std::int64_t standalone) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(encoding)) return;
    const char* name = d.a.empty() ? "UTF-8" : reinterpret_cast<const char*>(d.a.text());
    if (d.check(xmlTextWriterStartDocument(w, "1.0", name, standalone != 0 ? "yes" : nullptr)))
        d.encoding = name;
}

void QNXMLWriter::writeStartElement(StringView name) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name)) return;
    d.check(xmlTextWriterStartElement(w, d.a.arg()));
}

void QNXMLWriter::writeEndElement() {
    Impl& d = *d_;
    if (xmlTextWriterPtr w = d.open()) d.check(xmlTextWriterEndElement(w));
}

void QNXMLWriter::writeElementValue(StringView name, StringView value) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, value)) return;
    // No content (an empty value) gives "<name/>".
    d.check(xmlTextWriterWriteElement(w, d.a.arg(), d.b.arg()));
}

void QNXMLWriter::writeAttributeValue(StringView name, StringView value) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, value)) return;
    // With no content libxml2 opens the attribute, fails, and leaves it open
    // (the next text would land inside it): an empty value is written as
    // the empty attribute value instead.
    if (!d.check(xmlTextWriterWriteAttribute(w, d.a.arg(), d.b.text())))
        xmlTextWriterEndAttribute(w);  // closes only an attribute left open
}

void QNXMLWriter::writeText(StringView text) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(text)) return;
    d.check(xmlTextWriterWriteString(w, d.a.arg()));  // no string: refused
}

void QNXMLWriter::writeRawText(StringView text) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(text)) return;
    d.check(xmlTextWriterWriteRaw(w, d.a.arg()));  // no string: refused
}

void QNXMLWriter::writeComment(StringView text) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(text)) return;
    // A comment may not contain "--" nor end with "-"; libxml2 would write
    // it anyway and make the document ill-formed.
    const std::string_view bytes = d.a.view();
    if (bytes.find("--") != std::string_view::npos || bytes.ends_with('-')) {
        d.failOperation();
        return;
    }
    // As for attributes, libxml2 would leave the comment open on no content:
    // an empty text gives the empty comment.
    if (!d.check(xmlTextWriterWriteComment(w, d.a.text())))
        xmlTextWriterEndComment(w);  // closes only a comment left open
}

void QNXMLWriter::writeCData(StringView text) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(text)) return;
    // A section ends at the first "]]>": a text holding one is written as
    // adjacent sections split inside it ("]]" | ">"), which read back as the
    // same text.
    std::string_view rest = d.a.view();
    std::size_t cut = rest.find("]]>");
    if (cut == std::string_view::npos) {
        if (!d.check(xmlTextWriterWriteCDATA(w, d.a.arg()))) xmlTextWriterEndCDATA(w);
        return;
    }
    std::string piece;
    while (cut != std::string_view::npos) {
        piece.assign(rest.substr(0, cut + 2));
        if (!d.check(xmlTextWriterWriteCDATA(w, X(piece.c_str())))) {
            xmlTextWriterEndCDATA(w);
            return;
        }
        rest.remove_prefix(cut + 2);
        cut = rest.find("]]>", 1);
    }
    piece.assign(rest);
    if (!d.check(xmlTextWriterWriteCDATA(w, X(piece.c_str())))) xmlTextWriterEndCDATA(w);
}

void QNXMLWriter::writeProcessingInstructionValue(StringView target, StringView value) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(target, value)) return;
    // "?>" would end the instruction early (libxml2 does not check).
    if (d.b.view().find("?>") != std::string_view::npos) {
        d.failOperation();
        return;
    }
    if (!d.check(xmlTextWriterWritePI(w, d.a.arg(), d.b.arg())))
        xmlTextWriterEndPI(w);  // closes only an instruction left open
}

void QNXMLWriter::writeDocTypeSubset(StringView name, StringView subset) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, subset)) return;
    // xmlTextWriterEndDTD closes only a type left open; it does nothing when
    // the failure came before anything was written.
    if (!d.check(xmlTextWriterWriteDTD(w, d.a.arg(), nullptr, nullptr, d.b.arg())))
        xmlTextWriterEndDTD(w);
}

void QNXMLWriter::writeDocTypeSystemUriSubset(StringView name, StringView uri, StringView subset) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, uri, subset)) return;
    if (!d.check(xmlTextWriterWriteDTD(w, d.a.arg(), nullptr, d.b.arg(), d.c.arg())))
        xmlTextWriterEndDTD(w);
}

void QNXMLWriter::writeDocTypePublicUriSubset(StringView name, StringView uri, StringView subset) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, uri, subset)) return;
    // XML has no public identifier without a system one: libxml2 refuses it,
    // but only after writing "<!DOCTYPE name" and leaving it open. Refused
    // here before anything is written.
    if (!d.b.empty()) {
        d.failOperation();
        return;
    }
    if (!d.check(xmlTextWriterWriteDTD(w, d.a.arg(), nullptr, nullptr, d.c.arg())))
        xmlTextWriterEndDTD(w);
}

void QNXMLWriter::writeNSStartElementPrefixNamespaceURI(StringView name, StringView prefix,
                                                        StringView namespaceURI) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, prefix, namespaceURI)) return;
    d.check(xmlTextWriterStartElementNS(w, d.b.arg(), d.a.arg(), d.c.arg()));
}

void QNXMLWriter::writeNSElementNamespaceURIValue(StringView name, StringView namespaceURI,
                                                  StringView value) {
    Impl& d = *d_;
    xmlTextWriterPtr w = d.open();
    if (w == nullptr || !d.convert(name, namespaceURI, value)) return;
    if (!d.c.empty()) {
        d.check(xmlTextWriterWriteElementNS(w, nullptr, d.a.arg(), d.b.arg(), d.c.arg()));
        return;
    }
    // libxml2 refuses no content only after starting the element, and leaves
    // it open (what follows would become its children). As writeElementValue
    // does, an empty value gives the element without content.
    if (d.check(xmlTextWriterStartElementNS(w, nullptr, d.a.arg(), d.b.arg())))
        d.check(xmlTextWriterEndElement(w));
}

}  // namespace qn
