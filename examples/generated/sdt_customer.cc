// Generated records of the sample application (see sdt_customer.h).
#include "sdt_customer.h"

namespace travelagency {

using qn::String;
using qn::StringView;
using qn::Value;

QN_REGISTER_CLASS(SdtCustomer_Line, QNSdtBusinessComponent)
QN_REGISTER_CLASS_WITH(SdtCustomer, QNSdtBusinessComponent, [](qn::ClassDefinition& c) {
    c.property("gxTv_SdtCustomer_Customername_N", qn::PropertyType::kBool);
})
QN_REGISTER_CLASS(SdtCustomerNames, QNSdtBusinessComponent)

// --- SdtCustomer_Line ---------------------------------------------------------

const std::vector<String>& SdtCustomer_Line::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Customer", u"Line"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtCustomer_Line::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"LineId", u"gxTv_SdtCustomer_Line_Lineid"},
        {u"Product", u"gxTv_SdtCustomer_Line_Product"},
        {u"Amount", u"gxTv_SdtCustomer_Line_Amount"},
    };
    return mapping;
}

namespace {

// The position of an accessor name in a mapping; its size when none.
std::size_t indexOfFullName(const qn::QNSDTPropertiesInfo::NameMapping& mapping,
                            StringView fullName) {
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return i;
    return mapping.size();
}

}  // namespace

Value SdtCustomer_Line::objectValueForPropertyName(StringView fullName) const {
    return objectValueForPropertyIndex(indexOfFullName(sdtPropertiesNameMapping(), fullName));
}

void SdtCustomer_Line::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    setObjectValueForPropertyIndex(value, indexOfFullName(sdtPropertiesNameMapping(), fullName));
}

Value SdtCustomer_Line::objectValueForPropertyIndex(std::size_t index) const {
    switch (index) {
        case 0:
            return Value(lineId_);
        case 1:
            return Value(product_);
        case 2:
            return Value(amount_);
        default:
            return Value();
    }
}

void SdtCustomer_Line::setObjectValueForPropertyIndex(const Value& value, std::size_t index) {
    switch (index) {
        case 0:
            setLineId(value.integerValue());
            break;
        case 1:
            setProduct(value.isString() ? value.asString() : String());
            break;
        case 2:
            setAmount(value.decimalValue());
            break;
        default:
            break;
    }
}

// Setters mark their property assigned by its position in the mapping.
void SdtCustomer_Line::setLineId(std::int64_t value) {
    lineId_ = value;
    setDirtyForPropertyIndex(0);
}

void SdtCustomer_Line::setProduct(String value) {
    product_ = std::move(value);
    setDirtyForPropertyIndex(1);
}

void SdtCustomer_Line::setAmount(const qn::Decimal& value) {
    amount_ = value;
    setDirtyForPropertyIndex(2);
}

// --- SdtCustomer -----------------------------------------------------------------

namespace {

// The positions of SdtCustomer's properties in its name mapping.
enum class CustomerField : std::size_t {
    kId,
    kName,
    kNameNull,
    kNameOld,
    kGuid,
    kSince,
    kBalance,
    kActive,
    kPhoto,
    kPhotoURI,
    kLines,
    kMode,
    kInitialized,
    kNone
};

String text(const Value& value) {
    return value.isString() ? value.asString() : String();
}

}  // namespace

SdtCustomer::SdtCustomer()
    : lines_(qn::makeRef<qn::QNObjectCollection>(std::optional<String>(u"Customer.Line"))) {}

const std::vector<String>& SdtCustomer::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Customer"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtCustomer::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"CustomerId", u"gxTv_SdtCustomer_Customerid"},
        {u"CustomerName", u"gxTv_SdtCustomer_Customername"},
        {u"CustomerName_N", u"gxTv_SdtCustomer_Customername_N"},
        {u"CustomerName_Z", u"gxTv_SdtCustomer_Customername_Z"},
        {u"CustomerGuid", u"gxTv_SdtCustomer_Customerguid"},
        {u"CustomerSince", u"gxTv_SdtCustomer_Customersince"},
        {u"CustomerBalance", u"gxTv_SdtCustomer_Customerbalance"},
        {u"CustomerActive", u"gxTv_SdtCustomer_Customeractive"},
        {u"CustomerPhoto", u"gxTv_SdtCustomer_Customerphoto"},
        {u"CustomerPhoto_QNI", u"gxTv_SdtCustomer_Customerphoto_qni"},
        {u"Lines", u"gxTv_SdtCustomer_Lines"},
        {u"Mode", u"gxTv_SdtCustomer_Mode"},
        {u"Initialized", u"gxTv_SdtCustomer_Initialized"},
    };
    return mapping;
}

Value SdtCustomer::objectValueForPropertyName(StringView fullName) const {
    return objectValueForPropertyIndex(indexOfFullName(sdtPropertiesNameMapping(), fullName));
}

void SdtCustomer::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    setObjectValueForPropertyIndex(value, indexOfFullName(sdtPropertiesNameMapping(), fullName));
}

Value SdtCustomer::objectValueForPropertyIndex(std::size_t index) const {
    switch (static_cast<CustomerField>(index)) {
        case CustomerField::kId:
            return Value(customerId_);
        case CustomerField::kName:
            return Value(customerName_);
        case CustomerField::kNameNull:
            return Value(customerName_N_);
        case CustomerField::kNameOld:
            return Value(customerName_Z_);
        case CustomerField::kGuid:
            return Value(customerGuid_);
        case CustomerField::kSince:
            return Value(customerSince_);
        case CustomerField::kBalance:
            return Value(customerBalance_);
        case CustomerField::kActive:
            return Value(customerActive_);
        case CustomerField::kPhoto:
            return Value(customerPhoto_);
        case CustomerField::kPhotoURI:
            return Value(customerPhoto_qni_);
        case CustomerField::kLines:
            return Value(lines_);
        case CustomerField::kMode:
            return Value(mode_);
        case CustomerField::kInitialized:
            return Value(initialized_);
        case CustomerField::kNone:
            break;
    }
    return Value();
}

void SdtCustomer::setObjectValueForPropertyIndex(const Value& value, std::size_t index) {
    switch (static_cast<CustomerField>(index)) {
        case CustomerField::kId:
            setCustomerId(value.integerValue());
            break;
        case CustomerField::kName:
            setCustomerName(text(value));
            break;
        case CustomerField::kNameNull:
            customerName_N_ = value.boolValue();
            break;
        case CustomerField::kNameOld:
            customerName_Z_ = text(value);
            break;
        case CustomerField::kGuid:
            setCustomerGuid(value.asUuid());
            break;
        case CustomerField::kSince:
            setCustomerSince(value.asDate());
            break;
        case CustomerField::kBalance:
            setCustomerBalance(value.decimalValue());
            break;
        case CustomerField::kActive:
            setCustomerActive(value.boolValue());
            break;
        case CustomerField::kPhoto:
            setCustomerPhoto(text(value));
            break;
        case CustomerField::kPhotoURI:
            customerPhoto_qni_ = text(value);
            break;
        case CustomerField::kLines:
            // A collection of the lines' type replaces them; anything else
            // (the null marker) empties them.
            if (auto lines = value.as<qn::QNObjectCollection>();
                lines && lines->itemsTypeName() == lines_->itemsTypeName()) {
                lines_ = lines;
            } else {
                lines_->removeAllItems();
            }
            setDirtyForPropertyIndex(std::size_t(CustomerField::kLines));
            break;
        case CustomerField::kMode:
            mode_ = text(value);
            break;
        case CustomerField::kInitialized:
            initialized_ = value.integerValue();
            break;
        case CustomerField::kNone:
            break;
    }
}

void SdtCustomer::setCustomerId(std::int64_t value) {
    customerId_ = value;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kId));
}

void SdtCustomer::setCustomerName(String value) {
    customerName_ = std::move(value);
    customerName_N_ = false;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kName));
}

void SdtCustomer::setCustomerGuid(const qn::QNUUID& value) {
    customerGuid_ = value;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kGuid));
}

void SdtCustomer::setCustomerSince(qn::DateTime value) {
    customerSince_ = value;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kSince));
}

void SdtCustomer::setCustomerBalance(const qn::Decimal& value) {
    customerBalance_ = value;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kBalance));
}

void SdtCustomer::setCustomerActive(bool value) {
    customerActive_ = value;
    setDirtyForPropertyIndex(std::size_t(CustomerField::kActive));
}

void SdtCustomer::setCustomerPhoto(String value) {
    customerPhoto_ = std::move(value);
    setDirtyForPropertyIndex(std::size_t(CustomerField::kPhoto));
}

// --- SdtCustomerNames ---------------------------------------------------------------

SdtCustomerNames::SdtCustomerNames() : names_(qn::makeRef<qn::QNObjectCollection>()) {}

const std::vector<String>& SdtCustomerNames::sdtLevelPathNames() const {
    static const std::vector<String> path{u"CustomerNames"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtCustomerNames::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"Name", u"gxTv_SdtCustomerNames_Name"},
    };
    return mapping;
}

Value SdtCustomerNames::objectValueForPropertyName(StringView fullName) const {
    if (fullName == u"gxTv_SdtCustomerNames_Name") return Value(names_);
    return Value();
}

void SdtCustomerNames::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    if (fullName != u"gxTv_SdtCustomerNames_Name") return;
    if (auto names = value.as<qn::QNObjectCollection>()) {
        names_ = names;
    } else {
        names_->removeAllItems();
    }
    setDirty(u"Name");
}

}  // namespace travelagency
