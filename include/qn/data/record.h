// The base of every generated record class: one class per SDT level and per
// business-component level.
//
// A generated class tells the library its level path (the SDT name, then
// the level names down to its own), its property-name mapping (short name ->
// accessor name, in declaration order) and reads and writes its properties
// by accessor name. From those and the SDT metadata the record gets its
// property table (<qn/data/sdt_properties.h>), and with it its JSON form,
// loading, field specifiers, cloning and structural equality.
//
// JSON: one object with a member per written property, in declaration
// order; a record whose SDT is a collection of one sequence item is that
// item's array alone. Null flags and multimedia URIs are written under their
// item's key plus their own suffix ("Name_N", "Photo_QNI"); Mode,
// Initialized and old values never appear in JSON.
//
//   entry point                        JSON names  read-only  not modified  state
//   qnSerialize (database form)        no          yes        yes           yes
//   serialize(flag)                    flag        yes        yes           yes
//   qnJSONSerialize, JSON              no          yes        yes           yes
//   restParamSerialize                 no          yes        yes           no
//   toJSONString(...): text of qnJSONSerialize; sdtDataToJson: of serialize(true)
//
// Loading reads a JSON object (or its text) by one of three name-conversion
// modes (QNSDTNameConversion); properties missing from it stay untouched.
// Sub-records, collections and the records inside them are written and
// loaded with the same flags, and their pending-upload files gathered in the
// same list.
//
// XML (toxml, fromxml on QNSDTData): one element named by the level, holding
// one element per property with a value, named by its short name, in
// declaration order; a collection's items inside its property's element, a
// sub-record's properties inside its own. Only the root's children are
// properties. Records of generated-XML classes (QNUserType) write and read
// through their own writexml and readxml.
//
// Thread-compatible: one thread at a time per record.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/datetime.h>
#include <qn/core/json.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/data/properties.h>
#include <qn/data/sdt_properties.h>
#include <qn/data/xml_reader.h>
#include <qn/data/xml_writer.h>
#include <qn/export.h>
#include <qn/host/business_components.h>
#include <qn/host/sdt_data.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qn {

class QNBusinessComponent;
class QNMessageList;

class QN_API QNSdtBusinessComponent : public Object, public QNSDTData {
    QN_OBJECT(QNSdtBusinessComponent)
public:
    QNSdtBusinessComponent() = default;
    QNSdtBusinessComponent(const QNSdtBusinessComponent&) = default;
    QNSdtBusinessComponent& operator=(const QNSdtBusinessComponent&) = default;
    ~QNSdtBusinessComponent() override;

    // --- What generated classes supply ----------------------------------------

    // The SDT name, then the level names down to this level; empty here.
    virtual const std::vector<String>& sdtLevelPathNames() const;
    // Short name -> accessor name, in declaration order; empty here.
    virtual const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const;
    // The property of that accessor name; Absent when it has no value. The
    // base throws InvalidArgumentException ("... must be overridden in a
    // subclass.").
    virtual Value objectValueForPropertyName(StringView fullName) const;
    virtual void setObjectValueForPropertyName(const Value& value, StringView fullName);
    // The same by the property's position in sdtPropertiesNameMapping; by
    // default through the name. Generated code answers these with a switch,
    // cheaper than comparing accessor names in tight loops.
    virtual Value objectValueForPropertyIndex(std::size_t mappingIndex) const;
    virtual void setObjectValueForPropertyIndex(const Value& value, std::size_t mappingIndex);
    // The business component's metadata (under "PK" the JSON array text of
    // the key's short names). The base throws InvalidArgumentException.
    virtual Ref<QNProperties> getMetadata() const;
    // True where generated code writes and reads the XML itself (QNUserType).
    virtual bool useGeneratedXmlMethods() const { return false; }
    // Generated code's own XML: writes the record as the element `name` (its
    // own element name when empty), and reads it from the element the reader
    // is on, leaving the reader on that element's end (1 on success, 0 or
    // less on failure). The base reports "... is abstract. Must override in
    // generated class." through the fatal-error hook; readxml then answers 1.
    // An override repeats the default argument.
    virtual void writexml(QNXMLWriter& writer, StringView name, StringView nameSpace,
                          bool includeState = true);
    virtual std::int64_t readxml(QNXMLReader& reader, StringView name);

    // --- Metadata -------------------------------------------------------------

    // The class's property table (built once per class and process).
    const QNSDTPropertiesInfo& propertiesInfoForCurrentClass() const;
    // The sequence item of a record whose SDT is a collection with exactly one
    // item marked to be written as a sequence (and no sub-levels); null
    // otherwise.
    const QNStructureDataTypeItemInfo* jsonCollectionAsSequenceItemInfo() const;

    // --- Properties by name ------------------------------------------------------

    // objectValueForPropertyName, the null marker for Absent.
    Value propertyValueForFullName(StringView fullName) const;
    // Ignores Absent.
    void setPropertyValueForFullName(const Value& value, StringView fullName);
    // Sets the property of that short name (any letter case; nothing when
    // there is none). For an item: the null marker becomes the type's empty
    // value, a media value is copied to the "_qni" accessor when the class
    // has one, and a GUID text becomes a QNUUID.
    void setvalueForKey(StringView shortName, const Value& value);
    void setvalue(StringView shortName, const Value& value) { setvalueForKey(shortName, value); }
    // setvalueForKey for the property table's entry at that position
    // (propertiesInfoForCurrentClass().entries()), for loaders that found it.
    void setvalueForEntryAt(std::size_t entryIndex, const Value& value);
    // Sets sdtLastModifiedDate to now (what setting a field specifier does).
    void internalMarkAsModified();
    // The text form of the property's value: "" for a property without a
    // value (rather than the null marker's "<null>") and for a name that is
    // no property.
    String getvalue(StringView shortName) const;
    // The property whose short name, lower-cased, is `lowercaseName`; Absent
    // when there is none.
    Value objectValueForLowercaseFieldName(StringView lowercaseName) const override;

    // "Name" or "Lines.item(2).Product": a dot hands the rest to the
    // structured value the first part names.
    Value valueForFieldSpecifier(StringView specifier) const override;
    // Ignores Absent; marks the record modified.
    void setValueForFieldSpecifier(const Value& value, StringView specifier) override;

    // --- Assigned attributes ----------------------------------------------------------

    // Generated setters call setDirty (any letter case).
    void setDirty(StringView shortName);
    // The same by the property's position in sdtPropertiesNameMapping, with
    // no name look-up (generated setters that know their position).
    void setDirtyForPropertyIndex(std::size_t mappingIndex);
    bool isDirty(StringView shortName) const;
    void resetDirties() noexcept;
    // One key per assigned attribute (lower-cased) with the value "true";
    // null until the first assignment and after a reset. A new map each
    // call: the record keeps its flags by property position.
    Ref<QNProperties> dirties() const;

    // Business-component metadata of a property (for a companion, of the
    // item it accompanies) from the record's level; none for plain records.
    std::shared_ptr<const QNBusinessComponentAttributeInfo>
    businessComponentAttributeInfoForPropertyInfo(const QNSDTPropertyInfo& info) const;
    virtual bool businessComponentAttributeIsKeyForPropertyInfo(
        const QNSDTPropertyInfo& info) const;
    virtual bool businessComponentAttributeIsReadonlyForPropertyInfo(
        const QNSDTPropertyInfo& info) const;
    // The business-component level of the record: the root level of its
    // component when it has a transaction, else the level its path names
    // (the component named by the first path name, then child levels).
    std::shared_ptr<const QNBusinessComponentLevelInfo> businessComponentLevel() const;
    // Everything when not-modified attributes are included; otherwise an
    // assigned attribute, or one never assigned unless it is a multimedia
    // URI or may hold binary data and is not a key.
    bool shouldSerializeProperty(const QNSDTPropertyInfo& info, bool includeReadOnlyAtts,
                                 bool includeNotModifiedAtts) const;

    // --- JSON out --------------------------------------------------------------------

    // The map (or a sequence record's single value) under the flags; with a
    // file list, the files of binary fields are placed in the pending-uploads
    // folder and registered, and their values become `placeholderFormat`
    // ("%1" stands for the file's 0-based position).
    bool serializeInto(QNJSONEmitter& out, const QNSDTSerializationOptions& options,
                       std::vector<String>* files, StringView placeholderFormat) const override;
    Value qnJSONSerialize(bool useNameConversion) const { return serialize(useNameConversion); }
    using QNSDTData::qnJSONSerialize;
    Value restParamSerialize() const {
        return generateSerialization({true, false, true, true, false}, nullptr, {});
    }

    // --- JSON in -----------------------------------------------------------------------

    // Loads a JSON object (a text is parsed first) by name-conversion mode.
    // A text that does not parse is reported in `error`, or without one on
    // the thread's error list; a value that is no object (no list, for a
    // sequence record) answers false with "Invalid format, expected a
    // Dictionary" in `error`. Nested loads that fail make the result false;
    // what loaded stays.
    bool loadFromValue(const Value& value, int nameConversion, String* error) override;
    bool loadFromValue(const Value& value) {
        return loadFromValue(value, QNSDTNameConversionJSONOrShort, nullptr);
    }
    bool loadFromValueError(const Value& value, String* error) {
        return loadFromValue(value, QNSDTNameConversionJSONOrShort, error);
    }
    // Loads another structured value's sdtDataToJson text.
    bool loadFromSDTData(const QNSDTData& other);
    // Loads with JSON names; a failure appends one message to `messages`
    // (else goes to the thread's error list). A file (QNTextFileSource
    // object) is read first.
    bool sdtDataFromJson(const Value& textOrFile, QNObjectCollection* messages = nullptr);
    // A map loads with that mode; anything else is ignored.
    void deserialize(const Value& value, int nameConversion);
    bool fromJSONString(StringView text, QNObjectCollection* messages = nullptr) {
        return sdtDataFromJson(Value(String(text)), messages);
    }
    // A file that cannot be read answers false with a message, the record
    // untouched.
    bool fromJSONFile(QNTextFileSource& file, QNObjectCollection* messages = nullptr);

    // --- Business component ------------------------------------------------------------
    //
    // A root record of a business component holds its transaction and
    // forwards its life cycle to it. With no transaction nothing happens and
    // nothing is notified (insert, update and insertOrUpdate answer false).

    static constexpr StringView kDidSaveNotification = u"QNSdtBusinessComponentDidSaveNotification";
    static constexpr StringView kDidDeleteNotification =
        u"QNSdtBusinessComponentDidDeleteNotification";
    static constexpr StringView kModeUserInfoKey = u"qnmode";
    static constexpr int kAsynchronousPriority = 25;
    static constexpr StringView kNoBCClass = u"There is no BC class named: ";

    const Ref<QNBusinessComponent>& transaction() const noexcept { return transaction_; }
    void setTransaction(Ref<QNBusinessComponent> transaction) {
        transaction_ = std::move(transaction);
    }
    const Ref<QNBusinessComponent>& getTransaction() const noexcept { return transaction_; }

    // A new record of the component's class: "sdt" + the lower-cased name,
    // then the name under the generator style, then any record class whose
    // name matches ignoring case. None: the fatal-error hook is told ("There
    // is no BC class named: ...") and, when it lets the program go on, null.
    static Ref<QNSdtBusinessComponent> createWithBCName(StringView bcName);
    // A new record of the SDT's class; null when there is none.
    static Ref<QNSdtBusinessComponent> createWithTypeName(StringView sdtName);
    // The same, loaded from a map of values.
    static Ref<QNSdtBusinessComponent> create(StringView sdtName, const Value& values);

    // The transaction's loadKey, then the assigned flags are reset.
    void loadKey(const std::vector<Value>& key);
    void load(const std::vector<Value>& key) { loadKey(key); }
    // Mode INS, the transaction's defaults, assigned flags reset.
    void loadDefaultValues();
    // The mode is read first: DLT does nothing. Otherwise the transaction's
    // save and cleanup, and on success the save notification with that mode.
    void save();
    // The transaction's insert and cleanup; on success the save notification
    // with INS.
    bool insert();
    // The transaction's update and cleanup; the save notification with UPD
    // only when the mode read before was UPD and the update succeeded.
    bool update();
    // insert; when it fails, every error with code 19 (the database's
    // constraint code) leaves the thread's list and update answers.
    bool insertOrUpdate();
    void check();
    // The transaction's delete, then the delete notification whatever came
    // of it. (`delete` is a keyword of the language.)
    void delete_();
    // The transaction's mode; "" without one.
    String getMode() const;
    // The transaction's messages; null without one.
    Ref<QNMessageList> getMessages() const;
    // The transaction's anyerror is not 0 (Absent reads as 0); false without
    // a transaction.
    bool fail() const;
    bool success() const { return !fail(); }
    // The transaction's qnBCName, else its class name without its last
    // "_bc" (the model's spelling when the model knows it); "" without a
    // transaction.
    String bcName() const;

    // The value of the short name's old-value companion ("_Z"); Absent when
    // there is none.
    Value bcOldValueForFieldName(StringView shortName) const;

    // The host's view of the record.
    String bcMode() const { return getMode(); }
    Ref<QNMessageList> bcMessages() const { return getMessages(); }
    bool bcSuccess() const { return success(); }
    bool bcFail() const { return fail(); }
    std::uint8_t bcConnectivitySupport() const noexcept { return 1; }

    // The operations in the background (priority 25), then the completion on
    // the same background thread. The record is kept alive meanwhile and
    // must not be used elsewhere.
    using Completion = std::function<void()>;
    using ResultCompletion = std::function<void(bool)>;
    void bcLoadWithKeyCompletion(std::vector<Value> key, Completion completion);
    void bcSaveWithCompletion(Completion completion);
    void bcCheckWithCompletion(Completion completion);
    void bcDeleteWithCompletion(Completion completion);
    void bcInsertWithCompletion(ResultCompletion completion);
    void bcUpdateWithCompletion(ResultCompletion completion);
    void bcInsertOrUpdateWithCompletion(ResultCompletion completion);

    // Sets each serializable property the row has a value for.
    void loadFromEntiyData(const QNEntityData& data);
    // Reads the file of a file URL into the attribute; false (nothing set)
    // for anything else or a file that cannot be read.
    bool loadContentsOfFileWithPathOnAttributeWithName(StringView fileURL, StringView attribute);

    // The synchronization message: the JSON text of the assigned attributes
    // (and keys) with the state, files of binary fields queued for upload
    // and listed in `filesToSend`, their values the placeholder with the
    // file's position (see pendingUploads in docs/records.md). "" when there
    // is nothing to write.
    String generateSynchronizationSendMessage(std::vector<String>& filesToSend,
                                              StringView placeholderFormat) const;

    // --- Copies and comparison --------------------------------------------------------

    // A new record of the same class with every property copied (records and
    // collections deeply), the assigned attributes and the date.
    Ref<QNSdtBusinessComponent> clone() const;
    Ref<Object> sdtDataClone() const override { return clone(); }
    // Same class and equal property values.
    bool isEqual(const Value& other) const override;
    // Combined from the property values' hashes, so equal records hash alike.
    std::size_t hash() const override;
    // "<Class>\n\tproperties: \n\t\tName => value...".
    String description() const override;
    bool isEmptyStructuredValue() const override;

    bool sdtDataIsCollection() const noexcept override { return false; }
    std::optional<DateTime> sdtDataLastModifiedDate() const override { return lastModified_; }
    const std::optional<DateTime>& sdtLastModifiedDate() const noexcept { return lastModified_; }

    // The SOAP call that last returned this record.
    std::int64_t nSOAPErr = 0;
    String sSOAPErrMsg;

private:
    // The value written for a field or companion (never a structured value).
    Value simpleValueToWrite(const QNSDTPropertyInfo& info, const Value& value,
                             const QNSDTSerializationOptions& options, std::vector<String>* files,
                             StringView placeholderFormat) const;
    using Entry = QNSDTPropertiesInfo::Entry;
    bool applyLoadedValue(const Entry& entry, const Value& value, int nameConversion,
                          String* error);
    // propertyValueForFullName of an entry's property.
    Value propertyValueAt(const Entry& entry) const {
        Value value = objectValueForPropertyIndex(entry.mappingIndex);
        return value.isAbsent() ? Value::null() : value;
    }
    bool loadMembers(const Dictionary& map, int nameConversion, String* error);
    // setvalueForKey for an entry already found.
    void setValueForEntry(const Entry& entry, const Value& value);
    void setDirtyAt(std::size_t index) {
        const std::size_t word = index / 64;
        if (word >= dirtyBits_.size()) dirtyBits_.resize(word + 1, 0);
        dirtyBits_[word] |= std::uint64_t{1} << (index % 64);
    }
    bool isDirtyAt(std::size_t index) const noexcept {
        const std::size_t word = index / 64;
        return word < dirtyBits_.size() && ((dirtyBits_[word] >> (index % 64)) & 1u) != 0;
    }
    bool shouldSerializeEntry(std::size_t index, const QNSDTPropertyInfo& info,
                              const QNSDTSerializationOptions& options) const;

    // The save notification when `succeeded`, with the mode.
    void notifySaved(StringView mode) const;
    void runInBackground(std::function<void(QNSdtBusinessComponent&)> work, Completion completion);
    void runInBackgroundWithResult(bool (QNSdtBusinessComponent::*operation)(),
                                   ResultCompletion completion);

    Ref<QNBusinessComponent> transaction_;
    mutable std::shared_ptr<const QNSDTPropertiesInfo> info_;
    // Assigned attributes: a bit per table position, and the lower-cased
    // names the table does not know.
    std::vector<std::uint64_t> dirtyBits_;
    std::vector<String> otherDirties_;
    std::optional<DateTime> lastModified_;
};

// The base of records whose XML generated code writes and reads itself
// (writexml, readxml); toxml and fromxml go through those.
class QN_API QNUserType : public QNSdtBusinessComponent {
    QN_OBJECT(QNUserType)
public:
    bool useGeneratedXmlMethods() const override { return true; }
};

// Turns a value into the SDT object, or collection of them, of a type name.
class QN_API QNSDTDataHelper {
public:
    // The generated class name of an SDT name (see QNObjectCollection's item
    // classes).
    static String typeNameFromSDTName(StringView sdtName);
    // The value when it is of the class; for a record class a new instance
    // loaded from it; otherwise the value unchanged.
    static Value convertSDTDataToClass(const Value& value, const ClassInfo* recordClass);
    static Ref<QNObjectCollection> convertSDTDataToObjectCollectionOfType(const Value& value,
                                                                          const String& typeName) {
        return QNObjectCollection::convertSDTDataToCollectionOfType(value, typeName);
    }
    // The library's message collection for "Norvale.Common.Messages"; Absent
    // for any other name.
    static Value tryConvertSDTDataToWellKnownTypeWithName(const Value& value, StringView typeName);
    static Value sdtDataWithTypeNameValueIsCollection(StringView typeName, const Value& value,
                                                      bool isCollection);
    // A record of the type's class loaded from the value.
    static Value sdtDataWithTypeNameValue(StringView typeName, const Value& value);
    static Ref<QNObjectCollection> sdtDataCollectionWithTypeNameValue(StringView typeName,
                                                                      const Value& value);
    static std::vector<Value> arrayFromSDTDataCollection(const QNObjectCollection& collection) {
        return collection.items();
    }
};

// The message record the library ships: "Id", "Type" (1 is an error),
// "Description". Messages are made of the application's own class for the
// SDT "Norvale.Common.Messages.Message" when it has one, else of this one,
// which is registered under a name of its own so it never stands in for an
// application's class.
class QN_API QNSDTMessage final : public QNSdtBusinessComponent {
    QN_OBJECT(QNSDTMessage)
public:
    static constexpr StringView kSDTName = u"Norvale.Common.Messages.Message";

    const std::vector<String>& sdtLevelPathNames() const override;
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    Value objectValueForPropertyName(StringView fullName) const override;
    void setObjectValueForPropertyName(const Value& value, StringView fullName) override;

    const String& id() const noexcept { return id_; }
    std::int64_t type() const noexcept { return type_; }
    const String& messageDescription() const noexcept { return description_; }

    // The class messages are made of (resolved once per process).
    static const ClassInfo* messageClass();

private:
    String id_;
    std::int64_t type_ = 0;
    String description_;
};

}  // namespace qn
