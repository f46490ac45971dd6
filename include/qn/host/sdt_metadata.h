// Metadata of the application's structured data types (SDTs): what the
// generator knew about each record type, level by level. Records read it to
// decide which properties they have, under which JSON names they are written
// and how each field's value converts.
//
// The metadata comes from the "sdts" member of the bundle's model.json
// (docs/bundle-format.md) and from SDTs installed in memory (tests, and
// applications that describe types in code), which take precedence by name.
// Items and levels keep file order; look-ups by name are by lower-cased
// name.
//
// Every info object is immutable once made and shared freely across threads;
// the in-memory installation is guarded. Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qn {

// Data-type codes of the entity-data model.
enum QNEntityDataType : int {
    QNEntityDataTypeNumeric = 0,
    QNEntityDataTypeCharacter = 1,
    QNEntityDataTypeLongText = 2,
    QNEntityDataTypeDate = 3,
    QNEntityDataTypeDateTime = 4,
    QNEntityDataTypeURI = 5,
    QNEntityDataTypeBoolean = 6,
    QNEntityDataTypeGUID = 7,
    QNEntityDataTypeImage = 8,
    QNEntityDataTypeBlob = 9,
    QNEntityDataTypeStructured = 10,  // a record or a collection
    QNEntityDataTypeAudio = 12,
    QNEntityDataTypeVideo = 13,
    QNEntityDataTypeGeography = 14,
    QNEntityDataTypeBlobFile = 15,
    QNEntityDataTypeNone = 255,
};

class QNStructureDataTypeLevelInfo;

// What a field is. The defaults are those of a field nothing is known about:
// data type 255, no length or decimals, special domain, date and time format
// 255, no password, no picture, based on nothing, not a collection.
class QN_API QNEntityDataFieldInfo {
public:
    virtual ~QNEntityDataFieldInfo();
    virtual int dataType() const noexcept { return QNEntityDataTypeNone; }
    virtual std::int64_t length() const noexcept { return 0; }
    virtual std::int64_t decimals() const noexcept { return 0; }
    virtual int specialDomain() const noexcept { return 255; }
    virtual int dateFormat() const noexcept { return 255; }
    virtual int timeFormat() const noexcept { return 255; }
    virtual bool isPassword() const noexcept { return false; }
    virtual std::optional<String> inputPicture() const { return std::nullopt; }
    // The name of the SDT or business component the field is based on.
    virtual std::optional<String> basedOnName() const { return std::nullopt; }
    // The kind of what the field is based on (0 nothing); the codes are the
    // generator's.
    virtual int basedOnType() const noexcept { return 0; }
    // The level of the SDT the field is based on; null when it is based on
    // none (or the SDT is not known).
    virtual std::shared_ptr<const QNStructureDataTypeLevelInfo> basedOnLevelInfo() const {
        return nullptr;
    }
    virtual bool isCollection() const noexcept { return false; }
};

// One item (field) of a level.
class QN_API QNStructureDataTypeItemInfo final : public QNEntityDataFieldInfo {
public:
    struct Definition {
        String name;
        String jsonName;  // the name itself when the model gives none
        int dataType = QNEntityDataTypeCharacter;
        std::int64_t length = 0;
        std::int64_t decimals = 0;
        // Whether JSON writes the item when it holds its empty value;
        // true unless the model says otherwise.
        bool jsonSerializeWhenEmpty = true;
        // Whether a collection item is written as a bare JSON array.
        bool jsonCollectionSerializeAsSequence = false;
        bool isCollection = false;
        String basedOnName;  // "" when based on nothing
        int basedOnType = 0;
        bool isPassword = false;
        String inputPicture;
    };
    explicit QNStructureDataTypeItemInfo(Definition definition) : d_(std::move(definition)) {}

    const String& name() const noexcept { return d_.name; }
    const String& jsonName() const noexcept { return d_.jsonName; }
    bool jsonSerializeWhenEmpty() const noexcept { return d_.jsonSerializeWhenEmpty; }
    bool jsonCollectionSerializeAsSequence() const noexcept {
        return d_.jsonCollectionSerializeAsSequence;
    }

    int dataType() const noexcept override { return d_.dataType; }
    std::int64_t length() const noexcept override { return d_.length; }
    std::int64_t decimals() const noexcept override { return d_.decimals; }
    bool isPassword() const noexcept override { return d_.isPassword; }
    std::optional<String> inputPicture() const override;
    std::optional<String> basedOnName() const override;
    int basedOnType() const noexcept override { return d_.basedOnType; }
    // The root level of the SDT named by basedOnName (sdtInfoForName), looked
    // up when asked and never kept: an item based on its own SDT (a tree
    // type) makes no ownership cycle, and an SDT installed later is seen.
    std::shared_ptr<const QNStructureDataTypeLevelInfo> basedOnLevelInfo() const override;
    bool isCollection() const noexcept override { return d_.isCollection; }

private:
    Definition d_;
};

// A level: the root of an SDT or a nested level (a sub-record, or a
// collection of sub-records).
class QN_API QNStructureDataTypeLevelInfo {
public:
    using ItemMap = std::unordered_map<String, std::shared_ptr<const QNStructureDataTypeItemInfo>>;
    using LevelMap =
        std::unordered_map<String, std::shared_ptr<const QNStructureDataTypeLevelInfo>>;

    struct Definition {
        String name;
        String jsonName;  // the name itself when the model gives none
        bool isCollection = false;
        String collectionItemName;  // the item's name of a collection level
        std::vector<std::shared_ptr<const QNStructureDataTypeItemInfo>> items;
        std::vector<std::shared_ptr<const QNStructureDataTypeLevelInfo>> levels;
    };
    // Builds the look-up maps; a later entry of a lower-cased name already
    // taken is kept in the ordered lists but not in the maps (the first one
    // answers). Null entries of the lists are dropped.
    explicit QNStructureDataTypeLevelInfo(Definition definition);

    const String& name() const noexcept { return d_.name; }
    const String& jsonName() const noexcept { return d_.jsonName; }
    bool isCollection() const noexcept { return d_.isCollection; }
    const String& collectionItemName() const noexcept { return d_.collectionItemName; }

    // In file order.
    const std::vector<std::shared_ptr<const QNStructureDataTypeItemInfo>>& items() const noexcept {
        return d_.items;
    }
    const std::vector<std::shared_ptr<const QNStructureDataTypeLevelInfo>>& levels()
        const noexcept {
        return d_.levels;
    }
    // By lower-cased name.
    const ItemMap& itemsByName() const noexcept { return itemsByName_; }
    const LevelMap& levelsByName() const noexcept { return levelsByName_; }

    // Any letter case; null when there is none.
    std::shared_ptr<const QNStructureDataTypeItemInfo> itemForName(StringView name) const;
    std::shared_ptr<const QNStructureDataTypeLevelInfo> levelForName(StringView name) const;
    // The sub-level whose collection item name is `name` (any letter case).
    std::shared_ptr<const QNStructureDataTypeLevelInfo> levelWithCollectionItemName(
        StringView name) const;

private:
    Definition d_;
    ItemMap itemsByName_;
    LevelMap levelsByName_;
    LevelMap levelsByCollectionItemName_;  // sub-levels that are collections
};

// A field whose type is a whole SDT: what sdtFieldInfoForName answers.
class QN_API QNEntityDataSDTFieldInfo final : public QNEntityDataFieldInfo {
public:
    QNEntityDataSDTFieldInfo(String sdtName,
                             std::shared_ptr<const QNStructureDataTypeLevelInfo> level)
        : sdtName_(std::move(sdtName)), level_(std::move(level)) {}
    int dataType() const noexcept override { return QNEntityDataTypeStructured; }
    std::optional<String> basedOnName() const override { return sdtName_; }
    std::shared_ptr<const QNStructureDataTypeLevelInfo> basedOnLevelInfo() const override {
        return level_;
    }
    const std::shared_ptr<const QNStructureDataTypeLevelInfo>& levelInfo() const noexcept {
        return level_;
    }
    bool isCollection() const noexcept override { return level_ && level_->isCollection(); }

private:
    String sdtName_;
    std::shared_ptr<const QNStructureDataTypeLevelInfo> level_;
};

// One SDT: its name and its root level.
class QN_API QNStructureDataTypeInfo {
public:
    // Deeper nesting of levels than this is refused when reading a model, so
    // a hostile model cannot exhaust the stack of whoever walks the levels.
    static constexpr int kMaxLevelDepth = 64;

    // A null root becomes an empty level of the SDT's name.
    QNStructureDataTypeInfo(String name, std::shared_ptr<const QNStructureDataTypeLevelInfo> root);

    const String& name() const noexcept { return name_; }
    // Never null.
    const std::shared_ptr<const QNStructureDataTypeLevelInfo>& rootLevel() const noexcept {
        return rootLevel_;
    }
    bool isCollection() const noexcept { return rootLevel_->isCollection(); }
    // The field info of a field of this type (one per SDT, never null).
    const std::shared_ptr<const QNEntityDataSDTFieldInfo>& fieldInfo() const noexcept {
        return fieldInfo_;
    }

    // The SDT of that name (any letter case; "." and "_" are not
    // interchanged here): installed ones first, then the current model's;
    // null when there is none.
    static std::shared_ptr<const QNStructureDataTypeInfo> sdtInfoForName(StringView name);
    // The field info of a field whose type is that SDT; null when unknown.
    static std::shared_ptr<const QNEntityDataSDTFieldInfo> sdtFieldInfoForName(StringView name);

    // Installs an SDT in memory (replacing one of the same lower-cased
    // name); null removes nothing. Installed SDTs answer before the model's.
    static void installSDTInfo(std::shared_ptr<const QNStructureDataTypeInfo> info);
    // Removes every SDT installed in memory.
    static void removeInstalledSDTInfos();

    // The SDTs described by a model.json "sdts" member (an array), in file
    // order; entries that are not well-formed (not an object, no name, a
    // member of the wrong type, a data-type code outside 0..255, levels
    // nested deeper than kMaxLevelDepth) are skipped with a logged line.
    // Absent or null gives none silently.
    static std::vector<std::shared_ptr<const QNStructureDataTypeInfo>> sdtInfosFromJSONValue(
        const Value& sdts);

private:
    String name_;
    std::shared_ptr<const QNStructureDataTypeLevelInfo> rootLevel_;
    std::shared_ptr<const QNEntityDataSDTFieldInfo> fieldInfo_;
};

}  // namespace qn
