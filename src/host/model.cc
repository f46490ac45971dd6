#include <qn/core/json.h>
#include <qn/host/bundle.h>
#include <qn/host/environment.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>

#include <atomic>
#include <mutex>

#include "core/ascii.h"
#include "core/characters.h"
#include "host/internal.h"
#include "host/paths.h"
#include "host/url.h"

namespace qn {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxModelFileBytes = 256u * 1024u * 1024u;
const String kUserDataFileName = u"QNUserData.plist";

String stringOf(const Dictionary& d, StringView key) {
    const Value& v = d.get(key);
    return v.isString() ? v.asString() : String();
}

// Reads a JSON file of the bundle; absent (and a logged line) when it is
// missing or malformed.
std::optional<Value> readBundleJSON(const QNBundle& bundle, const std::string& relative,
                                    bool missingIsError) {
    auto path = bundle.pathForResourceOfType(relative);
    if (!path) {
        if (missingIsError)
            internal::logError(QNLogTypeFiles, relative + ": not found in the bundle");
        return std::nullopt;
    }
    std::string error;
    auto text = internal::readFile(*path, kMaxModelFileBytes, &error);
    if (!text) {
        internal::logError(QNLogTypeFiles, error);
        return std::nullopt;
    }
    auto value = QNJSON::parse(std::string_view(*text), &error);
    if (!value) {
        internal::logError(QNLogTypeFiles, path->string() + ": " + error);
        return std::nullopt;
    }
    return value;
}

QNLanguage::TranslationTable translationsFrom(const Value& source, const QNBundle* bundle) {
    QNLanguage::TranslationTable out;
    std::optional<Value> loaded;
    const Value* table = &source;
    if (source.isString() && bundle != nullptr) {
        loaded = readBundleJSON(*bundle, toUtf8(source.asString()), true);
        if (!loaded) return out;
        table = &*loaded;
    }
    if (const Dictionary* d = table->asDictionary()) {
        for (const auto& [key, value] : *d) {
            if (value.isString()) out.emplace(key, value.asString());
        }
    }
    return out;
}

std::shared_ptr<const QNLanguage> languageFrom(const Dictionary& d, const QNBundle* bundle) {
    QNLanguage::Definition def;
    def.name = stringOf(d, u"name");
    def.code = stringOf(d, u"code");
    def.section = stringOf(d, u"section");
    def.culture = stringOf(d, u"culture");
    def.dateFormat = stringOf(d, u"dateFormat");
    def.languageCode = stringOf(d, u"languageCode");
    def.countryCode = stringOf(d, u"countryCode");
    def.translations = translationsFrom(d.get(u"translations"), bundle);
    return std::make_shared<const QNLanguage>(std::move(def));
}

// The file URL of a bundle file named by a bundle-relative path; absent when
// the path names no file, or one that lies outside the bundle once links are
// followed (the bundle is trusted, but a path must not reach beyond it).
std::optional<String> bundleFileURL(const QNBundle& bundle, StringView relative) {
    if (relative.empty() || relative.find(u'\0') != StringView::npos) return std::nullopt;
    auto found = bundle.pathForResourceOfType(toUtf8(relative));
    if (!found) return std::nullopt;
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(bundle.bundlePath(), ec);
    if (ec) return std::nullopt;
    const fs::path real = fs::weakly_canonical(*found, ec);
    if (ec ||
        !internal::pathIsWithinRoot(internal::fromSystemPath(real), internal::fromSystemPath(root)))
        return std::nullopt;
    return internal::fileURLForPath(internal::fromSystemPath(real));
}

// An absolute http or https URL with a host, escaped where it must be.
std::optional<String> remoteImageURL(StringView text) {
    auto escaped = QNUtilities::urlFromMaybeEscapedURLString(text);
    if (!escaped) return std::nullopt;
    auto url = internal::URL::parse(*escaped);
    if (!url || !url->scheme || url->host.empty()) return std::nullopt;
    const String scheme = internal::asciiLowercased(*url->scheme);
    if (scheme != u"http" && scheme != u"https") return std::nullopt;
    return escaped;
}

QNImageDefinition imageFrom(const Dictionary& d, const QNBundle* bundle) {
    QNImageDefinition image;
    image.guid = stringOf(d, u"guid");
    image.name = stringOf(d, u"name");
    const String path = stringOf(d, u"path");
    if (!path.empty() && bundle != nullptr) image.url = bundleFileURL(*bundle, path);
    if (!image.url) {
        const String url = stringOf(d, u"url");
        if (!url.empty()) image.url = remoteImageURL(url);
    }
    return image;
}

std::vector<QNImageDefinition> imagesFrom(const Value& list, const QNBundle* bundle) {
    std::vector<QNImageDefinition> out;
    if (const Array* images = list.asArray()) {
        for (const auto& item : *images) {
            if (const Dictionary* d = item.asDictionary()) out.push_back(imageFrom(*d, bundle));
        }
    }
    return out;
}

// By lower-cased name; the first of several with the same name wins.
std::unordered_map<String, QNAttributeInfo> attributesFrom(const Value& list) {
    std::unordered_map<String, QNAttributeInfo> out;
    if (const Array* attributes = list.asArray()) {
        for (const auto& item : *attributes) {
            const Dictionary* d = item.asDictionary();
            if (d == nullptr) continue;
            String name = stringOf(*d, u"name");
            if (name.empty()) continue;
            const Value& offline = d->get(u"downloadContentOffline");
            String key = internal::lowercased(name);
            out.emplace(std::move(key),
                        QNAttributeInfo(std::move(name), offline.isBool() && offline.boolValue()));
        }
    }
    return out;
}

struct ModelCache {
    std::mutex mutex;
    std::shared_ptr<const QNBundle> bundle;
    std::shared_ptr<const QNApplicationModel> model;
};

ModelCache& modelCache() {
    static ModelCache cache;
    return cache;
}

struct LanguageState {
    std::mutex mutex;
    std::optional<String> language;
    std::optional<String> theme;
};

LanguageState& languageState() {
    static LanguageState state;
    return state;
}

}  // namespace

String QNLanguage::translationFor(StringView key) const {
    auto it = d_.translations.find(key);
    return it == d_.translations.end() ? String(key) : it->second;
}

bool QNLanguage::hasTranslationFor(StringView key) const {
    return d_.translations.find(key) != d_.translations.end();
}

std::shared_ptr<const QNLanguage> QNModelResources::languageWithName(StringView name) const {
    for (const auto& language : languages_) {
        if (language->name() == name) return language;
    }
    return nullptr;
}

std::shared_ptr<const QNApplicationModel> QNApplicationModel::fromJSONValue(
    const Value& root, const QNBundle* bundle) {
    auto model = std::shared_ptr<QNApplicationModel>(new QNApplicationModel());
    const Dictionary* d = root.asDictionary();
    if (d == nullptr) return model;
    model->raw_ = root.as<Dictionary>();
    model->appName_ = stringOf(*d, u"appName");
    const Value& connectivity = d->get(u"connectivitySupport");
    model->connectivitySupport_ =
        connectivity.isNumber() ? static_cast<int>(connectivity.integerValue()) : 0;
    model->serverBaseUrl_ = stringOf(*d, u"serverBaseUrl");
    model->synchronizerObjectName_ = stringOf(*d, u"synchronizerObjectName");
    model->defaultLanguageName_ = stringOf(*d, u"defaultLanguage");
    model->themeName_ = stringOf(*d, u"theme");

    if (const Array* procedures = d->get(u"procedures").asArray()) {
        for (const auto& item : *procedures) {
            const Dictionary* p = item.asDictionary();
            if (p == nullptr) continue;
            std::vector<QNProcedureParameter> parameters;
            if (const Array* ps = p->get(u"parameters").asArray()) {
                for (const auto& parameter : *ps) {
                    const Dictionary* pd = parameter.asDictionary();
                    if (pd == nullptr) continue;
                    QNProcedureParameter one;
                    one.name = stringOf(*pd, u"name");
                    one.type = stringOf(*pd, u"type");
                    one.direction = stringOf(*pd, u"direction");
                    if (one.direction.empty()) one.direction = u"in";
                    parameters.push_back(std::move(one));
                }
            }
            String name = stringOf(*p, u"name");
            model->procedures_.emplace_back(std::move(name), std::move(parameters));
        }
    }

    std::vector<std::shared_ptr<const QNLanguage>> languages;
    if (const Array* ls = d->get(u"languages").asArray()) {
        for (const auto& item : *ls) {
            if (const Dictionary* ld = item.asDictionary())
                languages.push_back(languageFrom(*ld, bundle));
        }
    }
    model->resources_ = QNModelResources(std::move(languages));

    model->images_ = imagesFrom(d->get(u"images"), bundle);
    for (std::size_t i = 0; i < model->images_.size(); ++i) {
        const QNImageDefinition& image = model->images_[i];
        if (!image.guid.empty())
            model->imagesByGuid_.emplace(internal::asciiLowercased(image.guid), i);
        if (!image.name.empty()) model->imagesByName_.emplace(internal::lowercased(image.name), i);
    }
    model->attributes_ = attributesFrom(d->get(u"attributes"));
    model->sdts_ = QNStructureDataTypeInfo::sdtInfosFromJSONValue(d->get(u"sdts"));
    for (const auto& sdt : model->sdts_)
        model->sdtsByName_.emplace(internal::lowercased(sdt->name()), sdt);
    return model;
}

std::shared_ptr<const QNApplicationModel> QNApplicationModel::loadFromBundle(
    const QNBundle& bundle) {
    auto root = readBundleJSON(bundle, "model.json", false);
    if (!root) return fromJSONValue(Value(), &bundle);
    if (!root->isDictionary()) {
        internal::logError(QNLogTypeFiles, "model.json: the root is not an object; model ignored");
    }
    return fromJSONValue(*root, &bundle);
}

std::shared_ptr<const QNApplicationModel> QNApplicationModel::currentModel() {
    auto bundle = QNBundle::mainBundle();
    auto& cache = modelCache();
    {
        std::lock_guard lock(cache.mutex);
        if (cache.bundle == bundle && cache.model) return cache.model;
    }
    // Read outside the lock; two threads may both read a new bundle's model,
    // and the first one stored wins, so everybody shares one model object.
    auto model = loadFromBundle(*bundle);
    std::lock_guard lock(cache.mutex);
    if (cache.bundle != bundle || !cache.model) {
        cache.bundle = bundle;
        cache.model = std::move(model);
    }
    return cache.model;
}

const QNProcedureDefinition* QNApplicationModel::procedureForName(StringView name) const noexcept {
    for (const auto& p : procedures_) {
        if (p.name() == name) return &p;
    }
    return nullptr;
}

const QNImageDefinition* QNApplicationModel::imageWithGuid(StringView guid) const {
    auto it = imagesByGuid_.find(internal::asciiLowercased(guid));
    return it == imagesByGuid_.end() ? nullptr : &images_[it->second];
}

const QNImageDefinition* QNApplicationModel::imageWithName(StringView name) const {
    auto it = imagesByName_.find(internal::lowercased(name));
    return it == imagesByName_.end() ? nullptr : &images_[it->second];
}

const QNAttributeInfo* QNApplicationModel::attributeWithName(StringView name) const {
    auto it = attributes_.find(internal::lowercased(name));
    return it == attributes_.end() ? nullptr : &it->second;
}

std::shared_ptr<const QNStructureDataTypeInfo> QNApplicationModel::sdtInfoForName(
    StringView name) const {
    auto it = sdtsByName_.find(internal::lowercased(name));
    return it == sdtsByName_.end() ? nullptr : it->second;
}

std::optional<QNAttributeInfo> QNAttributeInfo::attribute(StringView name) {
    const auto model = QNApplicationModel::currentModel();
    const QNAttributeInfo* info = model->attributeWithName(name);
    if (info == nullptr) return std::nullopt;
    return *info;
}

namespace {

std::optional<String> currentLanguageNameIn(const QNApplicationModel& model) {
    {
        auto& state = languageState();
        std::lock_guard lock(state.mutex);
        if (state.language) return state.language;
    }
    if (!model.defaultLanguageName().empty()) return model.defaultLanguageName();
    const auto& languages = model.resources().languages();
    if (!languages.empty() && !languages.front()->name().empty()) return languages.front()->name();
    return std::nullopt;
}

}  // namespace

std::optional<String> QNResources::currentLanguageName() {
    return currentLanguageNameIn(*QNApplicationModel::currentModel());
}

void QNResources::setCurrentLanguageName(std::optional<String> name) {
    auto& state = languageState();
    {
        std::lock_guard lock(state.mutex);
        state.language = std::move(name);
    }
    internal::bumpLanguageGeneration();
}

std::shared_ptr<const QNLanguage> QNResources::currentLanguage() {
    auto model = QNApplicationModel::currentModel();
    auto name = currentLanguageNameIn(*model);
    if (!name) return nullptr;
    return model->resources().languageWithName(*name);
}

namespace {

std::atomic<std::uint64_t> languageGenerationCounter{1};

std::optional<std::string> localeOfCurrentLanguage() {
    auto language = QNResources::currentLanguage();
    if (!language) return std::nullopt;
    if (!language->culture().empty()) return toUtf8(language->culture());
    if (language->languageCode().empty()) return std::nullopt;
    std::string locale = toUtf8(language->languageCode());
    if (!language->countryCode().empty()) locale += "_" + toUtf8(language->countryCode());
    return locale;
}

}  // namespace

std::uint64_t internal::languageGeneration() noexcept {
    return languageGenerationCounter.load(std::memory_order_acquire);
}

void internal::bumpLanguageGeneration() noexcept {
    languageGenerationCounter.fetch_add(1, std::memory_order_acq_rel);
}

// Number and date formatting ask for the locale on every call: each thread
// keeps the last answer while neither the bundle nor the language changed,
// instead of taking the bundle, model and language locks each time.
std::optional<std::string> QNResources::currentLanguageLocale() {
    struct Cached {
        std::uint64_t generation = 0;
        std::optional<std::string> locale;
    };
    thread_local Cached cached;
    // Read before computing: a change while computing leaves the count ahead
    // of the answer, so the next call computes again.
    const std::uint64_t generation = internal::languageGeneration();
    if (cached.generation != generation) {
        cached.locale = localeOfCurrentLanguage();
        cached.generation = generation;
    }
    return cached.locale;
}

String QNResources::translationFor(StringView key) {
    auto language = currentLanguage();
    return language ? language->translationFor(key) : String(key);
}

QNImageURLProvider::~QNImageURLProvider() = default;

namespace {

struct ImageURLProviderSlot {
    std::mutex mutex;
    std::shared_ptr<QNImageURLProvider> provider;
};

ImageURLProviderSlot& imageURLProviderSlot() {
    static ImageURLProviderSlot slot;
    return slot;
}

// Read under the lock, called outside it, so a provider may call back.
std::shared_ptr<QNImageURLProvider> imageURLProvider() {
    auto& slot = imageURLProviderSlot();
    std::lock_guard lock(slot.mutex);
    return slot.provider;
}

}  // namespace

void QNResources::setImageURLProvider(std::shared_ptr<QNImageURLProvider> provider) {
    auto& slot = imageURLProviderSlot();
    std::lock_guard lock(slot.mutex);
    slot.provider = std::move(provider);
}

std::optional<String> QNResources::urlForImageGuid(StringView guid) {
    if (auto provider = imageURLProvider()) return provider->urlForImageGuid(guid);
    const auto model = QNApplicationModel::currentModel();
    const QNImageDefinition* image = model->imageWithGuid(guid);
    return image ? image->url : std::nullopt;
}

std::optional<String> QNResources::urlForImageName(StringView name) {
    if (auto provider = imageURLProvider()) return provider->urlForImageName(name);
    const auto model = QNApplicationModel::currentModel();
    const QNImageDefinition* image = model->imageWithName(name);
    return image ? image->url : std::nullopt;
}

struct QNModel::State {
    std::mutex mutex;
    std::shared_ptr<Dictionary> userData;  // loaded on first use
    std::atomic<int> reachability{1};
};

QNModel& QNModel::currentModel() {
    static QNModel model;
    return model;
}

QNModel::State& QNModel::state() const {
    static State state;
    return state;
}

namespace {

fs::path userDataPath() {
    return QNObjectsModelServices::applicationStorageService().applicationSupportDirectory() /
           toUtf8(kUserDataFileName);
}

std::shared_ptr<Dictionary> loadUserData() {
    auto path = userDataPath();
    std::error_code ec;
    if (!fs::exists(path, ec)) return std::make_shared<Dictionary>();
    std::string error;
    auto value = QNPropertyList::readFile(path, &error);
    if (value && value->isDictionary()) return value->as<Dictionary>();
    internal::logError(QNLogTypeFiles,
                       "user data ignored: " + (error.empty() ? "not a dictionary" : error));
    return std::make_shared<Dictionary>();
}

}  // namespace

QNModel::AppModel QNModel::appModel() const {
    auto model = QNApplicationModel::currentModel();
    AppModel app;
    app.appName = model->appName();
    app.connectivitySupport = model->connectivitySupport();
    app.reachabilityStatus = state().reachability.load();
    return app;
}

void QNModel::setReachabilityStatus(int status) {
    state().reachability.store(status);
}

Value QNModel::getUserDataForKey(const String& key) const {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.userData) s.userData = loadUserData();
    return s.userData->get(key);
}

bool QNModel::setUserDataForKey(const Value& value, const String& key) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.userData) s.userData = loadUserData();
    // Change a copy: the store in memory stays as it is when the file
    // cannot be written, so memory and disk never disagree.
    auto updated = std::make_shared<Dictionary>(*s.userData);
    if (value.isAbsentOrNull()) {
        updated->remove(key);
    } else {
        updated->set(key, value);
    }
    std::string error;
    if (!QNPropertyList::writeFileAtomically(userDataPath(), Value(updated), &error)) {
        internal::logError(QNLogTypeFiles, "user data not saved: " + error);
        return false;
    }
    s.userData = std::move(updated);
    return true;
}

void QNModel::reloadUserData() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.userData.reset();
}

std::optional<String> QNStyleKBObject::currentStyleObjectName() {
    {
        auto& state = languageState();
        std::lock_guard lock(state.mutex);
        if (state.theme) return state.theme;
    }
    const String& theme = QNApplicationModel::currentModel()->themeName();
    if (theme.empty()) return std::nullopt;
    return theme;
}

void QNStyleKBObject::setCurrentStyleName(std::optional<String> name) {
    auto& state = languageState();
    std::lock_guard lock(state.mutex);
    state.theme = std::move(name);
}

}  // namespace qn
