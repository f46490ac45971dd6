// What records and collections are to the rest of the library: structured
// values that address their members by field specifier, write themselves as
// JSON, load from JSON values, clone and compare. Records live above the
// collections; each side reaches the other only through this interface.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/json.h>
#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/entity_helper.h>
#include <qn/value.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qn {

class QNObjectCollection;
class QNTextFileSource;

// Name-conversion modes of loading: which key of a JSON object a property
// reads.
enum QNSDTNameConversion : int {
    QNSDTNameConversionShortName = 0,   // the property's own (lower-cased) name
    QNSDTNameConversionJSONName = 1,    // its JSON name when it has one
    QNSDTNameConversionJSONOrShort = 2  // its JSON name, then its own name
};

// The flags of a serialization.
struct QNSDTSerializationOptions {
    bool useJSON = true;                 // JSON values, else the values records hold
    bool useNameConversion = false;      // JSON names as keys, else short names
    bool includeReadOnlyAtts = true;     // read-only attributes too
    bool includeNotModifiedAtts = true;  // attributes that were never assigned too
    bool includeState = true;            // null flags, URIs and unknown properties too
};

class QN_API QNSDTData : public QNStructuredFieldValue,
                         public QNJSONValueSource,
                         public QNJSONStreamSource {
public:
    ~QNSDTData() override;

    // The structured value a Value holds; null for anything else.
    static const QNSDTData* from(const Value& value) noexcept {
        return value.isObject() ? dynamic_cast<const QNSDTData*>(value.asObject().get()) : nullptr;
    }
    static QNSDTData* mutableFrom(const Value& value) noexcept {
        return value.isObject() ? dynamic_cast<QNSDTData*>(value.asObject().get()) : nullptr;
    }

    virtual bool sdtDataIsCollection() const noexcept = 0;
    virtual std::optional<DateTime> sdtDataLastModifiedDate() const = 0;

    // "Name", "Lines.item(2).Product", "count": the member a specifier names;
    // Absent when there is none.
    virtual Value valueForFieldSpecifier(StringView specifier) const = 0;
    // Ignores an Absent value.
    virtual void setValueForFieldSpecifier(const Value& value, StringView specifier) = 0;
    // A record's property by lower-cased short name (what collections sort
    // by); Absent here and for a name that is no property.
    virtual Value objectValueForLowercaseFieldName(StringView) const { return Value(); }

    // Hands the serialized value under the given flags to `out`: a record's
    // object (or the single value of a sequence record), a collection's
    // array. `files` (may be null) gathers the pending-upload files of the
    // records inside, in the order they are met; their values become
    // `placeholderFormat` with the file's 0-based position in place of "%1".
    // False when `out` refused a piece.
    virtual bool serializeInto(QNJSONEmitter& out, const QNSDTSerializationOptions& options,
                               std::vector<String>* files, StringView placeholderFormat) const = 0;
    // The same as a Value tree.
    Value generateSerialization(const QNSDTSerializationOptions& options,
                                std::vector<String>* files, StringView placeholderFormat) const {
        QNJSONTreeBuilder tree;
        return serializeInto(tree, options, files, placeholderFormat) ? tree.result() : Value();
    }
    // The JSON value, with JSON names when asked; everything is included.
    Value serialize(bool useNameConversion) const {
        return generateSerialization({true, useNameConversion, true, true, true}, nullptr, {});
    }
    // The database's form (values as records hold them, no JSON names).
    Value qnSerialize() const {
        return generateSerialization({false, false, true, true, true}, nullptr, {});
    }
    Value qnJSONSerialize() const { return serialize(false); }
    Value JSON() const { return serialize(false); }
    // The text of serialize(false), written without building the tree; ""
    // when it cannot be written. The flags are accepted and not consulted.
    String toJSONString() const;
    String toJSONString(bool /*includeState*/) const { return toJSONString(); }
    String toJSONString(bool /*includeState*/, bool /*includeNonInitialized*/) const {
        return toJSONString();
    }
    // The text of serialize(true); the flag is accepted and not consulted.
    String sdtDataToJson() const;
    String sdtDataToJsonIncludingState(bool /*includeState*/) const { return sdtDataToJson(); }
    // QNJSONValueSource and QNJSONStreamSource: serialize(false)'s form.
    Value jsonValue() const override { return serialize(false); }
    bool writeJSON(QNJSONEmitter& emitter) const override;

    // Loads a JSON value (a text is parsed first). False, with the reason in
    // `error` when given, when the value does not fit; what did fit stays
    // loaded.
    virtual bool loadFromValue(const Value& value, int nameConversion, String* error) = 0;
    // A deep copy: records and nested collections are copied, simple values
    // shared.
    virtual Ref<Object> sdtDataClone() const = 0;

    // QNStructuredFieldValue: the JSON value without name conversion.
    Value structuredJSONValue() const override { return serialize(false); }

    // --- XML (written and read by the data component, see QNSDTXMLForms) -----

    // toxmlIncludeHeader(false, true, "", "").
    String toxml() const { return toxmlIncludeHeader(false, true, {}, {}); }
    // The XML text: with `includeHeader` an XML declaration first; `header`
    // names the element (a record's default is its level's name; a
    // collection without one writes its items with no wrapper); with
    // `includeState` old values too. "" when it cannot be written.
    String toxmlIncludeHeader(bool includeHeader, bool includeState, StringView header,
                              StringView nameSpace) const;
    // Loads an XML text: a record from its level's element, a collection
    // appends the items of its type's element. A failure is reported (one
    // "FromXML Error" message appended to `messages`, else an error on the
    // thread's error list) and answers false; what loaded stays.
    bool fromxml(StringView text, QNObjectCollection* messages = nullptr);
    // Reads the file and loads it as fromxml does; a file that cannot be read
    // answers false with a message, nothing loaded.
    bool fromxmlfile(QNTextFileSource& file, QNObjectCollection* messages = nullptr);

protected:
    // fromxml with the root element's name checked or not (collections
    // offer the choice).
    bool loadXML(StringView text, bool checkRoot, QNObjectCollection* messages);
};

// The XML forms of structured values. They need the XML writer and reader,
// which live above the collections, so the data component installs them
// when the library loads; until then nothing is written and nothing loads.
class QN_API QNSDTXMLForms {
public:
    virtual ~QNSDTXMLForms();
    virtual String write(const QNSDTData& data, bool includeHeader, bool includeState,
                         StringView header, StringView nameSpace) const = 0;
    virtual bool read(QNSDTData& data, StringView text, bool checkRoot,
                      QNObjectCollection* messages) const = 0;
    // Reports an XML input failure as read does.
    virtual void reportFailure(const String& text, QNObjectCollection* messages) const = 0;
    // Installs the forms (kept for the life of the process).
    static void install(const QNSDTXMLForms* forms) noexcept;
    static const QNSDTXMLForms* installed() noexcept;
};

// A file records and collections can load from without knowing the files
// component (QNFile implements it).
class QN_API QNTextFileSource {
public:
    virtual ~QNTextFileSource();
    // The whole text (UTF-8); absent, with the reason in `failure`, when the
    // file cannot be read.
    virtual std::optional<String> readAllTextForLoading(String* failure) = 0;
};

}  // namespace qn
