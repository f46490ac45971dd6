// The JSON forms of QNSdtBusinessComponent: serialization under flags (with
// pending uploads), loading by name-conversion mode, and the SDT helpers.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/uuid.h>
#include <qn/data/record.h>
#include <qn/files/file_system_object.h>
#include <qn/host/bundle.h>
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
#include "host/internal.h"
#include "host/paths.h"
#include "host/url.h"

namespace qn {

namespace {

constexpr StringView kExpectedDictionary = u"Invalid format, expected a Dictionary";

// --- Pending uploads ----------------------------------------------------------------

// The extension of a path's last component, without the dot; "" when none.
String pathExtension(StringView path) {
    const std::size_t slash = path.rfind(u'/');
    const StringView last = slash == StringView::npos ? path : path.substr(slash + 1);
    const std::size_t dot = last.rfind(u'.');
    return dot == StringView::npos || dot == 0 ? String() : String(last.substr(dot + 1));
}

// The placeholder with the position written in: the first "%d", "%ld",
// "%lld", "%i", "%u", "%lu", "%@" or "%1" becomes the number and "%%" a
// "%"; every other character, "%" sequences included, stays as it is. The
// format never reaches a printf-style call.
String placeholderForPosition(StringView format, std::int64_t position) {
    static constexpr StringView kConversions[] = {u"%lld", u"%ld", u"%lu", u"%d",
                                                  u"%i",   u"%u",  u"%@",  u"%1"};
    String out;
    bool substituted = false;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u'%') {
            out += u'%';
            i += 2;
            continue;
        }
        if (format[i] == u'%' && !substituted) {
            bool matched = false;
            for (StringView conversion : kConversions) {
                if (format.substr(i).starts_with(conversion)) {
                    out += fromUtf8(std::to_string(position));
                    i += conversion.size();
                    matched = substituted = true;
                    break;
                }
            }
            if (matched) continue;
        }
        out += format[i++];
    }
    return out;
}

// Whether a local file may be sent: it lies, links resolved, inside the
// application's own folders or its bundle. Anything else (a path a server or
// a user put in a field) must not leave the device.
bool mayUpload(const String& path) {
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(toUtf8(path), error);
    if (error) return false;
    const String standardized = fromUtf8(resolved.string());
    if (QNFileSystemObject::sandboxPathOrNilForStandardizedPath(standardized)) return true;
    const auto bundle =
        std::filesystem::weakly_canonical(QNBundle::mainBundle()->bundlePath(), error);
    return !error && internal::pathIsWithinRoot(standardized, fromUtf8(bundle.string()));
}

void logUploadFailure(const String& what) {
    QNLog::loggerService()->logMessageForTypeWithLevelLogToConsole(
        u"Could not copy file to pending uploads directory: " + what, QNLogTypeSynchronization, 3,
        true);
}

// A binary field's value in a serialization that gathers files: a local file
// is copied into the pending-uploads folder (so the upload survives the
// record being changed or the file removed), registered, and the value
// becomes the placeholder of its position. An image goes through the image
// upload helper. Remote values, texts that are no URL and files outside the
// application's folders stay as they are.
Value pendingUploadValue(const Value& value, const QNEntityDataFieldInfo* field,
                         std::vector<String>& files, StringView placeholderFormat) {
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
    const String sourceURL = internal::fileURLForPath(*source);
    if (!mayUpload(*source)) {
        logUploadFailure(sourceURL + u" (outside the application's folders)");
        return value;
    }

    const String extension = pathExtension(*source);
    const String destination = QNFileSystemObject::joinPath(
        QNFileSystemObject::pendingUploadsPath(),
        QNUUID::createUUID().uuidString() + (extension.empty() ? String() : u"." + extension));
    String registered = destination;
    if (field && field->dataType() == QNEntityDataTypeImage) {
        QNError helperError;
        std::optional<Bytes> bytes;
        if (auto helper = QNImageUploadHelper::sharedHelper())
            bytes = helper->imageUploadDataFromURL(sourceURL, field, field, &helperError);
        const bool written =
            bytes &&
            internal::writeFileAtomically(
                toUtf8(destination),
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        // Either failure keeps the local file as the upload.
        if (!written) {
            logUploadFailure(sourceURL);
            registered = *source;
        }
    } else {
        std::error_code error;
        std::filesystem::copy_file(toUtf8(*source), toUtf8(destination), error);
        if (error) {
            logUploadFailure(sourceURL);
            registered = *source;
        }
    }
    String relative = QNFileSystemObject::relativePathForAbsoluteFilePath(registered);
    if (relative.empty()) relative = registered;
    const auto position = static_cast<std::int64_t>(files.size());
    files.push_back(relative);
    if (placeholderFormat.empty()) return Value(relative);
    return Value(placeholderForPosition(placeholderFormat, position));
}

// The entry of a sequence record's one item.
const QNSDTPropertiesInfo::Entry* sequenceEntry(const QNSDTPropertiesInfo& table, StringView name) {
    const std::size_t index = table.indexForShortName(name);
    if (index == QNSDTPropertiesInfo::npos) return nullptr;
    const auto& entry = table.entries()[index];
    return entry.info->type() == QNSDTPropertyTypeItem ? &entry : nullptr;
}

bool isAbsentOrEmptyCollection(const Value& value) {
    if (value.isAbsentOrNull()) return true;
    const auto collection = value.as<QNObjectCollection>();
    return collection && collection->count() == 0;
}

}  // namespace

// --- JSON out ----------------------------------------------------------------------------

Value QNSdtBusinessComponent::simpleValueToWrite(const QNSDTPropertyInfo& info, const Value& value,
                                                 const QNSDTSerializationOptions& options,
                                                 std::vector<String>* files,
                                                 StringView placeholderFormat) const {
    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
    Value out = options.useJSON ? QNEntityHelper::jsonFieldValueForFieldInfo(field, value)
                                : QNEntityHelper::coreDataFieldValueForFieldInfo(field, value);
    if (files && info.type() == QNSDTPropertyTypeItem &&
        QNEntityHelper::fieldMayContainBinaryData(field))
        out = pendingUploadValue(out, field, *files, placeholderFormat);
    return out.isAbsent() ? Value::null() : out;
}

bool QNSdtBusinessComponent::serializeInto(QNJSONEmitter& out,
                                           const QNSDTSerializationOptions& options,
                                           std::vector<String>* files,
                                           StringView placeholderFormat) const {
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    if (options.useNameConversion && table.hasDuplicateJsonKeys() &&
        dynamic_cast<QNJSONTreeBuilder*>(&out) == nullptr) {
        // Two properties share a JSON key and the later one wins: only a
        // tree can say which member stays.
        QNJSONTreeBuilder tree;
        return serializeInto(tree, options, files, placeholderFormat) && out.value(tree.result());
    }
    internal::StructuredDepthGuard guard;
    if (const auto& sequence = table.sequenceItem()) {
        if (!guard.ok()) return out.beginArray(0) && out.endArray();
        const Entry* entry = sequenceEntry(table, sequence->name());
        if (!entry) return out.value(Value::null());
        const Value value = propertyValueAt(*entry);
        if (const QNSDTData* nested = QNSDTData::from(value))
            return nested->serializeInto(out, options, files, placeholderFormat);
        return out.value(
            simpleValueToWrite(*entry->info, value, options, files, placeholderFormat));
    }
    if (!guard.ok()) return out.beginObject(0) && out.endObject();
    const std::uint8_t mask =
        options.includeState ? kQNSDTMaskSerializable : kQNSDTMaskItemsAndLevels;
    if (!out.beginObject(table.size())) return false;
    const auto& entries = table.entries();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const auto& entry = entries[index];
        const QNSDTPropertyInfo& info = *entry.info;
        if (!table.passes(info, mask, true)) continue;
        if (!shouldSerializeEntry(index, info, options)) continue;
        const std::uint8_t type = info.type();
        const bool simpleField = type == QNSDTPropertyTypeItem || type == QNSDTPropertyTypeItemN ||
                                 type == QNSDTPropertyTypeItemQNI;
        const bool omitWhenEmpty =
            options.useJSON &&
            ((type == QNSDTPropertyTypeItem && !static_cast<const QNSDTPropertyInfoSDTItem&>(info)
                                                    .jsonCollectionSerializeWhenEmpty()) ||
             ((type == QNSDTPropertyTypeItemN || type == QNSDTPropertyTypeItemQNI) &&
              !static_cast<const QNSDTPropertyInfoWithReferenceBase&>(info)
                   .itemPropInfo()
                   .jsonCollectionSerializeWhenEmpty()));
        if (omitWhenEmpty && type == QNSDTPropertyTypeItem) {
            // Such an item goes out only when assigned, a date, or a list.
            const QNEntityDataFieldInfo& field =
                static_cast<const QNSDTPropertyInfoSDTItem&>(info).itemInfo();
            if (!isDirtyAt(index) && field.basedOnType() != 3 && field.basedOnType() != 4 &&
                !field.isCollection())
                continue;
        }
        const Value value = propertyValueAt(entry);
        // Structured values (sub-records, collections, records in fields)
        // are written with the same flags and gather into the same file list.
        const QNSDTData* nested = type == QNSDTPropertyTypeItemN || type == QNSDTPropertyTypeItemQNI
                                      ? nullptr
                                      : QNSDTData::from(value);
        Value simple;
        if (nested) {
            if (omitWhenEmpty && nested->sdtDataIsCollection() && nested->isEmptyStructuredValue())
                continue;
        } else {
            simple = simpleField
                         ? simpleValueToWrite(info, value, options, files, placeholderFormat)
                         : (value.isAbsent() ? Value::null() : value);
            if (omitWhenEmpty) {
                if (type == QNSDTPropertyTypeItem
                        ? isAbsentOrEmptyCollection(simple)
                        : QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(
                              simple, info.entityDataFieldInfo()->dataType(),
                              info.entityDataFieldInfo()->isCollection()))
                    continue;
            }
        }
        if (!out.key(options.useNameConversion ? StringView(entry.jsonKey)
                                               : StringView(info.propertyName())))
            return false;
        if (!(nested ? nested->serializeInto(out, options, files, placeholderFormat)
                     : out.value(simple)))
            return false;
    }
    return out.endObject();
}

// --- JSON in -------------------------------------------------------------------------------

bool QNSdtBusinessComponent::applyLoadedValue(const Entry& entry, const Value& value,
                                              int nameConversion, String* error) {
    const QNSDTPropertyInfo& info = *entry.info;
    const QNEntityDataFieldInfo* field = info.entityDataFieldInfo();
    // Only a property that may hold a record or collection is loaded in
    // place; a simple field is just set.
    const bool mayBeStructured =
        !field || field->dataType() == QNEntityDataTypeStructured || field->isCollection();
    const Value current =
        mayBeStructured ? objectValueForPropertyIndex(entry.mappingIndex) : Value();
    if (QNSDTData* nested = QNSDTData::mutableFrom(current)) {
        const bool fits = nested->sdtDataIsCollection() ? value.isArray() : value.isDictionary();
        if (fits || (!nested->sdtDataIsCollection() && value.isArray())) {
            String nestedError;
            if (nested->loadFromValue(value, nameConversion, &nestedError)) return true;
            if (error) *error = info.propertyName() + u": " + nestedError;
            return false;
        }
    }
    setValueForEntry(entry,
                     field ? QNEntityHelper::coreDataFieldValueForFieldInfo(field, value) : value);
    return true;
}

bool QNSdtBusinessComponent::loadMembers(const Dictionary& map, int nameConversion, String* error) {
    const QNSDTPropertiesInfo& table = propertiesInfoForCurrentClass();
    const auto& entries = table.entries();
    // Each member goes to the entries its key names in any letter case (the
    // first of keys differing only in case wins); then the entries take
    // their values in table order, the JSON key before the table key.
    const std::size_t n = entries.size();
    constexpr std::size_t kInline = 32;  // slots on the stack for most classes
    const Value* inlineSlots[2 * kInline] = {};
    std::vector<const Value*> heapSlots;
    const Value** byJSON = inlineSlots;
    if (n > kInline) {
        heapSlots.assign(2 * n, nullptr);
        byJSON = heapSlots.data();
    }
    const Value** byKey = byJSON + n;
    for (const auto& [key, value] : map) {
        if (nameConversion != QNSDTNameConversionShortName) {
            if (table.hasDuplicateJsonKeys()) {
                const String lowered = internal::lowercased(key);
                for (std::size_t i = 0; i < entries.size(); ++i)
                    if (!byJSON[i] && entries[i].jsonKeyLower == lowered) byJSON[i] = &value;
            } else if (const std::size_t i = table.indexForJsonKey(key);
                       i != QNSDTPropertiesInfo::npos && !byJSON[i]) {
                byJSON[i] = &value;
            }
        }
        if (nameConversion != QNSDTNameConversionJSONName) {
            if (const std::size_t i = table.indexForKey(key);
                i != QNSDTPropertiesInfo::npos && !byKey[i])
                byKey[i] = &value;
        }
    }
    bool loaded = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Value* found = byJSON[i] ? byJSON[i] : byKey[i];
        if (!found || !table.passes(*entries[i].info, kQNSDTMaskSerializable, true)) continue;
        if (!applyLoadedValue(entries[i], *found, nameConversion, error)) loaded = false;
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
            if (const Entry* entry = sequenceEntry(table, sequence->name()))
                loaded = applyLoadedValue(*entry, source, nameConversion, error);
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
    if (const QNSDTData* data = QNSDTData::from(value)) {
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
    if (isCollection || (QNSDTData::from(value) && QNSDTData::from(value)->sdtDataIsCollection()))
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
