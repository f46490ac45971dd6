// The message records that parsers append to a caller's message list. A
// record has an "Id", a "Type" (1 is an error) and a "Description".
//
// Thread-safe (no shared state).
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

namespace qn {

class QN_API QNSDTMessagesHelper {
public:
    static constexpr std::int64_t kErrorType = 1;
    // The Id of a message made from a JSON input failure.
    static constexpr StringView kJSONErrorId = u"FromJSON Error";

    // An error message record with that Id and Description.
    static Value errorSDTMessageWithIdDescription(const String& id, const String& description);
    // The error message record of a JSON input failure.
    static Value sdtDataFromJSONErrorSDTMessageWithDescription(const String& description) {
        return errorSDTMessageWithIdDescription(String(kJSONErrorId), description);
    }
};

}  // namespace qn
