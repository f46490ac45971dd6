// The application model: what the generator knew about the application
// (its name, whether it runs offline, its server, its procedures, its
// languages with their translations, its images and attributes, the
// metadata of its structured data types), read from
// the bundle's model.json (format: docs/bundle-format.md), plus the state the
// host keeps around it:
// the current language, the current theme, and the application's persistent
// user data.
//
// The model is read on first use and read again when the main bundle
// changes. Model objects are immutable once read and may be shared across
// threads; the current language, theme and user data are guarded state.
//
// Thread-safe.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/sdt_metadata.h>
#include <qn/value.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qn {

class QNBundle;

struct QNProcedureParameter {
    String name;
    String type;       // the generator's type name ("numeric", "character", ...)
    String direction;  // "in", "out" or "inout"
};

// A procedure of the application model and its parameters.
class QN_API QNProcedureDefinition {
public:
    QNProcedureDefinition(String name, std::vector<QNProcedureParameter> parameters)
        : name_(std::move(name)), parameters_(std::move(parameters)) {}
    const String& name() const noexcept { return name_; }
    const std::vector<QNProcedureParameter>& parameters() const noexcept { return parameters_; }

private:
    String name_;
    std::vector<QNProcedureParameter> parameters_;
};

// A language of the application with its translations. Immutable.
class QN_API QNLanguage {
public:
    // Looked up by view, so a lookup never copies the key.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(StringView key) const noexcept {
            return std::hash<StringView>{}(key);
        }
    };
    using TranslationTable = std::unordered_map<String, String, KeyHash, std::equal_to<>>;

    struct Definition {
        String name;          // "English"; what the current language name is
        String code;          // the generator's code ("eng")
        String section;       // the section name of the configuration ("English")
        String culture;       // locale identifier ("en_US")
        String dateFormat;    // date convention ("ENG", "SPA", "ANSI", ...)
        String languageCode;  // ISO 639 ("en")
        String countryCode;   // ISO 3166 ("US")
        TranslationTable translations;
    };
    explicit QNLanguage(Definition definition) : d_(std::move(definition)) {}

    const String& name() const noexcept { return d_.name; }
    const String& code() const noexcept { return d_.code; }
    const String& section() const noexcept { return d_.section; }
    const String& culture() const noexcept { return d_.culture; }
    const String& dateFormat() const noexcept { return d_.dateFormat; }
    const String& languageCode() const noexcept { return d_.languageCode; }
    const String& countryCode() const noexcept { return d_.countryCode; }
    // The translation of `key`; the key itself when the language has none.
    String translationFor(StringView key) const;
    bool hasTranslationFor(StringView key) const;

private:
    Definition d_;
};

// The languages of the model.
class QN_API QNModelResources {
public:
    explicit QNModelResources(std::vector<std::shared_ptr<const QNLanguage>> languages)
        : languages_(std::move(languages)) {}
    // The language of that name (exact), or null.
    std::shared_ptr<const QNLanguage> languageWithName(StringView name) const;
    const std::vector<std::shared_ptr<const QNLanguage>>& languages() const noexcept {
        return languages_;
    }

private:
    std::vector<std::shared_ptr<const QNLanguage>> languages_;
};

// An image of the application as the model lists it. Immutable.
struct QN_API QNImageDefinition {
    String guid;
    String name;
    // Where the image is: the file URL of a file inside the bundle, or an
    // http(s) URL; absent when the model gives neither.
    std::optional<String> url;
};

// What the model says of an attribute (a field of the application's data).
// Immutable.
class QN_API QNAttributeInfo {
public:
    QNAttributeInfo(String name, bool downloadContentOffline)
        : name_(std::move(name)), downloadContentOffline_(downloadContentOffline) {}
    const String& name() const noexcept { return name_; }
    // Whether the content its values point at is copied into the blob folder
    // so it can be read offline.
    bool downloadContentOffline() const noexcept { return downloadContentOffline_; }

    // The current model's attribute of that name (letter case ignored);
    // absent when the model lists none.
    static std::optional<QNAttributeInfo> attribute(StringView name);

private:
    String name_;
    bool downloadContentOffline_ = false;
};

// The application model read from the bundle. Immutable.
class QN_API QNApplicationModel {
public:
    // The model of the main bundle (an empty model when it has no model
    // file, or an unreadable one: a line is logged then). Never null.
    static std::shared_ptr<const QNApplicationModel> currentModel();
    // The model of a given bundle, read now.
    static std::shared_ptr<const QNApplicationModel> loadFromBundle(const QNBundle& bundle);
    // The model described by a parsed model.json root.
    static std::shared_ptr<const QNApplicationModel> fromJSONValue(const Value& root,
                                                                   const QNBundle* bundle);

    const String& appName() const noexcept { return appName_; }
    // 1 when the main entry point runs offline.
    int connectivitySupport() const noexcept { return connectivitySupport_; }
    bool isOffline() const noexcept { return connectivitySupport_ == 1; }
    const String& serverBaseUrl() const noexcept { return serverBaseUrl_; }
    const String& synchronizerObjectName() const noexcept { return synchronizerObjectName_; }
    const String& defaultLanguageName() const noexcept { return defaultLanguageName_; }
    const String& themeName() const noexcept { return themeName_; }
    // The procedure of that name (exact), or null.
    const QNProcedureDefinition* procedureForName(StringView name) const noexcept;
    const std::vector<QNProcedureDefinition>& procedures() const noexcept { return procedures_; }
    const QNModelResources& resources() const noexcept { return resources_; }
    // The image with that identifier (letter case ignored) or that name
    // (letter case ignored); null when the model lists none. The first of
    // several with the same key wins.
    const QNImageDefinition* imageWithGuid(StringView guid) const;
    const QNImageDefinition* imageWithName(StringView name) const;
    const std::vector<QNImageDefinition>& images() const noexcept { return images_; }
    // The attribute of that name (letter case ignored), or null.
    const QNAttributeInfo* attributeWithName(StringView name) const;
    // The model's SDT of that name (letter case ignored), or null; the first
    // of several with the same name wins. Applications and records ask
    // QNStructureDataTypeInfo::sdtInfoForName, which sees installed SDTs too.
    std::shared_ptr<const QNStructureDataTypeInfo> sdtInfoForName(StringView name) const;
    // In file order.
    const std::vector<std::shared_ptr<const QNStructureDataTypeInfo>>& sdts() const noexcept {
        return sdts_;
    }
    // The whole model file, for the parts that read their own sections.
    const Dictionary& raw() const noexcept { return *raw_; }

private:
    QNApplicationModel() : resources_({}), raw_(std::make_shared<Dictionary>()) {}

    String appName_;
    int connectivitySupport_ = 0;
    String serverBaseUrl_;
    String synchronizerObjectName_;
    String defaultLanguageName_;
    String themeName_;
    std::vector<QNProcedureDefinition> procedures_;
    QNModelResources resources_;
    std::vector<QNImageDefinition> images_;
    std::unordered_map<String, std::size_t> imagesByGuid_;  // lower-case key -> index
    std::unordered_map<String, std::size_t> imagesByName_;
    std::unordered_map<String, QNAttributeInfo> attributes_;  // by lower-case name
    std::vector<std::shared_ptr<const QNStructureDataTypeInfo>> sdts_;
    std::unordered_map<String, std::shared_ptr<const QNStructureDataTypeInfo>> sdtsByName_;
    std::shared_ptr<Dictionary> raw_;
};

// The knowledge-base view of the model that the built-ins use.
class QN_API QNKBObjectsModel {
public:
    static std::shared_ptr<const QNApplicationModel> currentModel() {
        return QNApplicationModel::currentModel();
    }
};

// Answers where an application image is, by identifier or by name: an
// absolute URL text, or absent. An application installs one to take over
// from the model's "images" list.
class QN_API QNImageURLProvider {
public:
    virtual ~QNImageURLProvider();
    virtual std::optional<String> urlForImageGuid(StringView guid) = 0;
    virtual std::optional<String> urlForImageName(StringView name) = 0;
};

// The current language and its translations, and the application's images.
class QN_API QNResources {
public:
    // The current language's name: the one set with setCurrentLanguageName,
    // else the model's default language, else its first language; absent
    // when the model has no language and none was set.
    static std::optional<String> currentLanguageName();
    // Sets the current language (any name, known to the model or not);
    // absent goes back to the model's default.
    static void setCurrentLanguageName(std::optional<String> name);
    // The model's language of the current name, or null.
    static std::shared_ptr<const QNLanguage> currentLanguage();
    // The locale identifier of the current language: its culture, else
    // "<languageCode>_<countryCode>" or "<languageCode>"; absent when there
    // is no current language or it says nothing.
    static std::optional<std::string> currentLanguageLocale();
    // The current language's translation of `key`; the key itself when there
    // is none.
    static String translationFor(StringView key);

    // The URL text of the image with that identifier / name: the installed
    // provider's answer, else the current model's image (see
    // QNApplicationModel::imageWithGuid); absent when there is none.
    static std::optional<String> urlForImageGuid(StringView guid);
    static std::optional<String> urlForImageName(StringView name);
    // Installs the application's provider; null goes back to the model.
    static void setImageURLProvider(std::shared_ptr<QNImageURLProvider> provider);
};

// The application model as the data layer sees it, and the application's
// persistent values.
class QN_API QNModel {
public:
    struct AppModel {
        String appName;
        int connectivitySupport = 0;  // of the main entry point; 1 means offline
        int reachabilityStatus = 1;   // non-zero when the server is reachable
    };

    static QNModel& currentModel();

    AppModel appModel() const;
    void setReachabilityStatus(int status);

    // A persistent value; Absent when none is stored.
    Value getUserDataForKey(const String& key) const;
    // Stores a value (Absent or Null removes the key) and writes the whole
    // store to <application support>/QNUserData.plist atomically; false, with
    // the store unchanged, when the file cannot be written.
    bool setUserDataForKey(const Value& value, const String& key);
    // Forgets the in-memory copy so the next access reads the file again
    // (after the storage folder changed).
    void reloadUserData();

private:
    QNModel() = default;
    struct State;
    State& state() const;
};

// The current style object.
class QN_API QNStyleKBObject {
public:
    // The current theme's name: the one set, else the model's "theme"; absent
    // when neither says one.
    static std::optional<String> currentStyleObjectName();
    static void setCurrentStyleName(std::optional<String> name);
};

}  // namespace qn
