// Sorting structured collections by members lists.
#include <qn/core/decimal.h>
#include <qn/host/sdt_sorting.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <variant>

namespace qn {

namespace {

std::atomic<QNSDTDataCollectionSorter::TextSortKey> textSortKey{nullptr};

// Kinds in their sort order.
int rank(const Value& v) noexcept {
    if (v.isAbsentOrNull()) return 0;
    if (v.isNumber()) return 1;
    if (v.isString()) return 2;
    if (v.isDate()) return 3;
    return 4;
}

// The text without the blanks around it.
StringView trimmed(StringView text) noexcept {
    const auto blank = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::weak_ordering weak(std::partial_ordering order) noexcept {
    if (order == std::partial_ordering::less) return std::weak_ordering::less;
    if (order == std::partial_ordering::greater) return std::weak_ordering::greater;
    return std::weak_ordering::equivalent;  // equal, or a NaN
}

// A member value made ready to compare, kept compact: its kind's rank, a
// text's sort key by value (short ones live inside the key), and any other
// value as it is. Taken once per item and member, not per comparison.
struct SortKey {
    int rank = 0;
    // A text's key; an integer's or decimal's exact Decimal (the common
    // numbers compare without a Value); else the value.
    std::variant<Value, String, Decimal> held;
};

SortKey sortKey(Value value) {
    SortKey key;
    key.rank = rank(value);
    if (key.rank == 2) {
        const QNSDTDataCollectionSorter::TextSortKey textKey =
            textSortKey.load(std::memory_order_acquire);
        std::optional<String> text = textKey ? textKey(value.asString()) : std::nullopt;
        key.held = text ? std::move(*text) : value.asString();
    } else if (value.isInt() || value.isDecimal()) {
        key.held = value.decimalValue();
    } else {
        key.held = std::move(value);
    }
    return key;
}

// A number key as a Value, for the rare pairs that are not both Decimals.
Value numberOf(const SortKey& key) {
    if (const Decimal* d = std::get_if<Decimal>(&key.held)) return Value(*d);
    return *std::get_if<Value>(&key.held);
}

std::weak_ordering compareKeys(const SortKey& a, const SortKey& b) {
    if (a.rank != b.rank) return a.rank <=> b.rank;
    switch (a.rank) {
        case 1: {
            const Decimal* x = std::get_if<Decimal>(&a.held);
            const Decimal* y = std::get_if<Decimal>(&b.held);
            if (x && y) return x->compare(*y) <=> 0;
            return weak(Value::compareNumbers(numberOf(a), numberOf(b)));
        }
        case 2:
            return std::get_if<String>(&a.held)->compare(*std::get_if<String>(&b.held)) <=> 0;
        case 3:
            return weak(std::get_if<Value>(&a.held)->asDate() <=>
                        std::get_if<Value>(&b.held)->asDate());
        default:
            return std::weak_ordering::equivalent;
    }
}

}  // namespace

std::vector<QNSDTDataCollectionSorter::Member> QNSDTDataCollectionSorter::parseMembersList(
    StringView members) {
    std::vector<Member> out;
    std::size_t start = 0;
    while (start <= members.size()) {
        std::size_t end = members.find(u',', start);
        if (end == StringView::npos) end = members.size();
        StringView part = trimmed(members.substr(start, end - start));
        Member member;
        if (part.size() >= 2 && part.front() == u'(' && part.back() == u')') {
            member.descending = true;
            part = trimmed(part.substr(1, part.size() - 2));
        }
        if (!part.empty()) {
            member.name = String(part);
            out.push_back(std::move(member));
        }
        start = end + 1;
    }
    return out;
}

std::weak_ordering QNSDTDataCollectionSorter::compareSortValues(const Value& a, const Value& b) {
    return compareKeys(sortKey(a), sortKey(b));
}

namespace {

// One item's keys and position. Rows are sorted themselves rather than
// positions into a table of keys: merging then walks memory in order
// instead of jumping to a random row per comparison.
template <std::size_t N>
struct Row {
    std::size_t position;
    SortKey keys[N];
};

template <std::size_t N>
std::vector<std::size_t> sortedPositions(
    const std::vector<Value>& items, const std::vector<QNSDTDataCollectionSorter::Member>& members,
    const QNSDTDataCollectionSorter::FieldGetter& getter) {
    std::vector<Row<N>> rows(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        rows[i].position = i;
        for (std::size_t m = 0; m < N; ++m)
            rows[i].keys[m] = sortKey(getter(items[i], members[m].name));
    }
    std::stable_sort(rows.begin(), rows.end(), [&](const Row<N>& x, const Row<N>& y) {
        for (std::size_t m = 0; m < N; ++m) {
            const std::weak_ordering c = compareKeys(x.keys[m], y.keys[m]);
            if (c != 0) return members[m].descending ? c > 0 : c < 0;
        }
        return false;
    });
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        order[i] = rows[i].position;
    return order;
}

// Any number of members: positions sorted against a table of keys.
std::vector<std::size_t> sortedPositionsWide(
    const std::vector<Value>& items, const std::vector<QNSDTDataCollectionSorter::Member>& members,
    const QNSDTDataCollectionSorter::FieldGetter& getter) {
    const std::size_t width = members.size();
    std::vector<SortKey> keys;
    keys.reserve(items.size() * width);
    for (const Value& item : items)
        for (const auto& member : members)
            keys.push_back(sortKey(getter(item, member.name)));
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const SortKey* kx = &keys[x * width];
        const SortKey* ky = &keys[y * width];
        for (std::size_t m = 0; m < width; ++m) {
            const std::weak_ordering c = compareKeys(kx[m], ky[m]);
            if (c != 0) return members[m].descending ? c > 0 : c < 0;
        }
        return false;
    });
    return order;
}

}  // namespace

void QNSDTDataCollectionSorter::sortCollectionItems(std::vector<Value>& items,
                                                    StringView membersList,
                                                    const FieldGetter& getter) {
    const std::vector<Member> members = parseMembersList(membersList);
    if (members.empty() || items.size() < 2) return;
    // Keys are taken once per item and member.
    std::vector<std::size_t> order;
    switch (members.size()) {
        case 1:
            order = sortedPositions<1>(items, members, getter);
            break;
        case 2:
            order = sortedPositions<2>(items, members, getter);
            break;
        case 3:
            order = sortedPositions<3>(items, members, getter);
            break;
        default:
            order = sortedPositionsWide(items, members, getter);
            break;
    }
    std::vector<Value> sorted;
    sorted.reserve(items.size());
    for (std::size_t index : order)
        sorted.push_back(std::move(items[index]));
    items = std::move(sorted);
}

void QNSDTDataCollectionSorter::setTextSortKey(TextSortKey key) noexcept {
    textSortKey.store(key, std::memory_order_release);
}

}  // namespace qn
