// Shared pieces of the date services: the ICU zone behind a TimeZone and the
// per-thread formatter lookup that hot paths use without taking a reference
// count (the DateTime/UDate conversion is in runtime/instant.h).
#pragma once

#include <qn/host/dates.h>

#include <unicode/basictz.h>
#include <unicode/timezone.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/instant.h"

namespace qn {

struct TimeZone::Impl {
    String name;
    std::string utf8Name;
    std::unique_ptr<icu::TimeZone> zone;
    bool utc = false;
};

namespace internal {

const icu::TimeZone& icuZone(const TimeZone& zone) noexcept;

// This thread's cached formatter; valid until this thread caches another.
DateFormatter& threadFormatter(std::string_view localeIdentifier, StringView pattern,
                               const TimeZone& zone);

}  // namespace internal
}  // namespace qn
