#include <qn/host/entity_helper.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>

#include <map>

#include <mutex>
#include "core/ascii.h"
#include "host/paths.h"
#include "host/url.h"

namespace qn {
namespace {

struct Converters {
    std::mutex mutex;
    std::map<String, QNEntityHelper::NSURLConverter> byScheme;  // lower-case scheme
};

Converters& converters() {
    static Converters state;
    return state;
}

// A function an application may install: read under the lock, called
// outside it (so it may call back into the helper).
template <class F>
class Hook {
public:
    void set(F fn) {
        std::lock_guard lock(mutex_);
        fn_ = std::move(fn);
    }
    F get() const {
        std::lock_guard lock(mutex_);
        return fn_;
    }

private:
    mutable std::mutex mutex_;
    F fn_;
};

Hook<QNEntityHelper::StaticResourceURLProvider>& staticResourceProvider() {
    static Hook<QNEntityHelper::StaticResourceURLProvider> hook;
    return hook;
}

// "<server base URL>/static/<path>", each path segment escaped. Segments
// that would climb out of the folder ("." and "..") give no URL.
std::optional<String> defaultStaticResourceURL(StringView path) {
    auto model = QNApplicationModel::currentModel();
    if (!model || model->serverBaseUrl().empty()) return std::nullopt;
    String url = model->serverBaseUrl();
    if (url.back() != u'/') url.push_back(u'/');
    url += u"static";
    bool any = false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'/', start);
        if (end == StringView::npos) end = path.size();
        StringView segment = path.substr(start, end - start);
        if (segment == u"." || segment == u"..") return std::nullopt;
        if (!segment.empty()) {
            url.push_back(u'/');
            url += QNUtilities::urlSimpleEscapeString(segment);
            any = true;
        }
        start = end + 1;
    }
    if (!any) return std::nullopt;
    return url;
}

Hook<QNEntityHelper::ImageFieldValueResolver>& imageResolver() {
    static Hook<QNEntityHelper::ImageFieldValueResolver> hook;
    return hook;
}

QNImageFieldValue defaultImageFieldValue(StringView value) {
    QNImageFieldValue result;
    if (auto converted = QNEntityHelper::convertQNSchemeAbsoluteURL(value)) {
        result.url = std::move(converted);
    } else if (auto path = internal::pathOfFileURL(value)) {
        if (!path->empty()) result.url = String(value);
    } else if (auto scheme = internal::lowercasedSchemeOf(value);
               scheme && (*scheme == u"http" || *scheme == u"https")) {
        result.url = QNUtilities::urlFromMaybeEscapedURLString(value);
    }
    return result;
}

Hook<QNEntityHelper::WebPanelURLProvider>& webPanelProvider() {
    static Hook<QNEntityHelper::WebPanelURLProvider> hook;
    return hook;
}

}  // namespace

void QNEntityHelper::setWebPanelURLProvider(WebPanelURLProvider provider) {
    webPanelProvider().set(std::move(provider));
}

std::optional<String> QNEntityHelper::webPanelURLFromNameParameters(
    StringView name, const std::vector<Value>* parameters) {
    if (auto provider = webPanelProvider().get()) return provider(name, parameters);
    return std::nullopt;
}

void QNEntityHelper::setImageFieldValueResolver(ImageFieldValueResolver resolver) {
    imageResolver().set(std::move(resolver));
}

QNImageFieldValue QNEntityHelper::imageAndURLFromFieldValue(StringView value) {
    if (auto resolver = imageResolver().get()) return resolver(value);
    return defaultImageFieldValue(value);
}

void QNEntityHelper::setStaticResourceURLProvider(StaticResourceURLProvider provider) {
    staticResourceProvider().set(std::move(provider));
}

std::optional<String> QNEntityHelper::staticResourceURLWithRelativePath(StringView path) {
    if (auto provider = staticResourceProvider().get()) return provider(path);
    return defaultStaticResourceURL(path);
}

void QNEntityHelper::registerNSURLConverterForQNScheme(NSURLConverter converter,
                                                       StringView scheme) {
    auto& state = converters();
    std::lock_guard lock(state.mutex);
    if (converter) {
        state.byScheme[internal::asciiLowercased(scheme)] = std::move(converter);
    } else {
        state.byScheme.erase(internal::asciiLowercased(scheme));
    }
}

std::optional<String> QNEntityHelper::convertQNSchemeAbsoluteURL(StringView url) {
    auto scheme = internal::lowercasedSchemeOf(url);
    if (!scheme) return std::nullopt;
    NSURLConverter converter;
    {
        auto& state = converters();
        std::lock_guard lock(state.mutex);
        auto it = state.byScheme.find(*scheme);
        if (it == state.byScheme.end()) return std::nullopt;
        converter = it->second;
    }
    // Called outside the lock: a converter may resolve paths that take locks.
    return converter(url);
}

}  // namespace qn
