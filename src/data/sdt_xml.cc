// The XML forms of records and collections (toxml, fromxml) and the forms
// generated code writes and reads collections in (writexmlcollection,
// readxmlcollection).
//
// A document is written with one libxml2 text writer from the root down:
// records, collections and the records inside them write into it in place
// rather than each making a text that its container copies, so nesting
// adds neither copies nor the newline libxml2 ends a document with. Records
// of generated-XML classes are the exception: their own writexml needs the
// library's XML writer, and their text is inserted as it is.
//
// A document is read in one pass with a libxml2 text reader made with the
// XML reader's hardened options (no entity substitution, no DTD loading, no
// network; libxml2's limits bound nesting). Only a root's child elements are
// its properties or items: a property holding a collection or sub-record
// hands its element to it, and any other element's subtree is passed over,
// so nothing deeper is ever matched against an outer level.
#include <qn/collections/collection.h>
#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/data/collection_xml.h>
#include <qn/data/record.h>
#include <qn/data/xml_reader.h>
#include <qn/data/xml_writer.h>
#include <qn/host/entity_helper.h>
#include <qn/host/sdt_data.h>
#include <qn/host/utilities.h>
#include <qn/runtime/strings.h>

#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <charconv>
#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "collections/load_failures.h"
#include "core/structured_depth.h"
#include "core/utf8.h"
#include "data/xml_internal.h"

namespace qn {

namespace {

constexpr StringView kRecordRootMismatch = u"Root node does not match with collection name";
constexpr StringView kRecordNoReader = u"Could not create XML Reader";
constexpr StringView kCollectionRootMismatch =
    u"FromXML: root node does not match with collection name";
constexpr StringView kCollectionParseError = u"FromXML: error parsing XML string";
constexpr StringView kCollectionNoReader = u"FromXML: could not create XML Reader";
constexpr StringView kNoSendMarker = u"[*:nosend]";

String recordParseError(std::int64_t code) {
    return u"Error parsing XML string (" + fromUtf8(std::to_string(code)) + u")";
}

// A character XML 1.0 can carry (U+0000, most C0 controls and U+FFFE and
// U+FFFF it cannot, escaped or not).
constexpr bool isXMLChar(char16_t c) noexcept {
    return c >= 0x20 ? c < 0xFFFE : c == u'\t' || c == u'\n' || c == u'\r';
}

// The text of a simple value in XML: what its JSON form holds (exact
// numbers, dates as "yyyy-MM-ddTHH:mm:ss", GUIDs canonical), booleans as
// "true" and "false"; absent for the null marker.
std::optional<String> xmlTextOf(const Value& value) {
    switch (value.kind()) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            return std::nullopt;
        case ValueKind::kString:
            return value.asString();
        case ValueKind::kBool:
            return String(value.boolValue() ? u"true" : u"false");
        default:
            return value.description();
    }
}

// The item element name of the generated forms: the trimmed name, "item"
// for a blank one or "internal" (on writing and on reading alike).
String itemElementName(StringView itemName) {
    String trimmed = qnStringByTrimming(itemName);
    if (trimmed.empty() || trimmed == u"internal") return String(u"item");
    return trimmed;
}

StringView withoutNoSendMarker(StringView nameSpace, bool* hadMarker = nullptr) {
    const bool marked = nameSpace.starts_with(kNoSendMarker);
    if (hadMarker) *hadMarker = marked;
    return marked ? nameSpace.substr(kNoSendMarker.size()) : nameSpace;
}

// A document ends with a newline in libxml2's text; inside another it is
// dropped, so nesting never adds text nodes.
StringView withoutFinalNewline(StringView text) {
    return text.ends_with(u'\n') ? text.substr(0, text.size() - 1) : text;
}

// --- Writing -------------------------------------------------------------------

// libxml2's text writer into a memory buffer. A step libxml2 refuses (an
// empty element name among them) breaks the writer: the result is then "".
class XmlOut {
public:
    XmlOut() {
        xml::prepareThread();
        buffer_ = xmlBufferCreate();
        if (buffer_ != nullptr) writer_ = xmlNewTextWriterMemory(buffer_, 0);
    }
    ~XmlOut() {
        if (writer_ != nullptr) xmlFreeTextWriter(writer_);
        if (buffer_ != nullptr) xmlBufferFree(buffer_);
    }
    XmlOut(const XmlOut&) = delete;
    XmlOut& operator=(const XmlOut&) = delete;

    bool ok() const noexcept { return writer_ != nullptr && ok_; }

    void declaration() {
        if (ok()) check(xmlTextWriterStartDocument(writer_, "1.0", "UTF-8", nullptr));
    }
    void startElement(StringView name) {
        if (ok()) check(xmlTextWriterStartElement(writer_, utf8(name, name_)));
    }
    void emptyNamespace() {
        if (ok()) check(xmlTextWriterWriteAttribute(writer_, BAD_CAST "xmlns", BAD_CAST ""));
    }
    // Escaped text; the empty text still closes the start tag, so an empty
    // string is <name></name> and only a missing value is <name/>.
    void text(StringView text) {
        if (ok()) check(xmlTextWriterWriteString(writer_, utf8(text, text_)));
    }
    // Escaped text already in UTF-8 (numbers and booleans, written without
    // a String in between).
    void textUtf8(const char* text) {
        if (ok()) check(xmlTextWriterWriteString(writer_, BAD_CAST text));
    }
    void raw(StringView text) {
        if (ok() && !text.empty()) check(xmlTextWriterWriteRaw(writer_, utf8(text, text_)));
    }
    void endElement() {
        if (ok()) check(xmlTextWriterEndElement(writer_));
    }
    // Ends the document; its text, or "" when a step failed.
    String finish() {
        if (!ok()) return {};
        check(xmlTextWriterEndDocument(writer_));
        if (!ok() || xmlTextWriterFlush(writer_) < 0) return {};
        const xmlChar* content = xmlBufferContent(buffer_);
        if (content == nullptr) return {};
        return fromUtf8(std::string_view(reinterpret_cast<const char*>(content),
                                         static_cast<std::size_t>(xmlBufferLength(buffer_))));
    }

private:
    void check(int result) noexcept {
        if (result < 0) ok_ = false;
    }

    // The text as a UTF-8 C string in `out`, without the characters XML
    // cannot carry (a lone surrogate becomes U+FFFD).
    static const xmlChar* utf8(StringView text, std::string& out) {
        String filtered;
        for (char16_t c : text) {
            if (!isXMLChar(c)) {
                filtered.reserve(text.size());
                for (char16_t k : text)
                    if (isXMLChar(k)) filtered.push_back(k);
                text = filtered;
                break;
            }
        }
        out.resize(3 * text.size() + 1);
        const auto done = internal::encodeUtf8<internal::LoneSurrogate::kReplace>(
            text.data(), text.data() + text.size(), out.data());
        *done.out = '\0';
        return reinterpret_cast<const xmlChar*>(out.data());
    }

    xmlBufferPtr buffer_ = nullptr;
    xmlTextWriterPtr writer_ = nullptr;
    bool ok_ = true;
    std::string name_;
    std::string text_;
};

// A generated-XML record's text, written by its own writexml.
String generatedXML(QNSdtBusinessComponent& record, bool includeHeader, bool includeState,
                    StringView name, StringView nameSpace) {
    QNXMLWriter writer;
    writer.openToString();
    if (includeHeader) writer.writeStartDocumentStandalone(u"UTF-8", 0);
    record.writexml(writer, name, nameSpace, includeState);
    return writer.resultingString();
}

void writeRecord(XmlOut& out, const QNSdtBusinessComponent& record, bool includeState,
                 StringView name, StringView nameSpace);

// The items of a collection, one element each, with no wrapper.
void writeItems(XmlOut& out, const QNObjectCollection& collection, bool includeState,
                StringView nameSpace) {
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return;
    for (const Value& item : collection.items()) {
        if (const auto* record = dynamic_cast<const QNSdtBusinessComponent*>(
                item.isObject() ? item.asObject().get() : nullptr)) {
            writeRecord(out, *record, includeState, {}, nameSpace);
        } else if (auto nested = item.as<QNObjectCollection>()) {
            out.startElement(u"item");
            writeItems(out, *nested, includeState, nameSpace);
            out.endElement();
        } else {
            out.startElement(u"item");
            if (!item.isAbsentOrNull()) out.text(item.description());
            out.endElement();
        }
    }
}

void writeRecord(XmlOut& out, const QNSdtBusinessComponent& record, bool includeState,
                 StringView name, StringView nameSpace) {
    if (record.useGeneratedXmlMethods()) {
        // writexml is not const in generated code; it does not change the record.
        out.raw(withoutFinalNewline(generatedXML(const_cast<QNSdtBusinessComponent&>(record), false,
                                                 includeState, name, nameSpace)));
        return;
    }
    internal::StructuredDepthGuard guard;
    const auto& path = record.sdtLevelPathNames();
    out.startElement(!name.empty() ? name : path.empty() ? StringView() : StringView(path.back()));
    out.emptyNamespace();
    if (!guard.ok()) {
        out.endElement();
        return;
    }
    const QNSDTPropertiesInfo& table = record.propertiesInfoForCurrentClass();
    const std::uint8_t mask = includeState ? kQNSDTMaskXML : kQNSDTMaskSerializable;
    for (const auto& entry : table.entries()) {
        const QNSDTPropertyInfo& info = *entry.info;
        if (!table.passes(info, mask, true)) continue;
        const Value value = record.objectValueForPropertyIndex(entry.mappingIndex);
        if (value.isAbsentOrNull()) continue;  // no value, no element
        const StringView shortName = info.propertyName();
        if (const auto* sub = dynamic_cast<const QNSdtBusinessComponent*>(
                value.isObject() ? value.asObject().get() : nullptr)) {
            writeRecord(out, *sub, includeState, shortName, {});
            continue;
        }
        if (auto collection = value.as<QNObjectCollection>()) {
            out.startElement(shortName);
            writeItems(out, *collection, includeState, {});
            out.endElement();
            continue;
        }
        const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
        const Value json = field ? QNEntityHelper::jsonFieldValueForFieldInfo(field, value) : value;
        if (json.isInt()) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits - 1, json.integerValue());
            *end.ptr = '\0';
            out.startElement(shortName);
            out.textUtf8(digits);
            out.endElement();
            continue;
        }
        if (json.isBool()) {
            out.startElement(shortName);
            out.textUtf8(json.boolValue() ? "true" : "false");
            out.endElement();
            continue;
        }
        const auto text = xmlTextOf(json);
        if (!text) continue;
        out.startElement(shortName);
        out.text(*text);
        out.endElement();
    }
    out.endElement();
}

// --- Reading -------------------------------------------------------------------

// libxml2's text reader over a text's UTF-8 bytes, with the XML reader's
// hardened options. A failed step is final.
class XmlIn {
public:
    explicit XmlIn(StringView text) : bytes_(toUtf8(text)) {
        xml::prepareThread();
        if (bytes_.empty() || bytes_.size() > static_cast<std::size_t>(INT_MAX)) return;
        reader_ = xmlReaderForMemory(bytes_.data(), static_cast<int>(bytes_.size()), nullptr,
                                     "UTF-8", xml::kStringReaderOptions);
        if (reader_ != nullptr)
            xmlTextReaderSetStructuredErrorHandler(reader_, xml::ignoreStructuredError, nullptr);
    }
    ~XmlIn() {
        if (reader_ != nullptr) xmlFreeTextReader(reader_);
    }
    XmlIn(const XmlIn&) = delete;
    XmlIn& operator=(const XmlIn&) = delete;

    bool created() const noexcept { return reader_ != nullptr; }
    bool failed() const noexcept { return result_ < 0; }
    int result() const noexcept { return result_; }

    // 1 on a node, 0 at the end, below 0 on an error (and every step after).
    int step() {
        if (result_ < 0) return result_;
        result_ = xmlTextReaderRead(reader_);
        return result_;
    }
    int type() const { return xmlTextReaderNodeType(reader_); }
    int depth() const { return xmlTextReaderDepth(reader_); }
    bool isEmpty() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }
    std::string_view name() const { return chars(xmlTextReaderConstName(reader_)); }
    std::string_view value() const { return chars(xmlTextReaderConstValue(reader_)); }
    // The current element with its content, as text.
    String outerXML() {
        xmlChar* xml = xmlTextReaderReadOuterXml(reader_);
        if (xml == nullptr) return {};
        String out = fromUtf8(chars(xml));
        xmlFree(xml);
        return out;
    }

    // Calls visit(type) for each child node of the current element and
    // leaves the reader on the element's end (on the element itself when it
    // is empty). A visitor given an element consumes it to its end. False on
    // a read error or when a visitor says so.
    template <class Visit>
    bool forEachChild(Visit&& visit) {
        if (isEmpty()) return true;
        const int parent = depth();
        while (step() == 1) {
            const int t = type();
            if (t == XML_READER_TYPE_END_ELEMENT && depth() == parent) return true;
            if (!visit(t)) return false;
        }
        return false;
    }
    bool skipElement() {
        return forEachChild(
            [this](int t) { return t != XML_READER_TYPE_ELEMENT || skipElement(); });
    }
    // The text of the current element's own text children (its child
    // elements passed over) into `text`; false on a read error.
    bool elementText(std::string& text) {
        text.clear();
        return forEachChild([&](int t) {
            switch (t) {
                case XML_READER_TYPE_TEXT:
                case XML_READER_TYPE_CDATA:
                case XML_READER_TYPE_WHITESPACE:
                case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                    text += value();
                    return true;
                case XML_READER_TYPE_ELEMENT:
                    return skipElement();
                default:
                    return true;
            }
        });
    }

private:
    static std::string_view chars(const xmlChar* s) noexcept {
        return s == nullptr ? std::string_view() : reinterpret_cast<const char*>(s);
    }

    std::string bytes_;  // libxml2 reads them in place
    xmlTextReaderPtr reader_ = nullptr;
    int result_ = 0;
};

// One document being read: where failures of nested pieces go.
struct Load {
    XmlIn& in;
    QNObjectCollection* messages;
    bool nestedFailed = false;
    String name;       // scratch for element names
    std::string text;  // and for element text

    void report(const String& text) {
        internal::reportXMLLoadFailure(text, messages);
        nestedFailed = true;
    }
    // The current element's name, in a buffer kept for the document (names
    // are ASCII as a rule, copied unit by unit).
    const String& currentName() {
        const std::string_view bytes = in.name();
        name.resize(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
                name = fromUtf8(bytes);
                break;
            }
            name[i] = static_cast<char16_t>(bytes[i]);
        }
        return name;
    }
};

// Loads a generated-XML record from a text through its readxml; the failure
// text, or absent. Without `expectedRoot` any root element is taken.
std::optional<String> loadGenerated(QNSdtBusinessComponent& record, StringView text,
                                    const String* expectedRoot) {
    QNXMLReader reader;
    if (reader.openFromString(text) != 0) return String(kRecordNoReader);
    if (reader.readTypeName(QNXMLReader::kElement, {}) != 1) return recordParseError(-1);
    const String root = reader.name();
    if (expectedRoot && root != *expectedRoot) return String(kRecordRootMismatch);
    const std::int64_t result = record.readxml(reader, root);
    if (result <= 0) return recordParseError(result);
    while (reader.read() == 1) {
    }
    if (reader.errCode() == QNXMLReader::kMalformedError) return recordParseError(-1);
    return std::nullopt;
}

bool readRecordChildren(Load& load, QNSdtBusinessComponent& record);
bool readCollectionChildren(Load& load, QNObjectCollection& collection);

// A numeric field's text as the number a record holds (0 for text that is
// no number), without a String in between for the usual short ASCII text.
Value numberFromText(std::string_view text) {
    char16_t units[64];
    if (text.size() > std::size(units)) return Value(fromUtf8(text));
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return Value(fromUtf8(text));
        units[i] = static_cast<char16_t>(text[i]);
    }
    const Decimal number = Decimal::fromString(StringView(units, text.size()));
    return number.isNaN() ? Value(std::int64_t{0}) : Value(number);
}

// A record from the element the reader is on, whatever its name.
bool readRecordElement(Load& load, QNSdtBusinessComponent& record) {
    if (!record.useGeneratedXmlMethods()) return readRecordChildren(load, record);
    if (auto failure = loadGenerated(record, load.in.outerXML(), nullptr)) load.report(*failure);
    return load.in.skipElement();
}

// One child element of a record: the property of its name, if any.
bool readProperty(Load& load, QNSdtBusinessComponent& record, const QNSDTPropertiesInfo& table) {
    XmlIn& in = load.in;
    const std::size_t index = table.indexForShortName(load.currentName());
    if (index == QNSDTPropertiesInfo::npos) return in.skipElement();
    const auto& entry = table.entries()[index];
    const QNSDTPropertyInfo& info = *entry.info;
    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
    if (!field || field->dataType() == QNEntityDataTypeStructured || field->isCollection()) {
        const Value current = record.objectValueForPropertyIndex(entry.mappingIndex);
        if (auto collection = current.as<QNObjectCollection>())
            return readCollectionChildren(load, *collection);
        if (auto sub = current.as<QNSdtBusinessComponent>()) return readRecordElement(load, *sub);
        // A level without a value has nowhere to load into.
        if (!field && info.type() != QNSDTPropertyTypeUnknown) return in.skipElement();
    }
    if (!in.elementText(load.text)) return false;
    Value value;
    if (field && field->dataType() == QNEntityDataTypeNumeric) {
        value = numberFromText(load.text);
    } else {
        value = Value(fromUtf8(load.text));
    }
    if (field) {
        value = QNEntityHelper::coreDataFieldValueForFieldInfo(field, value);
    } else if (static_cast<const QNSDTPropertyInfoUnknown&>(info).typeFromName() ==
               QNSDTPropertyTypeItemN) {
        value = Value(value.boolValue());
    }
    record.setvalueForEntryAt(index, value);
    return true;
}

bool readRecordChildren(Load& load, QNSdtBusinessComponent& record) {
    internal::StructuredDepthGuard guard;
    const QNSDTPropertiesInfo& table = record.propertiesInfoForCurrentClass();
    const bool ok = load.in.forEachChild([&](int type) {
        return type != XML_READER_TYPE_ELEMENT || readProperty(load, record, table);
    });
    // As setting a field specifier does, once for the whole element.
    record.internalMarkAsModified();
    return ok;
}

bool readCollectionItem(Load& load, QNObjectCollection& collection, const ClassInfo* itemClass);

// An <item> of a collection without item class: the null marker when empty,
// a nested collection when it holds elements, else its text.
bool readUntypedItem(Load& load, Value& out) {
    XmlIn& in = load.in;
    if (in.isEmpty()) {
        out = Value::null();
        return true;
    }
    std::string text;
    Ref<QNObjectCollection> nested;
    const bool ok = in.forEachChild([&](int type) {
        switch (type) {
            case XML_READER_TYPE_ELEMENT:
                if (!nested) nested = QNObjectCollection::init();
                return readCollectionItem(load, *nested, nullptr);
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                text += in.value();
                return true;
            default:
                return true;
        }
    });
    out = nested ? Value(nested) : Value(fromUtf8(text));
    return ok;
}

bool readCollectionItem(Load& load, QNObjectCollection& collection, const ClassInfo* itemClass) {
    XmlIn& in = load.in;
    if (itemClass == nullptr) {
        if (in.name() != "item") return in.skipElement();
        Value item;
        if (!readUntypedItem(load, item)) return false;
        collection.addItem(item);
        return true;
    }
    Value item = collection.createItemInstance();
    bool ok = true;
    if (auto record = item.as<QNSdtBusinessComponent>()) {
        const auto& path = record->sdtLevelPathNames();
        if (path.empty() || load.currentName() != path.back()) {
            load.report(String(kRecordRootMismatch));
            ok = in.skipElement();
        } else {
            ok = readRecordElement(load, *record);
        }
    } else if (auto nested = item.as<QNObjectCollection>()) {
        ok = readCollectionChildren(load, *nested);
    } else {
        ok = in.skipElement();
    }
    collection.addItem(item);
    return ok;
}

bool readCollectionChildren(Load& load, QNObjectCollection& collection) {
    internal::StructuredDepthGuard guard;
    const ClassInfo* itemClass = collection.collectionItemsClass();
    return load.in.forEachChild([&](int type) {
        return type != XML_READER_TYPE_ELEMENT || readCollectionItem(load, collection, itemClass);
    });
}

// The root a collection expects: the SDT name of its items' level, or
// "Collection" without an item class; absent when no root can match.
std::optional<String> expectedCollectionRoot(const QNObjectCollection& collection) {
    if (collection.collectionItemsClass() == nullptr) return String(u"Collection");
    const Value item = collection.createItemInstance();
    auto record = item.as<QNSdtBusinessComponent>();
    if (!record || record->sdtLevelPathNames().empty()) return std::nullopt;
    return record->sdtLevelPathNames().front();
}

// --- The installed forms ---------------------------------------------------------

class XMLForms final : public QNSDTXMLForms {
public:
    String write(const QNSDTData& data, bool includeHeader, bool includeState, StringView header,
                 StringView nameSpace) const override {
        const auto* record = dynamic_cast<const QNSdtBusinessComponent*>(&data);
        if (record && record->useGeneratedXmlMethods()) {
            return generatedXML(const_cast<QNSdtBusinessComponent&>(*record), includeHeader,
                                includeState, header, nameSpace);
        }
        XmlOut out;
        if (includeHeader) out.declaration();
        if (record) {
            writeRecord(out, *record, includeState, header, nameSpace);
        } else if (const auto* collection = dynamic_cast<const QNObjectCollection*>(&data)) {
            // The namespace is only handed to the items.
            if (!header.empty()) out.startElement(header);
            writeItems(out, *collection, includeState, nameSpace);
            if (!header.empty()) out.endElement();
        }
        return out.finish();
    }

    bool read(QNSDTData& data, StringView text, bool checkRoot,
              QNObjectCollection* messages) const override {
        auto* record = dynamic_cast<QNSdtBusinessComponent*>(&data);
        auto* collection = dynamic_cast<QNObjectCollection*>(&data);
        if (!record && !collection) return false;
        std::optional<String> expected;
        if (record) {
            const auto& path = record->sdtLevelPathNames();
            if (!path.empty()) expected = path.back();
            if (record->useGeneratedXmlMethods()) {
                const String none;
                auto failure = loadGenerated(*record, text, expected ? &*expected : &none);
                if (failure) internal::reportXMLLoadFailure(*failure, messages);
                return !failure;
            }
        } else if (checkRoot) {
            expected = expectedCollectionRoot(*collection);
        }
        XmlIn in(text);
        if (!in.created()) {
            internal::reportXMLLoadFailure(String(record ? kRecordNoReader : kCollectionNoReader),
                                           messages);
            return false;
        }
        Load load{in, messages, false, {}, {}};
        const bool checked = record != nullptr || checkRoot;
        String failure;
        bool rootRead = false;
        while (in.step() == 1) {
            if (in.type() != XML_READER_TYPE_ELEMENT || in.depth() != 0) continue;
            if (rootRead || (checked && (!expected || load.currentName() != *expected))) {
                if (!rootRead)
                    failure = String(record ? kRecordRootMismatch : kCollectionRootMismatch);
                if (!in.skipElement()) break;
                continue;
            }
            rootRead = true;
            if (!(record ? readRecordChildren(load, *record)
                         : readCollectionChildren(load, *collection)))
                break;
        }
        if (in.failed())
            failure = record ? recordParseError(in.result()) : String(kCollectionParseError);
        if (!failure.empty()) {
            internal::reportXMLLoadFailure(failure, messages);
            return false;
        }
        return !load.nestedFailed;
    }

    void reportFailure(const String& text, QNObjectCollection* messages) const override {
        internal::reportXMLLoadFailure(text, messages);
    }
};

const XMLForms forms;
const bool installedForms = [] {
    QNSDTXMLForms::install(&forms);
    return true;
}();

}  // namespace

// --- Records' generated XML -------------------------------------------------------

void QNSdtBusinessComponent::writexml(QNXMLWriter&, StringView, StringView, bool) {
    QNUtilities::tryRecoverFatalError(u"writexml is abstract. Must override in generated class.");
}

std::int64_t QNSdtBusinessComponent::readxml(QNXMLReader&, StringView) {
    QNUtilities::tryRecoverFatalError(u"readxml is abstract. Must override in generated class.");
    return 1;
}

QN_REGISTER_CLASS(QNUserType, QNSdtBusinessComponent)

// --- Collections in generated code's forms ------------------------------------------

void writexmlcollection(const QNObjectCollection& collection, QNXMLWriter& writer, StringView name,
                        StringView nameSpace, StringView itemName, StringView itemNamespace,
                        bool includeState) {
    bool noSend = false;
    nameSpace = withoutNoSendMarker(nameSpace, &noSend);
    itemNamespace = withoutNoSendMarker(itemNamespace);
    if (!name.empty()) {
        writer.writeStartElement(name);
        if (!noSend) writer.writeAttributeValue(u"xmlns", nameSpace);
    }
    const String element = itemElementName(itemName);
    const bool itemNamespaceAttribute =
        qnStringByTrimming(name).empty() || nameSpace != itemNamespace;
    const StringView recordNamespace = itemNamespaceAttribute ? itemNamespace : StringView();
    for (const Value& item : collection.items()) {
        auto record = item.as<QNSdtBusinessComponent>();
        if (record && record->useGeneratedXmlMethods()) {
            record->writexml(writer, {}, recordNamespace, includeState);
            continue;
        }
        if (record) {
            // A record without generated XML: its own XML form, under the item
            // element name so that reading finds it.
            writer.writeRawText(withoutFinalNewline(
                record->toxmlIncludeHeader(false, includeState, element, recordNamespace)));
            continue;
        }
        writer.writeStartElement(element);
        if (itemNamespaceAttribute) writer.writeAttributeValue(u"xmlns", itemNamespace);
        if (const auto text = xmlTextOf(item); text && !text->empty()) writer.writeText(*text);
        writer.writeEndElement();
    }
    if (!name.empty()) writer.writeEndElement();
}

void writexml(const QNObjectCollection& collection, QNXMLWriter& writer, StringView name,
              StringView nameSpace, bool includeState) {
    writexmlcollection(collection, writer, name, nameSpace, {}, {}, includeState);
}

namespace {

// Steps past the element an item was read from when the reader is still on
// its end tag.
std::int64_t stepPastItem(QNXMLReader& reader, StringView element) {
    if (reader.nodeType() == QNXMLReader::kEndElement && reader.name() == element)
        return reader.read();
    return 1;
}

}  // namespace

std::int64_t readxmlcollection(QNObjectCollection& collection, QNXMLReader& reader, StringView name,
                               StringView itemName) {
    if (reader.nodeType() != QNXMLReader::kElement) return 0;
    if (!name.empty()) {
        if (reader.name() != name) return 0;
        // A self-closing collection element is a complete empty collection.
        if (reader.isEmptyElement() == 1) return 1;
        if (reader.read() < 1) return 0;
    }
    const String element = itemElementName(itemName);
    while (reader.nodeType() == QNXMLReader::kElement) {
        if (reader.name() != element) return 0;
        const Value item = collection.createItemInstance();
        auto record = item.as<QNSdtBusinessComponent>();
        if (record && record->useGeneratedXmlMethods()) {
            const std::int64_t result = record->readxml(reader, element);
            collection.add(item);
            if (result <= 0) return 0;
            if (reader.read() < 1) return 0;
        } else if (record) {
            // A record without generated XML loads from the element's text.
            const String outer = reader.readRawXML();
            XmlIn in(outer);
            Load load{in, nullptr, false, {}, {}};
            bool loaded = in.created();
            while (loaded && in.step() == 1) {
                if (in.type() == XML_READER_TYPE_ELEMENT && in.depth() == 0)
                    loaded = readRecordChildren(load, *record);
            }
            collection.add(item);
            if (!loaded || in.failed() || load.nestedFailed) return 0;
            reader.skip();
            if (reader.nodeType() == QNXMLReader::kWhiteSpace && reader.read() < 1) return 0;
        } else {
            const bool empty = reader.isEmptyElement() == 1;
            collection.add(Value(reader.value()));
            if (reader.read() < 1) return 0;
            if (!empty && stepPastItem(reader, element) < 1) return 0;
        }
    }
    if (reader.nodeType() != QNXMLReader::kEndElement) return 0;
    if (name.empty()) return 1;
    return reader.name() == name ? 1 : 0;
}

std::int64_t readxml(QNObjectCollection&, QNXMLReader&, StringView) {
    return 0;
}

}  // namespace qn
