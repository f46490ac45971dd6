// What the model says of the application's business components: each one's
// name and levels (the root, child levels by name), and each level's
// attributes with whether they are part of the key and whether they are
// read-only. Read from the "businessComponents" member of model.json
// (docs/bundle-format.md); tests and applications may install models in
// memory, which are found before the model's.
//
// And the image upload helper: what an image attribute's file becomes before
// it is queued for upload (by default, the file's bytes unchanged).
//
// Thread-safe; the model objects are immutable.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/errors.h>
#include <qn/value.h>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qn {

class QNEntityDataFieldInfo;

class QN_API QNBusinessComponentAttributeInfo {
public:
    QNBusinessComponentAttributeInfo(String name, bool isKey, bool isReadOnly)
        : name_(std::move(name)), isKey_(isKey), isReadOnly_(isReadOnly) {}
    const String& name() const noexcept { return name_; }
    bool isKey() const noexcept { return isKey_; }
    bool isReadOnly() const noexcept { return isReadOnly_; }

private:
    String name_;
    bool isKey_ = false;
    bool isReadOnly_ = false;
};

class QN_API QNBusinessComponentLevelInfo {
public:
    struct Definition {
        String name;
        std::vector<std::shared_ptr<const QNBusinessComponentAttributeInfo>> attributes;
        std::vector<std::shared_ptr<const QNBusinessComponentLevelInfo>> levels;
    };
    explicit QNBusinessComponentLevelInfo(Definition definition);

    const String& name() const noexcept { return d_.name; }
    // In file order.
    const std::vector<std::shared_ptr<const QNBusinessComponentAttributeInfo>>& attributes()
        const noexcept {
        return d_.attributes;
    }
    const std::vector<std::shared_ptr<const QNBusinessComponentLevelInfo>>& levels()
        const noexcept {
        return d_.levels;
    }
    // Any letter case; null when there is none (the first of a name wins).
    std::shared_ptr<const QNBusinessComponentAttributeInfo> attributeForName(StringView name) const;
    std::shared_ptr<const QNBusinessComponentLevelInfo> childLevelWithLevelName(
        StringView name) const;

private:
    Definition d_;
    std::unordered_map<String, std::shared_ptr<const QNBusinessComponentAttributeInfo>>
        attributesByName_;
    std::unordered_map<String, std::shared_ptr<const QNBusinessComponentLevelInfo>> levelsByName_;
};

class QN_API QNBusinessComponentModel {
public:
    // A null root becomes an empty level of the component's name.
    QNBusinessComponentModel(String name, std::shared_ptr<const QNBusinessComponentLevelInfo> root);
    const String& name() const noexcept { return name_; }
    const std::shared_ptr<const QNBusinessComponentLevelInfo>& rootLevel() const noexcept {
        return root_;
    }

    // The model described by one entry of "businessComponents"; null (with
    // a reason) for one that is not an object with a name. Levels nest at
    // most QNStructureDataTypeInfo::kMaxLevelDepth deep.
    static std::shared_ptr<const QNBusinessComponentModel> fromJSONValue(const Value& value,
                                                                         String* error = nullptr);

private:
    String name_;
    std::shared_ptr<const QNBusinessComponentLevelInfo> root_;
};

class QN_API QNBusinessComponentsHelper {
public:
    // The business component of that name (any letter case): installed ones
    // first, then the current model's; null when there is none.
    static std::shared_ptr<const QNBusinessComponentModel>
    businessComponentModelForBusinessComponentWithName(StringView name);
    // Installs a model in memory (replacing one of the same name).
    static void installBusinessComponentModel(
        std::shared_ptr<const QNBusinessComponentModel> model);
    static void removeInstalledBusinessComponentModels();
};

// A row of data as the host's data layer holds it, read by field name.
class QN_API QNEntityData {
public:
    virtual ~QNEntityData();
    // The field's value; Absent when the row has no such field.
    virtual Value valueForEntityDataFieldName(StringView name) const = 0;
};

// Prepares the bytes an image attribute uploads.
class QN_API QNImageUploadHelper {
public:
    virtual ~QNImageUploadHelper();
    // The bytes to upload for the image at `fileURL` (a file URL); absent,
    // with `error` set, when they cannot be made.
    virtual std::optional<Bytes> imageUploadDataFromURL(StringView fileURL,
                                                        const QNEntityDataFieldInfo* typeInfo,
                                                        const QNEntityDataFieldInfo* callerTypeInfo,
                                                        QNError* error) = 0;

    // The helper in use: the application's when installed, else the
    // library's, which reads the file's bytes unchanged.
    static std::shared_ptr<QNImageUploadHelper> sharedHelper();
    // Null goes back to the library's.
    static void setSharedHelper(std::shared_ptr<QNImageUploadHelper> helper);
};

}  // namespace qn
