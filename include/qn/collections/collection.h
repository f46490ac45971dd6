// The collection type of generated code: an ordered list of items that
// generated code addresses with 1-based positions (host protocols use 0-based
// indexes), knowing the SDT type name of its items so it can make blank ones.
//
// Items are Values: records and nested collections (Object), strings,
// numbers, dates; an absent element is stored as the null marker. The JSON
// and XML forms, field specifiers, sorting and cloning build on this core.
//
// Thread-compatible: one thread at a time. objectEnumerator() and
// sdtDataCollectionItems() return snapshots, so a caller may change the
// collection while it walks them.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qn {

class QN_API QNObjectCollection : public Object {
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
    virtual void setItemsTypeName(std::optional<String> name) { itemsTypeName_ = std::move(name); }
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
    bool sdtDataIsCollection() const noexcept { return true; }

    // "<QNObjectCollection>\n\titems: (...)".
    String description() const override;

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
