// Sorting the items of a structured collection by a members list.
//
// The list names members separated by commas (blanks around them are
// ignored); a member in parentheses sorts descending: "lastname, (balance)".
// Values order as generated code compares them: absent and the null marker
// first, then numbers by value across kinds, then strings (in the runtime's
// string order, canonically equivalent texts equal), then dates, then
// anything else; values of one kind that have no order keep their places.
// The sort is stable.
//
// Thread-safe (the sorter keeps no state but the installed text order).
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <compare>
#include <functional>
#include <optional>
#include <vector>

namespace qn {

class QN_API QNSDTDataCollectionSorter {
public:
    struct Member {
        String name;
        bool descending = false;
    };
    // The value of a member of an item; Absent when it has none.
    using FieldGetter = std::function<Value(const Value& item, StringView member)>;
    // What a text is compared by (texts order as their keys' UTF-16 units);
    // absent when the text is its own key.
    using TextSortKey = std::optional<String> (*)(StringView text);

    // The members of a list, in order; empty names are dropped.
    static std::vector<Member> parseMembersList(StringView members);
    // Sorts `items` in place; the getter is asked once per item and member.
    static void sortCollectionItems(std::vector<Value>& items, StringView membersList,
                                    const FieldGetter& getter);
    // The order of two member values as described above.
    static std::weak_ordering compareSortValues(const Value& a, const Value& b);

    // The runtime installs its string order (the texts' canonical
    // decomposition); without it texts order as they are.
    static void setTextSortKey(TextSortKey key) noexcept;
};

}  // namespace qn
