// Generated records of the sample application's SDT "Flight" (with its
// collection level "Legs" of "Leg" items), whose XML the generated code
// writes and reads itself. Their metadata is in the sample bundle's
// model.json.
#pragma once

#include <qn/data.h>
#include <qn/host/dates.h>

#include <cstdint>

namespace travelagency {

class SdtFlight_Leg : public qn::QNUserType {
    QN_OBJECT(SdtFlight_Leg)

public:
    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    void writexml(qn::QNXMLWriter& writer, qn::StringView name, qn::StringView nameSpace,
                  bool includeState = true) override;
    std::int64_t readxml(qn::QNXMLReader& reader, qn::StringView name) override;

    std::int64_t legId = 0;
    qn::String from;
    qn::String to;
};

class SdtFlight : public qn::QNUserType {
    QN_OBJECT(SdtFlight)

public:
    SdtFlight();

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    void writexml(qn::QNXMLWriter& writer, qn::StringView name, qn::StringView nameSpace,
                  bool includeState = true) override;
    std::int64_t readxml(qn::QNXMLReader& reader, qn::StringView name) override;

    std::int64_t flightId = 0;
    qn::String code;
    qn::DateTime flightDate = qn::qnEmptyDate();
    qn::DateTime departure = qn::qnEmptyDate();
    qn::Decimal price;
    bool open = false;
    qn::String notes;
    // The legs (items of class SdtFlight_Leg).
    qn::Ref<qn::QNObjectCollection> legs;
    qn::String mode;
};

}  // namespace travelagency
