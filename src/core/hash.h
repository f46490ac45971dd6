// Hash mixing shared by the value types; not part of the public API.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qn::internal {

// splitmix64 finaliser: spreads small integers over the whole word, so
// hashes built from counts and small values do not cluster.
inline std::size_t mixHash(std::uint64_t x) noexcept {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<std::size_t>(x ^ (x >> 31));
}

}  // namespace qn::internal
