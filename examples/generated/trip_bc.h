// The business component "Trip" of the sample application as the generator
// writes it: the record (SdtTrip, the SDT form of the component) and its
// transaction (Trip_bc), which reads and writes the offline database through
// the data-store provider. Metadata: the SDT and the business component
// "Trip" in the sample bundle's model.json.
#pragma once

#include <qn/bc.h>
#include <qn/offline/data_store.h>

#include <cstdint>
#include <memory>

namespace travelagency {

class Trip_bc;

class SdtTrip : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtTrip)

public:
    SdtTrip();
    // A copy works through a transaction of its own.
    SdtTrip(const SdtTrip& other);
    SdtTrip& operator=(const SdtTrip&) = delete;

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    qn::Value objectValueForPropertyIndex(std::size_t index) const override;
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override;
    qn::Ref<qn::QNProperties> getMetadata() const override;

    std::int64_t tripId() const noexcept { return tripId_; }
    void setTripId(std::int64_t value);
    std::int64_t customerId() const noexcept { return customerId_; }
    void setCustomerId(std::int64_t value);
    const qn::String& tripDescription() const noexcept { return tripDescription_; }
    void setTripDescription(qn::String value);
    qn::DateTime tripDate() const noexcept { return tripDate_; }
    void setTripDate(qn::DateTime value);
    const qn::Decimal& tripFare() const noexcept { return tripFare_; }
    void setTripFare(const qn::Decimal& value);
    // The fare as last read from the database.
    const qn::Decimal& tripFareOld() const noexcept { return tripFare_Z_; }
    const qn::String& tripPhoto() const noexcept { return tripPhoto_; }
    void setTripPhoto(qn::String value);
    // The transaction's mode.
    qn::String mode() const;
    void setMode(qn::StringView value);

private:
    friend class Trip_bc;
    std::int64_t tripId_ = 0;
    std::int64_t customerId_ = 0;
    qn::String tripDescription_;
    qn::DateTime tripDate_;
    qn::Decimal tripFare_;
    qn::Decimal tripFare_Z_;
    qn::String tripPhoto_;
};

// The cursors the transaction uses.
class TripBcDataStoreHelper : public qn::QNDataStoreHelperBase {
public:
    enum Cursor : std::int64_t { BC_Load = 0, BC_Insert = 1, BC_Update = 2, BC_Delete = 3 };
    TripBcDataStoreHelper();
    std::shared_ptr<const qn::QNCursor> getCursor(std::int64_t cursor) override;

private:
    std::vector<std::shared_ptr<const qn::QNCursor>> cursors_;
};

class Trip_bc : public qn::QNBusinessComponent {
    QN_OBJECT(Trip_bc)

public:
    Trip_bc() = default;
    explicit Trip_bc(SdtTrip* record) : record_(record) {}

    void setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool sdttobc) override;
    void loadKey(const std::vector<qn::Value>& key) override;
    void save() override;
    bool insert() override;
    bool update() override;
    void check() override;
    void delete_() override;
    void getInsDefault() override;
    qn::String qnBCName() const override { return u"Trip"; }
    qn::Value anyerror() const override { return qn::Value(anyError_); }

private:
    // Ends the work: committed when it went well, else rolled back.
    bool finish(bool succeeded);
    void error(qn::StringView id, qn::StringView description);
    std::vector<qn::Value> rowValues() const;

    SdtTrip* record_ = nullptr;  // the record owns the transaction
    std::int64_t anyError_ = 0;
    qn::QNDataStoreProvider provider_{std::make_shared<TripBcDataStoreHelper>(), {{}}};
};

}  // namespace travelagency
