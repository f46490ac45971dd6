// SOAP endpoint descriptions kept for generated code: locations by name and
// the error state of the last SOAP call. These objects only store values.
//
// QNSoapLocation and QNSoapLocationCollection are thread-compatible. The
// class-level state of QNSoapParamBase is created once (thread-safe) and then
// guarded, so concurrent calls never race.
#pragma once

#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <map>

namespace qn {

class QN_API QNSoapLocation : public Object {
public:
    String name;
    String host;
    std::int64_t port = 0;
    String proxyServerHost;
    std::int64_t proxyServerPort = 0;
    String baseURL;
    String resourceName;
    std::int64_t secure = -1;
    std::int64_t timeout = -1;
    std::int64_t authenticationMethod = -1;
    String authenticationUser;
    String authenticationRealm;
    String authenticationPassword;
    std::int64_t proxyAuthenticationMethod = -1;
    String proxyAuthenticationUser;
    String proxyAuthenticationRealm;
    String proxyAuthenticationPassword;
    String certificate;
    std::int64_t authentication = 0;
    std::int64_t proxyAuthentication = 0;
    std::int64_t cancelOnError = 0;
    String groupLocation;
    String wsdlurl;
};

class QN_API QNSoapLocationCollection : public Object {
public:
    // The location stored under the name (exact), else a fresh one that is
    // not stored.
    Ref<QNSoapLocation> item(StringView name) const;
    // Stores the location under the name, replacing an earlier one.
    void add(Ref<QNSoapLocation> location, StringView name);
    const std::map<String, Ref<QNSoapLocation>>& items() const noexcept { return items_; }

private:
    std::map<String, Ref<QNSoapLocation>> items_;
};

class QN_API QNSoapParamBase {
public:
    // Created empty on first access.
    static Ref<QNSoapLocationCollection> colLocations();
    static void setColLocations(Ref<QNSoapLocationCollection> locations);
    static std::int64_t nLocRead();
    static void setNLocRead(std::int64_t value);
    static std::int64_t nSOAPErr();
    static void setNSOAPErr(std::int64_t value);
    static String sSOAPErrMsg();
    static void setSSOAPErrMsg(String value);
    static std::int64_t getSOAPErr() { return nSOAPErr(); }
    static String getSOAPErrMsg() { return sSOAPErrMsg(); }
};

}  // namespace qn
