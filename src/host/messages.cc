// Error message records for callers' message lists.
#include <qn/core/containers.h>
#include <qn/host/messages.h>

namespace qn {

Value QNSDTMessagesHelper::errorSDTMessageWithIdDescription(const String& id,
                                                            const String& description) {
    auto record = makeRef<Dictionary>();
    record->reserve(3);
    record->set(u"Id", Value(id));
    record->set(u"Type", Value(kErrorType));
    record->set(u"Description", Value(description));
    return Value(record);
}

}  // namespace qn
