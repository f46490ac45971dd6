// Business-component collections.
#include <qn/bc/trn_collection.h>
#include <qn/core/json.h>
#include <qn/data/properties.h>
#include <qn/host/dispatch.h>
#include <qn/host/utilities.h>

#include <memory>
#include <typeinfo>

#include "core/ascii.h"

namespace qn {

QN_REGISTER_CLASS(QNSilentTrnCollection, QNObjectCollection)
QN_REGISTER_CLASS(QnSilentTrnGridCollection, QNSilentTrnCollection)

namespace {

QNSdtBusinessComponent* recordOf(const Value& item) {
    return dynamic_cast<QNSdtBusinessComponent*>(item.asObject().get());
}

// Every item in order, none skipped after a failure.
template <class Operation>
bool everyRecord(const std::vector<Value>& items, Operation operation) {
    bool all = true;
    for (const Value& item : items) {
        QNSdtBusinessComponent* record = recordOf(item);
        all = (record && operation(*record)) && all;
    }
    return all;
}

// The mapping position of a short name; npos when the mapping has none.
std::size_t mappingIndex(const QNSDTPropertiesInfo::NameMapping& mapping, StringView shortName) {
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].first == shortName) return i;
    const String lower = internal::asciiLowercased(shortName);
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (internal::asciiLowercased(mapping[i].first) == lower) return i;
    return QNSDTPropertiesInfo::npos;
}

constexpr StringView kModeName = u"Mode";

}  // namespace

bool QNSilentTrnCollection::insert() {
    return everyRecord(items(), [](QNSdtBusinessComponent& r) { return r.insert(); });
}

bool QNSilentTrnCollection::update() {
    return everyRecord(items(), [](QNSdtBusinessComponent& r) { return r.update(); });
}

bool QNSilentTrnCollection::insertOrUpdate() {
    return everyRecord(items(), [](QNSdtBusinessComponent& r) { return r.insertOrUpdate(); });
}

bool QNSilentTrnCollection::deleteAll() {
    return everyRecord(items(), [](QNSdtBusinessComponent& r) {
        r.delete_();
        return true;
    });
}

std::optional<std::size_t> QNSilentTrnCollection::indexOfKey(const std::vector<Value>& key) const {
    if (!itemsTypeName() || items().empty()) return std::nullopt;
    const QNSdtBusinessComponent* first = recordOf(items().front());
    if (!first) return std::nullopt;
    // The key description, once per look-up.
    const Ref<QNProperties> metadata = first->getMetadata();
    if (!metadata || !metadata->hasKey(u"PK")) return std::nullopt;
    const auto names = QNJSON::parse(toUtf8(metadata->get(u"PK")));
    const Array* list = names ? names->asArray() : nullptr;
    if (!list || list->size() != key.size()) return std::nullopt;
    const auto& mapping = first->sdtPropertiesNameMapping();
    std::vector<std::size_t> positions;
    positions.reserve(list->size());
    for (const Value& name : *list) {
        if (!name.isString()) return std::nullopt;
        const std::size_t position = mappingIndex(mapping, name.asString());
        // A key name the record does not know cannot be checked: matching
        // without it would find the first record whatever the key.
        if (position == QNSDTPropertiesInfo::npos) return std::nullopt;
        positions.push_back(position);
    }
    // Items of the first item's type (the usual case) need no dynamic cast.
    const std::type_info& firstType = typeid(*first);
    for (std::size_t i = 0; i < items().size(); ++i) {
        const Object* object = items()[i].objectPointer();
        if (!object) continue;
        const QNSdtBusinessComponent* record =
            typeid(*object) == firstType ? static_cast<const QNSdtBusinessComponent*>(object)
                                         : dynamic_cast<const QNSdtBusinessComponent*>(object);
        if (!record) continue;
        bool matches = true;
        for (std::size_t k = 0; matches && k < positions.size(); ++k) {
            const Value value = record->objectValueForPropertyIndex(positions[k]);
            // Integer keys, the common kind, compare directly.
            matches = value.isInt() && key[k].isInt() ? value.asInt() == key[k].asInt()
                                                      : !value.isAbsent() && value.isEqual(key[k]);
        }
        if (matches) return i;
    }
    return std::nullopt;
}

Ref<QNSdtBusinessComponent> QNSilentTrnCollection::getByKeyArray(const std::vector<Value>& key) {
    if (auto index = indexOfKey(key))
        return std::dynamic_pointer_cast<QNSdtBusinessComponent>(items()[*index].asObject());
    if (auto blank =
            std::dynamic_pointer_cast<QNSdtBusinessComponent>(createItemInstance().asObject()))
        return blank;
    const auto type = itemsTypeName();
    QNUtilities::tryRecoverFatalError(u"Could not create BC collection item instance" +
                                      (type ? u" (" + *type + u")" : String()) + u".");
    return makeRef<QNSdtBusinessComponent>();
}

bool QNSilentTrnCollection::removeByKeyArray(const std::vector<Value>& key) {
    const auto index = indexOfKey(key);
    if (!index) return false;
    auto& stored = mutableItems();
    stored.erase(stored.begin() + static_cast<std::ptrdiff_t>(*index));
    return true;
}

void QNSilentTrnCollection::runInBackground(std::function<bool(QNSilentTrnCollection&)> work,
                                            ResultCompletion completion) {
    auto self = std::static_pointer_cast<QNSilentTrnCollection>(weak_from_this().lock());
    if (!self) {
        // Nothing would keep the collection alive on another thread.
        const bool result = work(*this);
        if (completion) completion(result);
        return;
    }
    auto result = std::make_shared<bool>(false);
    qn_dispatch_on_background_with_priority(
        [self, result, work = std::move(work)] { *result = work(*self); },
        QNSdtBusinessComponent::kAsynchronousPriority,
        [result, completion = std::move(completion)] {
            if (completion) completion(*result);
        });
}

void QNSilentTrnCollection::bcInsert(ResultCompletion completion) {
    runInBackground([](QNSilentTrnCollection& c) { return c.insert(); }, std::move(completion));
}

void QNSilentTrnCollection::bcUpdate(ResultCompletion completion) {
    runInBackground([](QNSilentTrnCollection& c) { return c.update(); }, std::move(completion));
}

void QNSilentTrnCollection::bcInsertOrUpdate(ResultCompletion completion) {
    runInBackground([](QNSilentTrnCollection& c) { return c.insertOrUpdate(); },
                    std::move(completion));
}

void QNSilentTrnCollection::bcDelete(Completion completion) {
    runInBackground([](QNSilentTrnCollection& c) { return c.deleteAll(); },
                    [completion = std::move(completion)](bool) {
                        if (completion) completion();
                    });
}

// --- The grid ---------------------------------------------------------------------------

std::optional<Value> QnSilentTrnGridCollection::itemToStore(const Value& item) {
    if (QNSdtBusinessComponent* record = recordOf(item)) {
        const auto& mapping = record->sdtPropertiesNameMapping();
        const std::size_t mode = mappingIndex(mapping, kModeName);
        if (mode != QNSDTPropertiesInfo::npos) {
            const Value current = record->objectValueForPropertyIndex(mode);
            if (!current.isString() || current.asString().empty())
                record->setObjectValueForPropertyIndex(Value(u"INS"), mode);
        }
    }
    return QNSilentTrnCollection::itemToStore(item);
}

bool QnSilentTrnGridCollection::removeByKeyArray(const std::vector<Value>& key) {
    Ref<QNSdtBusinessComponent> record = getByKeyArray(key);
    const auto& mapping = record->sdtPropertiesNameMapping();
    const std::size_t mode = mappingIndex(mapping, kModeName);
    if (mode != QNSDTPropertiesInfo::npos) {
        const Value current = record->objectValueForPropertyIndex(mode);
        if (current.isString() && current.asString() == u"UPD") {
            // Read from the database: kept, marked for the bulk delete.
            record->setObjectValueForPropertyIndex(Value(u"DLT"), mode);
            return true;
        }
    }
    return QNSilentTrnCollection::removeByKeyArray(key);
}

}  // namespace qn
