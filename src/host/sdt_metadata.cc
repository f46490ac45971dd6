#include <qn/core/containers.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/sdt_metadata.h>

#include <limits>
#include <mutex>
#include <shared_mutex>

#include "core/characters.h"
#include "host/internal.h"

namespace qn {

QNEntityDataFieldInfo::~QNEntityDataFieldInfo() = default;

std::optional<String> QNStructureDataTypeItemInfo::inputPicture() const {
    if (d_.inputPicture.empty()) return std::nullopt;
    return d_.inputPicture;
}

std::optional<String> QNStructureDataTypeItemInfo::basedOnName() const {
    if (d_.basedOnName.empty()) return std::nullopt;
    return d_.basedOnName;
}

std::shared_ptr<const QNStructureDataTypeLevelInfo> QNStructureDataTypeItemInfo::basedOnLevelInfo()
    const {
    if (d_.basedOnName.empty()) return nullptr;
    auto sdt = QNStructureDataTypeInfo::sdtInfoForName(d_.basedOnName);
    return sdt ? sdt->rootLevel() : nullptr;
}

QNStructureDataTypeLevelInfo::QNStructureDataTypeLevelInfo(Definition definition)
    : d_(std::move(definition)) {
    std::erase(d_.items, nullptr);
    std::erase(d_.levels, nullptr);
    for (const auto& item : d_.items)
        itemsByName_.emplace(internal::lowercased(item->name()), item);
    for (const auto& level : d_.levels) {
        levelsByName_.emplace(internal::lowercased(level->name()), level);
        if (level->isCollection() && !level->collectionItemName().empty())
            levelsByCollectionItemName_.emplace(internal::lowercased(level->collectionItemName()),
                                                level);
    }
}

std::shared_ptr<const QNStructureDataTypeItemInfo> QNStructureDataTypeLevelInfo::itemForName(
    StringView name) const {
    auto it = itemsByName_.find(internal::lowercased(name));
    return it == itemsByName_.end() ? nullptr : it->second;
}

std::shared_ptr<const QNStructureDataTypeLevelInfo> QNStructureDataTypeLevelInfo::levelForName(
    StringView name) const {
    auto it = levelsByName_.find(internal::lowercased(name));
    return it == levelsByName_.end() ? nullptr : it->second;
}

std::shared_ptr<const QNStructureDataTypeLevelInfo>
QNStructureDataTypeLevelInfo::levelWithCollectionItemName(StringView name) const {
    auto it = levelsByCollectionItemName_.find(internal::lowercased(name));
    return it == levelsByCollectionItemName_.end() ? nullptr : it->second;
}

namespace {

std::shared_ptr<const QNStructureDataTypeLevelInfo> emptyLevelNamed(const String& name) {
    QNStructureDataTypeLevelInfo::Definition def;
    def.name = name;
    def.jsonName = name;
    return std::make_shared<const QNStructureDataTypeLevelInfo>(std::move(def));
}

}  // namespace

QNStructureDataTypeInfo::QNStructureDataTypeInfo(
    String name, std::shared_ptr<const QNStructureDataTypeLevelInfo> root)
    : name_(std::move(name)), rootLevel_(root ? std::move(root) : emptyLevelNamed(name_)) {
    fieldInfo_ = std::make_shared<const QNEntityDataSDTFieldInfo>(name_, rootLevel_);
}

namespace {

using SDTInfoPtr = std::shared_ptr<const QNStructureDataTypeInfo>;

struct InstalledSDTs {
    std::shared_mutex mutex;
    std::unordered_map<String, SDTInfoPtr> byName;  // lower-cased name
};

InstalledSDTs& installedSDTs() {
    static InstalledSDTs installed;
    return installed;
}

}  // namespace

SDTInfoPtr QNStructureDataTypeInfo::sdtInfoForName(StringView name) {
    const String key = internal::lowercased(name);
    {
        auto& installed = installedSDTs();
        std::shared_lock lock(installed.mutex);
        auto it = installed.byName.find(key);
        if (it != installed.byName.end()) return it->second;
    }
    return QNApplicationModel::currentModel()->sdtInfoForName(key);
}

std::shared_ptr<const QNEntityDataSDTFieldInfo> QNStructureDataTypeInfo::sdtFieldInfoForName(
    StringView name) {
    auto sdt = sdtInfoForName(name);
    return sdt ? sdt->fieldInfo() : nullptr;
}

void QNStructureDataTypeInfo::installSDTInfo(SDTInfoPtr info) {
    if (!info) return;
    String key = internal::lowercased(info->name());
    auto& installed = installedSDTs();
    std::unique_lock lock(installed.mutex);
    installed.byName.insert_or_assign(std::move(key), std::move(info));
}

void QNStructureDataTypeInfo::removeInstalledSDTInfos() {
    // Released outside the lock: the last reference may be ours.
    std::unordered_map<String, SDTInfoPtr> removed;
    auto& installed = installedSDTs();
    std::unique_lock lock(installed.mutex);
    removed.swap(installed.byName);
}

// Reading the "sdts" member of model.json.
namespace {

constexpr std::int64_t kMaxLength = std::numeric_limits<std::int64_t>::max();

void logSkipped(const std::string& where, const std::string& why, const char* what) {
    internal::logError(QNLogTypeFiles,
                       "SDT metadata: " + where + ": " + why + "; " + what + " skipped");
}

// Reads the optional members of one entry; absent and null members keep the
// default. The first member of a wrong type or value is remembered.
class Members {
public:
    explicit Members(const Dictionary& d) : d_(d) {}

    void string(StringView key, String& out) {
        const Value& v = d_.get(key);
        if (v.isAbsentOrNull()) return;
        if (!v.isString()) return fail(key, "is not a string");
        out = v.asString();
    }
    void boolean(StringView key, bool& out) {
        const Value& v = d_.get(key);
        if (v.isAbsentOrNull()) return;
        if (!v.isBool()) return fail(key, "is not true or false");
        out = v.boolValue();
    }
    template <class Int>
    void integer(StringView key, Int& out, std::int64_t min, std::int64_t max) {
        const Value& v = d_.get(key);
        if (v.isAbsentOrNull()) return;
        if (!v.isInt()) return fail(key, "is not an integer");
        const std::int64_t n = v.integerValue();
        if (n < min || n > max) return fail(key, "is out of range");
        out = static_cast<Int>(n);
    }

    const std::string& problem() const noexcept { return problem_; }

private:
    void fail(StringView key, const char* why) {
        if (problem_.empty()) problem_ = "\"" + toUtf8(key) + "\" " + why;
    }

    const Dictionary& d_;
    std::string problem_;
};

std::string quotedName(const String& name) {
    return "\"" + toUtf8(name) + "\"";
}

std::shared_ptr<const QNStructureDataTypeItemInfo> itemFrom(const Value& value,
                                                            const std::string& where) {
    const Dictionary* d = value.asDictionary();
    if (d == nullptr) {
        logSkipped(where, "not an object", "item");
        return nullptr;
    }
    QNStructureDataTypeItemInfo::Definition def;
    Members m(*d);
    m.string(u"name", def.name);
    m.string(u"jsonName", def.jsonName);
    m.integer(u"type", def.dataType, 0, 255);
    m.integer(u"length", def.length, 0, kMaxLength);
    m.integer(u"decimals", def.decimals, 0, kMaxLength);
    m.boolean(u"jsonSerializeWhenEmpty", def.jsonSerializeWhenEmpty);
    m.boolean(u"jsonCollectionSerializeAsSequence", def.jsonCollectionSerializeAsSequence);
    m.boolean(u"isCollection", def.isCollection);
    m.string(u"basedOn", def.basedOnName);
    m.integer(u"basedOnType", def.basedOnType, 0, std::numeric_limits<int>::max());
    m.boolean(u"isPassword", def.isPassword);
    m.string(u"inputPicture", def.inputPicture);
    const std::string named = def.name.empty() ? where : where + " " + quotedName(def.name);
    if (!m.problem().empty()) {
        logSkipped(named, m.problem(), "item");
        return nullptr;
    }
    if (def.name.empty()) {
        logSkipped(where, "no name", "item");
        return nullptr;
    }
    if (def.jsonName.empty()) def.jsonName = def.name;
    return std::make_shared<const QNStructureDataTypeItemInfo>(std::move(def));
}

// Null when the level is skipped; `tooDeep` is set when it (or a level below
// it) nests deeper than allowed, which refuses the whole SDT. Recursion stops
// at the limit, so the stack never holds more than kMaxLevelDepth frames.
std::shared_ptr<const QNStructureDataTypeLevelInfo> levelFrom(const Value& value,
                                                              const std::string& where,
                                                              const String& defaultName, int depth,
                                                              bool& tooDeep) {
    const Dictionary* d = value.asDictionary();
    if (d == nullptr) {
        logSkipped(where, "not an object", "level");
        return nullptr;
    }
    QNStructureDataTypeLevelInfo::Definition def;
    def.name = defaultName;
    Members m(*d);
    m.string(u"name", def.name);
    m.string(u"jsonName", def.jsonName);
    m.boolean(u"isCollection", def.isCollection);
    m.string(u"collectionItemName", def.collectionItemName);
    const Value& items = d->get(u"items");
    const Value& levels = d->get(u"levels");
    std::string problem = m.problem();
    if (problem.empty() && !items.isAbsentOrNull() && !items.isArray())
        problem = "\"items\" is not an array";
    if (problem.empty() && !levels.isAbsentOrNull() && !levels.isArray())
        problem = "\"levels\" is not an array";
    const std::string here = def.name.empty() ? where : where + " " + quotedName(def.name);
    if (!problem.empty()) {
        logSkipped(here, problem, "level");
        return nullptr;
    }
    if (def.name.empty()) {
        logSkipped(where, "no name", "level");
        return nullptr;
    }
    if (def.jsonName.empty()) def.jsonName = def.name;

    if (const Array* list = items.asArray()) {
        std::size_t index = 0;
        for (const Value& item : *list) {
            auto info = itemFrom(item, here + " item #" + std::to_string(index++));
            if (info) def.items.push_back(std::move(info));
        }
    }
    if (const Array* list = levels.asArray()) {
        if (!list->empty() && depth >= QNStructureDataTypeInfo::kMaxLevelDepth) {
            tooDeep = true;
            return nullptr;
        }
        std::size_t index = 0;
        for (const Value& level : *list) {
            auto info = levelFrom(level, here + " level #" + std::to_string(index++), String(),
                                  depth + 1, tooDeep);
            if (tooDeep) return nullptr;
            if (info) def.levels.push_back(std::move(info));
        }
    }
    return std::make_shared<const QNStructureDataTypeLevelInfo>(std::move(def));
}

SDTInfoPtr sdtFrom(const Value& value, std::size_t index) {
    const std::string where = "SDT #" + std::to_string(index);
    const Dictionary* d = value.asDictionary();
    if (d == nullptr) {
        logSkipped(where, "not an object", "SDT");
        return nullptr;
    }
    String name;
    Members m(*d);
    m.string(u"name", name);
    if (!m.problem().empty() || name.empty()) {
        logSkipped(where, m.problem().empty() ? "no name" : m.problem(), "SDT");
        return nullptr;
    }
    const std::string here = "SDT " + quotedName(name);
    const Value& level = d->get(u"level");
    if (level.isAbsentOrNull())
        return std::make_shared<const QNStructureDataTypeInfo>(name, nullptr);
    bool tooDeep = false;
    auto root = levelFrom(level, here + " level", name, 1, tooDeep);
    if (tooDeep) {
        logSkipped(
            here,
            "levels nest deeper than " + std::to_string(QNStructureDataTypeInfo::kMaxLevelDepth),
            "SDT");
        return nullptr;
    }
    if (!root) {
        logSkipped(here, "its root level is not well-formed", "SDT");
        return nullptr;
    }
    return std::make_shared<const QNStructureDataTypeInfo>(std::move(name), std::move(root));
}

}  // namespace

std::vector<SDTInfoPtr> QNStructureDataTypeInfo::sdtInfosFromJSONValue(const Value& sdts) {
    std::vector<SDTInfoPtr> out;
    if (sdts.isAbsentOrNull()) return out;
    const Array* list = sdts.asArray();
    if (list == nullptr) {
        internal::logError(QNLogTypeFiles, "SDT metadata: \"sdts\" is not an array; ignored");
        return out;
    }
    out.reserve(list->size());
    std::size_t index = 0;
    for (const Value& entry : *list) {
        if (auto sdt = sdtFrom(entry, index++)) out.push_back(std::move(sdt));
    }
    return out;
}

}  // namespace qn
