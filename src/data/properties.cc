// QNProperties and QNProperty.
#include <qn/collections/collection.h>
#include <qn/core/json.h>
#include <qn/data/properties.h>
#include <qn/host/errors.h>
#include <qn/host/messages.h>

#include <atomic>
#include <string>

namespace qn {

QN_REGISTER_CLASS(QNProperty, Object)
QN_REGISTER_CLASS(QNProperties, Object)
QN_REGISTER_CLASS(QNPropertiesCollection, QNObjectCollection)

String QNProperty::debugDescription() const {
    String out = u"<";
    out += Object::description();
    out += u' ';
    out += key_;
    out += u" => ";
    out += value_;
    out += u'>';
    return out;
}

namespace {

// Revisions come from one counter, so no two states of any two maps share
// one: a map assigned from another still reads as changed.
std::uint64_t nextRevision() noexcept {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

String textOf(const Value& value) {
    return value.isString() ? value.asString() : value.description();
}

}  // namespace

QNProperties::QNProperties(const Dictionary& map) {
    map_.reserve(map.size());
    for (const auto& [key, value] : map)
        map_.set(key, Value(textOf(value)));
    revision_ = nextRevision();
}

void QNProperties::addKeyValue(String key, String value) {
    map_.set(std::move(key), Value(std::move(value)));
    revision_ = nextRevision();
}

String QNProperties::get(StringView key) const {
    const Value& value = map_.get(key);
    return value.isString() ? value.asString() : String();
}

void QNProperties::remove(StringView key) {
    if (map_.remove(key)) revision_ = nextRevision();
}

void QNProperties::clear() {
    if (map_.empty()) return;
    map_.clear();
    revision_ = nextRevision();
}

std::vector<Ref<QNProperty>> QNProperties::snapshot() const {
    std::vector<Ref<QNProperty>> pairs;
    pairs.reserve(map_.size());
    for (const auto& [key, value] : map_)
        pairs.push_back(makeRef<QNProperty>(key, textOf(value)));
    return pairs;
}

Ref<QNProperty> QNProperties::first() {
    iteratorArray_ = snapshot();
    hasSnapshot_ = true;
    iteratorIndex_ = -1;
    return next();
}

Ref<QNProperty> QNProperties::next() {
    ++iteratorIndex_;
    if (eof()) return makeRef<QNProperty>();
    return iteratorArray_[static_cast<std::size_t>(iteratorIndex_)];
}

bool QNProperties::eof() const noexcept {
    return !hasSnapshot_ || iteratorIndex_ < 0 ||
           iteratorIndex_ >= static_cast<std::int64_t>(iteratorArray_.size());
}

Value QNProperties::jsonValue() const {
    return Value(dictionaryRepresentation());
}

String QNProperties::toJSONString() const {
    // Strings only: generation cannot fail.
    return yajl_JSONString(jsonValue()).value_or(String());
}

bool QNProperties::fromJSONString(StringView text, QNObjectCollection* messages) {
    clear();
    std::string parseError;
    std::optional<Value> root;
    if (!text.empty()) root = QNJSON::parse(text, &parseError);
    if (root) {
        if (const Dictionary* object = root->asDictionary()) {
            map_.reserve(object->size());
            for (const auto& [key, value] : *object) {
                if (value.isString()) {
                    map_.set(key, value);
                } else {
                    map_.set(key, Value(yajl_JSONString(value).value_or(String())));
                }
            }
            revision_ = nextRevision();
            return true;
        }
    }
    if (messages != nullptr) {
        String description;
        if (!root && !parseError.empty()) {
            description = fromUtf8(parseError);
        } else if (text.empty()) {
            description = u"Empty string";
        } else {
            description = u"Invalid JSON string: '";
            description += text;
            description += u"'";
        }
        const QNError error = QNError::defaultQNErrorWithLocalizedDescription(description);
        messages->addItem(QNSDTMessagesHelper::sdtDataFromJSONErrorSDTMessageWithDescription(
            error.localizedDescription()));
    }
    return false;
}

Ref<Dictionary> QNProperties::dictionaryRepresentation() const {
    auto copy = makeRef<Dictionary>();
    copy->reserve(map_.size());
    for (const auto& [key, value] : map_)
        copy->set(key, value);
    return copy;
}

std::vector<Ref<QNProperty>> QNProperties::objectEnumerator() const {
    return snapshot();
}

String QNProperties::debugDescription() const {
    String out = u"<";
    out += Object::description();
    out += u"\n\tproperties: ";
    out += map_.description();
    out += u'>';
    return out;
}

}  // namespace qn
