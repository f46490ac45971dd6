// A 16-byte universally unique identifier with the upper-case canonical text
// form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
//
// Immutable value type: thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qn {

class QN_API QNUUID {
public:
    using Bytes16 = std::array<std::uint8_t, 16>;

    // The empty identifier (all zero bytes).
    constexpr QNUUID() noexcept = default;
    constexpr explicit QNUUID(const Bytes16& bytes) noexcept : bytes_(bytes) {}

    // A new random (version 4) identifier from the system's secure random source.
    static QNUUID createUUID();
    static constexpr QNUUID emptyUUID() noexcept { return QNUUID(); }

    // The canonical 36-character form, letters in either case; absent for
    // anything else.
    static std::optional<QNUUID> fromString(StringView text) noexcept;
    static std::optional<QNUUID> fromString(std::string_view text) noexcept;
    static std::optional<QNUUID> initWithString(StringView text) noexcept {
        return fromString(text);
    }

    constexpr bool isEmpty() const noexcept {
        for (auto b : bytes_)
            if (b != 0) return false;
        return true;
    }
    constexpr const Bytes16& bytes() const noexcept { return bytes_; }

    String uuidString() const;
    std::string uuidStdString() const;

    friend constexpr bool operator==(const QNUUID&, const QNUUID&) noexcept = default;
    friend constexpr auto operator<=>(const QNUUID&, const QNUUID&) noexcept = default;

    std::size_t hash() const noexcept;

private:
    Bytes16 bytes_{};
};

}  // namespace qn

template <>
struct std::hash<qn::QNUUID> {
    std::size_t operator()(const qn::QNUUID& u) const noexcept { return u.hash(); }
};
