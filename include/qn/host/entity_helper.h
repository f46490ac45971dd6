// The host's entity services that the library registers with and calls.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/sdt_metadata.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qn {

// What the host knows of the image an image field value names, beyond where
// it is.
struct QN_API QNImageDescriptor {
    // Pixels per point of the image; 0 when the host does not know (the
    // image's name then decides: "name@2x.png" is 2).
    double scale = 0;
};

// An image field value resolved: where the image is and, possibly, what the
// host knows of it. Either may be absent.
struct QN_API QNImageFieldValue {
    std::optional<String> url;
    std::optional<QNImageDescriptor> image;
};

// A structured field value (a record or a collection of them). The classes
// above the host implement it, so the field conversions below can write such
// a value as JSON and test it for emptiness without knowing its class.
class QN_API QNStructuredFieldValue {
public:
    virtual ~QNStructuredFieldValue();
    // Its JSON value (a Dictionary or an Array, or a scalar for a sequence).
    virtual Value structuredJSONValue() const = 0;
    virtual bool isEmptyStructuredValue() const = 0;
};

class QN_API QNEntityHelper {
public:
    // --- Field values (src/host/entity_values.cc) ---------------------------
    // How a field's value is written in JSON and held in a record, by the
    // field's data type (QNEntityDataType):
    //
    //   type                       JSON                      held
    //   numeric                    Int or Decimal, exact      Int or Decimal
    //   character, long text, URI,
    //   media, blob, geography     string                     String
    //   date                       "yyyy-MM-dd"               DateTime (UTC midnight)
    //   date-time                  "yyyy-MM-ddTHH:mm:ss"      DateTime
    //   boolean                    true / false               Bool
    //   GUID                       canonical text             QNUUID
    //   structured                 its JSON value             as given
    //
    // The empty date is "0000-00-00" ("0000-00-00T00:00:00"). A field without
    // info (null) passes values through, structured values as JSON.

    // The JSON value of a field's value; the null marker for Absent and Null.
    static Value jsonFieldValueForFieldInfo(const QNEntityDataFieldInfo* info, const Value& value);
    // The value a record holds for a JSON (or text) value of the field; the
    // type's empty value for Absent, Null and text that does not read as the
    // type.
    static Value coreDataFieldValueForFieldInfo(const QNEntityDataFieldInfo* info,
                                                const Value& value);
    // coreDataFieldValueForFieldInfo for a data type alone (what generated
    // code reads a field's XML text with).
    static Value heldValueForDataType(const Value& value, int dataType);
    // jsonFieldValueForFieldInfo for a data type alone; a numeric value is
    // rounded half away from zero to `decimals` places when it has more.
    static Value jsonValueFromValueForDataType(const Value& value, int dataType,
                                               std::int64_t decimals);
    // 0, "", the empty date, false, the empty UUID; the null marker for a
    // structured or unknown type.
    static Value emptyValueForDataType(int dataType);
    // Absent and Null are empty; otherwise the value equals the type's empty
    // value (a structured value or collection: it has nothing in it).
    static bool valueIsEmptyValueForDataTypeIsCollection(const Value& value, int dataType,
                                                         bool isCollection);
    // Images, blobs, audio, video and blob files.
    static bool fieldMayContainBinaryData(const QNEntityDataFieldInfo* info) noexcept;
    static bool dataTypeMayContainBinaryData(int dataType) noexcept;
    // The 0-based index a field specifier names before its first ".":
    // "item(N)" (any letter case) or "N", N counting from 1; absent for
    // anything else (0, negatives and overflow included).
    static std::optional<std::int64_t> indexFromFieldSpecifier(StringView specifier) noexcept;
    // A copy with lower-cased keys; of keys that collide the first is kept.
    static Ref<Dictionary> dictionaryWithLowercaseKeys(const Dictionary& dictionary);

    // Turns an absolute URL of a library scheme into a file URL; absent when
    // it cannot.
    using NSURLConverter = std::function<std::optional<String>(StringView url)>;

    // Registers the converter of a scheme (compared case-insensitively); a
    // later registration replaces an earlier one.
    static void registerNSURLConverterForQNScheme(NSURLConverter converter, StringView scheme);
    // The file URL of a URL whose scheme has a converter; absent otherwise.
    static std::optional<String> convertQNSchemeAbsoluteURL(StringView url);

    // Gives the URL of an application's static resource from its relative
    // path; absent when there is none.
    using StaticResourceURLProvider = std::function<std::optional<String>(StringView path)>;
    // Replaces the provider (an empty one restores the default).
    static void setStaticResourceURLProvider(StaticResourceURLProvider provider);
    // The URL of a static resource: by default the application server's
    // "static/" folder (the model's server base URL, then "static/" and the
    // path with each segment percent-encoded); absent when the model names
    // no server or the path is empty.
    static std::optional<String> staticResourceURLWithRelativePath(StringView path);

    // Resolves the text an image variable or field holds.
    using ImageFieldValueResolver = std::function<QNImageFieldValue(StringView value)>;
    // Replaces the resolver (an empty one restores the default).
    static void setImageFieldValueResolver(ImageFieldValueResolver resolver);
    // The URL of an image field value and the host's descriptor of it. By
    // default: an absolute URL of a registered library scheme becomes its
    // file URL; a file URL naming a local path and an http or https URL are
    // the URL themselves; anything else (a plain path among them) resolves
    // to nothing. The default gives no descriptor.
    static QNImageFieldValue imageAndURLFromFieldValue(StringView value);

    // Gives the URL of a web panel of the application by object name and
    // parameters (none when the list is absent); absent when there is none.
    using WebPanelURLProvider =
        std::function<std::optional<String>(StringView name, const std::vector<Value>* parameters)>;
    // Replaces the provider (an empty one restores the default: none).
    static void setWebPanelURLProvider(WebPanelURLProvider provider);
    // The provider's URL; absent without a provider.
    static std::optional<String> webPanelURLFromNameParameters(
        StringView name, const std::vector<Value>* parameters);
};

}  // namespace qn
