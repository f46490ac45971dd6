#include "bc/voyage_fixture.h"

#include <qn/files/file_system_object.h>

namespace bctest {

using qn::String;
using qn::StringView;
using qn::Value;

QN_REGISTER_CLASS(Voyage_bc, QNBusinessComponent)
QN_REGISTER_CLASS(SdtVoyage, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtVoyage_Stop, QNSdtBusinessComponent)

namespace {

String text(const Value& value) {
    return value.isString() ? value.asString() : String();
}

// A sample bundle as the main bundle, and the storage folders it gives
// fixed for the run: they are decided the first time a path is asked for,
// and a folder removed after one test would be gone for the next.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qn::test::writeSampleBundle(bundleDir_);
        bundle_.emplace(bundleDir_.path());
        (void)qn::QNFileSystemObject::tempPath();
        (void)qn::QNFileSystemObject::blobDataPath();
        (void)qn::QNFileSystemObject::pendingUploadsPath();
    }
    void TearDown() override { bundle_.reset(); }

private:
    qn::test::TempDir bundleDir_;
    std::optional<qn::test::ScopedBundle> bundle_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

// --- Voyage_bc -----------------------------------------------------------------------

void Voyage_bc::called(const char* what) {
    log->add(tag.empty() ? std::string(what) : tag + "." + what);
    lastContext = CallContext{std::this_thread::get_id(), qn::qn_is_main_thread(),
                              qn::qn_current_dispatch_priority()};
}

void Voyage_bc::setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool) {
    record_ = dynamic_cast<SdtVoyage*>(sdt);
}

void Voyage_bc::loadKey(const std::vector<Value>& key) {
    called("loadKey");
    loadedKey = key;
    if (!record_ || key.empty()) return;
    // Through the setters, as generated code copies the row in.
    record_->setId(key[0].integerValue());
    record_->setTitle(u"Loaded");
    setQn_mode(u"UPD");
}

void Voyage_bc::save() {
    called("save");
    leaveMode();
}

bool Voyage_bc::insert() {
    called("insert");
    if (!insertSucceeds) {
        for (std::int64_t code : insertFailureCodes)
            qn::QNThreadErrorHandler::errorHandler().addErrorWithCodeDescription(code, u"insert");
        if (failureMessage) getMessages()->addItem(*failureMessage, u"InsertFailed", 1);
        return false;
    }
    leaveMode();
    return true;
}

bool Voyage_bc::update() {
    called("update");
    errorCodesSeenByUpdate.clear();
    for (const qn::QNError& e : qn::QNThreadErrorHandler::errorHandler().errors())
        errorCodesSeenByUpdate.push_back(e.code());
    if (!updateSucceeds) {
        if (failureMessage) getMessages()->addItem(*failureMessage, u"UpdateFailed", 1);
        return false;
    }
    leaveMode();
    return true;
}

void Voyage_bc::getInsDefault() {
    called("getInsDefault");
    modeSeenByInsDefault = getMode();
    if (record_) record_->setFare(100);
}

// --- SdtVoyage -----------------------------------------------------------------------

SdtVoyage::SdtVoyage() : own_(qn::makeRef<Voyage_bc>(this)) {
    setTransaction(own_);
}

const std::vector<String>& SdtVoyage::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Voyage"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtVoyage::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"Id", u"gxTv_SdtVoyage_Id"},       {u"Title", u"gxTv_SdtVoyage_Title"},
        {u"Fare", u"gxTv_SdtVoyage_Fare"},   {u"Fare_Z", u"gxTv_SdtVoyage_Fare_Z"},
        {u"Photo", u"gxTv_SdtVoyage_Photo"}, {u"Ticket", u"gxTv_SdtVoyage_Ticket"},
        {u"Mode", u"gxTv_SdtVoyage_Mode"},
    };
    return mapping;
}

qn::Ref<qn::QNProperties> SdtVoyage::getMetadata() const {
    auto metadata = qn::QNProperties::init();
    metadata->set(u"PK", primaryKey);
    return metadata;
}

Value SdtVoyage::objectValueForPropertyName(StringView fullName) const {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return objectValueForPropertyIndex(i);
    return Value();
}

void SdtVoyage::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    const auto& mapping = sdtPropertiesNameMapping();
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping[i].second == fullName) return setObjectValueForPropertyIndex(value, i);
}

Value SdtVoyage::objectValueForPropertyIndex(std::size_t index) const {
    switch (index) {
        case kId:
            return id_ ? Value(*id_) : Value();
        case kTitle:
            return Value(title_);
        case kFare:
            return Value(fare_);
        case kFareOld:
            return Value(fare_Z_);
        case kPhoto:
            return Value(photo_);
        case kTicket:
            return ticket_;
        case kMode:
            return Value(mode());
        default:
            return Value();
    }
}

void SdtVoyage::setObjectValueForPropertyIndex(const Value& value, std::size_t index) {
    switch (index) {
        case kId:
            setId(value.isAbsentOrNull() ? std::nullopt
                                         : std::optional<std::int64_t>(value.integerValue()));
            break;
        case kTitle:
            setTitle(text(value));
            break;
        case kFare:
            setFare(value.integerValue());
            break;
        case kFareOld:
            fare_Z_ = value.integerValue();
            break;
        case kPhoto:
            setPhoto(text(value));
            break;
        case kTicket:
            setTicket(value);
            break;
        case kMode:
            setMode(text(value));
            break;
        default:
            break;
    }
}

void SdtVoyage::setId(std::optional<std::int64_t> value) {
    id_ = value;
    setDirtyForPropertyIndex(kId);
}

void SdtVoyage::setTitle(String value) {
    title_ = std::move(value);
    setDirtyForPropertyIndex(kTitle);
}

void SdtVoyage::setFare(std::int64_t value) {
    fare_ = value;
    setDirtyForPropertyIndex(kFare);
}

void SdtVoyage::setPhoto(String value) {
    photo_ = std::move(value);
    setDirtyForPropertyIndex(kPhoto);
}

void SdtVoyage::setTicket(Value value) {
    ticket_ = std::move(value);
    setDirtyForPropertyIndex(kTicket);
}

// --- SdtVoyage_Stop ------------------------------------------------------------------

const std::vector<String>& SdtVoyage_Stop::sdtLevelPathNames() const {
    static const std::vector<String> path{u"Voyage", u"Stop"};
    return path;
}

const qn::QNSDTPropertiesInfo::NameMapping& SdtVoyage_Stop::sdtPropertiesNameMapping() const {
    static const qn::QNSDTPropertiesInfo::NameMapping mapping{
        {u"StopId", u"gxTv_SdtVoyage_Stop_Stopid"}, {u"Place", u"gxTv_SdtVoyage_Stop_Place"}};
    return mapping;
}

Value SdtVoyage_Stop::objectValueForPropertyName(StringView fullName) const {
    if (fullName == u"gxTv_SdtVoyage_Stop_Stopid") return Value(stopId);
    if (fullName == u"gxTv_SdtVoyage_Stop_Place") return Value(place);
    return Value();
}

void SdtVoyage_Stop::setObjectValueForPropertyName(const Value& value, StringView fullName) {
    if (fullName == u"gxTv_SdtVoyage_Stop_Stopid") stopId = value.integerValue();
    if (fullName == u"gxTv_SdtVoyage_Stop_Place") place = text(value);
}

// --- Metadata ------------------------------------------------------------------------

ScopedVoyageSDT::ScopedVoyageSDT() {
    const auto sdts = qn::QNJSON::parse(std::string_view(R"([{"name":"Voyage","level":{
        "name":"Voyage","items":[
            {"name":"Id","type":0,"length":9},
            {"name":"Title","type":1,"length":40},
            {"name":"Fare","type":0,"length":9},
            {"name":"Photo","type":8},
            {"name":"Ticket","type":9}],
        "levels":[{"name":"Stop","items":[
            {"name":"StopId","type":0,"length":4},
            {"name":"Place","type":1,"length":40}]}]}}])"));
    for (const auto& info : qn::QNStructureDataTypeInfo::sdtInfosFromJSONValue(*sdts))
        qn::QNStructureDataTypeInfo::installSDTInfo(info);
}

ScopedVoyageSDT::~ScopedVoyageSDT() {
    qn::QNStructureDataTypeInfo::removeInstalledSDTInfos();
}

ScopedVoyageModel::ScopedVoyageModel(StringView spelling) {
    const auto description = qn::QNJSON::parse(std::string_view(R"({"name":"Voyage","level":{
        "name":"Voyage","attributes":[
            {"name":"Id","isKey":true},
            {"name":"Title","isReadOnly":true},
            {"name":"Fare","isReadOnly":true},
            {"name":"Photo"},
            {"name":"Ticket"}],
        "levels":[{"name":"Stop","attributes":[
            {"name":"StopId","isKey":true},
            {"name":"Place"}]}]}})"));
    auto parsed = qn::QNBusinessComponentModel::fromJSONValue(*description);
    qn::QNBusinessComponentsHelper::installBusinessComponentModel(
        std::make_shared<qn::QNBusinessComponentModel>(String(spelling), parsed->rootLevel()));
}

ScopedVoyageModel::~ScopedVoyageModel() {
    qn::QNBusinessComponentsHelper::removeInstalledBusinessComponentModels();
}

qn::Ref<SdtVoyage> voyage(std::optional<std::int64_t> id, const std::shared_ptr<CallLog>& log,
                          std::string tag) {
    auto record = qn::makeRef<SdtVoyage>();
    if (id) record->setId(*id);
    record->trn().log = log;
    record->trn().tag = std::move(tag);
    return record;
}

// --- NotificationRecorder ------------------------------------------------------------

NotificationRecorder::NotificationRecorder() {
    for (const char16_t* name : {u"QNSdtBusinessComponentDidSaveNotification",
                                 u"QNSdtBusinessComponentDidDeleteNotification"}) {
        tokens_.push_back(qn::QNNotificationCenter::defaultCenter().addObserverForName(
            name, [this](const qn::QNNotification& n) {
                std::lock_guard lock(mutex_);
                seen_.push_back({n.name, n.object, n.userInfo});
            }));
    }
}

NotificationRecorder::~NotificationRecorder() {
    for (auto token : tokens_)
        qn::QNNotificationCenter::defaultCenter().removeObserver(token);
}

std::vector<NotificationRecorder::Seen> NotificationRecorder::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

}  // namespace bctest
