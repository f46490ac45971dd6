// The message records that parsers append to a caller's message list. A
// record has an "Id", a "Type" (1 is an error) and a "Description".
//
// The records component installs the maker of real message records (the
// application's own message class when it has one); until then a message is
// a Dictionary with those three keys.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>

namespace qn {

class QN_API QNSDTMessagesHelper {
public:
    static constexpr std::int64_t kErrorType = 1;
    // The Id of a message made from a JSON input failure.
    static constexpr StringView kJSONErrorId = u"FromJSON Error";

    using MessageMaker =
        std::function<Value(const String& id, std::int64_t type, const String& description)>;
    // Replaces the maker (an empty one restores the Dictionary form).
    static void setMessageMaker(MessageMaker maker);

    // A message record with that Id, Type and Description.
    static Value messageWithIdTypeDescription(const String& id, std::int64_t type,
                                              const String& description);
    // An error message record with that Id and Description.
    static Value errorSDTMessageWithIdDescription(const String& id, const String& description) {
        return messageWithIdTypeDescription(id, kErrorType, description);
    }
    // The Id of a message made from an XML input failure.
    static constexpr StringView kXMLErrorId = u"FromXML Error";

    // The error message record of a JSON input failure.
    static Value sdtDataFromJSONErrorSDTMessageWithDescription(const String& description) {
        return errorSDTMessageWithIdDescription(String(kJSONErrorId), description);
    }
};

}  // namespace qn
