// The library's message record, and the maker that gives parsers real
// message records.
#include <qn/core/registry.h>
#include <qn/data/record.h>
#include <qn/host/messages.h>

#include "collections/sdt_names.h"

namespace qn {

QN_REGISTER_CLASS_WITH(QNSDTMessage, QNSdtBusinessComponent, [](ClassDefinition& c) {
    c.property("Id", PropertyType::kObject);
    c.property("Type", PropertyType::kInt64);
    c.property("Description", PropertyType::kObject);
})

const std::vector<String>& QNSDTMessage::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Messages", u"Message"};
    return path;
}

const QNSDTPropertiesInfo::NameMapping& QNSDTMessage::sdtPropertiesNameMapping() const {
    static const QNSDTPropertiesInfo::NameMapping mapping{
        {u"Id", u"Id"}, {u"Type", u"Type"}, {u"Description", u"Description"}};
    return mapping;
}

Value QNSDTMessage::objectValueForPropertyName(StringView fullName) const {
    if (fullName == StringView(u"Id")) return Value(id_);
    if (fullName == StringView(u"Type")) return Value(type_);
    if (fullName == StringView(u"Description")) return Value(description_);
    return Value();
}

void QNSDTMessage::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    // The class has no metadata of its own: values arrive as JSON gives
    // them, so each is read as its property's type here.
    if (fullName == StringView(u"Id")) {
        id_ = value.isString()         ? value.asString()
              : value.isAbsentOrNull() ? String()
                                       : value.description();
    } else if (fullName == StringView(u"Type")) {
        type_ = value.integerValue();
    } else if (fullName == StringView(u"Description")) {
        description_ = value.isString()         ? value.asString()
                       : value.isAbsentOrNull() ? String()
                                                : value.description();
    }
}

const ClassInfo* QNSDTMessage::messageClass() {
    static const ClassInfo* const resolved = [] {
        const ClassInfo* found =
            ClassRegistry::classNamed(StringView(internal::typeNameFromSDTName(kSDTName)));
        if (found && found->canCreate() &&
            found->isKindOf(QNSdtBusinessComponent::staticClassInfo()))
            return found;
        return QNSDTMessage::staticClassInfo();
    }();
    return resolved;
}

namespace {

Value makeMessage(const String& id, std::int64_t type, const String& description) {
    auto record =
        std::dynamic_pointer_cast<QNSdtBusinessComponent>(QNSDTMessage::messageClass()->create());
    if (!record) return Value();
    record->setvalueForKey(u"Id", Value(id));
    record->setvalueForKey(u"Type", Value(type));
    record->setvalueForKey(u"Description", Value(description));
    return Value(std::move(record));
}

// Installed when the library loads, before any parser can run.
const bool installed = [] {
    internal::registerLibraryClassForSDTName(QNSDTMessage::kSDTName, u"QNSDTMessage");
    QNSDTMessagesHelper::setMessageMaker(makeMessage);
    return true;
}();

}  // namespace

}  // namespace qn
