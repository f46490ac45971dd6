// Field values by data type: their JSON form, the value a record holds, the
// empty value of each type, plus field-specifier indexes and lower-cased
// dictionaries. Records call these for every field they write or load, so
// the date forms are read and written by hand at fixed width rather than
// through a date formatter.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/host/dates.h>
#include <qn/host/entity_helper.h>
#include <qn/host/errors.h>
#include <qn/host/sdt_data.h>
#include <qn/host/utilities.h>

#include "core/ascii.h"
#include "core/characters.h"

#include <atomic>
#include <cstdio>

namespace qn {
namespace {

bool isTextType(int type) noexcept {
    switch (type) {
        case QNEntityDataTypeCharacter:
        case QNEntityDataTypeLongText:
        case QNEntityDataTypeURI:
        case QNEntityDataTypeImage:
        case QNEntityDataTypeBlob:
        case QNEntityDataTypeAudio:
        case QNEntityDataTypeVideo:
        case QNEntityDataTypeGeography:
        case QNEntityDataTypeBlobFile:
            return true;
        default:
            return false;
    }
}

// --- Dates at fixed width ---------------------------------------------------

String formatDate(DateTime d, bool withTime) {
    if (isQnEmptyDate(d)) return String(withTime ? u"0000-00-00T00:00:00" : u"0000-00-00");
    const CivilDateTime c = d.toCivilUTC();
    char buffer[64];
    const int n = withTime ? std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02d:%02d:%02d",
                                           static_cast<long long>(c.year), c.month, c.day, c.hour,
                                           c.minute, c.second)
                           : std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d",
                                           static_cast<long long>(c.year), c.month, c.day);
    return asciiString(std::string_view(buffer, static_cast<std::size_t>(n)));
}

// `count` ASCII digits at `pos`; -1 when any is not a digit.
int digitsAt(StringView text, std::size_t pos, std::size_t count) noexcept {
    if (pos + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return -1;
        value = value * 10 + (text[i] - u'0');
    }
    return value;
}

int daysInMonth(std::int64_t year, int month) noexcept {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// "yyyy-MM-dd", optionally followed by "T" or " " and "HH:mm:ss", optional
// fraction digits and an optional "Z". All zeros is the empty date; a date
// field keeps the day only. Absent for anything else.
std::optional<DateTime> parseDate(StringView text, bool withTime) {
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    if (year < 0 || month < 0 || day < 0 || text[4] != u'-' || text[7] != u'-') return std::nullopt;
    CivilDateTime civil;
    civil.year = year;
    civil.month = month;
    civil.day = day;
    std::size_t pos = 10;
    if (pos < text.size()) {
        if (text[pos] != u'T' && text[pos] != u' ') return std::nullopt;
        civil.hour = digitsAt(text, pos + 1, 2);
        civil.minute = digitsAt(text, pos + 4, 2);
        civil.second = digitsAt(text, pos + 7, 2);
        if (civil.hour < 0 || civil.minute < 0 || civil.second < 0 || text[pos + 3] != u':' ||
            text[pos + 6] != u':')
            return std::nullopt;
        pos += 9;
        // Fraction digits are read past, not kept: a date-time field holds
        // whole seconds, as its JSON and database forms write it, so a value
        // loaded and written back compares equal to itself.
        if (pos < text.size() && text[pos] == u'.') {
            std::size_t digits = 0;
            for (++pos; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos)
                ++digits;
            if (digits == 0) return std::nullopt;
        }
        if (pos < text.size() && text[pos] == u'Z') ++pos;
        if (pos != text.size()) return std::nullopt;
    }
    if (year == 0 && month == 0 && day == 0) {
        const bool zeroTime =
            civil.hour == 0 && civil.minute == 0 && civil.second == 0 && civil.millisecond == 0;
        return zeroTime ? std::optional<DateTime>(qnEmptyDate()) : std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || civil.hour > 23 ||
        civil.minute > 59 || civil.second > 59)
        return std::nullopt;
    if (!withTime) civil.hour = civil.minute = civil.second = civil.millisecond = 0;
    return DateTime::fromCivilUTC(civil);
}

// --- Numbers ------------------------------------------------------------------

// A number kept exact: Int stays Int; Double through its shortest text;
// Bool as 0 or 1; text read as a decimal (0 when it is not one).
Value exactNumber(const Value& value) {
    switch (value.kind()) {
        case ValueKind::kInt:
        case ValueKind::kDecimal:
            return value;
        case ValueKind::kBool:
            return Value(std::int64_t{value.boolValue() ? 1 : 0});
        case ValueKind::kDouble: {
            const Decimal d = Decimal::fromDouble(value.doubleValue());
            return d.isNaN() ? Value(std::int64_t{0}) : Value(d);
        }
        case ValueKind::kString: {
            const Decimal d = Decimal::fromString(StringView(value.asString()));
            return d.isNaN() ? Value(std::int64_t{0}) : Value(d);
        }
        default:
            return Value(std::int64_t{0});
    }
}

Value heldValue(int type, const Value& value) {
    if (value.isAbsentOrNull()) return QNEntityHelper::emptyValueForDataType(type);
    if (isTextType(type)) {
        if (value.isString() || (type == QNEntityDataTypeGeography && value.isObject()))
            return value;
        return Value(QNUtilities::stringFromObject(value));
    }
    switch (type) {
        case QNEntityDataTypeNumeric:
            return exactNumber(value);
        case QNEntityDataTypeDate:
        case QNEntityDataTypeDateTime: {
            const bool withTime = type == QNEntityDataTypeDateTime;
            if (value.isDate()) {
                if (withTime || isQnEmptyDate(value.asDate())) return value;
                CivilDateTime c = value.asDate().toCivilUTC();
                c.hour = c.minute = c.second = c.millisecond = 0;
                return Value(DateTime::fromCivilUTC(c));
            }
            if (!value.isString()) return Value(qnEmptyDate());
            return Value(parseDate(value.asString(), withTime).value_or(qnEmptyDate()));
        }
        case QNEntityDataTypeBoolean:
            return Value(value.boolValue());
        case QNEntityDataTypeGUID:
            if (value.isUuid()) return value;
            if (value.isString())
                return Value(QNUUID::fromString(value.asString()).value_or(QNUUID::emptyUUID()));
            return Value(QNUUID::emptyUUID());
        default:
            return value;
    }
}

Value jsonValue(int type, const Value& value) {
    if (value.isAbsentOrNull()) return Value::null();
    if (auto structured = value.as<QNStructuredFieldValue>()) {
        return structured->structuredJSONValue();
    }
    switch (type) {
        case QNEntityDataTypeNumeric:
            return exactNumber(value);
        case QNEntityDataTypeDate:
        case QNEntityDataTypeDateTime: {
            const bool withTime = type == QNEntityDataTypeDateTime;
            const Value held = heldValue(type, value);
            return Value(formatDate(held.asDate(), withTime));
        }
        case QNEntityDataTypeBoolean:
            return Value(value.boolValue());
        case QNEntityDataTypeGUID:
            return Value(heldValue(type, value).asUuid().uuidString());
        case QNEntityDataTypeStructured:
        case QNEntityDataTypeNone:
            return value;
        default:
            if (isTextType(type)) return heldValue(type, value);
            return value;
    }
}

}  // namespace

QNStructuredFieldValue::~QNStructuredFieldValue() = default;
QNSDTData::~QNSDTData() = default;

namespace {

String jsonText(const QNSDTData& data, bool useNameConversion) {
    return QNJSON::generateWith([&](QNJSONEmitter& out) {
               return data.serializeInto(out, {true, useNameConversion, true, true, true}, nullptr,
                                         {});
           })
        .value_or(String());
}

}  // namespace

String QNSDTData::toJSONString() const {
    return jsonText(*this, false);
}

String QNSDTData::sdtDataToJson() const {
    return jsonText(*this, true);
}

bool QNSDTData::writeJSON(QNJSONEmitter& emitter) const {
    return serializeInto(emitter, {true, false, true, true, true}, nullptr, {});
}
QNTextFileSource::~QNTextFileSource() = default;

// --- XML forms ---------------------------------------------------------------------

namespace {

std::atomic<const QNSDTXMLForms*> installedXMLForms{nullptr};

}  // namespace

QNSDTXMLForms::~QNSDTXMLForms() = default;

void QNSDTXMLForms::install(const QNSDTXMLForms* forms) noexcept {
    installedXMLForms.store(forms, std::memory_order_release);
}

const QNSDTXMLForms* QNSDTXMLForms::installed() noexcept {
    return installedXMLForms.load(std::memory_order_acquire);
}

String QNSDTData::toxmlIncludeHeader(bool includeHeader, bool includeState, StringView header,
                                     StringView nameSpace) const {
    const QNSDTXMLForms* forms = QNSDTXMLForms::installed();
    return forms ? forms->write(*this, includeHeader, includeState, header, nameSpace) : String();
}

bool QNSDTData::loadXML(StringView text, bool checkRoot, QNObjectCollection* messages) {
    if (const QNSDTXMLForms* forms = QNSDTXMLForms::installed())
        return forms->read(*this, text, checkRoot, messages);
    QNThreadErrorHandler::errorHandler().addError(
        QNError::defaultQNErrorWithDeveloperDescription(u"Could not create XML Reader"));
    return false;
}

bool QNSDTData::fromxml(StringView text, QNObjectCollection* messages) {
    return loadXML(text, true, messages);
}

bool QNSDTData::fromxmlfile(QNTextFileSource& file, QNObjectCollection* messages) {
    String failure;
    auto text = file.readAllTextForLoading(&failure);
    if (text) return fromxml(*text, messages);
    if (const QNSDTXMLForms* forms = QNSDTXMLForms::installed()) {
        forms->reportFailure(failure.empty() ? String(u"Could not read the file") : failure,
                             messages);
    }
    return false;
}

Value QNEntityHelper::jsonFieldValueForFieldInfo(const QNEntityDataFieldInfo* info,
                                                 const Value& value) {
    return jsonValue(info ? info->dataType() : QNEntityDataTypeNone, value);
}

Value QNEntityHelper::coreDataFieldValueForFieldInfo(const QNEntityDataFieldInfo* info,
                                                     const Value& value) {
    if (!info) return value;
    return heldValue(info->dataType(), value);
}

Value QNEntityHelper::heldValueForDataType(const Value& value, int dataType) {
    return heldValue(dataType, value);
}

Value QNEntityHelper::jsonValueFromValueForDataType(const Value& value, int dataType,
                                                    std::int64_t decimals) {
    Value json = jsonValue(dataType, value);
    if (dataType == QNEntityDataTypeNumeric && json.isDecimal() && decimals >= 0 &&
        decimals <= Decimal::kMaxDigits) {
        return Value(json.decimalValue().rounded(static_cast<int>(decimals)));
    }
    return json;
}

Value QNEntityHelper::emptyValueForDataType(int dataType) {
    if (isTextType(dataType)) return Value(String());
    switch (dataType) {
        case QNEntityDataTypeNumeric:
            return Value(std::int64_t{0});
        case QNEntityDataTypeDate:
        case QNEntityDataTypeDateTime:
            return Value(qnEmptyDate());
        case QNEntityDataTypeBoolean:
            return Value(false);
        case QNEntityDataTypeGUID:
            return Value(QNUUID::emptyUUID());
        default:
            return Value::null();
    }
}

bool QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(const Value& value, int dataType,
                                                              bool isCollection) {
    if (value.isAbsentOrNull()) return true;
    if (auto structured = value.as<QNStructuredFieldValue>())
        return structured->isEmptyStructuredValue();
    if (const Array* array = value.asArray()) return array->empty();
    if (const Dictionary* dictionary = value.asDictionary()) return dictionary->empty();
    if (isCollection || dataType == QNEntityDataTypeStructured || dataType == QNEntityDataTypeNone)
        return false;
    return heldValue(dataType, value).isEqual(emptyValueForDataType(dataType));
}

bool QNEntityHelper::fieldMayContainBinaryData(const QNEntityDataFieldInfo* info) noexcept {
    return info && dataTypeMayContainBinaryData(info->dataType());
}

bool QNEntityHelper::dataTypeMayContainBinaryData(int dataType) noexcept {
    switch (dataType) {
        case QNEntityDataTypeImage:
        case QNEntityDataTypeBlob:
        case QNEntityDataTypeAudio:
        case QNEntityDataTypeVideo:
        case QNEntityDataTypeBlobFile:
            return true;
        default:
            return false;
    }
}

std::optional<std::int64_t> QNEntityHelper::indexFromFieldSpecifier(StringView specifier) noexcept {
    StringView head = specifier.substr(0, specifier.find(u'.'));
    if (head.size() > 6 && internal::startsWithIgnoringASCIICase(head, StringView(u"item(")) &&
        head.back() == u')') {
        head = head.substr(5, head.size() - 6);
    }
    if (head.empty() || head.size() > 18) return std::nullopt;
    std::int64_t n = 0;
    for (char16_t c : head) {
        if (c < u'0' || c > u'9') return std::nullopt;
        n = n * 10 + (c - u'0');
    }
    if (n < 1) return std::nullopt;
    return n - 1;
}

Ref<Dictionary> QNEntityHelper::dictionaryWithLowercaseKeys(const Dictionary& dictionary) {
    auto lowered = makeRef<Dictionary>();
    lowered->reserve(dictionary.size());
    for (const auto& [key, value] : dictionary) {
        String lower = internal::lowercased(key);
        if (!lowered->contains(lower)) lowered->set(std::move(lower), value);
    }
    return lowered;
}

}  // namespace qn
