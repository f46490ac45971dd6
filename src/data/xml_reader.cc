// QNXMLReader over libxml2's xmlTextReader.
//
// The reader always reads from bytes it owns: a string's UTF-8 form, a
// file's content, a resource's content. libxml2's memory reader does not
// copy its buffer, so the bytes live in the Impl beside the reader and are
// released only after it. Files are read here rather than with
// xmlReaderForFile: that reader opens its input lazily on some paths, so a
// missing or unreadable file could look opened and only fail on the first
// read; reading the bytes first makes open() report error 1 at once.
//
// Hardening: the options never ask for entity substitution, external DTD
// loading, DTD default attributes, validation, XInclude or the "huge"
// limits, and they forbid the network; libxml2's default limits then bound
// entity amplification and nesting depth (256). libxml2's error reports go
// to a handler that keeps the one a failed step reports, never to standard
// error: failures reach the caller as the reader's results and error codes.
//
// Input that is not well-formed ends reading with error 7, whose text is
// libxml2's first fatal error and its position. libxml2 itself leaves its
// reader in an error state that is not its end-of-input state, and may even
// step on after the error; so after a failed step the reader takes no further
// step and reports the end (eof), or `while (!eof()) read();` would never end.
//
// Attribute values are read here, not with xmlTextReaderGetAttribute: libxml2
// expands entity references in them without any bound (one large entity
// referenced thousands of times is a gigabyte from a megabyte), so the
// expansion is bounded (see kAmplification). Element text is collected here
// too: xmlTextReaderReadString's collection is quadratic in the number of
// text pieces.
//
// The hot path (read, nodeType, value, readTypeName) converts no names and
// allocates nothing beyond the String it returns.
#include <qn/data/xml_reader.h>
#include <qn/files/file_system_object.h>
#include <qn/host/bundle.h>
#include <qn/host/entity_helper.h>
#include <qn/net/http_client.h>
#include <qn/net/url_session.h>
#include <qn/runtime/strings.h>

#include <libxml/xmlreader.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "data/xml_internal.h"
#include "host/internal.h"
#include "host/paths.h"

namespace qn {

QN_REGISTER_CLASS(QNXMLReader, Object)

namespace {

using xml::kReaderOptions;
using xml::kStringReaderOptions;

// Masks of the operations that need a node kind.
constexpr std::int64_t kElementMask = QNXMLReader::kElement;
constexpr std::int64_t kNameMask = QNXMLReader::kElement | QNXMLReader::kEndElement;
constexpr std::int64_t kValueMask = QNXMLReader::kElement | QNXMLReader::kText |
                                    QNXMLReader::kComment | QNXMLReader::kProcessingInstruction |
                                    QNXMLReader::kDocumentType;  // 205

constexpr std::int64_t codeOf(int libxmlType) noexcept {
    switch (libxmlType) {
        case XML_READER_TYPE_ELEMENT:
            return QNXMLReader::kElement;
        case XML_READER_TYPE_END_ELEMENT:
            return QNXMLReader::kEndElement;
        case XML_READER_TYPE_TEXT:
            return QNXMLReader::kText;
        case XML_READER_TYPE_COMMENT:
            return QNXMLReader::kComment;
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            return QNXMLReader::kWhiteSpace;
        case XML_READER_TYPE_CDATA:
            return QNXMLReader::kCData;
        case XML_READER_TYPE_PROCESSING_INSTRUCTION:
            return QNXMLReader::kProcessingInstruction;
        case XML_READER_TYPE_DOCUMENT_TYPE:
            return QNXMLReader::kDocumentType;
        default:
            return 0;
    }
}

const char* chars(const xmlChar* s) noexcept {
    return reinterpret_cast<const char*>(s);
}

// Entity references in attribute values are expanded when the value is read
// (as libxml2's own xmlNodeListGetString does). A small document can then
// expand to gigabytes (one large entity referenced thousands of times, which
// libxml2's parse-time checks let through), so the expansion is bounded: a
// value may grow to this many times the document's size (at least 1 MiB),
// and entities nest at most as deep as libxml2 allows them to.
constexpr std::size_t kAmplification = 10;
constexpr std::size_t kMinimumValueLimit = std::size_t{1} << 20;
constexpr int kMaxEntityDepth = 40;

bool appendAttributeText(xmlDocPtr doc, const xmlNode* node, std::string& out, std::size_t limit,
                         int depth) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content == nullptr) continue;
            const std::string_view text(chars(node->content));
            if (text.size() > limit - out.size()) return false;
            out += text;
        } else if (node->type == XML_ENTITY_REF_NODE) {
            xmlEntityPtr entity = xmlGetDocEntity(doc, node->name);
            if (entity == nullptr) continue;
            if (depth >= kMaxEntityDepth) return false;
            if (!appendAttributeText(doc, entity->children, out, limit, depth + 1)) return false;
        }
    }
    return true;
}

// The value of an attribute or namespace declaration node; absent when
// `node` is neither or its value would pass `limit` bytes.
std::optional<String> attributeNodeValue(xmlNodePtr node, std::size_t limit) {
    if (node == nullptr) return std::nullopt;
    // libxml2 hands out namespace declarations as xmlNs cast to xmlNode; both
    // begin with their type at the same place.
    if (node->type == XML_NAMESPACE_DECL) return xml::text(reinterpret_cast<xmlNsPtr>(node)->href);
    if (node->type != XML_ATTRIBUTE_NODE) return std::nullopt;
    const xmlAttr* attribute = reinterpret_cast<const xmlAttr*>(node);
    const xmlNode* children = attribute->children;
    if (children == nullptr) return String();
    // The common case: one piece of text, converted directly.
    if (children->next == nullptr && children->type == XML_TEXT_NODE)
        return xml::text(children->content);
    std::string out;
    if (!appendAttributeText(attribute->doc, children, out, limit, 0)) return std::nullopt;
    return fromUtf8(out);
}

// The text of an expanded element as xmlTextReaderReadString gives it: the
// text and CDATA of its subtree in document order (entity references, which
// are not substituted, give nothing). Collected here in one growing buffer:
// libxml2 reallocates its buffer to the exact size at every piece, which is
// quadratic in the number of pieces (seconds for a root of a few megabytes).
std::string elementText(const xmlNode* element) {
    std::string out;
    const xmlNode* node = element->children;
    while (node != nullptr) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content != nullptr) out += chars(node->content);
        } else if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != element && node->next == nullptr)
            node = node->parent;
        node = node == element ? nullptr : node->next;
    }
    return out;
}

// The built-ins' trimming (qnStringByTrimming), in place; the common
// untrimmed case copies nothing.
void trimBlanks(String& s) {
    std::size_t end = s.size();
    while (end > 0 && qnIsBlank(s[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && qnIsBlank(s[begin]))
        ++begin;
    if (end != s.size()) s.erase(end);
    if (begin != 0) s.erase(0, begin);
}

// A name libxml2 can be asked for: not empty and without U+0000 (which
// would cut its UTF-8 form short and name another attribute).
bool usableName(StringView name) noexcept {
    return !name.empty() && name.find(u'\0') == StringView::npos;
}

String withArgument(StringView format, StringView argument) {
    String out(format);
    const std::size_t at = out.find(u"%@");
    if (at != String::npos) out.replace(at, 2, argument);
    return out;
}

// The content of a regular file (never a device or pipe, which could feed
// the reader forever).
std::optional<std::string> readFileBytes(const String& path) {
    if (path.empty() || path.find(u'\0') != String::npos) return std::nullopt;
    const std::filesystem::path file = internal::toSystemPath(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    return internal::readFile(file, std::numeric_limits<std::size_t>::max());
}

}  // namespace

struct QNXMLReader::Impl {
    xmlTextReaderPtr reader = nullptr;
    // The document; libxml2 reads it in place, so it outlives `reader`.
    std::string bytes;
    bool removeWhiteNodes = true;
    bool removeWhiteSpaces = true;
    bool simpleElements = true;
    // The last advance found no further node (see eof()).
    bool exhausted = false;
    // A step failed: the input is not well-formed; no step is taken again.
    bool broken = false;
    // The error to report when a step fails: libxml2's first fatal error,
    // else its last other error.
    String parseError;
    bool parseErrorFatal = false;
    std::int64_t errCode = 0;
    String errDescription;

    ~Impl() { release(); }

    void fail(std::int64_t code, String text) {
        errCode = code;
        errDescription = std::move(text);
    }

    // libxml2's structured error handler for this reader: notes the error
    // a failed step will report.
    static void noteError(void* impl, xmlErrorPtr error) {
        auto* d = static_cast<Impl*>(impl);
        if (error == nullptr || error->level < XML_ERR_ERROR || d->parseErrorFatal) return;
        d->parseError = xml::parseErrorText(*error);
        d->parseErrorFatal = error->level == XML_ERR_FATAL;
    }

    // Reading stops for good: error 7, from libxml2's report when it gave one.
    void breakOff() {
        broken = true;
        exhausted = false;
        if (parseError.empty()) {
            parseError = xml::parseErrorText(xmlTextReaderGetParserLineNumber(reader),
                                             xmlTextReaderGetParserColumnNumber(reader),
                                             "the document is not well-formed");
        }
        fail(kMalformedError, parseError);
    }

    // One step of libxml2's reader: 1 on a node, 0 at the end, -1 on error
    // (and every step after it).
    int advance() {
        if (broken) return -1;
        const int got = xmlTextReaderRead(reader);
        exhausted = got == 0;
        if (got < 0) breakOff();
        return got;
    }

    // The bound of an attribute value (see kAmplification).
    std::size_t valueLimit() const noexcept {
        return std::max(kMinimumValueLimit, bytes.size() * kAmplification);
    }

    // The reader when open; else error 3 and null.
    xmlTextReaderPtr openReader() {
        if (reader == nullptr) fail(3, u"XMLReader is not open");
        return reader;
    }

    // The current node's kind is in `mask`; else error 5. A reader that
    // broke off has no current node (and keeps its error 7).
    bool currentKindIn(std::int64_t mask) {
        if (broken) return false;
        if (codeOf(xmlTextReaderNodeType(reader)) & mask) return true;
        fail(5, u"Cannot get attributes for current node type");
        return false;
    }

    // Frees the reader; false when libxml2's close failed.
    bool release() {
        if (reader == nullptr) return true;
        const bool closed = xmlTextReaderClose(reader) == 0;
        xmlFreeTextReader(reader);
        reader = nullptr;
        exhausted = false;
        broken = false;
        parseError.clear();
        parseErrorFatal = false;
        std::string().swap(bytes);
        return closed;
    }

    // Replaces any open reader with one over `document`; false (and closed)
    // when libxml2 refuses it.
    bool start(std::string document, const char* url, const char* encoding, int options) {
        release();
        // libxml2 takes the length as an int; an empty buffer holds no
        // document at all.
        if (document.empty() || document.size() > static_cast<std::size_t>(INT_MAX)) return false;
        xml::prepareThread();
        bytes = std::move(document);
        reader = xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), url, encoding,
                                    options);
        if (reader == nullptr) {
            std::string().swap(bytes);
            return false;
        }
        xmlTextReaderSetStructuredErrorHandler(reader, noteError, this);
        return true;
    }

    // A file given by its logical path, its encoding found by libxml2.
    bool startFile(StringView path) {
        const String absolute = QNFileSystemObject::absoluteFilePathForRelativePath(path);
        auto content = readFileBytes(absolute);
        if (!content) {
            release();
            return false;
        }
        return start(std::move(*content), toUtf8(absolute).c_str(), nullptr, kReaderOptions);
    }

    bool startString(StringView text) {
        return start(toUtf8(text), nullptr, "UTF-8", kStringReaderOptions);
    }
};

QNXMLReader::QNXMLReader() : d_(std::make_unique<Impl>()) {}

QNXMLReader::~QNXMLReader() = default;

// --- Opening and closing -------------------------------------------------------

std::int64_t QNXMLReader::open(StringView path) {
    if (d_->startFile(path)) return 0;
    d_->fail(1, withArgument(u"Could not open file at URL %@", path));
    return 1;
}

std::int64_t QNXMLReader::openFromString(StringView text) {
    if (d_->startString(text)) return 0;
    d_->fail(2, u"Could not create XMLReader object");
    return 2;
}

std::int64_t QNXMLReader::openResponse(QNHttpClient& client) {
    return openFromString(client.getString());
}

void QNXMLReader::openResource(StringView name) {
    if (!name.empty()) {
        if (auto path = QNBundle::mainBundle()->pathForResourceOfType(toUtf8(name))) {
            // Absolute, so that open()'s resolution keeps it as it is.
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(*path, error);
            if (!error && d_->startFile(fromUtf8(absolute.string()))) return;
        }
        if (auto url = QNEntityHelper::staticResourceURLWithRelativePath(name)) {
            if (auto data = dataWithContentsOfURL(*url)) {
                const std::string_view bytes(reinterpret_cast<const char*>(data->data()),
                                             data->size());
                if (d_->startString(fromUtf8(bytes))) return;
            }
        }
    }
    d_->release();
    d_->fail(1, withArgument(u"Coud not locate resource %@", name));
}

std::int64_t QNXMLReader::close() {
    if (d_->release()) return 0;
    d_->fail(4, u"Could not close XMLReader object");
    return 1;
}

// --- Reading -------------------------------------------------------------------

std::int64_t QNXMLReader::read() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr) return 0;
    // A self-closing element holds no text: what follows it is its parent's.
    bool simple = d_->simpleElements && xmlTextReaderNodeType(r) == XML_READER_TYPE_ELEMENT &&
                  xmlTextReaderIsEmptyElement(r) != 1;
    bool afterText = false;
    while (true) {
        if (d_->advance() != 1) return 0;
        switch (xmlTextReaderNodeType(r)) {
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                if (d_->removeWhiteNodes) continue;
                return 1;
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
                if (!simple) return 1;
                simple = false;
                afterText = true;
                continue;
            case XML_READER_TYPE_END_ELEMENT:
                if (!afterText) return 1;
                afterText = false;
                continue;
            default:
                return 1;
        }
    }
}

std::int64_t QNXMLReader::readTypeName(std::int64_t mask, StringView name) {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr) return 0;
    const xml::NameArg wanted(name);
    while (d_->advance() == 1) {
        const std::int64_t code = codeOf(xmlTextReaderNodeType(r));
        if ((code & mask) == 0) continue;
        if (code != kElement && code != kEndElement) return 1;
        if (name.empty()) return 1;
        const xmlChar* current = xmlTextReaderConstName(r);
        if (current != nullptr && std::string_view(chars(current)) == wanted.view()) return 1;
    }
    return 0;
}

std::int64_t QNXMLReader::nodeType() {
    xmlTextReaderPtr r = d_->openReader();
    // Once reading broke off there is no current node: a loop that steps
    // over what it does not know must see it ended, not the same element.
    return r == nullptr || d_->broken ? 0 : codeOf(xmlTextReaderNodeType(r));
}

String QNXMLReader::name() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kNameMask)) return {};
    return xml::text(xmlTextReaderConstName(r));
}

String QNXMLReader::localName() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kNameMask)) return {};
    return xml::text(xmlTextReaderConstLocalName(r));
}

String QNXMLReader::namespaceURI() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr) return {};
    return xml::text(xmlTextReaderConstNamespaceUri(r));
}

String QNXMLReader::value() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kValueMask)) return {};
    String out;
    switch (xmlTextReaderNodeType(r)) {
        case XML_READER_TYPE_ELEMENT: {
            const xmlNode* element = xmlTextReaderExpand(r);
            if (element == nullptr || element->children == nullptr) break;
            const xmlNode* child = element->children;
            // The common case, one piece of text: converted directly.
            if (child->next == nullptr &&
                (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)) {
                out = xml::text(child->content);
            } else {
                out = fromUtf8(elementText(element));
            }
            break;
        }
        // Text, comments and processing instructions: their own content
        // (xmlTextReaderReadString gives the text's, and nothing for the
        // other two, whose content is just as plainly their value).
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_COMMENT:
        case XML_READER_TYPE_PROCESSING_INSTRUCTION:
            out = xml::text(xmlTextReaderConstValue(r));
            break;
        default:
            break;  // a document type has no text
    }
    if (d_->removeWhiteSpaces) trimBlanks(out);
    return out;
}

std::int64_t QNXMLReader::attributeCount() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return -1;
    return xmlTextReaderAttributeCount(r);
}

String QNXMLReader::getAttributeByIndex(std::int64_t index) {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return {};
    // libxml2's order (xmlTextReaderGetAttributeNo): the namespace
    // declarations, then the attributes.
    std::optional<String> found;
    xmlNodePtr element = xmlTextReaderCurrentNode(r);
    if (index >= 1 && element != nullptr && element->type == XML_ELEMENT_NODE) {
        std::int64_t left = index - 1;
        xmlNsPtr ns = element->nsDef;
        while (ns != nullptr && left > 0) {
            ns = ns->next;
            --left;
        }
        if (ns != nullptr) {
            found = xml::text(ns->href);
        } else {
            xmlAttrPtr attribute = element->properties;
            while (attribute != nullptr && left > 0) {
                attribute = attribute->next;
                --left;
            }
            if (attribute != nullptr)
                found =
                    attributeNodeValue(reinterpret_cast<xmlNodePtr>(attribute), d_->valueLimit());
        }
    }
    if (!found) {
        d_->fail(6, withArgument(u"Could not read attribute at index %@",
                                 asciiString(std::to_string(index))));
        return {};
    }
    return std::move(*found);
}

String QNXMLReader::getAttributeByName(StringView name) {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return {};
    std::optional<String> found;
    // libxml2 finds the attribute (qualified names, "xmlns" declarations);
    // its value is read here, bounded.
    if (usableName(name) && xmlTextReaderMoveToAttribute(r, xml::NameArg(name)) == 1) {
        found = attributeNodeValue(xmlTextReaderCurrentNode(r), d_->valueLimit());
        xmlTextReaderMoveToElement(r);
    }
    if (!found) {
        d_->fail(6, withArgument(u"Could not read attribute with name '%@'", name));
        return {};
    }
    return std::move(*found);
}

std::int64_t QNXMLReader::existsAttribute(StringView name) {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return 0;
    if (!usableName(name)) return 0;
    // Moving to the attribute and back reads no value (nothing is copied or
    // expanded).
    if (xmlTextReaderMoveToAttribute(r, xml::NameArg(name)) != 1) return 0;
    xmlTextReaderMoveToElement(r);
    return 1;
}

String QNXMLReader::readRawXML() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return {};
    xmlChar* xml = xmlTextReaderReadOuterXml(r);
    if (xml == nullptr) {
        d_->fail(4, u"Could not read raw XML of current element");
        return {};
    }
    return xml::takeText(xml);
}

std::int64_t QNXMLReader::isEmptyElement() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr) return 0;
    return xmlTextReaderNodeType(r) == XML_READER_TYPE_ELEMENT &&
                   xmlTextReaderIsEmptyElement(r) == 1
               ? 1
               : 0;
}

std::int64_t QNXMLReader::skip() {
    xmlTextReaderPtr r = d_->openReader();
    if (r == nullptr || !d_->currentKindIn(kElementMask)) return 0;
    if (d_->broken) return 0;
    const int got = xmlTextReaderNext(r);
    d_->exhausted = got == 0;
    if (got < 0) {
        // libxml2's reader is in its error state: reading is over.
        d_->broken = true;
        d_->fail(4, u"Could not skip current element");
    }
    return 0;
}

// libxml2 enters its end-of-input state as soon as it has consumed its input,
// which for a document of a few kilobytes is at the first read, with every
// node still to come: a loop "while not eof" would lose them. So the end is
// that state once a step has also found no further node. A step that failed
// on malformed input is the end too.
bool QNXMLReader::eof() {
    xmlTextReaderPtr r = d_->openReader();
    return r == nullptr || d_->broken ||
           (d_->exhausted && xmlTextReaderReadState(r) == XML_TEXTREADER_MODE_EOF);
}

// --- Settings and state ------------------------------------------------------------

bool QNXMLReader::removeWhiteNodes() const noexcept {
    return d_->removeWhiteNodes;
}
void QNXMLReader::setRemoveWhiteNodes(bool remove) noexcept {
    d_->removeWhiteNodes = remove;
}
bool QNXMLReader::removeWhiteSpaces() const noexcept {
    return d_->removeWhiteSpaces;
}
void QNXMLReader::setRemoveWhiteSpaces(bool remove) noexcept {
    d_->removeWhiteSpaces = remove;
}
bool QNXMLReader::simpleElements() const noexcept {
    return d_->simpleElements;
}
void QNXMLReader::setSimpleElements(bool simple) noexcept {
    d_->simpleElements = simple;
}
std::int64_t QNXMLReader::errCode() const noexcept {
    return d_->errCode;
}
const String& QNXMLReader::errDescription() const noexcept {
    return d_->errDescription;
}

}  // namespace qn
