// QNSdtBusinessComponent: properties by name, field specifiers, assigned
// attributes, copies and structural comparison.
#include <qn/core/containers.h>
#include <qn/data/record.h>
#include <qn/host/entity_helper.h>
#include <qn/host/errors.h>
#include <qn/host/utilities.h>

#include "core/characters.h"
#include "core/structured_depth.h"

namespace qn {

QN_REGISTER_CLASS(QNSdtBusinessComponent, Object)

QNSdtBusinessComponent::~QNSdtBusinessComponent() = default;

// --- What generated classes supply --------------------------------------------------

const std::vector<String>& QNSdtBusinessComponent::sdtLevelPathNames() const {
    static const std::vector<String> none;
    return none;
}

const QNSDTPropertiesInfo::NameMapping& QNSdtBusinessComponent::sdtPropertiesNameMapping() const {
    static const QNSDTPropertiesInfo::NameMapping none;
    return none;
}

Value QNSdtBusinessComponent::objectValueForPropertyName(StringView) const {
    throw InvalidArgumentException::mustBeOverridden("objectValueForPropertyName:");
}

void QNSdtBusinessComponent::setObjectValueForPropertyName(const Value&, StringView) {
    throw InvalidArgumentException::mustBeOverridden("setObjectValue:forPropertyName:");
}

Value QNSdtBusinessComponent::objectValueForPropertyIndex(std::size_t mappingIndex) const {
    const auto& mapping = sdtPropertiesNameMapping();
    return mappingIndex < mapping.size() ? objectValueForPropertyName(mapping[mappingIndex].second)
                                         : Value();
}

void QNSdtBusinessComponent::setObjectValueForPropertyIndex(const Value& value,
                                                            std::size_t mappingIndex) {
    const auto& mapping = sdtPropertiesNameMapping();
    if (mappingIndex < mapping.size())
        setObjectValueForPropertyName(value, mapping[mappingIndex].second);
}

// --- Metadata -------------------------------------------------------------------------

const QNSDTPropertiesInfo& QNSdtBusinessComponent::propertiesInfoForCurrentClass() const {
    if (!info_) {
        const ClassInfo* own = classInfo();
        const std::string name = own ? own->name() : toUtf8(className());
        info_ = QNSDTPropertiesInfo::propertiesInfoForClass(name, sdtLevelPathNames(),
                                                            sdtPropertiesNameMapping());
    }
    return *info_;
}

const QNStructureDataTypeItemInfo* QNSdtBusinessComponent::jsonCollectionAsSequenceItemInfo()
    const {
    return propertiesInfoForCurrentClass().sequenceItem().get();
}

// --- Properties by name ---------------------------------------------------------------------

Value QNSdtBusinessComponent::propertyValueForFullName(StringView fullName) const {
    Value value = objectValueForPropertyName(fullName);
    return value.isAbsent() ? Value::null() : value;
}

void QNSdtBusinessComponent::setPropertyValueForFullName(const Value& value, StringView fullName) {
    if (!value.isAbsent()) setObjectValueForPropertyName(value, fullName);
}

void QNSdtBusinessComponent::setvalueForEntryAt(std::size_t entryIndex, const Value& value) {
    const auto& entries = propertiesInfoForCurrentClass().entries();
    if (entryIndex < entries.size()) setValueForEntry(entries[entryIndex], value);
}

void QNSdtBusinessComponent::internalMarkAsModified() {
    lastModified_ = DateTime::now();
}

void QNSdtBusinessComponent::setvalueForKey(StringView shortName, const Value& value) {
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    const std::size_t index = table.indexForShortName(shortName);
    if (index != QNSDTPropertiesInfo::npos) setValueForEntry(table.entries()[index], value);
}

void QNSdtBusinessComponent::setValueForEntry(const Entry& entry, const Value& value) {
    const QNSDTPropertyInfo& info = *entry.info;
    if (info.type() != QNSDTPropertyTypeItem) {
        if (!value.isAbsent()) setObjectValueForPropertyIndex(value, entry.mappingIndex);
        return;
    }
    const int type = info.entityDataFieldInfo()->dataType();
    if (type == QNEntityDataTypeGUID && value.isString()) {
        setObjectValueForPropertyIndex(
            Value(QNUUID::fromString(value.asString()).value_or(QNUUID())), entry.mappingIndex);
        return;
    }
    const Value& stored = value.isNull() ? QNEntityHelper::emptyValueForDataType(type) : value;
    if (entry.qniMappingIndex != QNSDTPropertiesInfo::npos && !stored.isAbsent())
        setObjectValueForPropertyIndex(stored, entry.qniMappingIndex);
    if (!stored.isAbsent()) setObjectValueForPropertyIndex(stored, entry.mappingIndex);
}

String QNSdtBusinessComponent::getvalue(StringView shortName) const {
    const QNSDTPropertyInfo* info =
        propertiesInfoForCurrentClass().propertyInfoForShortName(shortName);
    if (!info) return String();
    const Value value = objectValueForPropertyName(info->propertyFullName());
    return value.isAbsentOrNull() ? String() : value.description();
}

Value QNSdtBusinessComponent::objectValueForLowercaseFieldName(StringView lowercaseName) const {
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    const std::size_t index = table.indexForShortName(lowercaseName);
    return index == QNSDTPropertiesInfo::npos
               ? Value()
               : objectValueForPropertyIndex(table.entries()[index].mappingIndex);
}

Value QNSdtBusinessComponent::valueForFieldSpecifier(StringView specifier) const {
    const std::size_t dot = specifier.find(u'.');
    const auto& table = propertiesInfoForCurrentClass();
    const QNSDTPropertyInfo* info = table.propertyInfoForShortName(
        dot == StringView::npos ? specifier : specifier.substr(0, dot));
    if (!info) return Value();
    const Value value = propertyValueForFullName(info->propertyFullName());
    if (dot == StringView::npos) return value;
    const QNSDTData* nested = QNSDTData::from(value);
    return nested ? nested->valueForFieldSpecifier(specifier.substr(dot + 1)) : Value();
}

void QNSdtBusinessComponent::setValueForFieldSpecifier(const Value& value, StringView specifier) {
    if (value.isAbsent()) return;
    const std::size_t dot = specifier.find(u'.');
    if (dot == StringView::npos) {
        setvalueForKey(specifier, value);
        lastModified_ = DateTime::now();
        return;
    }
    const QNSDTPropertyInfo* info =
        propertiesInfoForCurrentClass().propertyInfoForShortName(specifier.substr(0, dot));
    if (!info) return;
    if (QNSDTData* nested =
            QNSDTData::mutableFrom(propertyValueForFullName(info->propertyFullName()))) {
        nested->setValueForFieldSpecifier(value, specifier.substr(dot + 1));
        lastModified_ = DateTime::now();
    }
}

// --- Assigned attributes ----------------------------------------------------------------------

void QNSdtBusinessComponent::setDirty(StringView shortName) {
    const std::size_t index = propertiesInfoForCurrentClass().indexForShortName(shortName);
    if (index == QNSDTPropertiesInfo::npos) {
        String key = internal::lowercased(shortName);
        for (const String& known : otherDirties_)
            if (known == key) return;
        otherDirties_.push_back(std::move(key));
        return;
    }
    setDirtyAt(index);
}

void QNSdtBusinessComponent::setDirtyForPropertyIndex(std::size_t mappingIndex) {
    const std::size_t index = propertiesInfoForCurrentClass().indexForMappingIndex(mappingIndex);
    if (index != QNSDTPropertiesInfo::npos) setDirtyAt(index);
}

bool QNSdtBusinessComponent::isDirty(StringView shortName) const {
    const std::size_t index = propertiesInfoForCurrentClass().indexForShortName(shortName);
    if (index != QNSDTPropertiesInfo::npos) return isDirtyAt(index);
    const String key = internal::lowercased(shortName);
    for (const String& known : otherDirties_)
        if (known == key) return true;
    return false;
}

void QNSdtBusinessComponent::resetDirties() noexcept {
    dirtyBits_.clear();
    otherDirties_.clear();
}

Ref<QNProperties> QNSdtBusinessComponent::dirties() const {
    const auto& entries = propertiesInfoForCurrentClass().entries();
    Ref<QNProperties> map;
    auto add = [&](const String& key) {
        if (!map) map = makeRef<QNProperties>();
        map->addKeyValue(key, String(u"true"));
    };
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (isDirtyAt(i)) add(internal::lowercased(entries[i].info->propertyName()));
    for (const String& key : otherDirties_)
        add(key);
    return map;
}

bool QNSdtBusinessComponent::shouldSerializeProperty(const QNSDTPropertyInfo& info,
                                                     bool includeReadOnlyAtts,
                                                     bool includeNotModifiedAtts) const {
    if (includeNotModifiedAtts) return true;
    // Read-only attributes are judged by the rules below like any other (the
    // server decides what it accepts), so their metadata is not consulted.
    if (isDirty(info.propertyName())) return true;
    return shouldSerializeEntry(QNSDTPropertiesInfo::npos, info,
                                {true, false, includeReadOnlyAtts, includeNotModifiedAtts, true});
}

bool QNSdtBusinessComponent::shouldSerializeEntry(std::size_t index, const QNSDTPropertyInfo& info,
                                                  const QNSDTSerializationOptions& options) const {
    if (options.includeNotModifiedAtts) return true;
    if (index != QNSDTPropertiesInfo::npos && isDirtyAt(index)) return true;
    const bool heavy = info.type() == QNSDTPropertyTypeItemQNI ||
                       QNEntityHelper::fieldMayContainBinaryData(info.entityDataFieldInfo());
    return !heavy || businessComponentAttributeIsKeyForPropertyInfo(info);
}

// --- Copies and comparison
// ------------------------------------------------------------------------

Ref<QNSdtBusinessComponent> QNSdtBusinessComponent::clone() const {
    const ClassInfo* own = classInfo();
    auto copy = own ? std::dynamic_pointer_cast<QNSdtBusinessComponent>(own->create()) : nullptr;
    if (!copy) return nullptr;
    copy->nSOAPErr = nSOAPErr;
    copy->sSOAPErrMsg = sSOAPErrMsg;
    internal::StructuredDepthGuard guard;
    if (guard.ok()) {
        for (const auto& entry : propertiesInfoForCurrentClass().entries()) {
            Value value = objectValueForPropertyIndex(entry.mappingIndex);
            if (value.isAbsent()) continue;
            if (const QNSDTData* data = QNSDTData::from(value)) {
                if (Ref<Object> cloned = data->sdtDataClone()) value = Value(std::move(cloned));
            }
            copy->setObjectValueForPropertyIndex(value, entry.mappingIndex);
        }
    }
    // After the properties: generated setters mark what they set as assigned.
    copy->dirtyBits_ = dirtyBits_;
    copy->otherDirties_ = otherDirties_;
    copy->lastModified_ = lastModified_;
    return copy;
}

bool QNSdtBusinessComponent::isEqual(const Value& other) const {
    auto* that = other.as<QNSdtBusinessComponent>().get();
    if (!that) return false;
    if (that == this) return true;
    if (classInfo() != that->classInfo() || className() != that->className()) return false;
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return false;
    for (const auto& entry : propertiesInfoForCurrentClass().entries()) {
        if (!propertyValueAt(entry).isEqual(that->propertyValueAt(entry))) return false;
    }
    return true;
}

std::size_t QNSdtBusinessComponent::hash() const {
    const auto& entries = propertiesInfoForCurrentClass().entries();
    std::size_t h = 0xcbf29ce484222325ull ^ entries.size();
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return h;
    for (const auto& entry : entries)
        h = (h ^ propertyValueAt(entry).hash()) * 0x100000001b3ull;
    return h;
}

String QNSdtBusinessComponent::description() const {
    String text = u"<" + Object::description() + u"\n\tproperties: ";
    internal::StructuredDepthGuard guard;
    if (guard.ok()) {
        for (const auto& entry : propertiesInfoForCurrentClass().entries()) {
            text += u"\n\t\t" + entry.info->propertyName() + u" => " +
                    propertyValueAt(entry).description();
        }
    }
    return text + u">";
}

bool QNSdtBusinessComponent::isEmptyStructuredValue() const {
    internal::StructuredDepthGuard guard;
    if (!guard.ok()) return false;
    for (const auto& entry : propertiesInfoForCurrentClass().entries()) {
        const QNSDTPropertyInfo& info = *entry.info;
        if (info.type() != QNSDTPropertyTypeItem && info.type() != QNSDTPropertyTypeLevel) continue;
        const Value value = objectValueForPropertyName(info.propertyFullName());
        const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
        if (!QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(
                value, field ? field->dataType() : QNEntityDataTypeStructured,
                field ? field->isCollection() : true))
            return false;
    }
    return true;
}

}  // namespace qn
