#include <qn/data/enumeration.h>

namespace qn {

QN_REGISTER_CLASS(QNEnumeration, Object)

void QNEnumeration::addValueDescription(Value value, String description) {
    for (auto& [existing, text] : entries_) {
        if (existing.isEqual(value)) {
            text = std::move(description);
            return;
        }
    }
    entries_.emplace_back(std::move(value), std::move(description));
}

String QNEnumeration::getDescriptionKey(const Value& value) const {
    for (const auto& [existing, text] : entries_) {
        if (existing.isEqual(value)) return text;
    }
    return String();
}

Ref<QNObjectCollection> QNEnumeration::getValues() const {
    std::vector<Value> values;
    values.reserve(entries_.size());
    for (const auto& entry : entries_)
        values.push_back(entry.first);
    return QNObjectCollection::initWithArray(values);
}

}  // namespace qn
