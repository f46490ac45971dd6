// Generated records of the sample application (see sdt_flight.h).
#include "sdt_flight.h"

namespace travelagency {

using qn::QNEntityHelper;
using qn::QNXMLReader;
using qn::String;
using qn::StringView;
using qn::Value;

QN_REGISTER_CLASS(SdtFlight_Leg, QNUserType)
QN_REGISTER_CLASS(SdtFlight, QNUserType)

namespace {

// The XML text of a field value of a data type (its JSON form as text).
String fieldText(const Value& value, int dataType) {
    const Value json = QNEntityHelper::jsonValueFromValueForDataType(value, dataType, -1);
    if (json.isString()) return json.asString();
    if (json.isBool()) return json.boolValue() ? u"true" : u"false";
    return json.description();
}

// The value a field of a data type holds for the element the reader is on.
Value fieldValue(QNXMLReader& reader, int dataType) {
    return QNEntityHelper::heldValueForDataType(Value(reader.value()), dataType);
}

// Generated readers step through the element's children until its end tag;
// end tags of empty fields and anything unknown are stepped over.
bool atEndOf(QNXMLReader& reader, StringView name) {
    return reader.nodeType() == QNXMLReader::kEndElement && reader.name() == name;
}

}  // namespace

// --- SdtFlight_Leg --------------------------------------------------------------

const std::vector<String>& SdtFlight_Leg::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Flight", u"Leg"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtFlight_Leg::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"LegId", u"gxTv_SdtFlight_Leg_Legid"},
        {u"From", u"gxTv_SdtFlight_Leg_From"},
        {u"To", u"gxTv_SdtFlight_Leg_To"},
    };
    return mapping;
}

Value SdtFlight_Leg::objectValueForPropertyName(StringView fullName) const {
    if (fullName == u"gxTv_SdtFlight_Leg_Legid") return Value(legId);
    if (fullName == u"gxTv_SdtFlight_Leg_From") return Value(from);
    if (fullName == u"gxTv_SdtFlight_Leg_To") return Value(to);
    return Value();
}

void SdtFlight_Leg::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    if (fullName == u"gxTv_SdtFlight_Leg_Legid") {
        legId = value.integerValue();
        setDirty(u"LegId");
    } else if (fullName == u"gxTv_SdtFlight_Leg_From") {
        from = value.isString() ? value.asString() : String();
        setDirty(u"From");
    } else if (fullName == u"gxTv_SdtFlight_Leg_To") {
        to = value.isString() ? value.asString() : String();
        setDirty(u"To");
    }
}

void SdtFlight_Leg::writexml(qn::QNXMLWriter& writer, StringView name, StringView nameSpace,
                             bool /*includeState*/) {
    writer.writeStartElement(name.empty() ? StringView(u"Leg") : name);
    if (!nameSpace.empty()) writer.writeAttributeValue(u"xmlns", nameSpace);
    writer.writeElementValue(u"LegId", fieldText(Value(legId), qn::QNEntityDataTypeNumeric));
    writer.writeElementValue(u"From", from);
    writer.writeElementValue(u"To", to);
    writer.writeEndElement();
}

std::int64_t SdtFlight_Leg::readxml(QNXMLReader& reader, StringView name) {
    if (reader.isEmptyElement() == 1) return 1;
    std::int64_t result = reader.read();
    while (result > 0 && !atEndOf(reader, name)) {
        if (reader.nodeType() != QNXMLReader::kElement) {
            result = reader.read();
            continue;
        }
        const String field = reader.localName();
        if (field == u"LegId") {
            setObjectValueForPropertyName(fieldValue(reader, qn::QNEntityDataTypeNumeric),
                                          u"gxTv_SdtFlight_Leg_Legid");
        } else if (field == u"From") {
            setObjectValueForPropertyName(Value(reader.value()), u"gxTv_SdtFlight_Leg_From");
        } else if (field == u"To") {
            setObjectValueForPropertyName(Value(reader.value()), u"gxTv_SdtFlight_Leg_To");
        } else {
            reader.skip();
            continue;
        }
        result = reader.read();
    }
    return result;
}

// --- SdtFlight -------------------------------------------------------------------

SdtFlight::SdtFlight()
    : legs(qn::makeRef<qn::QNObjectCollection>(std::optional<String>(u"Flight.Leg"))) {}

const std::vector<String>& SdtFlight::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Flight"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtFlight::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"FlightId", u"gxTv_SdtFlight_Flightid"},
        {u"Code", u"gxTv_SdtFlight_Code"},
        {u"FlightDate", u"gxTv_SdtFlight_Flightdate"},
        {u"Departure", u"gxTv_SdtFlight_Departure"},
        {u"Price", u"gxTv_SdtFlight_Price"},
        {u"Open", u"gxTv_SdtFlight_Open"},
        {u"Notes", u"gxTv_SdtFlight_Notes"},
        {u"Legs", u"gxTv_SdtFlight_Legs"},
        {u"Mode", u"gxTv_SdtFlight_Mode"},
    };
    return mapping;
}

Value SdtFlight::objectValueForPropertyName(StringView fullName) const {
    if (fullName == u"gxTv_SdtFlight_Flightid") return Value(flightId);
    if (fullName == u"gxTv_SdtFlight_Code") return Value(code);
    if (fullName == u"gxTv_SdtFlight_Flightdate") return Value(flightDate);
    if (fullName == u"gxTv_SdtFlight_Departure") return Value(departure);
    if (fullName == u"gxTv_SdtFlight_Price") return Value(price);
    if (fullName == u"gxTv_SdtFlight_Open") return Value(open);
    if (fullName == u"gxTv_SdtFlight_Notes") return Value(notes);
    if (fullName == u"gxTv_SdtFlight_Legs") return Value(legs);
    if (fullName == u"gxTv_SdtFlight_Mode") return Value(mode);
    return Value();
}

void SdtFlight::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    const auto text = [&] { return value.isString() ? value.asString() : String(); };
    if (fullName == u"gxTv_SdtFlight_Flightid") {
        flightId = value.integerValue();
        setDirty(u"FlightId");
    } else if (fullName == u"gxTv_SdtFlight_Code") {
        code = text();
        setDirty(u"Code");
    } else if (fullName == u"gxTv_SdtFlight_Flightdate") {
        flightDate = value.isDate() ? value.asDate() : qn::qnEmptyDate();
        setDirty(u"FlightDate");
    } else if (fullName == u"gxTv_SdtFlight_Departure") {
        departure = value.isDate() ? value.asDate() : qn::qnEmptyDate();
        setDirty(u"Departure");
    } else if (fullName == u"gxTv_SdtFlight_Price") {
        price = value.decimalValue();
        setDirty(u"Price");
    } else if (fullName == u"gxTv_SdtFlight_Open") {
        open = value.boolValue();
        setDirty(u"Open");
    } else if (fullName == u"gxTv_SdtFlight_Notes") {
        notes = text();
        setDirty(u"Notes");
    } else if (fullName == u"gxTv_SdtFlight_Legs") {
        if (auto list = value.as<qn::QNObjectCollection>();
            list && list->itemsTypeName() == legs->itemsTypeName()) {
            legs = list;
        } else {
            legs->removeAllItems();
        }
        setDirty(u"Legs");
    } else if (fullName == u"gxTv_SdtFlight_Mode") {
        mode = text();
    }
}

void SdtFlight::writexml(qn::QNXMLWriter& writer, StringView name, StringView nameSpace,
                         bool includeState) {
    writer.writeStartElement(name.empty() ? StringView(u"Flight") : name);
    if (!nameSpace.empty()) writer.writeAttributeValue(u"xmlns", nameSpace);
    writer.writeElementValue(u"FlightId", fieldText(Value(flightId), qn::QNEntityDataTypeNumeric));
    writer.writeElementValue(u"Code", code);
    writer.writeElementValue(u"FlightDate", fieldText(Value(flightDate), qn::QNEntityDataTypeDate));
    writer.writeElementValue(u"Departure",
                             fieldText(Value(departure), qn::QNEntityDataTypeDateTime));
    writer.writeElementValue(u"Price", fieldText(Value(price), qn::QNEntityDataTypeNumeric));
    writer.writeElementValue(u"Open", fieldText(Value(open), qn::QNEntityDataTypeBoolean));
    writer.writeElementValue(u"Notes", notes);
    qn::writexmlcollection(*legs, writer, u"Legs", nameSpace, u"Leg", nameSpace, includeState);
    if (includeState) writer.writeElementValue(u"Mode", mode);
    writer.writeEndElement();
}

std::int64_t SdtFlight::readxml(QNXMLReader& reader, StringView name) {
    if (reader.isEmptyElement() == 1) return 1;
    struct Field {
        const char16_t* element;
        const char16_t* fullName;
        int dataType;
    };
    static const Field fields[] = {
        {u"FlightId", u"gxTv_SdtFlight_Flightid", qn::QNEntityDataTypeNumeric},
        {u"Code", u"gxTv_SdtFlight_Code", qn::QNEntityDataTypeCharacter},
        {u"FlightDate", u"gxTv_SdtFlight_Flightdate", qn::QNEntityDataTypeDate},
        {u"Departure", u"gxTv_SdtFlight_Departure", qn::QNEntityDataTypeDateTime},
        {u"Price", u"gxTv_SdtFlight_Price", qn::QNEntityDataTypeNumeric},
        {u"Open", u"gxTv_SdtFlight_Open", qn::QNEntityDataTypeBoolean},
        {u"Notes", u"gxTv_SdtFlight_Notes", qn::QNEntityDataTypeLongText},
        {u"Mode", u"gxTv_SdtFlight_Mode", qn::QNEntityDataTypeCharacter},
    };
    std::int64_t result = reader.read();
    while (result > 0 && !atEndOf(reader, name)) {
        if (reader.nodeType() != QNXMLReader::kElement) {
            result = reader.read();
            continue;
        }
        const String element = reader.localName();
        if (element == u"Legs") {
            result = qn::readxmlcollection(*legs, reader, u"Legs", u"Leg");
            if (result > 0) result = reader.read();
            continue;
        }
        const Field* found = nullptr;
        for (const Field& field : fields)
            if (element == field.element) found = &field;
        if (found == nullptr) {
            reader.skip();
            continue;
        }
        setObjectValueForPropertyName(fieldValue(reader, found->dataType), found->fullName);
        result = reader.read();
    }
    return result;
}

}  // namespace travelagency
