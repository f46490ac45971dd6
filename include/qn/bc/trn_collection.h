// Collections of business-component records that act on every record at
// once (insert, update, insert-or-update, delete) and find or remove a
// record by its key values.
//
// Bulk operations visit every item in order and never stop early: a record
// gives its own result (a delete always counts as done), any other item a
// failure; the result is true when every item succeeded (and for an empty
// collection).
//
// The key is described by the first item: its getMetadata's "PK" (a JSON
// array of the key's short names) and its name mapping. A key name the
// mapping does not know makes the description unusable (nothing is found);
// an item whose key property has no value does not match.
//
// Thread-compatible: one thread at a time, the asynchronous operations
// included while they run.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/registry.h>
#include <qn/data/record.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

namespace qn {

class QN_API QNSilentTrnCollection : public QNObjectCollection {
    QN_OBJECT(QNSilentTrnCollection)
public:
    using QNObjectCollection::QNObjectCollection;
    static Ref<QNSilentTrnCollection> initWithTypeName(std::optional<String> itemsTypeName) {
        return makeRef<QNSilentTrnCollection>(std::move(itemsTypeName));
    }
    static Ref<QNSilentTrnCollection> initWithArray(const std::vector<Value>& array) {
        return makeRef<QNSilentTrnCollection>(array);
    }

    virtual bool insert();
    virtual bool update();
    virtual bool insertOrUpdate();

    // The record with these key values; when none, a new blank record of
    // the item class (not added). When no record can be made the fatal-error
    // hook is told and, if it lets the program go on, a base record answers.
    Ref<QNSdtBusinessComponent> getByKey(std::initializer_list<Value> key) {
        return getByKeyArray(std::vector<Value>(key));
    }
    virtual Ref<QNSdtBusinessComponent> getByKeyArray(const std::vector<Value>& key);
    // Removes the record with these key values (the collection's date is not
    // touched); false when none matches.
    bool removeByKey(std::initializer_list<Value> key) {
        return removeByKeyArray(std::vector<Value>(key));
    }
    virtual bool removeByKeyArray(const std::vector<Value>& key);

    // In the background (priority 25), then the completion on that thread.
    using Completion = std::function<void()>;
    using ResultCompletion = std::function<void(bool)>;
    void bcInsert(ResultCompletion completion);
    void bcUpdate(ResultCompletion completion);
    void bcInsertOrUpdate(ResultCompletion completion);
    // Every record's delete, then the completion.
    void bcDelete(Completion completion);
    void bcInsertWithCompletion(ResultCompletion completion) { bcInsert(std::move(completion)); }
    void bcUpdateWithCompletion(ResultCompletion completion) { bcUpdate(std::move(completion)); }
    void bcInsertOrUpdateWithCompletion(ResultCompletion completion) {
        bcInsertOrUpdate(std::move(completion));
    }
    void bcDeleteWithCompletion(Completion completion) { bcDelete(std::move(completion)); }
    std::uint8_t bcConnectivitySupport() const noexcept { return 1; }
    // The host's key object gives its values in key order (empty for nulls).
    Ref<QNSdtBusinessComponent> bcGetItemByKey(const std::vector<Value>& keyValues) {
        return getByKeyArray(keyValues);
    }
    bool bcRemoveItemByKey(const std::vector<Value>& keyValues) {
        return removeByKeyArray(keyValues);
    }

protected:
    // The position of the record with these key values.
    std::optional<std::size_t> indexOfKey(const std::vector<Value>& key) const;
    bool deleteAll();

private:
    void runInBackground(std::function<bool(QNSilentTrnCollection&)> work,
                         ResultCompletion completion);
};

// For editable grids: a row appended without a mode is marked for insertion
// (whatever way it is appended), and removing a row read from the database
// (mode UPD) marks it for deletion instead of dropping it.
class QN_API QnSilentTrnGridCollection : public QNSilentTrnCollection {
    QN_OBJECT(QnSilentTrnGridCollection)
public:
    using QNSilentTrnCollection::QNSilentTrnCollection;
    static Ref<QnSilentTrnGridCollection> initWithTypeName(std::optional<String> itemsTypeName) {
        return makeRef<QnSilentTrnGridCollection>(std::move(itemsTypeName));
    }
    static Ref<QnSilentTrnGridCollection> initWithArray(const std::vector<Value>& array) {
        return makeRef<QnSilentTrnGridCollection>(array);
    }

    bool removeByKeyArray(const std::vector<Value>& key) override;

protected:
    std::optional<Value> itemToStore(const Value& item) override;
};

}  // namespace qn
