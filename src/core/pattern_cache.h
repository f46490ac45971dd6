// A small least-recently-used cache of what is compiled from a pattern text
// and a few option bits (like patterns, regular expressions). Meant to be
// one per thread: thread-compatible, no locks.
#pragma once

#include <qn/core/string.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <unordered_map>

namespace qn::internal {

template <class Entry, std::size_t Capacity>
class PatternCache {
public:
    // The entry for (pattern, options); `make()` builds it on a miss. It is
    // built completely before it joins the cache, so a failure (out of
    // memory) leaves no half-made entry behind.
    template <class Make>
    Entry& get(StringView pattern, std::uint32_t options, Make&& make) {
        // Texts matched against one pattern hit the front entry every time.
        if (!slots_.empty() && slots_.front().options == options &&
            slots_.front().pattern == pattern)
            return slots_.front().entry;

        if (auto it = index_.find(Key{pattern, options}); it != index_.end()) {
            slots_.splice(slots_.begin(), slots_, it->second);
            return slots_.front().entry;
        }

        Slot fresh{String(pattern), options, std::forward<Make>(make)()};
        if (slots_.size() >= Capacity) {
            const Slot& last = slots_.back();
            index_.erase(Key{last.pattern, last.options});
            slots_.pop_back();
        }
        slots_.push_front(std::move(fresh));
        try {
            // The key views the slot's own text, which stays put in its node.
            index_.emplace(Key{slots_.front().pattern, options}, slots_.begin());
        } catch (...) {
            slots_.pop_front();
            throw;
        }
        return slots_.front().entry;
    }

private:
    struct Slot {
        String pattern;
        std::uint32_t options;
        Entry entry;
    };
    struct Key {
        StringView pattern;
        std::uint32_t options;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<StringView>{}(key.pattern) ^ key.options;
        }
    };

    std::list<Slot> slots_;
    std::unordered_map<Key, typename std::list<Slot>::iterator, KeyHash> index_;
};

}  // namespace qn::internal
