// Business components: the transaction base, the message list, and the
// record's life cycle, notifications, metadata and synchronization message.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/registry.h>
#include <qn/data/business_component.h>
#include <qn/data/record.h>
#include <qn/host/business_components.h>
#include <qn/host/data_layer.h>
#include <qn/host/dispatch.h>
#include <qn/host/errors.h>
#include <qn/host/notifications.h>
#include <qn/host/offline_helper.h>
#include <qn/host/utilities.h>

#include <mutex>

#include "collections/sdt_names.h"
#include "core/ascii.h"
#include "host/internal.h"
#include "host/url.h"

namespace qn {

QN_REGISTER_CLASS(QNMessageList, QNObjectCollection)
QN_REGISTER_CLASS(QNBusinessComponent, Object)

namespace {

constexpr StringView kInsertMode = u"INS";
constexpr StringView kUpdateMode = u"UPD";
constexpr StringView kDeleteMode = u"DLT";
// The database's code of a constraint failure: what a failed insert of an
// existing key leaves on the thread's list.
constexpr std::int64_t kConstraintErrorCode = 19;

Ref<QNSdtBusinessComponent> newRecord(const ClassInfo* recordClass) {
    if (!recordClass || !recordClass->isKindOf(QNSdtBusinessComponent::staticClassInfo()))
        return nullptr;
    return std::dynamic_pointer_cast<QNSdtBusinessComponent>(recordClass->create());
}

}  // namespace

// --- QNMessageList --------------------------------------------------------------------

QNMessageList::QNMessageList() : QNObjectCollection(String(kMessageTypeName)) {}

Value QNMessageList::createItemInstance() const {
    auto record = newRecord(QNSDTMessage::messageClass());
    return record ? Value(std::move(record)) : Value();
}

void QNMessageList::addElement(const std::vector<Value>& element) {
    if (element.empty()) return;
    const Value item = createItemInstance();
    auto* message = dynamic_cast<QNSdtBusinessComponent*>(item.asObject().get());
    if (!message) {
        QNUtilities::tryRecoverFatalError(String(kCannotCreateMessage));
        return;
    }
    message->setValueForFieldSpecifier(element[0], u"Description");
    if (element.size() > 1) message->setValueForFieldSpecifier(element[1], u"Id");
    if (element.size() > 2) message->setValueForFieldSpecifier(element[2], u"Type");
    QNObjectCollection::addItem(item);
}

namespace {

bool isErrorMessage(const Value& item) {
    const auto* message = dynamic_cast<const QNSdtBusinessComponent*>(item.asObject().get());
    if (!message) return false;
    const Value type = message->valueForFieldSpecifier(u"Type");
    return type.isNumber() && type.integerValue() == 1;
}

}  // namespace

bool QNMessageList::hasErrorItems() const {
    for (const Value& item : items())
        if (isErrorMessage(item)) return true;
    return false;
}

String QNMessageList::firstErrorMessage() const {
    for (const Value& item : items()) {
        if (!isErrorMessage(item)) continue;
        const Value description = static_cast<const QNSdtBusinessComponent*>(item.asObject().get())
                                      ->valueForFieldSpecifier(u"Description");
        return description.isString() ? description.asString() : String();
    }
    return String();
}

// --- The change log ---------------------------------------------------------------------

namespace {

std::mutex& changeLogMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<QNBusinessComponentChangeLog>& changeLogSlot() {
    static auto* slot = new std::shared_ptr<QNBusinessComponentChangeLog>;
    return *slot;
}

void logChange(const QNSdtBusinessComponent& record, StringView mode) {
    if (auto log = QNBusinessComponentChangeLog::installed()) log->recordChange(record, mode);
}

}  // namespace

QNBusinessComponentChangeLog::~QNBusinessComponentChangeLog() = default;

std::shared_ptr<QNBusinessComponentChangeLog> QNBusinessComponentChangeLog::installed() {
    std::lock_guard lock(changeLogMutex());
    return changeLogSlot();
}

void QNBusinessComponentChangeLog::install(std::shared_ptr<QNBusinessComponentChangeLog> log) {
    std::lock_guard lock(changeLogMutex());
    changeLogSlot() = std::move(log);
}

// --- QNBusinessComponent --------------------------------------------------------------

QNBusinessComponent::QNBusinessComponent() : messages_(makeRef<QNMessageList>()) {}

void QNBusinessComponent::setSdtSdttobc(QNSdtBusinessComponent*, bool) {}

std::int64_t QNBusinessComponent::errors() const {
    const Value error = anyerror();
    return error.isAbsentOrNull() ? 0 : error.integerValue();
}

Ref<QNProperties> QNSdtBusinessComponent::getMetadata() const {
    throw InvalidArgumentException::mustBeOverridden("-[QNSdtBusinessComponent getMetadata]");
}

// --- The record: creation ------------------------------------------------------------

Ref<QNSdtBusinessComponent> QNSdtBusinessComponent::createWithBCName(StringView bcName) {
    const std::string name = toUtf8(bcName);
    const std::string lower = "sdt" + internal::asciiLowercased(name);
    // Lower-case-style classes carry the lower-cased name; default-style ones
    // are mixed-case ("SdtCustomer"), found under the generator's rules or,
    // failing that, ignoring case.
    auto record = newRecord(ClassRegistry::classNamed(std::string_view(lower)));
    if (!record) record = newRecord(QNOfflineHelper::classFromString("Sdt" + name));
    if (!record) {
        for (const std::string& candidate : ClassRegistry::classNames()) {
            if (internal::asciiLowercased(candidate) != lower) continue;
            if ((record = newRecord(ClassRegistry::classNamed(std::string_view(candidate))))) break;
        }
    }
    if (!record)
        QNUtilities::tryRecoverFatalErrorWithExceptionName(String(kNoBCClass) + fromUtf8(lower),
                                                           InvalidArgumentException::kName);
    return record;
}

Ref<QNSdtBusinessComponent> QNSdtBusinessComponent::createWithTypeName(StringView sdtName) {
    const String typeName = internal::typeNameFromSDTName(sdtName);
    auto record = newRecord(ClassRegistry::classNamed(StringView(typeName)));
    if (!record) record = newRecord(QNOfflineHelper::classFromString(StringView(typeName)));
    return record;
}

Ref<QNSdtBusinessComponent> QNSdtBusinessComponent::create(StringView sdtName,
                                                           const Value& values) {
    auto record = createWithTypeName(sdtName);
    if (record) record->loadFromValue(values);
    return record;
}

// --- The record: life cycle ----------------------------------------------------------

void QNSdtBusinessComponent::notifySaved(StringView mode) const {
    auto self = std::const_pointer_cast<Object>(weak_from_this().lock());
    auto info = makeRef<Dictionary>();
    info->set(String(kModeUserInfoKey), Value(mode));
    QNNotificationCenter::defaultCenter().postNotificationNameObjectUserInfo(
        String(kDidSaveNotification), self ? Value(std::move(self)) : Value(), std::move(info));
}

void QNSdtBusinessComponent::loadKey(const std::vector<Value>& key) {
    if (!transaction_) return;
    transaction_->loadKey(key);
    resetDirties();
}

void QNSdtBusinessComponent::loadDefaultValues() {
    const auto& mapping = sdtPropertiesNameMapping();
    for (const auto& [shortName, fullName] : mapping) {
        if (internal::asciiLowercased(shortName) == u"mode") {
            setObjectValueForPropertyName(Value(kInsertMode), fullName);
            break;
        }
    }
    if (transaction_) transaction_->getInsDefault();
    resetDirties();
}

void QNSdtBusinessComponent::save() {
    if (!transaction_) return;
    const String mode = getMode();
    if (mode == kDeleteMode) return;
    if (mode == kInsertMode || mode == kUpdateMode) logChange(*this, mode);
    transaction_->save();
    transaction_->cleanup();
    if (success()) notifySaved(mode);
}

bool QNSdtBusinessComponent::insert() {
    if (!transaction_) return false;
    logChange(*this, kInsertMode);
    const bool inserted = transaction_->insert();
    transaction_->cleanup();
    if (inserted) notifySaved(kInsertMode);
    return inserted;
}

bool QNSdtBusinessComponent::update() {
    if (!transaction_) return false;
    const String mode = getMode();
    logChange(*this, kUpdateMode);
    const bool updated = transaction_->update();
    transaction_->cleanup();
    if (updated && mode == kUpdateMode) notifySaved(kUpdateMode);
    return updated;
}

bool QNSdtBusinessComponent::insertOrUpdate() {
    if (!transaction_) return false;
    if (insert()) return true;
    QNThreadErrorHandler::errorHandler().removeErrorsWithCode(kConstraintErrorCode);
    return update();
}

void QNSdtBusinessComponent::check() {
    if (transaction_) transaction_->check();
}

void QNSdtBusinessComponent::delete_() {
    if (!transaction_) return;
    logChange(*this, kDeleteMode);
    transaction_->delete_();
    auto self = std::const_pointer_cast<Object>(weak_from_this().lock());
    QNNotificationCenter::defaultCenter().postNotificationNameObjectUserInfo(
        String(kDidDeleteNotification), self ? Value(std::move(self)) : Value());
}

String QNSdtBusinessComponent::getMode() const {
    return transaction_ ? transaction_->getMode() : String();
}

Ref<QNMessageList> QNSdtBusinessComponent::getMessages() const {
    return transaction_ ? transaction_->getMessages() : nullptr;
}

bool QNSdtBusinessComponent::fail() const {
    return transaction_ && transaction_->errors() != 0;
}

String QNSdtBusinessComponent::bcName() const {
    if (!transaction_) return String();
    String name = transaction_->qnBCName();
    if (!name.empty()) return name;
    name = transaction_->className();
    if (const std::size_t at = name.rfind(u"_bc"); at != String::npos) name.erase(at, 3);
    auto model =
        QNBusinessComponentsHelper::businessComponentModelForBusinessComponentWithName(name);
    return model ? model->name() : name;
}

Value QNSdtBusinessComponent::bcOldValueForFieldName(StringView shortName) const {
    const QNSDTPropertyInfo* old = propertiesInfoForCurrentClass().propertyInfoForShortName(
        String(shortName) + u"_Z", QNSDTPropertyTypeItemZ);
    return old ? objectValueForPropertyName(old->propertyFullName()) : Value();
}

// --- The record: in the background ---------------------------------------------------

void QNSdtBusinessComponent::runInBackground(std::function<void(QNSdtBusinessComponent&)> work,
                                             Completion completion) {
    auto self = std::static_pointer_cast<QNSdtBusinessComponent>(weak_from_this().lock());
    if (!self) {
        // Nothing would keep the record alive on another thread.
        work(*this);
        if (completion) completion();
        return;
    }
    qn_dispatch_on_background_with_priority([self, work = std::move(work)] { work(*self); },
                                            kAsynchronousPriority, std::move(completion));
}

void QNSdtBusinessComponent::runInBackgroundWithResult(bool (QNSdtBusinessComponent::*operation)(),
                                                       ResultCompletion completion) {
    auto result = std::make_shared<bool>(false);
    runInBackground(
        [operation, result](QNSdtBusinessComponent& record) { *result = (record.*operation)(); },
        [result, completion = std::move(completion)] {
            if (completion) completion(*result);
        });
}

void QNSdtBusinessComponent::bcLoadWithKeyCompletion(std::vector<Value> key,
                                                     Completion completion) {
    runInBackground([key = std::move(key)](QNSdtBusinessComponent& r) { r.loadKey(key); },
                    std::move(completion));
}

void QNSdtBusinessComponent::bcSaveWithCompletion(Completion completion) {
    runInBackground([](QNSdtBusinessComponent& r) { r.save(); }, std::move(completion));
}

void QNSdtBusinessComponent::bcCheckWithCompletion(Completion completion) {
    runInBackground([](QNSdtBusinessComponent& r) { r.check(); }, std::move(completion));
}

void QNSdtBusinessComponent::bcDeleteWithCompletion(Completion completion) {
    runInBackground([](QNSdtBusinessComponent& r) { r.delete_(); }, std::move(completion));
}

void QNSdtBusinessComponent::bcInsertWithCompletion(ResultCompletion completion) {
    runInBackgroundWithResult(&QNSdtBusinessComponent::insert, std::move(completion));
}

void QNSdtBusinessComponent::bcUpdateWithCompletion(ResultCompletion completion) {
    runInBackgroundWithResult(&QNSdtBusinessComponent::update, std::move(completion));
}

void QNSdtBusinessComponent::bcInsertOrUpdateWithCompletion(ResultCompletion completion) {
    runInBackgroundWithResult(&QNSdtBusinessComponent::insertOrUpdate, std::move(completion));
}

// --- The record: metadata -------------------------------------------------------------

std::shared_ptr<const QNBusinessComponentLevelInfo> QNSdtBusinessComponent::businessComponentLevel()
    const {
    const String name = bcName();
    if (!name.empty()) {
        auto model =
            QNBusinessComponentsHelper::businessComponentModelForBusinessComponentWithName(name);
        return model ? model->rootLevel() : nullptr;
    }
    const auto& path = sdtLevelPathNames();
    if (path.empty()) return nullptr;
    auto model =
        QNBusinessComponentsHelper::businessComponentModelForBusinessComponentWithName(path[0]);
    if (!model) return nullptr;
    std::shared_ptr<const QNBusinessComponentLevelInfo> level = model->rootLevel();
    for (std::size_t i = 1; level && i < path.size(); ++i)
        level = level->childLevelWithLevelName(path[i]);
    return level;
}

std::shared_ptr<const QNBusinessComponentAttributeInfo>
QNSdtBusinessComponent::businessComponentAttributeInfoForPropertyInfo(
    const QNSDTPropertyInfo& info) const {
    auto level = businessComponentLevel();
    if (!level) return nullptr;
    const auto* companion = dynamic_cast<const QNSDTPropertyInfoWithReferenceBase*>(&info);
    return level->attributeForName(companion ? companion->itemPropInfo().propertyName()
                                             : info.propertyName());
}

bool QNSdtBusinessComponent::businessComponentAttributeIsKeyForPropertyInfo(
    const QNSDTPropertyInfo& info) const {
    auto attribute = businessComponentAttributeInfoForPropertyInfo(info);
    return attribute && attribute->isKey();
}

bool QNSdtBusinessComponent::businessComponentAttributeIsReadonlyForPropertyInfo(
    const QNSDTPropertyInfo& info) const {
    auto attribute = businessComponentAttributeInfoForPropertyInfo(info);
    return attribute && attribute->isReadOnly();
}

// --- The record: other sources and the synchronization message ------------------------

void QNSdtBusinessComponent::loadFromEntiyData(const QNEntityData& data) {
    std::vector<std::pair<String, Value>> found;
    propertiesInfoForCurrentClass().enumeratePropertiesWithFilterFlags(
        kQNSDTMaskSerializable, [&](const String&, const QNSDTPropertyInfo& info) {
            Value value = data.valueForEntityDataFieldName(info.propertyName());
            if (!value.isAbsent()) found.emplace_back(info.propertyName(), std::move(value));
        });
    for (const auto& [name, value] : found)
        setvalueForKey(name, value);
}

bool QNSdtBusinessComponent::loadContentsOfFileWithPathOnAttributeWithName(StringView fileURL,
                                                                           StringView attribute) {
    if (internal::lowercasedSchemeOf(fileURL) != String(u"file")) return false;
    const auto path = internal::pathOfFileURL(fileURL);
    if (!path) return false;
    const auto contents =
        internal::readFile(toUtf8(*path), QNDataLayerServices::maximumBlobLength());
    if (!contents) return false;
    setvalueForKey(internal::asciiLowercased(attribute),
                   Value(Bytes(contents->begin(), contents->end())));
    return true;
}

String QNSdtBusinessComponent::generateSynchronizationSendMessage(
    std::vector<String>& filesToSend, StringView placeholderFormat) const {
    const QNSDTSerializationOptions options{true, false, false, false, true};
    return QNJSON::generateWith([&](QNJSONEmitter& out) {
               return serializeInto(out, options, &filesToSend, placeholderFormat);
           })
        .value_or(String());
}

}  // namespace qn
