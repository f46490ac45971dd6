// Enumerated domains of generated code: each value with its description, in
// the order the generated subclass declares them.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <utility>
#include <vector>

namespace qn {

class QN_API QNEnumeration : public Object {
    QN_OBJECT(QNEnumeration)
public:
    using Entries = std::vector<std::pair<Value, String>>;

    QNEnumeration() = default;
    explicit QNEnumeration(Entries entries) : entries_(std::move(entries)) {}

    // Value -> description, in declaration order.
    const Entries& dictionary() const noexcept { return entries_; }
    // Adds a value (a later description of an equal value replaces the
    // earlier one, keeping its place).
    void addValueDescription(Value value, String description);

    // The description of the value (numbers equal across kinds: 1 finds
    // 1.0); "" when the value is not enumerated.
    String getDescriptionKey(const Value& value) const;
    // Every value, in declaration order, in an untyped collection.
    Ref<QNObjectCollection> getValues() const;

private:
    Entries entries_;
};

}  // namespace qn
