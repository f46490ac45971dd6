// QNXMLReader: the forward-only XML reader of generated code, a stateful
// layer over libxml2's text reader. It is opened on a file (through the
// logical paths of the files subsystem), a string, an application resource
// or an HTTP response, and stepped node by node. Two things set it apart
// from the raw reader: node kinds are reported as bit-flag codes (so a
// search can take a mask of kinds), and with simpleElements on an element
// that holds only text is stepped over as one node, its text read with
// value() while positioned on it.
//
//   code  node kind                 code  node kind
//   1     element start             16    (significant) whitespace
//   2     end of element            32    CDATA
//   4     text                      64    processing instruction
//   8     comment                   128   document type
//   0     any other kind (matches no mask)
//
// Failures are never thrown: each sets errCode and errDescription (a later
// failure overwrites, a success never clears) and the operation returns its
// fallback value.
//
//   error  cause
//   1      a file or resource that cannot be read
//   2      a string that cannot be read (the empty one)
//   3      the reader is not open
//   4      closing, raw XML or skip failed
//   5      the current node is of a kind the operation does not take
//   6      no such attribute (or one too large to expand)
//   7      the input is not well-formed XML (kMalformedError): the text says
//          where ("XML parse error at line 3, column 5: ...") and why
//
// Once reading broke off (error 7, or 4 from skip) there is no current node:
// nodeType is 0 and names and values are empty, so a loop that steps over
// what it does not know ends.
//
// Input is untrusted: no external DTD or entity is ever loaded, nothing is
// fetched from the network, entity expansion is bounded, and nesting deeper
// than libxml2's limit ends reading with an error rather than a crash.
//
// Thread-compatible: one reader is used by one thread at a time. It owns
// its libxml2 reader and the bytes it reads from.
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <memory>

namespace qn {

class QNHttpClient;

class QN_API QNXMLReader : public Object {
    QN_OBJECT(QNXMLReader)
public:
    enum NodeType : std::int64_t {
        kElement = 1,
        kEndElement = 2,
        kText = 4,
        kComment = 8,
        kWhiteSpace = 16,
        kCData = 32,
        kProcessingInstruction = 64,
        kDocumentType = 128,
    };

    // Reading stopped on input that is not well-formed XML.
    static constexpr std::int64_t kMalformedError = 7;

    QNXMLReader();
    ~QNXMLReader() override;
    QNXMLReader(const QNXMLReader&) = delete;
    QNXMLReader& operator=(const QNXMLReader&) = delete;

    // --- Opening and closing (0 on success, else the error code) -------------

    // A logical path (absoluteFilePathForRelativePath); the file's encoding
    // is found from its content. A missing, empty or non-regular file: 1.
    std::int64_t open(StringView path);
    // Read as UTF-8 whatever the text's declaration says. The empty text: 2.
    std::int64_t openFromString(StringView text);
    std::int64_t openResponse(QNHttpClient& client);
    // The bundle's resource of that name, else the content of the host's
    // static resource URL for it; error 1 when neither can be read.
    void openResource(StringView name);
    std::int64_t close();

    // --- Reading ----------------------------------------------------------------

    // 1 when positioned on a node after the step, 0 at the end or on error
    // (malformed input ends reading with kMalformedError). From an element
    // start that is not self-closing, with simpleElements on, one text or
    // CDATA node and the end tag after it are stepped over.
    std::int64_t read();
    // Advances to the next node whose kind is in `mask` (element starts and
    // ends also need `name` to be empty or equal to their qualified name).
    std::int64_t readTypeName(std::int64_t mask, StringView name);
    std::int64_t nodeType();
    String name();
    String localName();
    String namespaceURI();
    // Element: the text and CDATA of its subtree; text, comment, processing
    // instruction: its content; document type: "". Trimmed of blanks when
    // removeWhiteSpaces.
    String value();
    std::int64_t attributeCount();
    // 1-based position. Namespace declarations count as attributes and come
    // first (libxml2's order). A value whose entity references would expand
    // past ten times the document's size (at least 1 MiB) is not read:
    // error 6, as for a missing attribute.
    String getAttributeByIndex(std::int64_t index);
    String getAttributeByName(StringView name);
    std::int64_t existsAttribute(StringView name);
    // The outer XML of the current element; the reader does not move.
    String readRawXML();
    // 1 on an element written self-closing (<name/>), which has no end tag
    // to step over; 0 otherwise.
    std::int64_t isEmptyElement();
    // Moves past the current element and its subtree; always 0.
    std::int64_t skip();
    // True once a step found no further node at the end of the input (not
    // merely once libxml2 has consumed its input, which happens early), once
    // malformed input stopped reading (errCode kMalformedError, or 4 from
    // skip), and when closed.
    bool eof();
    std::int64_t isSimple() const noexcept { return 0; }

    // --- Settings and state -----------------------------------------------------

    bool removeWhiteNodes() const noexcept;
    void setRemoveWhiteNodes(bool remove) noexcept;
    bool removeWhiteSpaces() const noexcept;
    void setRemoveWhiteSpaces(bool remove) noexcept;
    bool simpleElements() const noexcept;
    void setSimpleElements(bool simple) noexcept;
    std::int64_t errCode() const noexcept;
    const String& errDescription() const noexcept;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

}  // namespace qn
