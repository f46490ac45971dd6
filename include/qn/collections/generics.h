// Typed collections: every element is a T. Whatever is stored (by
// construction from a list, addItem, addItemAtIndex, setItems,
// setCurrentItem) is converted to T first; an element that cannot be
// converted is reported through the fatal-error hook as
//   "Invalid item type in <collection>. Expected <T> but was <value>"
// and then replaced by the element type's fallback when it has one, or
// refused (the operation leaves the collection as it was).
//
// How a value becomes a T is QNElementConversion<T>: by default only a T
// itself; a T may specialise it (see QNPropertiesCollection).
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/registry.h>
#include <qn/host/utilities.h>

#include <optional>
#include <string>
#include <vector>

namespace qn {

template <class T>
struct QNElementConversion {
    // The value as a T, or null when it is not one.
    static Ref<T> convert(const Value& value) { return value.as<T>(); }
    // What takes the place of an element that is not convertible; null when
    // nothing does.
    static Ref<T> fallback() { return nullptr; }
};

template <class T>
class QNGenericsObjectCollection : public QNObjectCollection {
public:
    QNGenericsObjectCollection() = default;
    explicit QNGenericsObjectCollection(const std::vector<Value>& array) { setItems(array); }

    // The items, each a T.
    std::vector<Ref<T>> typedItems() const {
        std::vector<Ref<T>> out;
        out.reserve(items().size());
        for (const Value& v : items())
            out.push_back(v.as<T>());
        return out;
    }

protected:
    std::optional<Value> itemToStore(const Value& item) override {
        if (auto element = QNElementConversion<T>::convert(item))
            return Value(std::static_pointer_cast<Object>(element));
        Ref<T> replacement;
        QNUtilities::tryRecoverFatalErrorWithRecoveryBlock(invalidItemMessage(item), [&] {
            replacement = QNElementConversion<T>::fallback();
            return replacement != nullptr;
        });
        if (!replacement) return std::nullopt;
        return Value(std::static_pointer_cast<Object>(replacement));
    }

private:
    String invalidItemMessage(const Value& item) const {
        const ClassInfo* expected = T::staticClassInfo();
        const String expectedName =
            expected ? fromUtf8(expected->name()) : String(u"<unregistered class>");
        return String(u"Invalid item type in ") + className() + u". Expected " + expectedName +
               u" but was " + item.description();
    }
};

}  // namespace qn
