// The property table of a generated record class: one descriptor per
// property, made from the class's property-name mapping (short name ->
// accessor name, in declaration order) and the SDT metadata of its level.
// Records look every property up here by lower-cased name when they write,
// load or set a field.
//
// Tables are built once per class and process and kept in one cache under a
// read-write lock; a built table is immutable and shared across threads.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/sdt_metadata.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qn {

class ClassInfo;

// Kinds of descriptor; bit flags, so a set of kinds is a mask.
enum QNSDTPropertyType : std::uint8_t {
    QNSDTPropertyTypeItem = 1,       // a field (simple, based on an SDT, or a collection)
    QNSDTPropertyTypeLevel = 2,      // a nested level (sub-record or collection of them)
    QNSDTPropertyTypeItemZ = 8,      // an item's old value ("_Z")
    QNSDTPropertyTypeItemN = 16,     // an item's null flag ("_N")
    QNSDTPropertyTypeItemQNI = 32,   // an item's multimedia URI ("_QNI")
    QNSDTPropertyTypeState = 64,     // Mode or Initialized
    QNSDTPropertyTypeUnknown = 128,  // not described by the metadata
};

// Masks the library uses. Enumerating with kAll passes every descriptor.
inline constexpr std::uint8_t kQNSDTMaskAll = 219;
inline constexpr std::uint8_t kQNSDTMaskSerializable = 179;  // 1, 2, 16, 32, 128
inline constexpr std::uint8_t kQNSDTMaskXML = 187;           // the same and 8
inline constexpr std::uint8_t kQNSDTMaskItemsAndLevels = 3;

// Field infos with fixed answers, one shared instance each.
class QN_API QNSDTPropertyInfoFieldInfoBase : public QNEntityDataFieldInfo {};
class QN_API QNSDTPropertyInfoSDTItem_NullableFieldInfo final
    : public QNSDTPropertyInfoFieldInfoBase {
public:
    int dataType() const noexcept override { return QNEntityDataTypeBoolean; }
    static const QNSDTPropertyInfoSDTItem_NullableFieldInfo& shared() noexcept;
};
class QN_API QNSDTPropertyInfoSDTItem_QniFieldInfo final : public QNSDTPropertyInfoFieldInfoBase {
public:
    int dataType() const noexcept override { return QNEntityDataTypeURI; }
    static const QNSDTPropertyInfoSDTItem_QniFieldInfo& shared() noexcept;
};
class QN_API QNSDTPropertyInfoStateFieldInfoMode final : public QNSDTPropertyInfoFieldInfoBase {
public:
    int dataType() const noexcept override { return QNEntityDataTypeCharacter; }
    std::int64_t length() const noexcept override { return 3; }
    static const QNSDTPropertyInfoStateFieldInfoMode& shared() noexcept;
};
class QN_API QNSDTPropertyInfoStateFieldInfoInitialized final
    : public QNSDTPropertyInfoFieldInfoBase {
public:
    int dataType() const noexcept override { return QNEntityDataTypeBoolean; }
    static const QNSDTPropertyInfoStateFieldInfoInitialized& shared() noexcept;
};

// One property of a record class. Immutable.
class QN_API QNSDTPropertyInfo {
public:
    virtual ~QNSDTPropertyInfo();
    // The short name as the mapping spells it.
    const String& propertyName() const noexcept { return name_; }
    // The generated accessor's name.
    const String& propertyFullName() const noexcept { return fullName_; }
    // The JSON name; absent when there is none.
    virtual std::optional<String> propertyJsonName() const { return name_; }
    std::uint8_t type() const noexcept { return type_; }
    // What the field is; null for levels and unknown properties.
    virtual const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept { return nullptr; }

protected:
    QNSDTPropertyInfo(String name, String fullName, std::uint8_t type)
        : name_(std::move(name)), fullName_(std::move(fullName)), type_(type) {}

private:
    String name_;
    String fullName_;
    std::uint8_t type_;
};

class QN_API QNSDTPropertyInfoSDTItem final : public QNSDTPropertyInfo {
public:
    QNSDTPropertyInfoSDTItem(String fullName,
                             std::shared_ptr<const QNStructureDataTypeItemInfo> item)
        : QNSDTPropertyInfo(item->name(), std::move(fullName), QNSDTPropertyTypeItem),
          item_(std::move(item)) {}
    const QNStructureDataTypeItemInfo& itemInfo() const noexcept { return *item_; }
    std::optional<String> propertyJsonName() const override { return item_->jsonName(); }
    const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept override {
        return item_.get();
    }
    bool jsonCollectionSerializeWhenEmpty() const noexcept {
        return item_->jsonSerializeWhenEmpty();
    }
    bool jsonCollectionSerializeCollectionAsSequence() const noexcept {
        return item_->jsonCollectionSerializeAsSequence();
    }

private:
    std::shared_ptr<const QNStructureDataTypeItemInfo> item_;
};

class QN_API QNSDTPropertyInfoSDTLevel final : public QNSDTPropertyInfo {
public:
    QNSDTPropertyInfoSDTLevel(String fullName,
                              std::shared_ptr<const QNStructureDataTypeLevelInfo> level)
        : QNSDTPropertyInfo(level->name(), std::move(fullName), QNSDTPropertyTypeLevel),
          level_(std::move(level)) {}
    const QNStructureDataTypeLevelInfo& levelInfo() const noexcept { return *level_; }
    std::optional<String> propertyJsonName() const override { return level_->jsonName(); }

private:
    std::shared_ptr<const QNStructureDataTypeLevelInfo> level_;
};

// A companion of an item: its old value, null flag or multimedia URI.
class QN_API QNSDTPropertyInfoWithReferenceBase : public QNSDTPropertyInfo {
public:
    const QNSDTPropertyInfoSDTItem& itemPropInfo() const noexcept { return *item_; }
    // The JSON name of the item it accompanies.
    std::optional<String> propertyJsonName() const override { return item_->propertyJsonName(); }
    const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept override {
        return item_->entityDataFieldInfo();
    }
    // The suffix as the mapping writes it ("_Z", "_N", "_QNI").
    StringView suffix() const noexcept;

protected:
    QNSDTPropertyInfoWithReferenceBase(String name, String fullName, std::uint8_t type,
                                       std::shared_ptr<const QNSDTPropertyInfoSDTItem> item)
        : QNSDTPropertyInfo(std::move(name), std::move(fullName), type), item_(std::move(item)) {}

private:
    std::shared_ptr<const QNSDTPropertyInfoSDTItem> item_;
};

class QN_API QNSDTPropertyInfoSDTItem_Z final : public QNSDTPropertyInfoWithReferenceBase {
public:
    QNSDTPropertyInfoSDTItem_Z(String name, String fullName,
                               std::shared_ptr<const QNSDTPropertyInfoSDTItem> item)
        : QNSDTPropertyInfoWithReferenceBase(std::move(name), std::move(fullName),
                                             QNSDTPropertyTypeItemZ, std::move(item)) {}
};

class QN_API QNSDTPropertyInfoSDTItem_N final : public QNSDTPropertyInfoWithReferenceBase {
public:
    QNSDTPropertyInfoSDTItem_N(String name, String fullName,
                               std::shared_ptr<const QNSDTPropertyInfoSDTItem> item)
        : QNSDTPropertyInfoWithReferenceBase(std::move(name), std::move(fullName),
                                             QNSDTPropertyTypeItemN, std::move(item)) {}
    const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept override {
        return &QNSDTPropertyInfoSDTItem_NullableFieldInfo::shared();
    }
};

class QN_API QNSDTPropertyInfoSDTItem_QNI final : public QNSDTPropertyInfoWithReferenceBase {
public:
    QNSDTPropertyInfoSDTItem_QNI(String name, String fullName,
                                 std::shared_ptr<const QNSDTPropertyInfoSDTItem> item)
        : QNSDTPropertyInfoWithReferenceBase(std::move(name), std::move(fullName),
                                             QNSDTPropertyTypeItemQNI, std::move(item)) {}
    const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept override {
        return &QNSDTPropertyInfoSDTItem_QniFieldInfo::shared();
    }
};

// Mode or Initialized.
class QN_API QNSDTPropertyInfoState final : public QNSDTPropertyInfo {
public:
    QNSDTPropertyInfoState(String name, String fullName, const QNEntityDataFieldInfo& fieldInfo)
        : QNSDTPropertyInfo(std::move(name), std::move(fullName), QNSDTPropertyTypeState),
          fieldInfo_(&fieldInfo) {}
    const QNEntityDataFieldInfo* entityDataFieldInfo() const noexcept override {
        return fieldInfo_;
    }

private:
    const QNEntityDataFieldInfo* fieldInfo_;
};

// A property the metadata does not describe. typeFromName is what its name
// suggests: 8 for a "_Z" name, 16 for an "_N" name the class declares as a
// boolean property, else 128.
class QN_API QNSDTPropertyInfoUnknown final : public QNSDTPropertyInfo {
public:
    QNSDTPropertyInfoUnknown(String name, String fullName, std::uint8_t typeFromName)
        : QNSDTPropertyInfo(std::move(name), std::move(fullName), QNSDTPropertyTypeUnknown),
          typeFromName_(typeFromName) {}
    std::uint8_t typeFromName() const noexcept { return typeFromName_; }

private:
    std::uint8_t typeFromName_;
};

// The descriptors of one record class.
class QN_API QNSDTPropertiesInfo {
public:
    // Short name -> accessor name, in declaration order.
    using NameMapping = std::vector<std::pair<String, String>>;
    using Visitor = std::function<void(const String& key, const QNSDTPropertyInfo& info)>;

    // Builds the table: state properties, then the level's items and levels
    // (each under the level's key for it), then the remaining names in
    // ascending order, so that "Name_N" is seen before "Name_N_Z": a name
    // ending in "_Z", "_N" or "_QNI" whose base is an item (or a companion,
    // whose item is then used) becomes a companion under base + "_z", "_n" or
    // "_qni"; every other name is unknown. Without level info every name but
    // the state ones is unknown. `recordClass` (may be null) answers whether
    // an "_N" name is a declared boolean property.
    QNSDTPropertiesInfo(const NameMapping& mapping,
                        std::shared_ptr<const QNStructureDataTypeLevelInfo> level,
                        const ClassInfo* recordClass);

    const std::shared_ptr<const QNStructureDataTypeLevelInfo>& levelInfo() const noexcept {
        return level_;
    }
    std::size_t size() const noexcept { return entries_.size(); }
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // The entry position of a short name (any letter case); npos when none.
    std::size_t indexForShortName(StringView name) const;
    // The entry position of the property at a position of the class's name
    // mapping; npos when the mapping has no entry there (a repeated name).
    std::size_t indexForMappingIndex(std::size_t mappingIndex) const noexcept {
        return mappingIndex < entryOfMapping_.size() ? entryOfMapping_[mappingIndex] : npos;
    }
    // The entry position under a table key, or JSON key (the first entry
    // with it), in any letter case; npos when none.
    std::size_t indexForKey(StringView key) const;
    std::size_t indexForJsonKey(StringView key) const;
    // Whether two entries share a JSON key (the later one then wins).
    bool hasDuplicateJsonKeys() const noexcept { return duplicateJsonKeys_; }
    // The sequence item of a class whose SDT is a collection of one item
    // written as a sequence (no sub-levels); null otherwise.
    const std::shared_ptr<const QNStructureDataTypeItemInfo>& sequenceItem() const noexcept {
        return sequenceItem_;
    }

    // Any letter case; null when there is none.
    const QNSDTPropertyInfo* propertyInfoForShortName(StringView name) const;
    // The descriptor when its kind lies in `mask`; with `filterUnknownByName`,
    // an unknown one's typeFromName must lie in the mask too.
    const QNSDTPropertyInfo* propertyInfoForShortName(StringView name, std::uint8_t mask,
                                                      bool filterUnknownByName = true) const;

    // Every descriptor, in the declaration order of the mapping.
    void enumerateProperties(const Visitor& visit) const;
    // kQNSDTMaskAll passes every descriptor; any other mask passes those whose
    // kind lies in it, an unknown one (with the rule and bit 128 in the mask)
    // judged by its typeFromName.
    void enumeratePropertiesWithFilterFlags(std::uint8_t mask, const Visitor& visit,
                                            bool filterUnknownByName = true) const;

    // The table of a generated class, built on first use and cached for the
    // process: the first path name is the SDT (tried as given, then with each
    // "_" in turn from the left read as "."), each further one selects the
    // sub-level with that collection item name, else that name (a name
    // matching neither leaves the level as it is). An empty path, or an SDT
    // not in the metadata, gives a table without level info.
    // The SDT a level path's first name names: as given, then with each "_"
    // in turn from the left read as "."; null when there is none.
    static std::shared_ptr<const QNStructureDataTypeInfo> sdtInfoForPathName(StringView name);
    static std::shared_ptr<const QNSDTPropertiesInfo> propertiesInfoForClass(
        std::string_view className, const std::vector<String>& levelPathNames,
        const NameMapping& mapping);

    // One descriptor with the keys records write and read it under.
    struct Entry {
        String key;  // the table's (lower-case) key
        std::shared_ptr<const QNSDTPropertyInfo> info;
        // The key with name conversion: the JSON name (the short name when
        // there is none); for a companion its item's plus its own suffix,
        // so "Name" and "Name_N" never share a key.
        String jsonKey;
        String jsonKeyLower;
        // The property's position in the class's name mapping.
        std::size_t mappingIndex = 0;
        // For a field that may hold binary data, the position of its
        // accessor named full name + "_qni" (which takes a copy of each value
        // set); npos when the class has none.
        std::size_t qniMappingIndex = npos;
    };
    // Every entry, in the order enumeration gives them.
    const std::vector<Entry>& entries() const noexcept { return entries_; }
    // Whether enumeration with that mask passes the descriptor.
    bool passes(const QNSDTPropertyInfo& info, std::uint8_t mask, bool filterUnknownByName) const;

private:
    void add(String key, std::shared_ptr<const QNSDTPropertyInfo> info, std::size_t mappingIndex);

    std::shared_ptr<const QNStructureDataTypeLevelInfo> level_;
    // Open addressing over entry positions (position + 1; 0 is free), hashed
    // and compared with ASCII letters folded on the fly: a look-up by a
    // name in any letter case neither copies nor lower-cases it first.
    struct FlatIndex {
        std::vector<std::uint32_t> slots;
        std::size_t mask = 0;
    };
    void buildIndex(FlatIndex& index, String Entry::*key);
    std::size_t find(const FlatIndex& index, String Entry::*key, StringView name) const;

    std::vector<Entry> entries_;                     // declaration order
    std::vector<std::size_t> entryOfMapping_;        // mapping position -> entry
    std::unordered_map<String, std::size_t> byKey_;  // lower-case key -> entry (building)
    FlatIndex keyIndex_;
    FlatIndex jsonKeyIndex_;
    bool duplicateJsonKeys_ = false;
    std::shared_ptr<const QNStructureDataTypeItemInfo> sequenceItem_;
};

}  // namespace qn
