// Error message records for callers' message lists.
#include <qn/core/containers.h>
#include <qn/host/messages.h>

#include <memory>
#include <mutex>

namespace qn {
namespace {

std::mutex& makerMutex() {
    static std::mutex mutex;
    return mutex;
}

// Swapped whole under the mutex and called outside it, so a maker may
// itself make messages.
std::shared_ptr<const QNSDTMessagesHelper::MessageMaker>& installedMaker() {
    static std::shared_ptr<const QNSDTMessagesHelper::MessageMaker> maker;
    return maker;
}

Value dictionaryMessage(const String& id, std::int64_t type, const String& description) {
    auto record = makeRef<Dictionary>();
    record->reserve(3);
    record->set(u"Id", Value(id));
    record->set(u"Type", Value(type));
    record->set(u"Description", Value(description));
    return Value(record);
}

}  // namespace

void QNSDTMessagesHelper::setMessageMaker(MessageMaker maker) {
    auto next = maker ? std::make_shared<const MessageMaker>(std::move(maker)) : nullptr;
    std::lock_guard lock(makerMutex());
    installedMaker() = std::move(next);
}

Value QNSDTMessagesHelper::messageWithIdTypeDescription(const String& id, std::int64_t type,
                                                        const String& description) {
    std::shared_ptr<const MessageMaker> maker;
    {
        std::lock_guard lock(makerMutex());
        maker = installedMaker();
    }
    if (maker) {
        Value message = (*maker)(id, type, description);
        if (!message.isAbsentOrNull()) return message;
    }
    return dictionaryMessage(id, type, description);
}

}  // namespace qn
