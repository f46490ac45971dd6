// Lower-casing and the walk over user-perceived characters: the library's one
// implementation, shared by the string built-ins, the evaluator and the
// directory filters. The break iterator is built once per process and cloned
// into each thread that uses it, since an ICU iterator is not thread-safe.
#include "core/characters.h"

#include <unicode/locid.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "core/ascii.h"

namespace qn {

namespace internal {

String lowercased(StringView text) {
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        return asciiLowercased(text);
    }
    String out(text.size(), u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length =
            u_strToLower(out.data(), static_cast<int32_t>(out.size()), text.data(),
                         static_cast<int32_t>(text.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(length), u'\0');
            continue;
        }
        if (U_FAILURE(status)) break;
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    return String(text);
}

icu::BreakIterator* characterIterator() {
    static const icu::BreakIterator* const prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? it.release() : nullptr;
    }();
    thread_local const std::unique_ptr<icu::BreakIterator> iterator(prototype ? prototype->clone()
                                                                              : nullptr);
    return iterator.get();
}

}  // namespace internal

}  // namespace qn
