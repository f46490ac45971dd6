// QNXMLWriter: the XML writer of generated code, a thin stateful layer over
// libxml2's text writer. It is opened onto a file (through the logical
// paths of the files subsystem), onto an in-memory string, or onto the body
// of an HTTP client's request, and then takes one write call per XML
// construct. Failures are never thrown: each is recorded in errCode and
// errDescription, which generated code reads after a run of calls; a
// successful call never clears them.
//
//   errCode  errDescription
//   1        "Could not open file at URL <path>"
//   2        "Could not create XMLWriter object"
//   3        "XMLWriter is not open"
//   4        "Could not complete operation"      (libxml2 reported a failure)
//
// Every empty string argument is handed to libxml2 as no string at all,
// except where libxml2 would then leave a construct half-written: an empty
// attribute value, comment or namespaced element value is written empty
// (as an empty element value is). Text that XML cannot carry as given is
// refused with error 4: a U+0000 anywhere, "--" in a comment (or a final
// "-"), "?>" in a processing instruction, and a public identifier without a
// system one; a "]]>" in CDATA text is split across adjacent sections.
//
// Thread-compatible: one writer is used by one thread at a time. It owns its
// libxml2 writer and buffer; it holds its HTTP client strongly (the client
// holds the writer only weakly, as its body delegate).
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/net/http_client.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

class QN_API QNXMLWriter : public Object, public QNHTTPClientDelegate {
    QN_OBJECT(QNXMLWriter)
public:
    QNXMLWriter();
    ~QNXMLWriter() override;
    QNXMLWriter(const QNXMLWriter&) = delete;
    QNXMLWriter& operator=(const QNXMLWriter&) = delete;

    // --- Opening and closing --------------------------------------------------

    // A file writer (no compression) on the path made absolute by the file
    // system objects' path prefixes, taken as a path (no URI unescaping);
    // replaces an open writer and drops any memory buffer.
    void openURL(StringView path);
    // A writer into a fresh memory buffer (the old buffer is dropped).
    void openToString();
    // openToString, and this writer becomes the client's body delegate. The
    // client keeps its delegate weakly, so the writer must be owned by a Ref:
    // a writer that is not gets no delegate role (the client sends no body
    // from it), without failing.
    void openRequest(const Ref<QNHttpClient>& client);
    // Ends the document (closing every open element), flushes and frees the
    // writer; the memory buffer stays readable.
    void close();
    // The text of the memory buffer (flushed first), read as UTF-8 or, when
    // the document declared another encoding (in which libxml2 then wrote
    // the buffer), in that one; the empty string for a file writer or one
    // never opened.
    String resultingString();
    // resultingString for the client this writer was opened on; absent for
    // any other client.
    std::optional<String> stringBodyForHTTPClient(QNHttpClient& client) override;

    // --- Settings ---------------------------------------------------------------

    // Any non-zero value turns indentation on; applied at once when open.
    std::int64_t indentation() const noexcept;
    void setIndentation(std::int64_t indentation);
    // One space at creation; the empty string is refused by libxml2 (error 4).
    const String& indentChar() const noexcept;
    void setIndentChar(StringView indentChar);

    std::int64_t errCode() const noexcept;
    const String& errDescription() const noexcept;

    // --- Writing ------------------------------------------------------------------

    // Version "1.0", the encoding ("UTF-8" when empty), standalone="yes" when
    // `standalone` is non-zero.
    void writeStartDocumentStandalone(StringView encoding, std::int64_t standalone);
    void writeStartElement(StringView name);
    void writeEndElement();
    // An element with escaped text content; an empty text gives no content.
    void writeElementValue(StringView name, StringView value);
    void writeAttributeValue(StringView name, StringView value);
    void writeText(StringView text);
    // The text as it is, not escaped.
    void writeRawText(StringView text);
    void writeComment(StringView text);
    void writeCData(StringView text);
    void writeProcessingInstructionValue(StringView target, StringView value);
    void writeDocTypeSubset(StringView name, StringView subset);
    void writeDocTypeSystemUriSubset(StringView name, StringView uri, StringView subset);
    void writeDocTypePublicUriSubset(StringView name, StringView uri, StringView subset);
    void writeNSStartElementPrefixNamespaceURI(StringView name, StringView prefix,
                                               StringView namespaceURI);
    void writeNSElementNamespaceURIValue(StringView name, StringView namespaceURI,
                                         StringView value);

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

}  // namespace qn
