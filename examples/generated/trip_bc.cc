// The business component "Trip" (see trip_bc.h).
#include <qn/host/dates.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>

#include "trip_bc.h"

namespace travelagency {

using qn::String;
using qn::StringView;
using qn::Value;

QN_REGISTER_CLASS(SdtTrip, QNSdtBusinessComponent)
QN_REGISTER_CLASS(Trip_bc, QNBusinessComponent)

namespace {

enum TripField : std::size_t {
    kTripId,
    kCustomerId,
    kTripDescription,
    kTripDate,
    kTripFare,
    kTripFareOld,
    kTripPhoto,
    kMode,
    kFieldCount,
};

String text(const Value& value) {
    return value.isString() ? value.asString() : String();
}

}  // namespace

// --- SdtTrip -------------------------------------------------------------------

SdtTrip::SdtTrip() {
    setTransaction(qn::makeRef<Trip_bc>(this));
}

SdtTrip::SdtTrip(const SdtTrip& other)
    : qn::QNSdtBusinessComponent(other),
      tripId_(other.tripId_),
      customerId_(other.customerId_),
      tripDescription_(other.tripDescription_),
      tripDate_(other.tripDate_),
      tripFare_(other.tripFare_),
      tripFare_Z_(other.tripFare_Z_),
      tripPhoto_(other.tripPhoto_) {
    // A copy works through a transaction of its own.
    auto transaction = qn::makeRef<Trip_bc>(this);
    transaction->setMode(other.getTransaction() ? other.getTransaction()->mode() : std::nullopt);
    setTransaction(std::move(transaction));
}

const std::vector<String>& SdtTrip::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Trip"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtTrip::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"TripId", u"gxTv_SdtTrip_Tripid"},
        {u"CustomerId", u"gxTv_SdtTrip_Customerid"},
        {u"TripDescription", u"gxTv_SdtTrip_Tripdescription"},
        {u"TripDate", u"gxTv_SdtTrip_Tripdate"},
        {u"TripFare", u"gxTv_SdtTrip_Tripfare"},
        {u"TripFare_Z", u"gxTv_SdtTrip_Tripfare_Z"},
        {u"TripPhoto", u"gxTv_SdtTrip_Tripphoto"},
        {u"Mode", u"gxTv_SdtTrip_Mode"},
    };
    return mapping;
}

qn::Ref<qn::QNProperties> SdtTrip::getMetadata() const {
    auto metadata = qn::QNProperties::init();
    metadata->set(u"PK", u"[\"TripId\"]");
    return metadata;
}

Value SdtTrip::objectValueForPropertyName(StringView fullName) const {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return objectValueForPropertyIndex(i);
    return Value();
}

void SdtTrip::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return setObjectValueForPropertyIndex(value, i);
}

Value SdtTrip::objectValueForPropertyIndex(std::size_t index) const {
    switch (index) {
        case kTripId:
            return Value(tripId_);
        case kCustomerId:
            return Value(customerId_);
        case kTripDescription:
            return Value(tripDescription_);
        case kTripDate:
            return Value(tripDate_);
        case kTripFare:
            return Value(tripFare_);
        case kTripFareOld:
            return Value(tripFare_Z_);
        case kTripPhoto:
            return Value(tripPhoto_);
        case kMode:
            return Value(mode());
        default:
            return Value();
    }
}

void SdtTrip::setObjectValueForPropertyIndex(const Value& value, std::size_t index) {
    switch (index) {
        case kTripId:
            setTripId(value.integerValue());
            break;
        case kCustomerId:
            setCustomerId(value.integerValue());
            break;
        case kTripDescription:
            setTripDescription(text(value));
            break;
        case kTripDate:
            setTripDate(value.isDate() ? value.asDate() : qn::DateTime());
            break;
        case kTripFare:
            setTripFare(value.decimalValue());
            break;
        case kTripFareOld:
            tripFare_Z_ = value.decimalValue();
            break;
        case kTripPhoto:
            setTripPhoto(text(value));
            break;
        case kMode:
            setMode(text(value));
            break;
        default:
            break;
    }
}

void SdtTrip::setTripId(std::int64_t value) {
    tripId_ = value;
    setDirtyForPropertyIndex(kTripId);
}

void SdtTrip::setCustomerId(std::int64_t value) {
    customerId_ = value;
    setDirtyForPropertyIndex(kCustomerId);
}

void SdtTrip::setTripDescription(String value) {
    tripDescription_ = std::move(value);
    setDirtyForPropertyIndex(kTripDescription);
}

void SdtTrip::setTripDate(qn::DateTime value) {
    tripDate_ = value;
    setDirtyForPropertyIndex(kTripDate);
}

void SdtTrip::setTripFare(const qn::Decimal& value) {
    tripFare_ = value;
    setDirtyForPropertyIndex(kTripFare);
}

void SdtTrip::setTripPhoto(String value) {
    tripPhoto_ = std::move(value);
    setDirtyForPropertyIndex(kTripPhoto);
}

String SdtTrip::mode() const {
    return getMode();
}

void SdtTrip::setMode(StringView value) {
    if (getTransaction()) getTransaction()->setQn_mode(value);
}

// --- The transaction's cursors ---------------------------------------------------

TripBcDataStoreHelper::TripBcDataStoreHelper()
    : cursors_{
          std::make_shared<qn::ForEachCursor>(
              u"BC_Load",
              u"SELECT CustomerId, TripDescription, TripDate, TripFare, TripPhoto FROM Trip "
              u"WHERE TripId = ?"),
          std::make_shared<qn::UpdateCursor>(
              u"BC_Insert",
              u"INSERT INTO Trip (CustomerId, TripDescription, TripDate, TripFare, TripPhoto, "
              u"TripId) VALUES (?, ?, ?, ?, ?, ?)"),
          std::make_shared<qn::UpdateCursor>(
              u"BC_Update",
              u"UPDATE Trip SET CustomerId = ?, TripDescription = ?, TripDate = ?, TripFare = ?, "
              u"TripPhoto = ? WHERE TripId = ?"),
          std::make_shared<qn::UpdateCursor>(u"BC_Delete", u"DELETE FROM Trip WHERE TripId = ?"),
      } {}

std::shared_ptr<const qn::QNCursor> TripBcDataStoreHelper::getCursor(std::int64_t cursor) {
    if (cursor < 0 || cursor >= static_cast<std::int64_t>(cursors_.size())) return nullptr;
    return cursors_[static_cast<std::size_t>(cursor)];
}

// --- Trip_bc -------------------------------------------------------------------------

void Trip_bc::setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool) {
    record_ = dynamic_cast<SdtTrip*>(sdt);
}

void Trip_bc::error(StringView id, StringView description) {
    anyError_ = 1;
    getMessages()->addItem(description, id, 1);
}

std::vector<Value> Trip_bc::rowValues() const {
    return {Value(record_->customerId_), Value(record_->tripDescription_),
            Value(record_->tripDate_),   Value(record_->tripFare_),
            Value(record_->tripPhoto_),  Value(record_->tripId_)};
}

bool Trip_bc::finish(bool succeeded) {
    auto& manager = qn::QNDBManager::sharedInstance();
    if (succeeded) {
        manager.endTransaction();  // commits, and lets the send service know
    } else {
        manager.rollback();
    }
    return succeeded;
}

void Trip_bc::loadKey(const std::vector<Value>& key) {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_ || key.empty()) return error(u"NoKey", u"No key was given");
    record_->tripId_ = key[0].integerValue();
    provider_.execute(TripBcDataStoreHelper::BC_Load, {Value(record_->tripId_)}, {false}, {});
    provider_.readNext(TripBcDataStoreHelper::BC_Load);
    if (provider_.getStatus(TripBcDataStoreHelper::BC_Load) != qn::QN_STATUS_OK) {
        provider_.close(TripBcDataStoreHelper::BC_Load);
        setQn_mode(u"INS");
        return error(u"RecordNotFound",
                     u"There is no trip " + qn::fromUtf8(std::to_string(record_->tripId_)));
    }
    auto row = provider_.getDBCommand(TripBcDataStoreHelper::BC_Load);
    record_->customerId_ = row->int64ValueForColumn(u"CustomerId");
    record_->tripDescription_ = row->stringValueForColumn(u"TripDescription");
    record_->tripDate_ = row->dateValueForColumn(u"TripDate");
    record_->tripFare_ = row->decimalValueForColumn(u"TripFare");
    record_->tripFare_Z_ = record_->tripFare_;
    record_->tripPhoto_ = row->stringValueForColumn(u"TripPhoto");
    provider_.close(TripBcDataStoreHelper::BC_Load);
    setQn_mode(u"UPD");
}

void Trip_bc::getInsDefault() {
    if (record_) record_->tripDate_ = qn::DateTime::now();
}

void Trip_bc::check() {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_) return error(u"NoRecord", u"The transaction has no record");
    if (record_->tripFare_.isNegative()) error(u"FareNegative", u"The fare must not be negative");
    if (record_->tripDescription_.empty())
        error(u"DescriptionEmpty", u"The trip needs a description");
}

void Trip_bc::save() {
    const String mode = getMode();
    if (mode == u"INS") {
        insert();
    } else if (mode == u"UPD") {
        update();
    }
}

bool Trip_bc::insert() {
    check();
    if (anyError_ != 0) return finish(false);
    provider_.execute(TripBcDataStoreHelper::BC_Insert, rowValues(), std::vector<bool>(6, false),
                      {});
    const std::int64_t status = provider_.getStatus(TripBcDataStoreHelper::BC_Insert);
    provider_.close(TripBcDataStoreHelper::BC_Insert);
    if (status & qn::QN_MASKDUPKEY) {
        error(u"DuplicatePrimaryKey", u"The trip already exists");
    } else if (status != qn::QN_STATUS_OK) {
        error(u"InsertFailed", u"The trip could not be inserted");
    }
    if (anyError_ == 0) setQn_mode(u"UPD");
    return finish(anyError_ == 0);
}

bool Trip_bc::update() {
    check();
    if (anyError_ != 0) return finish(false);
    provider_.execute(TripBcDataStoreHelper::BC_Update, rowValues(), std::vector<bool>(6, false),
                      {});
    const std::int64_t status = provider_.getStatus(TripBcDataStoreHelper::BC_Update);
    provider_.close(TripBcDataStoreHelper::BC_Update);
    if (status != qn::QN_STATUS_OK) error(u"UpdateFailed", u"The trip could not be updated");
    if (anyError_ == 0) record_->tripFare_Z_ = record_->tripFare_;
    return finish(anyError_ == 0);
}

void Trip_bc::delete_() {
    getMessages()->clear();
    anyError_ = 0;
    if (!record_) return error(u"NoRecord", u"The transaction has no record");
    provider_.execute(TripBcDataStoreHelper::BC_Delete, {Value(record_->tripId_)}, {false}, {});
    const std::int64_t status = provider_.getStatus(TripBcDataStoreHelper::BC_Delete);
    provider_.close(TripBcDataStoreHelper::BC_Delete);
    if (status != qn::QN_STATUS_OK) error(u"DeleteFailed", u"The trip could not be deleted");
    finish(anyError_ == 0);
}

}  // namespace travelagency
