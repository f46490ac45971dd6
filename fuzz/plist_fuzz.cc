// Property lists come from the bundle and from the user-data store: arbitrary
// bytes must give a value or a refusal, never a crash. A parsed value is
// written back and must read again to the same value.

#include <qn/host/bundle.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto value = qn::QNPropertyList::parse(bytes);
    if (!value) return 0;
    std::string xml = qn::QNPropertyList::toXML(*value);
    auto again = qn::QNPropertyList::parse(xml);
    if (!again) __builtin_trap();
    // Same shape: the written form describes the same value (NaN reals and
    // nulls aside, which is why this compares the XML, not the values).
    if (qn::QNPropertyList::toXML(*again) != xml) __builtin_trap();
    return 0;
}
