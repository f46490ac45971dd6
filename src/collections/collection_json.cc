// The structured side of QNObjectCollection: field specifiers, item
// replacement, cloning, structural equality, and the JSON forms.
#include <qn/collections/collection.h>
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/host/entity_helper.h>
#include <qn/host/errors.h>
#include <qn/host/messages.h>
#include <qn/host/sdt_sorting.h>
#include <qn/host/utilities.h>

#include <string>

#include "collections/load_failures.h"
#include "core/ascii.h"
#include "core/characters.h"
#include "core/structured_depth.h"

namespace qn {

namespace internal {

void reportJSONLoadFailure(const String& text, QNObjectCollection* messages) {
    if (messages) {
        messages->addItem(QNSDTMessagesHelper::sdtDataFromJSONErrorSDTMessageWithDescription(text));
    } else {
        QNThreadErrorHandler::errorHandler().addError(
            QNError::defaultQNErrorWithDeveloperDescription(text));
    }
}

void reportXMLLoadFailure(const String& text, QNObjectCollection* messages) {
    if (messages) {
        messages->addItem(QNSDTMessagesHelper::errorSDTMessageWithIdDescription(
            String(QNSDTMessagesHelper::kXMLErrorId), text));
    } else {
        QNThreadErrorHandler::errorHandler().addError(
            QNError::defaultQNErrorWithDeveloperDescription(text));
    }
}

}  // namespace internal

namespace {

bool isRecord(const QNSDTData* data) noexcept {
    return data && !data->sdtDataIsCollection();
}

// A new instance of `itemClass` loaded from another structured value's JSON;
// Absent when the class cannot make one that loads.
Value convertedToClass(const QNSDTData& source, const ClassInfo* itemClass) {
    if (!itemClass) return Value();
    Ref<Object> item = itemClass->create();
    auto* target = item ? dynamic_cast<QNSDTData*>(item.get()) : nullptr;
    if (!target) return Value();
    target->loadFromValue(Value(source.sdtDataToJson()), QNSDTNameConversionJSONOrShort, nullptr);
    return Value(std::move(item));
}

}  // namespace

// --- Field specifiers -----------------------------------------------------------

Value QNObjectCollection::valueForFieldSpecifier(StringView specifier) const {
    if (internal::equalsIgnoringASCIICase(specifier, u"count"))
        return Value(std::uint64_t{count()});
    if (items_.empty()) return Value();
    const auto index = QNEntityHelper::indexFromFieldSpecifier(specifier);
    if (!index || *index >= size()) return Value();
    const Value& item = items_[static_cast<std::size_t>(*index)];
    const std::size_t dot = specifier.find(u'.');
    if (dot == StringView::npos) return item;
    const QNSDTData* data = QNSDTData::from(item);
    return data ? data->valueForFieldSpecifier(specifier.substr(dot + 1)) : Value();
}

void QNObjectCollection::setValueForFieldSpecifier(const Value& value, StringView specifier) {
    const auto index = QNEntityHelper::indexFromFieldSpecifier(specifier);
    if (!index || *index >= size()) return;
    const std::size_t dot = specifier.find(u'.');
    setValueForItemAtIndexFieldSpecifier(
        value, static_cast<std::uint64_t>(*index),
        dot == StringView::npos ? StringView() : specifier.substr(dot + 1));
}

Value QNObjectCollection::valueForItemAtIndexFieldSpecifier(std::uint64_t index,
                                                            StringView specifier) const {
    if (index >= items_.size()) return Value();
    const Value& item = items_[static_cast<std::size_t>(index)];
    if (specifier.empty()) return item;
    const QNSDTData* data = QNSDTData::from(item);
    return data ? data->valueForFieldSpecifier(specifier) : Value();
}

void QNObjectCollection::setValueForItemAtIndexFieldSpecifier(const Value& value,
                                                              std::uint64_t index,
                                                              StringView specifier) {
    if (index >= items_.size()) return;
    Value& cur = items_[static_cast<std::size_t>(index)];
    if (!specifier.empty()) {
        if (QNSDTData* data = QNSDTData::mutableFrom(cur)) {
            data->setValueForFieldSpecifier(value, specifier);
            internalMarkAsModified();
        }
        return;
    }
    const QNSDTData* current = QNSDTData::from(cur);
    const QNSDTData* incoming = QNSDTData::from(value);
    Value replacement;
    if (!value.isAbsentOrNull()) {
        if (isRecord(current)) {
            if (isRecord(incoming)) {
                replacement = value;
            } else if (incoming) {
                const ClassInfo* itemClass = collectionItemsClass();
                replacement = convertedToClass(*incoming,
                                               itemClass ? itemClass : cur.asObject()->classInfo());
            }
        } else if (current) {
            auto* collection = dynamic_cast<const QNObjectCollection*>(current);
            auto* other = value.as<QNObjectCollection>().get();
            if (other && collection) {
                if (other->itemsTypeName() == collection->itemsTypeName()) replacement = value;
            } else if (incoming && collection) {
                replacement = Value(convertSDTDataToCollectionOfType(
                    value, collection->itemsTypeName().value_or(String())));
            }
        } else if (!itemsTypeName()) {
            // A simple item takes a value of its kind; any number replaces a
            // number, and an item that became the null marker takes any
            // simple value (structured values stay out of simple lists).
            const bool sameKind = cur.kind() == value.kind() && !cur.isObject();
            const bool bothNumbers = cur.isNumber() && value.isNumber();
            const bool fromNull = cur.isNull() && !incoming;
            const bool sameClass =
                cur.isObject() && value.isObject() && !incoming && cur.asObject()->classInfo() &&
                value.asObject()->classInfo() &&
                value.asObject()->classInfo()->isKindOf(cur.asObject()->classInfo());
            if (sameKind || bothNumbers || fromNull || sameClass) replacement = value;
        }
    } else if (isRecord(current)) {
        const ClassInfo* itemClass = cur.asObject()->classInfo();
        if (Ref<Object> blank = itemClass ? itemClass->create() : nullptr)
            replacement = Value(std::move(blank));
    } else if (current) {
        if (auto* collection = dynamic_cast<QNObjectCollection*>(QNSDTData::mutableFrom(cur)))
            collection->removeAllItems();
        internalMarkAsModified();
        return;
    } else if (!itemsTypeName()) {
        replacement = Value::null();
    }
    if (replacement.isAbsent()) return;
    cur = std::move(replacement);
    internalMarkAsModified();
}

// --- Sorting --------------------------------------------------------------------------

void QNObjectCollection::sort(StringView membersList) {
    if (items_.empty() || !itemsTypeName() || !collectionItemsClass()) return;
    QNSDTDataCollectionSorter::sortCollectionItems(
        items_, internal::lowercased(membersList), [](const Value& item, StringView member) {
            const QNSDTData* data = QNSDTData::from(item);
            return data ? data->objectValueForLowercaseFieldName(member) : Value();
        });
}

// --- Cloning, equality, hashing ------------------------------------------------------

Ref<QNObjectCollection> QNObjectCollection::clone() const {
    Ref<QNObjectCollection> copy;
    if (const ClassInfo* own = classInfo(); own && own->canCreate())
        copy = std::dynamic_pointer_cast<QNObjectCollection>(own->create());
    if (!copy) copy = makeRef<QNObjectCollection>();
    if (!copy->itemsTypeName() || itemsTypeName()) copy->setItemsTypeName(itemsTypeName());
    copy->lastModified_ = lastModified_;
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return copy;
    copy->items_.reserve(items_.size());
    for (const Value& item : items_) {
        const QNSDTData* data = QNSDTData::from(item);
        Ref<Object> cloned = data ? data->sdtDataClone() : nullptr;
        copy->items_.push_back(cloned ? Value(std::move(cloned)) : item);
    }
    return copy;
}

bool QNObjectCollection::isEqual(const Value& other) const {
    auto* that = other.as<QNObjectCollection>().get();
    if (!that) return false;
    if (that == this) return true;
    if (classInfo() != that->classInfo() || itemsTypeName() != that->itemsTypeName() ||
        items_.size() != that->items_.size())
        return false;
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return false;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].isEqual(that->items_[i])) return false;
    return true;
}

std::size_t QNObjectCollection::hash() const {
    std::size_t h = 0x9e3779b97f4a7c15ull ^ items_.size();
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return h;
    for (const Value& item : items_)
        h = (h ^ item.hash()) * 0x100000001b3ull;
    return h;
}

// --- JSON out ----------------------------------------------------------------------

bool QNObjectCollection::serializeInto(QNJSONEmitter& out, const QNSDTSerializationOptions& options,
                                       std::vector<String>* files,
                                       StringView placeholderFormat) const {
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return out.beginArray(0) && out.endArray();
    if (!out.beginArray(items_.size())) return false;
    for (const Value& item : items_) {
        bool written;
        if (const QNSDTData* data = QNSDTData::from(item)) {
            written = data->serializeInto(out, options, files, placeholderFormat);
        } else if (item.isAbsentOrNull()) {
            written = out.value(Value::null());
        } else if (item.isString() || (options.useJSON && (item.isNumber() || item.isArray() ||
                                                           item.isDictionary()))) {
            written = out.value(item);
        } else if (const auto source = item.as<QNJSONValueSource>(); source && options.useJSON) {
            written = out.value(source->jsonValue());
        } else {
            written = out.value(Value(item.description()));
        }
        if (!written) return false;
    }
    return out.endArray();
}

// --- JSON in -----------------------------------------------------------------------

bool QNObjectCollection::fromJSONString(StringView text, QNObjectCollection* messages) {
    removeAllItems();
    return sdtDataFromJson(Value(String(text)), messages);
}

bool QNObjectCollection::fromJSONFile(QNTextFileSource& file, QNObjectCollection* messages) {
    String failure;
    const std::optional<String> text = file.readAllTextForLoading(&failure);
    if (!text) {
        internal::reportJSONLoadFailure(
            failure.empty() ? String(u"Could not read the file") : failure, messages);
        return false;
    }
    return fromJSONString(*text, messages);
}

bool QNObjectCollection::sdtDataFromJson(const Value& textOrFile, QNObjectCollection* messages) {
    std::optional<String> text;
    if (textOrFile.isString()) {
        text = textOrFile.asString();
    } else if (auto file = textOrFile.as<QNTextFileSource>()) {
        String failure;
        text = file->readAllTextForLoading(&failure);
        if (!text) {
            internal::reportJSONLoadFailure(failure, messages);
            return false;
        }
    }
    if (!text) return true;
    std::string parseError;
    const std::optional<Value> parsed = QNJSON::parse(StringView(*text), &parseError);
    if (!parsed) {
        internal::reportJSONLoadFailure(String(parseError.begin(), parseError.end()), messages);
        return false;
    }
    const Array* list = parsed->asArray();
    if (!list) {
        internal::reportJSONLoadFailure(u"Parsed JSON is not an array", messages);
        return false;
    }
    return loadFromArray(list->items(), QNSDTNameConversionJSONOrShort, messages);
}

bool QNObjectCollection::loadFromArray(const std::vector<Value>& array, int nameConversion,
                                       QNObjectCollection* messages) {
    if (!itemsTypeName()) {
        auto& items = mutableItems();
        items.reserve(items.size() + array.size());
        bool allStored = true;
        for (const Value& element : array) {
            if (auto converted = itemToStore(element)) {
                items.push_back(converted->isAbsent() ? Value::null() : std::move(*converted));
            } else {
                allStored = false;  // refused and reported by the typed collection
            }
        }
        return allStored;
    }
    const ClassInfo* itemClass = collectionItemsClass();
    if (!itemClass) {
        // Nothing can be made of the elements: say so rather than drop them.
        if (!array.empty())
            internal::reportJSONLoadFailure(
                u"No class for the collection's items (" + *itemsTypeName() + u")", messages);
        return array.empty();
    }
    bool allLoaded = true;
    items_.reserve(items_.size() + array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        Ref<Object> item = itemClass->create();
        if (!item) continue;
        if (auto* record = dynamic_cast<QNSDTData*>(item.get())) {
            const Value& element = array[i];
            String error;
            bool loaded;
            if (const QNSDTData* other = QNSDTData::from(element)) {
                loaded = record->loadFromValue(Value(other->sdtDataToJson()),
                                               QNSDTNameConversionJSONOrShort, &error);
            } else {
                loaded = record->loadFromValue(element, nameConversion, &error);
            }
            if (!loaded) {
                allLoaded = false;
                const std::string position = std::to_string(i + 1);
                internal::reportJSONLoadFailure(
                    u"Element " + String(position.begin(), position.end()) + u": " + error,
                    messages);
            }
        }
        addItem(Value(std::move(item)));
    }
    return allLoaded;
}

void QNObjectCollection::deserialize(const Value& value, int nameConversion) {
    if (const Array* list = value.asArray()) loadFromArray(list->items(), nameConversion);
}

bool QNObjectCollection::loadFromValue(const Value& value, int nameConversion, String* error) {
    Value parsed = value;
    if (value.isString()) {
        std::string parseError;
        auto document = QNJSON::parse(StringView(value.asString()), &parseError);
        if (!document) {
            if (error) *error = String(parseError.begin(), parseError.end());
            return false;
        }
        parsed = std::move(*document);
    }
    const Array* list = parsed.asArray();
    if (!list) {
        if (error) *error = u"Invalid format, expected an Array";
        return false;
    }
    QNObjectCollection messages;
    const bool loaded = loadFromArray(list->items(), nameConversion, &messages);
    if (!loaded && error && !messages.items().empty()) {
        if (const QNSDTData* first = QNSDTData::from(messages.items().front()))
            *error = first->valueForFieldSpecifier(u"Description").description();
        else if (const Dictionary* map = messages.items().front().asDictionary())
            *error = map->get(u"Description").asString();
    }
    return loaded;
}

Ref<QNObjectCollection> QNObjectCollection::typeNameItems(std::optional<String> itemsTypeName,
                                                          const std::vector<Value>& items) {
    if (!itemsTypeName) return makeRef<QNObjectCollection>(items);
    auto collection = makeRef<QNObjectCollection>(std::move(itemsTypeName));
    collection->loadFromArray(items);
    return collection;
}

Ref<QNObjectCollection> QNObjectCollection::convertSDTDataToCollectionOfType(
    const Value& value, const String& typeName) {
    if (auto collection = value.as<QNObjectCollection>()) {
        const ClassInfo* target =
            typeName.empty() ? nullptr : QNObjectCollection(typeName).collectionItemsClass();
        if (!target || collection->itemsTypeName() == typeName) return collection;
        auto converted = makeRef<QNObjectCollection>(typeName);
        for (const Value& item : collection->items()) {
            const QNSDTData* data = QNSDTData::from(item);
            const bool ofClass = item.isObject() && item.asObject()->classInfo() &&
                                 item.asObject()->classInfo()->isKindOf(target);
            converted->addItem(ofClass || !data ? item : convertedToClass(*data, target));
        }
        return converted;
    }
    auto converted = makeRef<QNObjectCollection>(typeName.empty() ? std::optional<String>()
                                                                  : std::optional(typeName));
    if (!value.isAbsentOrNull()) {
        const Value json =
            QNEntityHelper::jsonValueFromValueForDataType(value, QNEntityDataTypeStructured, 0);
        if (auto text = yajl_JSONString(json)) converted->fromJSONString(*text);
    }
    return converted;
}

}  // namespace qn
