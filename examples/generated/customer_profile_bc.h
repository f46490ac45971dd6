// The business component "CustomerProfile" of the sample application as the
// generator writes it: a customer's name, e-mail and photo, read and written
// through the transaction CustomerProfile_bc on the table Customer.
// Metadata: the SDT and the business component "CustomerProfile" in the
// sample bundle's model.json.
#pragma once

#include <qn/bc.h>
#include <qn/offline/data_store.h>

#include <cstdint>
#include <memory>

namespace travelagency {

class CustomerProfile_bc;

class SdtCustomerProfile : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtCustomerProfile)

public:
    SdtCustomerProfile();
    // A copy works through a transaction of its own.
    SdtCustomerProfile(const SdtCustomerProfile& other);
    SdtCustomerProfile& operator=(const SdtCustomerProfile&) = delete;

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    qn::Value objectValueForPropertyIndex(std::size_t index) const override;
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override;
    qn::Ref<qn::QNProperties> getMetadata() const override;

    std::int64_t customerId() const noexcept { return customerId_; }
    void setCustomerId(std::int64_t value);
    const qn::String& customerName() const noexcept { return customerName_; }
    void setCustomerName(qn::String value);
    const qn::String& customerEmail() const noexcept { return customerEmail_; }
    void setCustomerEmail(qn::String value);
    const qn::String& customerPhoto() const noexcept { return customerPhoto_; }
    void setCustomerPhoto(qn::String value);
    // The transaction's mode.
    qn::String mode() const;
    void setMode(qn::StringView value);

private:
    friend class CustomerProfile_bc;
    std::int64_t customerId_ = 0;
    qn::String customerName_;
    qn::String customerEmail_;
    qn::String customerPhoto_;
};

// The cursors the transaction uses.
class CustomerProfileBcDataStoreHelper : public qn::QNDataStoreHelperBase {
public:
    enum Cursor : std::int64_t { BC_Load = 0, BC_Insert = 1, BC_Update = 2, BC_Delete = 3 };
    CustomerProfileBcDataStoreHelper();
    std::shared_ptr<const qn::QNCursor> getCursor(std::int64_t cursor) override;

private:
    std::vector<std::shared_ptr<const qn::QNCursor>> cursors_;
};

class CustomerProfile_bc : public qn::QNBusinessComponent {
    QN_OBJECT(CustomerProfile_bc)

public:
    CustomerProfile_bc() = default;
    explicit CustomerProfile_bc(SdtCustomerProfile* record) : record_(record) {}

    void setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool sdttobc) override;
    void loadKey(const std::vector<qn::Value>& key) override;
    void save() override;
    bool insert() override;
    bool update() override;
    void check() override;
    void delete_() override;
    void getInsDefault() override {}
    qn::String qnBCName() const override { return u"CustomerProfile"; }
    qn::Value anyerror() const override { return qn::Value(anyError_); }

private:
    // Ends the work: committed when it went well, else rolled back.
    bool finish(bool succeeded);
    void error(qn::StringView id, qn::StringView description);
    std::vector<qn::Value> rowValues() const;

    SdtCustomerProfile* record_ = nullptr;  // the record owns the transaction
    std::int64_t anyError_ = 0;
    qn::QNDataStoreProvider provider_{std::make_shared<CustomerProfileBcDataStoreHelper>(), {{}}};
};

}  // namespace travelagency
