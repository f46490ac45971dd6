// The JSON forms of QNSdtBusinessComponent: serialization under flags (with
// pending uploads), loading by name-conversion mode, and the SDT helpers.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/uuid.h>
#include <qn/data/record.h>
#include <qn/files/file_system_object.h>
#include <qn/host/entity_helper.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/host/utilities.h>

#include <filesystem>
#include <system_error>

#include "collections/load_failures.h"
#include "collections/sdt_names.h"
#include "core/characters.h"
#include "core/structured_depth.h"
#include "host/url.h"

namespace qn {

namespace {

constexpr StringView kExpectedDictionary = u"Invalid format, expected a Dictionary";

const QNSDTData* sdtData(const Value& value) noexcept {
    return value.isObject() ? dynamic_cast<const QNSDTData*>(value.asObject().get()) : nullptr;
}

QNSDTData* mutableSDTData(const Value& value) noexcept {
    return value.isObject() ? dynamic_cast<QNSDTData*>(value.asObject().get()) : nullptr;
}

// --- Pending uploads ----------------------------------------------------------------

// The extension of a path's last component, without the dot; "" when none.
String pathExtension(StringView path) {
    const std::size_t slash = path.rfind(u'/');
    const StringView last = slash == StringView::npos ? path : path.substr(slash + 1);
    const std::size_t dot = last.rfind(u'.');
    return dot == StringView::npos || dot == 0 ? String() : String(last.substr(dot + 1));
}

// A binary field's value in a serialization that gathers files: a local file
// is copied into the pending-uploads folder (so the upload survives the
// record being changed or the file removed), registered, and the value
// becomes the placeholder of its position. Remote and unreadable values stay.
Value pendingUploadValue(const Value& value, std::vector<String>& files,
                         StringView placeholderFormat) {
    if (!value.isString() || value.asString().empty()) return value;
    String text = value.asString();
    if (QNFileSystemObject::filePathIsRelativeToBlobDataPath(text))
        text = QNFileSystemObject::absoluteFilePathForRelativePath(text);
    std::optional<String> source;
    if (text.starts_with(u'/')) {
        source = text;
    } else if (internal::lowercasedSchemeOf(text) == String(u"file")) {
        source = internal::pathOfFileURL(text);
    }
    if (!source || source->empty()) return value;

    const String extension = pathExtension(*source);
    const String destination = QNFileSystemObject::joinPath(
        QNFileSystemObject::pendingUploadsPath(),
        QNUUID::createUUID().uuidString() + (extension.empty() ? String() : u"." + extension));
    std::error_code error;
    std::filesystem::copy_file(toUtf8(*source), toUtf8(destination), error);
    String registered = destination;
    if (error) {
        QNLog::loggerService()->logMessageForTypeWithLevelLogToConsole(
            u"Could not copy file to pending uploads directory: " +
                internal::fileURLForPath(*source),
            2, 3, true);
        registered = *source;
    }
    String relative = QNFileSystemObject::relativePathForAbsoluteFilePath(registered);
    if (relative.empty()) relative = registered;
    const auto position = static_cast<std::int64_t>(files.size());
    files.push_back(relative);
    if (placeholderFormat.empty()) return Value(relative);
    return Value(QNUtilities::stringWithQNFormatValues(placeholderFormat, {Value(position)}));
}

bool isAbsentOrEmptyCollection(const Value& value) {
    if (value.isAbsentOrNull()) return true;
    const auto collection = value.as<QNObjectCollection>();
    return collection && collection->count() == 0;
}

}  // namespace

// --- JSON out ----------------------------------------------------------------------------

Value QNSdtBusinessComponent::itemValueToWrite(const QNSDTPropertyInfo& info, const Value& value,
                                               const QNSDTSerializationOptions& options,
                                               std::vector<String>* files,
                                               StringView placeholderFormat) const {
    if (const QNSDTData* nested = sdtData(value))
        return nested->generateSerialization(options, files, placeholderFormat);
    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
    Value out = options.useJSON ? QNEntityHelper::jsonFieldValueForFieldInfo(field, value)
                                : QNEntityHelper::coreDataFieldValueForFieldInfo(field, value);
    if (files && info.type() == QNSDTPropertyTypeItem &&
        QNEntityHelper::fieldMayContainBinaryData(field))
        out = pendingUploadValue(out, *files, placeholderFormat);
    return out;
}

Value QNSdtBusinessComponent::generateSerialization(const QNSDTSerializationOptions& options,
                                                    std::vector<String>* files,
                                                    StringView placeholderFormat) const {
    internal::StructuredDepthGuard guard;
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    if (const QNStructureDataTypeItemInfo* sequence = jsonCollectionAsSequenceItemInfo()) {
        if (!guard.ok()) return Value(makeRef<Array>());
        const QNSDTPropertyInfo* info =
            table.propertyInfoForShortName(sequence->name(), QNSDTPropertyTypeItem);
        if (!info) return Value::null();
        Value out = itemValueToWrite(*info, propertyValueForFullName(info->propertyFullName()),
                                     options, files, placeholderFormat);
        return out.isAbsent() ? Value::null() : out;
    }
    auto map = makeRef<Dictionary>();
    if (!guard.ok()) return Value(std::move(map));
    const std::uint8_t mask =
        options.includeState ? kQNSDTMaskSerializable : kQNSDTMaskItemsAndLevels;
    map->reserve(table.size());
    const auto& entries = table.entries();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const auto& entry = entries[index];
        const QNSDTPropertyInfo& info = *entry.info;
        if (!table.passes(info, mask, true)) continue;
        if (!shouldSerializeEntry(index, info, options)) continue;
        const Value value = propertyValueForFullName(info.propertyFullName());
        Value out;
        switch (info.type()) {
            case QNSDTPropertyTypeItem: {
                out = itemValueToWrite(info, value, options, files, placeholderFormat);
                const auto& item = static_cast<const QNSDTPropertyInfoSDTItem&>(info);
                if (options.useJSON && !item.jsonCollectionSerializeWhenEmpty()) {
                    const QNEntityDataFieldInfo& field = item.itemInfo();
                    const bool wanted = isDirtyAt(index) || field.basedOnType() == 3 ||
                                        field.basedOnType() == 4 || field.isCollection();
                    if (!wanted || isAbsentOrEmptyCollection(out)) continue;
                }
                break;
            }
            case QNSDTPropertyTypeItemN:
            case QNSDTPropertyTypeItemQNI: {
                out = itemValueToWrite(info, value, options, files, placeholderFormat);
                const auto& companion =
                    static_cast<const QNSDTPropertyInfoWithReferenceBase&>(info);
                if (options.useJSON &&
                    !companion.itemPropInfo().jsonCollectionSerializeWhenEmpty()) {
                    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
                    if (QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(
                            out, field->dataType(), field->isCollection()))
                        continue;
                }
                break;
            }
            default:
                // Levels and unknown properties: structured values with the
                // same flags and file list, anything else as it is.
                if (const QNSDTData* nested = sdtData(value)) {
                    out = nested->generateSerialization(options, files, placeholderFormat);
                } else {
                    out = value;
                }
                break;
        }
        if (out.isAbsent()) out = Value::null();
        map->set(options.useNameConversion ? entry.jsonKey : info.propertyName(), std::move(out));
    }
    return Value(std::move(map));
}

String QNSdtBusinessComponent::toJSONString() const {
    return yajl_JSONString(serialize(false)).value_or(String());
}

String QNSdtBusinessComponent::sdtDataToJson() const {
    return yajl_JSONString(serialize(true)).value_or(String());
}

// --- JSON in -------------------------------------------------------------------------------

bool QNSdtBusinessComponent::applyLoadedValue(const QNSDTPropertyInfo& info, const Value& value,
                                              int nameConversion, String* error) {
    const Value current = objectValueForPropertyName(info.propertyFullName());
    if (QNSDTData* nested = mutableSDTData(current)) {
        const bool fits = nested->sdtDataIsCollection() ? value.isArray() : value.isDictionary();
        if (fits || (!nested->sdtDataIsCollection() && value.isArray())) {
            String nestedError;
            if (nested->loadFromValue(value, nameConversion, &nestedError)) return true;
            if (error) *error = info.propertyName() + u": " + nestedError;
            return false;
        }
    }
    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
    setValueForPropertyInfo(
        info, field ? QNEntityHelper::coreDataFieldValueForFieldInfo(field, value) : value);
    return true;
}

namespace {

// A member's key lower-cased into a reused buffer (generated names are
// ASCII; anything else takes the full conversion).
const String& lowercasedKey(StringView key) {
    thread_local String buffer;
    buffer.assign(key);
    for (char16_t& c : buffer) {
        if (c >= 0x80) {
            buffer = internal::lowercased(key);
            break;
        }
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return buffer;
}

}  // namespace

bool QNSdtBusinessComponent::loadMembers(const Dictionary& map, int nameConversion, String* error) {
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    const auto& entries = table.entries();
    // Each member goes to the entries its lower-cased key names (the first
    // of keys differing only in letter case wins); then the entries take
    // their values in table order, the JSON key before the table key.
    std::vector<const Value*> byJSON(entries.size(), nullptr);
    std::vector<const Value*> byKey(entries.size(), nullptr);
    for (const auto& [key, value] : map) {
        const String& lowered = lowercasedKey(key);
        if (nameConversion != QNSDTNameConversionShortName) {
            if (table.hasDuplicateJsonKeys()) {
                for (std::size_t i = 0; i < entries.size(); ++i)
                    if (!byJSON[i] && entries[i].jsonKeyLower == lowered) byJSON[i] = &value;
            } else if (const std::size_t i = table.indexForLowercaseJsonKey(lowered);
                       i != QNSDTPropertiesInfo::npos && !byJSON[i]) {
                byJSON[i] = &value;
            }
        }
        if (nameConversion != QNSDTNameConversionJSONName) {
            if (const std::size_t i = table.indexForLowercaseKey(lowered);
                i != QNSDTPropertiesInfo::npos && !byKey[i])
                byKey[i] = &value;
        }
    }
    bool loaded = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Value* found = byJSON[i] ? byJSON[i] : byKey[i];
        if (!found || !table.passes(*entries[i].info, kQNSDTMaskSerializable, true)) continue;
        if (!applyLoadedValue(*entries[i].info, *found, nameConversion, error)) loaded = false;
    }
    return loaded;
}

bool QNSdtBusinessComponent::loadFromValue(const Value& value, int nameConversion, String* error) {
    Value source = value;
    if (value.isString()) {
        std::string parseError;
        auto parsed = QNJSON::parse(StringView(value.asString()), &parseError);
        if (parsed) {
            source = std::move(*parsed);
        } else {
            const String text(parseError.begin(), parseError.end());
            if (error) {
                *error = text;
            } else {
                QNThreadErrorHandler::errorHandler().addError(
                    QNError::defaultQNErrorWithDeveloperDescription(text));
            }
            source = Value();
        }
    }
    bool loaded = false;
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    if (const Dictionary* map = source.asDictionary()) {
        if (nameConversion < QNSDTNameConversionShortName ||
            nameConversion > QNSDTNameConversionJSONOrShort)
            return true;  // no mode reads anything
        return loadMembers(*map, nameConversion, error);
    }
    if (source.isArray()) {
        if (const QNStructureDataTypeItemInfo* sequence = jsonCollectionAsSequenceItemInfo()) {
            if (const QNSDTPropertyInfo* info =
                    table.propertyInfoForShortName(sequence->name(), QNSDTPropertyTypeItem))
                loaded = applyLoadedValue(*info, source, nameConversion, error);
            if (loaded) return true;
            if (error && error->empty()) *error = String(kExpectedDictionary);
            return false;
        }
    }
    if (error) *error = String(kExpectedDictionary);
    return false;
}

bool QNSdtBusinessComponent::loadFromSDTData(const QNSDTData& other) {
    return loadFromValue(Value(other.sdtDataToJson()), QNSDTNameConversionJSONOrShort, nullptr);
}

bool QNSdtBusinessComponent::sdtDataFromJson(const Value& textOrFile,
                                             QNObjectCollection* messages) {
    Value source = textOrFile;
    if (auto file = textOrFile.as<QNTextFileSource>()) {
        String failure;
        auto text = file->readAllTextForLoading(&failure);
        if (!text) {
            internal::reportJSONLoadFailure(failure, messages);
            return false;
        }
        source = Value(std::move(*text));
    }
    String error;
    if (loadFromValue(source, QNSDTNameConversionJSONName, &error)) return true;
    internal::reportJSONLoadFailure(error.empty() ? String(kExpectedDictionary) : error, messages);
    return false;
}

void QNSdtBusinessComponent::deserialize(const Value& value, int nameConversion) {
    if (value.isDictionary()) loadFromValue(value, nameConversion, nullptr);
}

bool QNSdtBusinessComponent::fromJSONFile(QNTextFileSource& file, QNObjectCollection* messages) {
    String failure;
    auto text = file.readAllTextForLoading(&failure);
    if (!text) {
        internal::reportJSONLoadFailure(failure, messages);
        return false;
    }
    return fromJSONString(*text, messages);
}

// --- QNSDTDataHelper
// -------------------------------------------------------------------------------

String QNSDTDataHelper::typeNameFromSDTName(StringView sdtName) {
    return internal::typeNameFromSDTName(sdtName);
}

Value QNSDTDataHelper::convertSDTDataToClass(const Value& value, const ClassInfo* recordClass) {
    if (!recordClass) return value;
    if (value.isObject() && value.asObject()->classInfo() &&
        value.asObject()->classInfo()->isKindOf(recordClass))
        return value;
    if (!recordClass->isKindOf(QNSdtBusinessComponent::staticClassInfo())) return value;
    auto record = std::dynamic_pointer_cast<QNSdtBusinessComponent>(recordClass->create());
    if (!record) return value;
    if (const QNSDTData* data = sdtData(value)) {
        record->loadFromSDTData(*data);
    } else {
        record->loadFromValue(value);
    }
    return Value(std::move(record));
}

Value QNSDTDataHelper::tryConvertSDTDataToWellKnownTypeWithName(const Value& value,
                                                                StringView typeName) {
    if (typeName != StringView(u"Norvale.Common.Messages")) return Value();
    return Value(QNObjectCollection::convertSDTDataToCollectionOfType(
        value, String(QNSDTMessage::kSDTName)));
}

Value QNSDTDataHelper::sdtDataWithTypeNameValueIsCollection(StringView typeName, const Value& value,
                                                            bool isCollection) {
    if (isCollection || (sdtData(value) && sdtData(value)->sdtDataIsCollection()))
        return Value(sdtDataCollectionWithTypeNameValue(typeName, value));
    return sdtDataWithTypeNameValue(typeName, value);
}

Value QNSDTDataHelper::sdtDataWithTypeNameValue(StringView typeName, const Value& value) {
    const ClassInfo* recordClass = ClassRegistry::classNamed(StringView(u"Sdt" + String(typeName)));
    if (!recordClass)
        recordClass = ClassRegistry::classNamed(StringView(typeNameFromSDTName(typeName)));
    if (!recordClass) {
        Value known = tryConvertSDTDataToWellKnownTypeWithName(value, typeName);
        if (!known.isAbsent()) return known;
    }
    return convertSDTDataToClass(value, recordClass);
}

Ref<QNObjectCollection> QNSDTDataHelper::sdtDataCollectionWithTypeNameValue(StringView typeName,
                                                                            const Value& value) {
    return QNObjectCollection::convertSDTDataToCollectionOfType(value, String(typeName));
}

}  // namespace qn
