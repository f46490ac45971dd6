// Business-component metadata and the image upload helper.
#include <qn/core/containers.h>
#include <qn/host/business_components.h>
#include <qn/host/model.h>
#include <qn/host/sdt_metadata.h>

#include <mutex>

#include "core/ascii.h"
#include "host/internal.h"
#include "host/url.h"

namespace qn {

namespace {

String lowered(StringView name) {
    return internal::asciiLowercased(name);
}

std::shared_ptr<const QNBusinessComponentLevelInfo> parseLevel(const Dictionary& level,
                                                               const String& fallbackName,
                                                               int depth, String* error) {
    QNBusinessComponentLevelInfo::Definition d;
    const Value& name = level.get(u"name");
    d.name = name.isString() ? name.asString() : fallbackName;
    if (const Array* attributes = level.get(u"attributes").asArray()) {
        for (const Value& entry : *attributes) {
            const Dictionary* attribute = entry.asDictionary();
            if (!attribute || !attribute->get(u"name").isString()) continue;
            d.attributes.push_back(std::make_shared<QNBusinessComponentAttributeInfo>(
                attribute->get(u"name").asString(), attribute->get(u"isKey").boolValue(),
                attribute->get(u"isReadOnly").boolValue()));
        }
    }
    if (const Array* levels = level.get(u"levels").asArray()) {
        if (!levels->empty() && depth >= QNStructureDataTypeInfo::kMaxLevelDepth) {
            if (error) *error = u"business-component levels nest too deep";
            return nullptr;
        }
        for (const Value& entry : *levels) {
            const Dictionary* child = entry.asDictionary();
            if (!child) continue;
            auto parsed = parseLevel(*child, String(), depth + 1, error);
            if (!parsed) return nullptr;
            d.levels.push_back(std::move(parsed));
        }
    }
    return std::make_shared<QNBusinessComponentLevelInfo>(std::move(d));
}

using ModelMap = std::unordered_map<String, std::shared_ptr<const QNBusinessComponentModel>>;

struct Registry {
    std::mutex mutex;
    ModelMap installed;
    // The current application model's components, parsed once per model.
    std::shared_ptr<const QNApplicationModel> parsedFrom;
    ModelMap fromModel;
};

Registry& registry() {
    static auto* r = new Registry;  // threads may outlive exit
    return *r;
}

ModelMap parseModel(const QNApplicationModel& model) {
    ModelMap models;
    const Array* list = model.raw().get(u"businessComponents").asArray();
    if (!list) return models;
    for (const Value& entry : *list) {
        auto parsed = QNBusinessComponentModel::fromJSONValue(entry);
        if (parsed) models.emplace(lowered(parsed->name()), std::move(parsed));
    }
    return models;
}

// The library's helper: the file as it is.
class FileBytesUploadHelper final : public QNImageUploadHelper {
public:
    std::optional<Bytes> imageUploadDataFromURL(StringView fileURL, const QNEntityDataFieldInfo*,
                                                const QNEntityDataFieldInfo*,
                                                QNError* error) override {
        const auto path = internal::pathOfFileURL(fileURL);
        std::string reason;
        std::optional<std::string> contents;
        if (path) contents = internal::readFile(toUtf8(*path), std::size_t{1} << 30, &reason);
        if (!contents) {
            if (error)
                *error = QNError::defaultQNErrorWithDeveloperDescription(
                    u"Could not read the image " + String(fileURL) +
                    (reason.empty() ? String() : u": " + fromUtf8(reason)));
            return std::nullopt;
        }
        return Bytes(contents->begin(), contents->end());
    }
};

std::mutex& helperMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<QNImageUploadHelper>& helperSlot() {
    static auto* slot = new std::shared_ptr<QNImageUploadHelper>;
    return *slot;
}

}  // namespace

QNBusinessComponentLevelInfo::QNBusinessComponentLevelInfo(Definition definition)
    : d_(std::move(definition)) {
    for (const auto& attribute : d_.attributes)
        if (attribute) attributesByName_.emplace(lowered(attribute->name()), attribute);
    for (const auto& level : d_.levels)
        if (level) levelsByName_.emplace(lowered(level->name()), level);
}

std::shared_ptr<const QNBusinessComponentAttributeInfo>
QNBusinessComponentLevelInfo::attributeForName(StringView name) const {
    auto found = attributesByName_.find(lowered(name));
    return found == attributesByName_.end() ? nullptr : found->second;
}

std::shared_ptr<const QNBusinessComponentLevelInfo>
QNBusinessComponentLevelInfo::childLevelWithLevelName(StringView name) const {
    auto found = levelsByName_.find(lowered(name));
    return found == levelsByName_.end() ? nullptr : found->second;
}

QNBusinessComponentModel::QNBusinessComponentModel(
    String name, std::shared_ptr<const QNBusinessComponentLevelInfo> root)
    : name_(std::move(name)), root_(std::move(root)) {
    if (!root_)
        root_ = std::make_shared<QNBusinessComponentLevelInfo>(
            QNBusinessComponentLevelInfo::Definition{name_, {}, {}});
}

std::shared_ptr<const QNBusinessComponentModel> QNBusinessComponentModel::fromJSONValue(
    const Value& value, String* error) {
    const Dictionary* entry = value.asDictionary();
    if (!entry || !entry->get(u"name").isString()) {
        if (error) *error = u"a business component needs a name";
        return nullptr;
    }
    const String name = entry->get(u"name").asString();
    std::shared_ptr<const QNBusinessComponentLevelInfo> root;
    if (const Dictionary* level = entry->get(u"level").asDictionary()) {
        root = parseLevel(*level, name, 0, error);
        if (!root) return nullptr;
    }
    return std::make_shared<QNBusinessComponentModel>(name, std::move(root));
}

std::shared_ptr<const QNBusinessComponentModel>
QNBusinessComponentsHelper::businessComponentModelForBusinessComponentWithName(StringView name) {
    const String key = lowered(name);
    auto model = QNApplicationModel::currentModel();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto found = r.installed.find(key); found != r.installed.end()) return found->second;
    if (r.parsedFrom != model) {
        r.fromModel = parseModel(*model);
        r.parsedFrom = model;
    }
    auto found = r.fromModel.find(key);
    return found == r.fromModel.end() ? nullptr : found->second;
}

void QNBusinessComponentsHelper::installBusinessComponentModel(
    std::shared_ptr<const QNBusinessComponentModel> model) {
    if (!model) return;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.installed[lowered(model->name())] = std::move(model);
}

void QNBusinessComponentsHelper::removeInstalledBusinessComponentModels() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.installed.clear();
}

QNEntityData::~QNEntityData() = default;
QNImageUploadHelper::~QNImageUploadHelper() = default;

std::shared_ptr<QNImageUploadHelper> QNImageUploadHelper::sharedHelper() {
    std::lock_guard lock(helperMutex());
    if (!helperSlot()) helperSlot() = std::make_shared<FileBytesUploadHelper>();
    return helperSlot();
}

void QNImageUploadHelper::setSharedHelper(std::shared_ptr<QNImageUploadHelper> helper) {
    std::lock_guard lock(helperMutex());
    helperSlot() = std::move(helper);
}

}  // namespace qn
