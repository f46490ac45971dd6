// Property tables of record classes, and their process-wide cache.
#include <qn/core/registry.h>
#include <qn/data/sdt_properties.h>
#include <qn/host/entity_helper.h>

#include "core/characters.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace qn {
namespace {

constexpr StringView kMode = u"Mode";
constexpr StringView kInitialized = u"Initialized";

struct Suffix {
    StringView written;  // as names end
    StringView key;      // as keys end
    std::uint8_t type;
};
constexpr Suffix kSuffixes[] = {
    {u"_QNI", u"_qni", QNSDTPropertyTypeItemQNI},
    {u"_Z", u"_z", QNSDTPropertyTypeItemZ},
    {u"_N", u"_n", QNSDTPropertyTypeItemN},
};

String lower(StringView text) {
    return internal::lowercased(text);
}

}  // namespace

// --- Fixed field infos ------------------------------------------------------------

const QNSDTPropertyInfoSDTItem_NullableFieldInfo&
QNSDTPropertyInfoSDTItem_NullableFieldInfo::shared() noexcept {
    static const QNSDTPropertyInfoSDTItem_NullableFieldInfo instance;
    return instance;
}
const QNSDTPropertyInfoSDTItem_QniFieldInfo&
QNSDTPropertyInfoSDTItem_QniFieldInfo::shared() noexcept {
    static const QNSDTPropertyInfoSDTItem_QniFieldInfo instance;
    return instance;
}
const QNSDTPropertyInfoStateFieldInfoMode& QNSDTPropertyInfoStateFieldInfoMode::shared() noexcept {
    static const QNSDTPropertyInfoStateFieldInfoMode instance;
    return instance;
}
const QNSDTPropertyInfoStateFieldInfoInitialized&
QNSDTPropertyInfoStateFieldInfoInitialized::shared() noexcept {
    static const QNSDTPropertyInfoStateFieldInfoInitialized instance;
    return instance;
}

QNSDTPropertyInfo::~QNSDTPropertyInfo() = default;

StringView QNSDTPropertyInfoWithReferenceBase::suffix() const noexcept {
    for (const Suffix& s : kSuffixes) {
        if (s.type == type()) return s.written;
    }
    return {};
}

// --- Building a table ---------------------------------------------------------------

QNSDTPropertiesInfo::QNSDTPropertiesInfo(const NameMapping& mapping,
                                         std::shared_ptr<const QNStructureDataTypeLevelInfo> level,
                                         const ClassInfo* recordClass)
    : level_(std::move(level)) {
    // Names still to place, by short name (ascending, for the last step), with
    // their accessor and declaration position.
    struct Pending {
        String fullName;
        std::size_t position;
    };
    std::map<String, Pending> remaining;
    for (std::size_t i = 0; i < mapping.size(); ++i)
        remaining.emplace(mapping[i].first, Pending{mapping[i].second, i});

    std::vector<std::pair<std::size_t, Entry>> built;
    const auto place = [&](const String& shortName, String key,
                           std::shared_ptr<const QNSDTPropertyInfo> info) {
        built.push_back({remaining.at(shortName).position,
                         Entry{std::move(key), std::move(info), {}, {}, 0, npos}});
        remaining.erase(shortName);
    };

    for (const auto& [name, fieldInfo] :
         {std::pair<StringView, const QNEntityDataFieldInfo*>{
              kMode, &QNSDTPropertyInfoStateFieldInfoMode::shared()},
          std::pair<StringView, const QNEntityDataFieldInfo*>{
              kInitialized, &QNSDTPropertyInfoStateFieldInfoInitialized::shared()}}) {
        auto it = remaining.find(String(name));
        if (it == remaining.end()) continue;
        place(it->first, lower(name),
              std::make_shared<QNSDTPropertyInfoState>(it->first, it->second.fullName, *fieldInfo));
    }

    // Items by key, for the companions.
    std::unordered_map<String, std::shared_ptr<const QNSDTPropertyInfoSDTItem>> itemsByKey;
    if (level_) {
        for (const auto& [key, item] : level_->itemsByName()) {
            auto it = remaining.find(item->name());
            if (it == remaining.end()) continue;
            auto info = std::make_shared<QNSDTPropertyInfoSDTItem>(it->second.fullName, item);
            itemsByKey.emplace(key, info);
            place(it->first, key, info);
        }
        for (const auto& [key, sub] : level_->levelsByName()) {
            auto it = remaining.find(sub->name());
            if (it == remaining.end()) continue;
            place(it->first, key,
                  std::make_shared<QNSDTPropertyInfoSDTLevel>(it->second.fullName, sub));
        }
        // Ascending order: a companion's own companion ("Name_N_Z") comes after it.
        std::unordered_map<String, std::shared_ptr<const QNSDTPropertyInfoSDTItem>> companions;
        for (auto it = remaining.begin(); it != remaining.end();) {
            const String& name = it->first;
            std::shared_ptr<const QNSDTPropertyInfo> info;
            String key;
            for (const Suffix& s : kSuffixes) {
                if (!StringView(name).ends_with(s.written)) continue;
                const String base =
                    lower(StringView(name).substr(0, name.size() - s.written.size()));
                std::shared_ptr<const QNSDTPropertyInfoSDTItem> item;
                if (auto found = itemsByKey.find(base); found != itemsByKey.end()) {
                    item = found->second;
                } else if (auto companion = companions.find(base); companion != companions.end()) {
                    item = companion->second;
                }
                if (!item) break;
                key = base + String(s.key);
                if (s.type == QNSDTPropertyTypeItemZ) {
                    info = std::make_shared<QNSDTPropertyInfoSDTItem_Z>(name, it->second.fullName,
                                                                        item);
                } else if (s.type == QNSDTPropertyTypeItemN) {
                    info = std::make_shared<QNSDTPropertyInfoSDTItem_N>(name, it->second.fullName,
                                                                        item);
                } else {
                    info = std::make_shared<QNSDTPropertyInfoSDTItem_QNI>(name, it->second.fullName,
                                                                          item);
                }
                companions.emplace(key, item);
                break;
            }
            if (!info) {
                ++it;
                continue;
            }
            built.push_back(
                {it->second.position, Entry{std::move(key), std::move(info), {}, {}, 0, npos}});
            it = remaining.erase(it);
        }
    }

    for (const auto& [name, pending] : remaining) {
        std::uint8_t typeFromName = QNSDTPropertyTypeUnknown;
        if (StringView(name).ends_with(u"_Z")) {
            typeFromName = QNSDTPropertyTypeItemZ;
        } else if (StringView(name).ends_with(u"_N") && recordClass != nullptr) {
            const PropertyInfo* declared = recordClass->propertyNamed(toUtf8(pending.fullName));
            if (declared != nullptr && declared->typeCode == PropertyType::kBool)
                typeFromName = QNSDTPropertyTypeItemN;
        }
        built.push_back({pending.position, Entry{lower(name),
                                                 std::make_shared<QNSDTPropertyInfoUnknown>(
                                                     name, pending.fullName, typeFromName),
                                                 {},
                                                 {},
                                                 0,
                                                 npos}});
    }

    std::sort(built.begin(), built.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    entries_.reserve(built.size());
    for (auto& [position, entry] : built)
        add(std::move(entry.key), std::move(entry.info), position);
    for (Entry& entry : entries_) {
        const QNEntityDataFieldInfo* field = entry.info->entityDataFieldInfo();
        if (entry.info->type() != QNSDTPropertyTypeItem || !field ||
            !QNEntityHelper::dataTypeMayContainBinaryData(field->dataType()))
            continue;
        const String companion = entry.info->propertyFullName() + u"_qni";
        for (std::size_t i = 0; i < mapping.size(); ++i) {
            if (mapping[i].second == companion) {
                entry.qniMappingIndex = i;
                break;
            }
        }
    }
    entryOfMapping_.assign(mapping.size(), npos);
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].mappingIndex < mapping.size())
            entryOfMapping_[entries_[i].mappingIndex] = i;
    buildIndex(keyIndex_, &Entry::key);
    buildIndex(jsonKeyIndex_, &Entry::jsonKeyLower);
    byKey_.clear();
}

void QNSDTPropertiesInfo::add(String key, std::shared_ptr<const QNSDTPropertyInfo> info,
                              std::size_t mappingIndex) {
    // Two short names differing only in letter case share a key: the first
    // declared keeps it, as a look-up in any case can only find one.
    if (byKey_.contains(key)) return;
    byKey_.emplace(key, entries_.size());
    String jsonKey = info->propertyJsonName().value_or(info->propertyName());
    if (const auto* companion = dynamic_cast<const QNSDTPropertyInfoWithReferenceBase*>(info.get()))
        jsonKey += companion->suffix();
    String jsonKeyLower = lower(jsonKey);
    for (const Entry& e : entries_)
        if (e.jsonKeyLower == jsonKeyLower) duplicateJsonKeys_ = true;
    entries_.push_back(Entry{std::move(key), std::move(info), std::move(jsonKey),
                             std::move(jsonKeyLower), mappingIndex, npos});
}

// --- Look-ups ------------------------------------------------------------------------

namespace {

// A hash of the UTF-16 units with ASCII letters folded to lower case, four
// units at a time. Setting bit 5 of every unit folds letters (and moves a few
// punctuation marks onto others, which only costs a rare extra compare).
std::uint64_t foldedHash(StringView text) noexcept {
    constexpr std::uint64_t kFold = 0x0020002000200020ull;
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = text.size() * kMultiplier;
    const char16_t* p = text.data();
    std::size_t n = text.size();
    for (; n >= 4; n -= 4, p += 4) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        h = (h ^ (word | kFold)) * kMultiplier;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    for (std::size_t i = 0; i < n; ++i)
        tail |= static_cast<std::uint64_t>(p[i] | 0x20u) << (16 * i);
    h = (h ^ tail) * kMultiplier;
    return h ^ (h >> 32);
}

bool hasNonASCII(StringView text) noexcept {
    for (char16_t c : text)
        if (c >= 0x80) return true;
    return false;
}

// `name` (ASCII letters in any case) equals the lower-case `key`.
bool equalsFolded(StringView name, const String& key) noexcept {
    if (name.size() != key.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        if (c != key[i]) return false;
    }
    return true;
}

}  // namespace

void QNSDTPropertiesInfo::buildIndex(FlatIndex& index, String Entry::*key) {
    std::size_t size = 8;
    while (size < 2 * entries_.size())
        size *= 2;
    index.slots.assign(size, 0);
    index.mask = size - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const String& k = entries_[i].*key;
        std::size_t slot = foldedHash(k) & index.mask;
        bool present = false;
        while (index.slots[slot] != 0) {
            if (entries_[index.slots[slot] - 1].*key == k) present = true;
            slot = (slot + 1) & index.mask;
        }
        // The first entry with a key keeps it.
        if (!present) index.slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

std::size_t QNSDTPropertiesInfo::find(const FlatIndex& index, String Entry::*key,
                                      StringView name) const {
    if (index.slots.empty()) return npos;
    if (hasNonASCII(name)) [[unlikely]] {
        const String lowered = lower(name);
        for (std::size_t slot = foldedHash(lowered) & index.mask; index.slots[slot] != 0;
             slot = (slot + 1) & index.mask)
            if (entries_[index.slots[slot] - 1].*key == lowered) return index.slots[slot] - 1;
        return npos;
    }
    for (std::size_t slot = foldedHash(name) & index.mask; index.slots[slot] != 0;
         slot = (slot + 1) & index.mask)
        if (equalsFolded(name, entries_[index.slots[slot] - 1].*key)) return index.slots[slot] - 1;
    return npos;
}

std::size_t QNSDTPropertiesInfo::indexForShortName(StringView name) const {
    // Every field access of a record comes here.
    return find(keyIndex_, &Entry::key, name);
}

std::size_t QNSDTPropertiesInfo::indexForKey(StringView key) const {
    return find(keyIndex_, &Entry::key, key);
}

std::size_t QNSDTPropertiesInfo::indexForJsonKey(StringView key) const {
    return find(jsonKeyIndex_, &Entry::jsonKeyLower, key);
}

const QNSDTPropertyInfo* QNSDTPropertiesInfo::propertyInfoForShortName(StringView name) const {
    const std::size_t index = indexForShortName(name);
    return index == npos ? nullptr : entries_[index].info.get();
}

const QNSDTPropertyInfo* QNSDTPropertiesInfo::propertyInfoForShortName(
    StringView name, std::uint8_t mask, bool filterUnknownByName) const {
    const QNSDTPropertyInfo* info = propertyInfoForShortName(name);
    if (info == nullptr || (info->type() & mask) == 0) return nullptr;
    if (filterUnknownByName && info->type() == QNSDTPropertyTypeUnknown &&
        (static_cast<const QNSDTPropertyInfoUnknown*>(info)->typeFromName() & mask) == 0)
        return nullptr;
    return info;
}

bool QNSDTPropertiesInfo::passes(const QNSDTPropertyInfo& info, std::uint8_t mask,
                                 bool filterUnknownByName) const {
    if (mask == kQNSDTMaskAll) return true;
    if (filterUnknownByName && (mask & QNSDTPropertyTypeUnknown) != 0 &&
        info.type() == QNSDTPropertyTypeUnknown) {
        const std::uint8_t byName =
            static_cast<const QNSDTPropertyInfoUnknown&>(info).typeFromName();
        return (byName & mask) == byName;
    }
    return (info.type() & mask) == info.type();
}

void QNSDTPropertiesInfo::enumerateProperties(const Visitor& visit) const {
    for (const Entry& e : entries_)
        visit(e.key, *e.info);
}

void QNSDTPropertiesInfo::enumeratePropertiesWithFilterFlags(std::uint8_t mask,
                                                             const Visitor& visit,
                                                             bool filterUnknownByName) const {
    for (const Entry& e : entries_) {
        if (passes(*e.info, mask, filterUnknownByName)) visit(e.key, *e.info);
    }
}

// --- The class cache ------------------------------------------------------------------

namespace {

struct ClassCache {
    std::shared_mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const QNSDTPropertiesInfo>> tables;
};

ClassCache& classCache() {
    static ClassCache cache;
    return cache;
}

// The SDT of the path's first name: as given, then with each "_" from the
// left in turn read as "." ("Module_Customer" is also "Module.Customer").
}  // namespace

std::shared_ptr<const QNStructureDataTypeInfo> QNSDTPropertiesInfo::sdtInfoForPathName(
    StringView pathName) {
    String name(pathName);
    for (;;) {
        if (auto info = QNStructureDataTypeInfo::sdtInfoForName(name)) return info;
        const std::size_t underscore = name.find(u'_');
        if (underscore == String::npos) return nullptr;
        name[underscore] = u'.';
    }
}

namespace {

std::shared_ptr<const QNStructureDataTypeLevelInfo> levelForPath(const std::vector<String>& path) {
    if (path.empty()) return nullptr;
    auto sdt = QNSDTPropertiesInfo::sdtInfoForPathName(path.front());
    if (!sdt) return nullptr;
    auto level = sdt->rootLevel();
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (auto sub = level->levelWithCollectionItemName(path[i])) {
            level = std::move(sub);
        } else if (auto named = level->levelForName(path[i])) {
            level = std::move(named);
        }
    }
    return level;
}

}  // namespace

std::shared_ptr<const QNSDTPropertiesInfo> QNSDTPropertiesInfo::propertiesInfoForClass(
    std::string_view className, const std::vector<String>& levelPathNames,
    const NameMapping& mapping) {
    auto& cache = classCache();
    {
        std::shared_lock lock(cache.mutex);
        if (auto it = cache.tables.find(std::string(className)); it != cache.tables.end())
            return it->second;
    }
    // Built outside the lock: the metadata look-up reads the model, which may
    // take its own locks. Two threads may both build; the first stored wins.
    auto table = std::make_shared<QNSDTPropertiesInfo>(mapping, levelForPath(levelPathNames),
                                                       ClassRegistry::classNamed(className));
    if (!levelPathNames.empty()) {
        if (auto sdt = sdtInfoForPathName(levelPathNames.front())) {
            const auto& root = *sdt->rootLevel();
            if (root.isCollection() && root.levels().empty() && root.items().size() == 1 &&
                root.items().front()->jsonCollectionSerializeAsSequence())
                table->sequenceItem_ = root.items().front();
        }
    }
    std::unique_lock lock(cache.mutex);
    return cache.tables.emplace(std::string(className), std::move(table)).first->second;
}

}  // namespace qn
