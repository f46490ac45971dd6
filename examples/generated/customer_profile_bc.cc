// The business component "CustomerProfile" (see customer_profile_bc.h).
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>

#include "customer_profile_bc.h"

namespace travelagency {

using qn::String;
using qn::StringView;
using qn::Value;

QN_REGISTER_CLASS(SdtCustomerProfile, QNSdtBusinessComponent)
QN_REGISTER_CLASS(CustomerProfile_bc, QNBusinessComponent)

namespace {

enum CustomerProfileField : std::size_t {
    kCustomerId,
    kCustomerName,
    kCustomerEmail,
    kCustomerPhoto,
    kMode,
};

String text(const Value& value) {
    return value.isString() ? value.asString() : String();
}

}  // namespace

// --- SdtCustomerProfile ----------------------------------------------------------

SdtCustomerProfile::SdtCustomerProfile() {
    setTransaction(qn::makeRef<CustomerProfile_bc>(this));
}

SdtCustomerProfile::SdtCustomerProfile(const SdtCustomerProfile& other)
    : qn::QNSdtBusinessComponent(other),
      customerId_(other.customerId_),
      customerName_(other.customerName_),
      customerEmail_(other.customerEmail_),
      customerPhoto_(other.customerPhoto_) {
    auto transaction = qn::makeRef<CustomerProfile_bc>(this);
    transaction->setMode(other.getTransaction() ? other.getTransaction()->mode() : std::nullopt);
    setTransaction(std::move(transaction));
}

const std::vector<String>& SdtCustomerProfile::sdtLevelPathNames() const {
    static const std::vector<String> path{u"CustomerProfile"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtCustomerProfile::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"CustomerId", u"gxTv_SdtCustomerProfile_Customerid"},
        {u"CustomerName", u"gxTv_SdtCustomerProfile_Customername"},
        {u"CustomerEmail", u"gxTv_SdtCustomerProfile_Customeremail"},
        {u"CustomerPhoto", u"gxTv_SdtCustomerProfile_Customerphoto"},
        {u"Mode", u"gxTv_SdtCustomerProfile_Mode"},
    };
    return mapping;
}

qn::Ref<qn::QNProperties> SdtCustomerProfile::getMetadata() const {
    auto metadata = qn::QNProperties::init();
    metadata->set(u"PK", u"[\"CustomerId\"]");
    return metadata;
}

Value SdtCustomerProfile::objectValueForPropertyName(StringView fullName) const {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return objectValueForPropertyIndex(i);
    return Value();
}

void SdtCustomerProfile::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return setObjectValueForPropertyIndex(value, i);
}

Value SdtCustomerProfile::objectValueForPropertyIndex(std::size_t index) const {
    switch (index) {
        case kCustomerId:
            return Value(customerId_);
        case kCustomerName:
            return Value(customerName_);
        case kCustomerEmail:
            return Value(customerEmail_);
        case kCustomerPhoto:
            return Value(customerPhoto_);
        case kMode:
            return Value(mode());
        default:
            return Value();
    }
}

void SdtCustomerProfile::setObjectValueForPropertyIndex(const Value& value, std::size_t index) {
    switch (index) {
        case kCustomerId:
            setCustomerId(value.integerValue());
            break;
        case kCustomerName:
            setCustomerName(text(value));
            break;
        case kCustomerEmail:
            setCustomerEmail(text(value));
            break;
        case kCustomerPhoto:
            setCustomerPhoto(text(value));
            break;
        case kMode:
            setMode(text(value));
            break;
        default:
            break;
    }
}

void SdtCustomerProfile::setCustomerId(std::int64_t value) {
    customerId_ = value;
    setDirtyForPropertyIndex(kCustomerId);
}

void SdtCustomerProfile::setCustomerName(String value) {
    customerName_ = std::move(value);
    setDirtyForPropertyIndex(kCustomerName);
}

void SdtCustomerProfile::setCustomerEmail(String value) {
    customerEmail_ = std::move(value);
    setDirtyForPropertyIndex(kCustomerEmail);
}

void SdtCustomerProfile::setCustomerPhoto(String value) {
    customerPhoto_ = std::move(value);
    setDirtyForPropertyIndex(kCustomerPhoto);
}

String SdtCustomerProfile::mode() const {
    return getMode();
}

void SdtCustomerProfile::setMode(StringView value) {
    if (getTransaction()) getTransaction()->setQn_mode(value);
}

// --- The transaction's cursors ---------------------------------------------------

CustomerProfileBcDataStoreHelper::CustomerProfileBcDataStoreHelper()
    : cursors_{
          std::make_shared<qn::ForEachCursor>(
              u"BC_Load",
              u"SELECT CustomerName, CustomerEmail, CustomerPhoto FROM Customer "
              u"WHERE CustomerId = ?"),
          std::make_shared<qn::UpdateCursor>(
              u"BC_Insert",
              u"INSERT INTO Customer (CustomerName, CustomerEmail, CustomerPhoto, CustomerId) "
              u"VALUES (?, ?, ?, ?)"),
          std::make_shared<qn::UpdateCursor>(
              u"BC_Update",
              u"UPDATE Customer SET CustomerName = ?, CustomerEmail = ?, CustomerPhoto = ? "
              u"WHERE CustomerId = ?"),
          std::make_shared<qn::UpdateCursor>(u"BC_Delete",
                                             u"DELETE FROM Customer WHERE CustomerId = ?"),
      } {}

std::shared_ptr<const qn::QNCursor> CustomerProfileBcDataStoreHelper::getCursor(
    std::int64_t cursor) {
    if (cursor < 0 || cursor >= static_cast<std::int64_t>(cursors_.size())) return nullptr;
    return cursors_[static_cast<std::size_t>(cursor)];
}

// --- CustomerProfile_bc -----------------------------------------------------------

void CustomerProfile_bc::setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool) {
    record_ = dynamic_cast<SdtCustomerProfile*>(sdt);
}

void CustomerProfile_bc::error(StringView id, StringView description) {
    anyError_ = 1;
    getMessages()->addItem(description, id, 1);
}

std::vector<Value> CustomerProfile_bc::rowValues() const {
    return {Value(record_->customerName_), Value(record_->customerEmail_),
            Value(record_->customerPhoto_), Value(record_->customerId_)};
}

bool CustomerProfile_bc::finish(bool succeeded) {
    auto& manager = qn::QNDBManager::sharedInstance();
    if (succeeded) {
        manager.endTransaction();  // commits, and lets the send service know
    } else {
        manager.rollback();
    }
    return succeeded;
}

void CustomerProfile_bc::loadKey(const std::vector<Value>& key) {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_ || key.empty()) return error(u"NoKey", u"No key was given");
    record_->customerId_ = key[0].integerValue();
    provider_.execute(CustomerProfileBcDataStoreHelper::BC_Load, {Value(record_->customerId_)},
                      {false}, {});
    provider_.readNext(CustomerProfileBcDataStoreHelper::BC_Load);
    if (provider_.getStatus(CustomerProfileBcDataStoreHelper::BC_Load) != qn::QN_STATUS_OK) {
        provider_.close(CustomerProfileBcDataStoreHelper::BC_Load);
        setQn_mode(u"INS");
        return error(u"RecordNotFound",
                     u"There is no customer " + qn::fromUtf8(std::to_string(record_->customerId_)));
    }
    auto row = provider_.getDBCommand(CustomerProfileBcDataStoreHelper::BC_Load);
    record_->customerName_ = row->stringValueForColumn(u"CustomerName");
    record_->customerEmail_ = row->stringValueForColumn(u"CustomerEmail");
    record_->customerPhoto_ = row->stringValueForColumn(u"CustomerPhoto");
    provider_.close(CustomerProfileBcDataStoreHelper::BC_Load);
    setQn_mode(u"UPD");
}

void CustomerProfile_bc::check() {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_) return error(u"NoRecord", u"The transaction has no record");
    if (record_->customerName_.empty()) error(u"NameEmpty", u"The customer needs a name");
    if (!record_->customerEmail_.empty() && record_->customerEmail_.find(u'@') == String::npos)
        error(u"EmailInvalid", u"The e-mail address has no @");
}

void CustomerProfile_bc::save() {
    const String mode = getMode();
    if (mode == u"INS") {
        insert();
    } else if (mode == u"UPD") {
        update();
    }
}

bool CustomerProfile_bc::insert() {
    check();
    if (anyError_ != 0) return finish(false);
    provider_.execute(CustomerProfileBcDataStoreHelper::BC_Insert, rowValues(),
                      std::vector<bool>(4, false), {});
    const std::int64_t status = provider_.getStatus(CustomerProfileBcDataStoreHelper::BC_Insert);
    provider_.close(CustomerProfileBcDataStoreHelper::BC_Insert);
    if (status & qn::QN_MASKDUPKEY) {
        error(u"DuplicatePrimaryKey", u"The customer already exists");
    } else if (status != qn::QN_STATUS_OK) {
        error(u"InsertFailed", u"The customer could not be inserted");
    }
    if (anyError_ == 0) setQn_mode(u"UPD");
    return finish(anyError_ == 0);
}

bool CustomerProfile_bc::update() {
    check();
    if (anyError_ != 0) return finish(false);
    provider_.execute(CustomerProfileBcDataStoreHelper::BC_Update, rowValues(),
                      std::vector<bool>(4, false), {});
    const std::int64_t status = provider_.getStatus(CustomerProfileBcDataStoreHelper::BC_Update);
    provider_.close(CustomerProfileBcDataStoreHelper::BC_Update);
    if (status != qn::QN_STATUS_OK) error(u"UpdateFailed", u"The customer could not be updated");
    return finish(anyError_ == 0);
}

void CustomerProfile_bc::delete_() {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_) return error(u"NoRecord", u"The transaction has no record");
    provider_.execute(CustomerProfileBcDataStoreHelper::BC_Delete, {Value(record_->customerId_)},
                      {false}, {});
    const std::int64_t status = provider_.getStatus(CustomerProfileBcDataStoreHelper::BC_Delete);
    provider_.close(CustomerProfileBcDataStoreHelper::BC_Delete);
    if (status != qn::QN_STATUS_OK)
        error(u"DeleteFailed", u"The customer could not be deleted (trips refer to it?)");
    finish(anyError_ == 0);
}

}  // namespace travelagency
