// SOAP locations and the process-wide SOAP state of generated code.
#include <qn/net/soap.h>

#include <mutex>
#include <utility>

namespace qn {

Ref<QNSoapLocation> QNSoapLocationCollection::item(StringView name) const {
    auto found = items_.find(String(name));
    if (found != items_.end()) return found->second;
    return std::make_shared<QNSoapLocation>();
}

void QNSoapLocationCollection::add(Ref<QNSoapLocation> location, StringView name) {
    items_.insert_or_assign(String(name), std::move(location));
}

namespace {

// Generated code reads and writes these from any thread; one lock keeps each
// get and set whole. Never destroyed, so late readers at exit stay safe.
struct SoapState {
    std::mutex mutex;
    Ref<QNSoapLocationCollection> locations = std::make_shared<QNSoapLocationCollection>();
    std::int64_t nLocRead = 0;
    std::int64_t nSOAPErr = 0;
    String sSOAPErrMsg;
};

SoapState& state() {
    static auto* soap = new SoapState();
    return *soap;
}

template <class T>
T read(T SoapState::*field) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.*field;
}

template <class T>
void write(T SoapState::*field, T value) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.*field = std::move(value);
}

}  // namespace

Ref<QNSoapLocationCollection> QNSoapParamBase::colLocations() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    // Replaced by none: the next reader gets a new empty collection, as on
    // first access.
    if (!s.locations) s.locations = std::make_shared<QNSoapLocationCollection>();
    return s.locations;
}

void QNSoapParamBase::setColLocations(Ref<QNSoapLocationCollection> locations) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.locations = std::move(locations);
}

std::int64_t QNSoapParamBase::nLocRead() {
    return read(&SoapState::nLocRead);
}
void QNSoapParamBase::setNLocRead(std::int64_t value) {
    write(&SoapState::nLocRead, value);
}
std::int64_t QNSoapParamBase::nSOAPErr() {
    return read(&SoapState::nSOAPErr);
}
void QNSoapParamBase::setNSOAPErr(std::int64_t value) {
    write(&SoapState::nSOAPErr, value);
}
String QNSoapParamBase::sSOAPErrMsg() {
    return read(&SoapState::sSOAPErrMsg);
}
void QNSoapParamBase::setSSOAPErrMsg(String value) {
    write(&SoapState::sSOAPErrMsg, std::move(value));
}

}  // namespace qn
