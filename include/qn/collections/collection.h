// The collection type of generated code: an ordered list of items that
// generated code addresses with 1-based positions (host protocols use 0-based
// indexes), knowing the SDT type name of its items so it can make blank ones.
//
// Items are Values: records and nested collections (Object), strings,
// numbers, dates; an absent element is stored as the null marker. The JSON
// and XML forms, field specifiers, sorting and cloning build on this core.
//
// XML (toxml, fromxml on QNSDTData): the items one after another inside an
// optional wrapper element: records as their own elements, simple values as
// <item>text</item>, the null marker as <item/>, a nested collection as an
// <item> holding its items.
//
// JSON: a collection writes the list of its items (records as their objects,
// nested collections as lists, numbers as numbers, lists, maps and
// properties as their JSON, the null marker as null, anything else as its
// description text) and loads a JSON array: a typed collection makes one
// item of its class per element. Collections and records nest in either
// direction; every recursive walk stops at the JSON layer's depth.
//
// Thread-compatible: one thread at a time. objectEnumerator() and
// sdtDataCollectionItems() return snapshots, so a caller may change the
// collection while it walks them.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/json.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/sdt_data.h>
#include <qn/value.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qn {

class QN_API QNObjectCollection : public Object, public QNSDTData {
    QN_OBJECT(QNObjectCollection)
public:
    // init: no type name.
    QNObjectCollection() = default;
    // initWithTypeName:
    explicit QNObjectCollection(std::optional<String> itemsTypeName)
        : itemsTypeName_(std::move(itemsTypeName)) {}
    // initWithArray: each element that is an Array becomes a nested
    // collection (recursively); every other element is stored as it is.
    explicit QNObjectCollection(const std::vector<Value>& array);
    ~QNObjectCollection() override;

    static Ref<QNObjectCollection> init() { return makeRef<QNObjectCollection>(); }
    static Ref<QNObjectCollection> initWithTypeName(std::optional<String> itemsTypeName) {
        return makeRef<QNObjectCollection>(std::move(itemsTypeName));
    }
    static Ref<QNObjectCollection> initWithArray(const std::vector<Value>& array) {
        return makeRef<QNObjectCollection>(array);
    }
    static Ref<QNObjectCollection> initWithCollection(const QNObjectCollection& other) {
        return makeRef<QNObjectCollection>(other.items());
    }

    // --- Data model -------------------------------------------------------

    const Value& currentItem() const noexcept { return currentItem_; }
    virtual void setCurrentItem(Value item);
    const std::vector<Value>& items() const noexcept { return items_; }
    // Replaces the contents (Absent elements become the null marker).
    virtual void setItems(std::vector<Value> items);
    virtual std::optional<String> itemsTypeName() const { return itemsTypeName_; }
    virtual void setItemsTypeName(std::optional<String> name) {
        itemsTypeName_ = std::move(name);
        itemsClass_ = nullptr;
    }
    const std::optional<DateTime>& sdtLastModifiedDate() const noexcept { return lastModified_; }
    // The class of the items: the registered class named exactly
    // itemsTypeName, else the one its SDT name maps to; null without one.
    const ClassInfo* collectionItemsClass() const;
    // A new default item of the item class; Absent when there is none.
    virtual Value createItemInstance() const;
    // Sets sdtLastModifiedDate to now.
    void internalMarkAsModified();

    // --- List operations (positions are 1-based) ----------------------------

    // Appends as given (no type check).
    virtual void addItem(const Value& item);
    void add(const Value& item) { addItem(item); }
    // 0 appends; p >= 1 inserts so the item becomes item p; beyond count + 1
    // is reported as a range error through the fatal-error hook.
    void addItemAtIndex(const Value& item, std::int64_t position);
    // Empties a non-empty collection (an empty one keeps its date).
    void removeAllItems();
    void clear() { removeAllItems(); }
    // False, with nothing changed, outside 1 ... count.
    bool removeElement(std::int64_t position);
    void removeItemAtIndex(std::uint64_t position);
    // The item at the position. Outside 1 ... count the fatal-error hook gets
    // "Collection.Item() argument was out of range (%li)."; when it lets the
    // program go on the result is a blank item (not added), or Absent.
    Value objectAtIndex(std::int64_t position) const;
    // The text form of objectAtIndex ("" when it has none).
    virtual String stringAtIndex(std::int64_t position) const;
    // 1-based position of the first equal item; 0 when none.
    std::int64_t indexOf(const Value& item) const;
    std::uint64_t count() const noexcept { return items_.size(); }
    std::int64_t size() const noexcept { return static_cast<std::int64_t>(items_.size()); }
    std::int64_t itemCount() const noexcept { return size(); }
    // 0-based; Absent past the end.
    Value valueForItemAtIndex(std::uint64_t index) const;
    // A snapshot of the items.
    std::vector<Value> objectEnumerator() const { return items_; }
    std::vector<Value> sdtDataCollectionItems() const { return items_; }
    std::uint64_t sdtDataCollectionItemsCount() const noexcept { return items_.size(); }
    bool sdtDataIsCollection() const noexcept override { return true; }
    std::optional<DateTime> sdtDataLastModifiedDate() const override { return lastModified_; }

    // "<QNObjectCollection>\n\titems: (...)".
    String description() const override;
    // Same class and type name, pairwise equal items.
    bool isEqual(const Value& other) const override;
    // Combined from the items' hashes, so equal collections hash alike.
    std::size_t hash() const override;

    // --- Field specifiers ---------------------------------------------------

    // "count" (any case): the item count. Otherwise "item(N)" or "N" (from 1)
    // names an item; a rest after the first "." is asked of that item.
    Value valueForFieldSpecifier(StringView specifier) const override;
    void setValueForFieldSpecifier(const Value& value, StringView specifier) override;
    // 0-based; an empty specifier names the item itself.
    Value valueForItemAtIndexFieldSpecifier(std::uint64_t index, StringView specifier) const;
    // Sets a member of the item, or (empty specifier) replaces the item: a
    // record by a record (another structured value is converted to the item
    // class), a collection by a collection of the same type, a simple value
    // by a value of its kind (any number replaces a number; a null item takes
    // any simple value). Absent or the null marker blanks the item. Marks
    // the collection modified when something changed.
    void setValueForItemAtIndexFieldSpecifier(const Value& value, std::uint64_t index,
                                              StringView specifier);

    // --- Generated property names -------------------------------------------

    // A property name as the process's generator style writes it: in the
    // default (swift) style every "." becomes "_"; otherwise unchanged.
    static String generatedPropertyNameForPropertyName(StringView name);
    static String generatedPropertyNameForPropertyName(StringView name, bool swiftStyle);
    // The prefix and the field name (each word capitalised, as ICU's root
    // locale titles it, in the swift style), then as above.
    static String generatedPropertyNameWithPropertyPrefixFieldName(StringView prefix,
                                                                   StringView fieldName);
    static String generatedPropertyNameWithPropertyPrefixFieldName(StringView prefix,
                                                                   StringView fieldName,
                                                                   bool swiftStyle);
    static String generatedPropertySelectorWithPropertyPrefixFieldName(StringView prefix,
                                                                       StringView fieldName) {
        return generatedPropertyNameWithPropertyPrefixFieldName(prefix, fieldName);
    }

    // --- Sorting ------------------------------------------------------------

    // Sorts the items by a members list ("lastname, (balance)": see
    // <qn/host/sdt_sorting.h>), lower-cased first, reading each record item's
    // properties; other items have no values and keep their order. Only a
    // non-empty collection whose type name resolves to a class sorts.
    // Sorting is no modification: the date stays.
    void sort(StringView membersList);
    void sdtDataCollectionSortWithMembersListString(StringView membersList) { sort(membersList); }

    // --- Cloning ------------------------------------------------------------

    // Same class, type name and date; records and nested collections copied.
    Ref<QNObjectCollection> clone() const;
    Ref<Object> sdtDataClone() const override { return clone(); }

    // --- JSON ---------------------------------------------------------------

    bool serializeInto(QNJSONEmitter& out, const QNSDTSerializationOptions& options,
                       std::vector<String>* files, StringView placeholderFormat) const override;
    // Empties the collection, then loads the text's array (sdtDataFromJson).
    bool fromJSONString(StringView text, QNObjectCollection* messages = nullptr);
    // Reads the file and loads it as fromJSONString does; a file that cannot
    // be read answers false with a message and leaves the collection as it
    // was.
    bool fromJSONFile(QNTextFileSource& file, QNObjectCollection* messages = nullptr);
    bool fromJSonFile(QNTextFileSource& file, QNObjectCollection* messages = nullptr) {
        return fromJSONFile(file, messages);
    }
    // Appends the items of a JSON array text, or of a file's text (a
    // QNTextFileSource object); any other value answers true and does
    // nothing. A failure is reported (one message appended to `messages`,
    // else an error on the thread's error list) and answers false; what was
    // loaded before it stays.
    bool sdtDataFromJson(const Value& textOrFile, QNObjectCollection* messages = nullptr);
    // Appends the elements: as they are without a type name (not marking the
    // collection modified); with one, one new item per element, a record
    // loaded from it. An element a record cannot load from still gives its
    // (blank) item, but is reported and makes the result false. A type name
    // that names no class loads nothing.
    bool loadFromArray(const std::vector<Value>& array,
                       int nameConversion = QNSDTNameConversionJSONOrShort,
                       QNObjectCollection* messages = nullptr);
    // A list loads with loadFromArray; anything else is ignored.
    void deserialize(const Value& value, int nameConversion);
    // QNSDTData: a list (or its JSON text) loads with loadFromArray; anything
    // else does not fit.
    bool loadFromValue(const Value& value, int nameConversion, String* error) override;
    bool isEmptyStructuredValue() const override { return items_.empty(); }

    // A structured value as a collection of `typeName`'s items: a collection
    // as it is when the name names no class or is its own type name, else a
    // copy with each record converted to that class; any other value a new
    // collection loaded from its JSON.
    static Ref<QNObjectCollection> convertSDTDataToCollectionOfType(const Value& value,
                                                                    const String& typeName);

    // typeName:items: with a type name: the collection loaded from the list;
    // without: initWithArray.
    static Ref<QNObjectCollection> typeNameItems(std::optional<String> itemsTypeName,
                                                 const std::vector<Value>& items);

    // --- XML ---------------------------------------------------------------

    // fromxml, the root element's name checked against the item level's SDT
    // name ("Collection" without an item class) or not.
    bool fromxmlUseCollectionNameForRootNode(StringView text, bool checkRoot,
                                             QNObjectCollection* messages = nullptr) {
        return loadXML(text, checkRoot, messages);
    }

    // --- Typed access for generated code ----------------------------------

    // objectAtIndex, with integers and decimals as they were stored.
    Value elementAt(std::int64_t position) const;
    // The item as that type; a number converts; anything else is reported
    // ("Collection item is not an Int" / "... an Int64" / "... a Decimal")
    // and reads 0.
    std::int64_t intElementAt(std::int64_t position) const;
    std::int64_t int64ElementAt(std::int64_t position) const;
    Decimal decimalElementAt(std::int64_t position) const;
    // addItemAtIndex(item, position).
    void add(const Value& item, std::int64_t position) { addItemAtIndex(item, position); }
    bool remove(std::int64_t position) { return removeElement(position); }

protected:
    // The items, for subclasses that convert what is stored.
    std::vector<Value>& mutableItems() noexcept { return items_; }
    // What every storing operation (addItem, addItemAtIndex, setItems,
    // setCurrentItem) stores for `item`: the item itself here. A typed
    // collection converts it, or answers absent to refuse it; the operation
    // then leaves the collection as it was.
    virtual std::optional<Value> itemToStore(const Value& item) { return item; }

private:
    Value currentItem_;
    std::vector<Value> items_;
    std::optional<String> itemsTypeName_;
    std::optional<DateTime> lastModified_;
    // The item class once found (classes never go away; one not found yet
    // may still be registered, so only a hit is kept).
    mutable const ClassInfo* itemsClass_ = nullptr;
};

// A collection of strings with a ";"-joined text form.
class QN_API QNStringCollection : public QNObjectCollection {
    QN_OBJECT(QNStringCollection)
public:
    QNStringCollection() = default;
    explicit QNStringCollection(std::vector<String> strings);

    // Splits at every ";" ("" gives one empty item).
    static Ref<QNStringCollection> stringCollectionFromString(StringView text);
    // The items joined with ";".
    String getString() const;
    // Strings as they are, any other value as its description text.
    void addItem(const Value& item) override;
    // The item itself.
    String stringAtIndex(std::int64_t position) const override;
    String item(std::int64_t position) const { return stringAtIndex(position); }
    // The empty string.
    Value createItemInstance() const override { return Value(String()); }
};

// Raw JSON array text handed on as it is: never parsed or checked, so a
// ready-made array (say, from a service) reaches its consumer untouched.
class QN_API QNJSONArray : public Object {
    QN_OBJECT(QNJSONArray)
public:
    QNJSONArray() = default;
    explicit QNJSONArray(String jsonStr) : jsonStr_(std::move(jsonStr)) {}

    const String& jsonStr() const noexcept { return jsonStr_; }
    void setJsonStr(String text) { jsonStr_ = std::move(text); }
    const String& toJSONString() const noexcept { return jsonStr_; }
    const String& toJson() const noexcept { return jsonStr_; }
    void fromJSONString(StringView text) { jsonStr_.assign(text); }

private:
    String jsonStr_;
};

}  // namespace qn
