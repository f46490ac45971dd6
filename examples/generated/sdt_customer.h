// Generated records of the sample application's SDTs "Customer" (with its
// collection level "Lines" of "Line" items) and "CustomerNames" (a
// collection written as a plain JSON array of names). Their metadata is in
// the sample bundle's model.json.
#pragma once

#include <qn/data.h>
#include <qn/host/dates.h>

#include <cstdint>

namespace travelagency {

// One line of a customer: the level "Lines", item "Line".
class SdtCustomer_Line : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtCustomer_Line)

public:
    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    qn::Value objectValueForPropertyIndex(std::size_t index) const override;
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override;

    std::int64_t lineId() const noexcept { return lineId_; }
    void setLineId(std::int64_t value);
    const qn::String& product() const noexcept { return product_; }
    void setProduct(qn::String value);
    const qn::Decimal& amount() const noexcept { return amount_; }
    void setAmount(const qn::Decimal& value);

private:
    std::int64_t lineId_ = 0;
    qn::String product_;
    qn::Decimal amount_;
};

class SdtCustomer : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtCustomer)

public:
    SdtCustomer();

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    qn::Value objectValueForPropertyIndex(std::size_t index) const override;
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override;

    std::int64_t customerId() const noexcept { return customerId_; }
    void setCustomerId(std::int64_t value);
    const qn::String& customerName() const noexcept { return customerName_; }
    void setCustomerName(qn::String value);
    bool customerNameIsNull() const noexcept { return customerName_N_; }
    void setCustomerNameIsNull(bool value) { customerName_N_ = value; }
    const qn::String& customerNameOld() const noexcept { return customerName_Z_; }
    const qn::QNUUID& customerGuid() const noexcept { return customerGuid_; }
    void setCustomerGuid(const qn::QNUUID& value);
    qn::DateTime customerSince() const noexcept { return customerSince_; }
    void setCustomerSince(qn::DateTime value);
    const qn::Decimal& customerBalance() const noexcept { return customerBalance_; }
    void setCustomerBalance(const qn::Decimal& value);
    bool customerActive() const noexcept { return customerActive_; }
    void setCustomerActive(bool value);
    const qn::String& customerPhoto() const noexcept { return customerPhoto_; }
    void setCustomerPhoto(qn::String value);
    const qn::String& customerPhotoURI() const noexcept { return customerPhoto_qni_; }
    // The lines (items of class SdtCustomer_Line).
    const qn::Ref<qn::QNObjectCollection>& lines() const noexcept { return lines_; }
    const qn::String& mode() const noexcept { return mode_; }
    void setMode(qn::String value) { mode_ = std::move(value); }

private:
    std::int64_t customerId_ = 0;
    qn::String customerName_;
    bool customerName_N_ = false;
    qn::String customerName_Z_;
    qn::QNUUID customerGuid_;
    qn::DateTime customerSince_ = qn::qnEmptyDate();
    qn::Decimal customerBalance_;
    bool customerActive_ = false;
    qn::String customerPhoto_;
    qn::String customerPhoto_qni_;
    qn::Ref<qn::QNObjectCollection> lines_;
    qn::String mode_;
    std::int64_t initialized_ = 0;
};

// "CustomerNames": a collection of names whose JSON form is the array alone.
class SdtCustomerNames : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtCustomerNames)

public:
    SdtCustomerNames();

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;

    const qn::Ref<qn::QNObjectCollection>& names() const noexcept { return names_; }

private:
    qn::Ref<qn::QNObjectCollection> names_;
};

}  // namespace travelagency
