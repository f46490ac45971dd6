// The list core of QNObjectCollection and QNStringCollection.
#include <qn/collections/collection.h>
#include <qn/core/containers.h>
#include <qn/host/offline_helper.h>
#include <qn/host/utilities.h>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>

#include <string>
#include <unordered_map>

#include "collections/sdt_names.h"
#include "core/structured_depth.h"

namespace qn {

QN_REGISTER_CLASS(QNObjectCollection, Object)
QN_REGISTER_CLASS(QNStringCollection, QNObjectCollection)
QN_REGISTER_CLASS(QNJSONArray, Object)

namespace {

Value stored(const Value& item) {
    return item.isAbsent() ? Value::null() : item;
}

std::vector<Value> nestedFromArray(const std::vector<Value>& array) {
    std::vector<Value> items;
    items.reserve(array.size());
    for (const Value& element : array) {
        if (const Array* list = element.asArray()) {
            items.emplace_back(
                std::static_pointer_cast<Object>(makeRef<QNObjectCollection>(list->items())));
        } else {
            items.push_back(stored(element));
        }
    }
    return items;
}

// "<before><position><after>", as "%li" writes the position.
String positionMessage(StringView before, std::int64_t position, StringView after) {
    const std::string digits = std::to_string(position);
    return String(before) + String(digits.begin(), digits.end()) + String(after);
}

}  // namespace

QNObjectCollection::QNObjectCollection(const std::vector<Value>& array)
    : items_(nestedFromArray(array)) {}

QNObjectCollection::~QNObjectCollection() = default;

void QNObjectCollection::setItems(std::vector<Value> items) {
    for (auto& item : items) {
        auto converted = itemToStore(item);
        if (!converted) return;  // refused: the collection stays as it was
        item = stored(*converted);
    }
    items_ = std::move(items);
}

void QNObjectCollection::setCurrentItem(Value item) {
    if (auto converted = itemToStore(item)) currentItem_ = std::move(*converted);
}

const ClassInfo* QNObjectCollection::collectionItemsClass() const {
    if (itemsClass_) return itemsClass_;
    const auto name = itemsTypeName();
    if (!name) return nullptr;
    // Records make their collections anew for every record loaded, so the
    // resolution is kept per thread too. Classes never go away and the first
    // registration of a name wins, so a type name once resolved stays so;
    // only hits are kept (a class not found yet may still be registered).
    thread_local std::unordered_map<String, const ClassInfo*> resolved;
    if (auto hit = resolved.find(*name); hit != resolved.end()) return itemsClass_ = hit->second;
    const ClassInfo* found = ClassRegistry::classNamed(StringView(*name));
    if (!found) found = ClassRegistry::classNamed(StringView(internal::typeNameFromSDTName(*name)));
    if (found) resolved.emplace(*name, found);
    itemsClass_ = found;
    return found;
}

Value QNObjectCollection::createItemInstance() const {
    const ClassInfo* itemClass = collectionItemsClass();
    if (!itemClass) return Value();
    Ref<Object> item = itemClass->create();
    return item ? Value(std::move(item)) : Value();
}

void QNObjectCollection::internalMarkAsModified() {
    lastModified_ = DateTime::now();
}

void QNObjectCollection::addItem(const Value& item) {
    auto converted = itemToStore(item);
    if (!converted) return;
    items_.push_back(stored(*converted));
    internalMarkAsModified();
}

void QNObjectCollection::addItemAtIndex(const Value& item, std::int64_t position) {
    const auto count = static_cast<std::int64_t>(items_.size());
    if (position < 0 || position > count + 1) {
        QNUtilities::tryRecoverFatalErrorWithExceptionName(
            positionMessage(u"Collection.Add() position was out of range (", position, u")."),
            QNUtilities::kRangeExceptionName);
        return;
    }
    if (position == 0) {
        addItem(item);
        return;
    }
    auto converted = itemToStore(item);
    if (!converted) return;
    items_.insert(items_.begin() + (position - 1), stored(*converted));
    internalMarkAsModified();
}

void QNObjectCollection::removeAllItems() {
    if (items_.empty()) return;
    items_.clear();
    internalMarkAsModified();
}

bool QNObjectCollection::removeElement(std::int64_t position) {
    if (position < 1 || position > static_cast<std::int64_t>(items_.size())) return false;
    items_.erase(items_.begin() + (position - 1));
    internalMarkAsModified();
    return true;
}

void QNObjectCollection::removeItemAtIndex(std::uint64_t position) {
    if (position <= items_.size()) removeElement(static_cast<std::int64_t>(position));
}

Value QNObjectCollection::objectAtIndex(std::int64_t position) const {
    if (position >= 1 && position <= static_cast<std::int64_t>(items_.size()))
        return items_[static_cast<std::size_t>(position - 1)];
    Value blank;
    QNUtilities::tryRecoverFatalErrorWithExceptionNameRecoveryBlock(
        positionMessage(u"Collection.Item() argument was out of range (", position, u")."),
        QNUtilities::kRangeExceptionName, [&] {
            blank = createItemInstance();
            return !blank.isAbsent();
        });
    return blank;
}

String QNObjectCollection::stringAtIndex(std::int64_t position) const {
    return QNUtilities::stringFromObject(objectAtIndex(position));
}

std::int64_t QNObjectCollection::indexOf(const Value& item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].isEqual(item)) return static_cast<std::int64_t>(i) + 1;
    return 0;
}

Value QNObjectCollection::valueForItemAtIndex(std::uint64_t index) const {
    return index < items_.size() ? items_[static_cast<std::size_t>(index)] : Value();
}

String QNObjectCollection::description() const {
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return u"<" + Object::description() + u">";
    return u"<" + Object::description() + u"\n\titems: " + Array(items_).description() + u">";
}

Value QNObjectCollection::elementAt(std::int64_t position) const {
    return objectAtIndex(position);
}

namespace {

// A number reads as the type asked for; anything else is a programming error
// of the caller, reported, and reads 0. A position out of range is reported
// once, by objectAtIndex, and not again as an item of the wrong type.
template <class T, class Read>
T typedElement(const QNObjectCollection& collection, std::int64_t position,
               const char16_t* complaint, Read read) {
    const bool inRange = position >= 1 && position <= collection.size();
    const Value item = collection.objectAtIndex(position);
    if (item.isNumber()) return read(item);
    if (inRange) QNUtilities::tryRecoverFatalError(String(complaint));
    return T{};
}

}  // namespace

std::int64_t QNObjectCollection::intElementAt(std::int64_t position) const {
    return typedElement<std::int64_t>(*this, position, u"Collection item is not an Int",
                                      [](const Value& v) { return v.integerValue(); });
}

std::int64_t QNObjectCollection::int64ElementAt(std::int64_t position) const {
    return typedElement<std::int64_t>(*this, position, u"Collection item is not an Int64",
                                      [](const Value& v) { return v.integerValue(); });
}

Decimal QNObjectCollection::decimalElementAt(std::int64_t position) const {
    return typedElement<Decimal>(*this, position, u"Collection item is not a Decimal",
                                 [](const Value& v) { return v.decimalValue(); });
}

// --- Generated property names ------------------------------------------------------

String QNObjectCollection::generatedPropertyNameForPropertyName(StringView name) {
    return generatedPropertyNameForPropertyName(name, QNOfflineHelper::isSwiftGenerator());
}

String QNObjectCollection::generatedPropertyNameForPropertyName(StringView name, bool swiftStyle) {
    String out(name);
    if (swiftStyle) std::replace(out.begin(), out.end(), u'.', u'_');
    return out;
}

String QNObjectCollection::generatedPropertyNameWithPropertyPrefixFieldName(StringView prefix,
                                                                            StringView fieldName) {
    return generatedPropertyNameWithPropertyPrefixFieldName(prefix, fieldName,
                                                            QNOfflineHelper::isSwiftGenerator());
}

String QNObjectCollection::generatedPropertyNameWithPropertyPrefixFieldName(StringView prefix,
                                                                            StringView fieldName,
                                                                            bool swiftStyle) {
    String field(fieldName);
    if (swiftStyle && !field.empty()) {
        // Each word's first letter upper-cased and the rest lower-cased, by
        // ICU's word breaks in the root locale.
        icu::UnicodeString text(false, field.data(), static_cast<std::int32_t>(field.size()));
        text.toTitle(nullptr, icu::Locale::getRoot());
        field.assign(text.getBuffer(), static_cast<std::size_t>(text.length()));
    }
    return generatedPropertyNameForPropertyName(String(prefix) + field, swiftStyle);
}

// --- QNStringCollection --------------------------------------------------------

QNStringCollection::QNStringCollection(std::vector<String> strings) {
    auto& items = mutableItems();
    items.reserve(strings.size());
    for (auto& s : strings)
        items.emplace_back(std::move(s));
}

Ref<QNStringCollection> QNStringCollection::stringCollectionFromString(StringView text) {
    auto collection = makeRef<QNStringCollection>();
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(u';', start);
        collection->addItem(Value(String(text.substr(start, end - start))));
        if (end == StringView::npos) break;
        start = end + 1;
    }
    return collection;
}

String QNStringCollection::getString() const {
    String out;
    bool first = true;
    for (const Value& item : items()) {
        if (!first) out += u';';
        first = false;
        out += QNUtilities::stringFromObject(item);
    }
    return out;
}

void QNStringCollection::addItem(const Value& item) {
    QNObjectCollection::addItem(item.isString() ? item : Value(item.description()));
}

String QNStringCollection::stringAtIndex(std::int64_t position) const {
    const Value item = objectAtIndex(position);
    return item.isString() ? item.asString() : QNUtilities::stringFromObject(item);
}

}  // namespace qn
