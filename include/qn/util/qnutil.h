// QNutil: the static functions generated code calls. The built-ins that need
// nothing above the runtime floor (strings, numbers, dates, language
// settings) come from QNBuiltins; this class adds the conversions that need
// files, the network and collections, so one name serves both.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/core/uuid.h>
#include <qn/export.h>
#include <qn/runtime/builtins.h>
#include <qn/value.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qn {

class QN_API QNutil : public QNBuiltins {
public:
    // --- Formatting and simple conversions ---------------------------------

    // The text unchanged: a character picture is not applied.
    static String formatChar(StringView text, StringView picture);
    // The number (Int, Double, Decimal or Bool; Absent gives "") formatted
    // for the picture by the thread's picture formatter (see
    // <qn/util/picture.h>), then left-padded with blanks to the picture's
    // length. A value the formatter cannot take gives its description.
    static String formatNumber(const Value& number, StringView picture, bool hasDecimals);
    // "true" or "false" from the value's boolValue.
    static String boolToStr(const Value& value);
    static String boolToStr(bool value) { return String(value ? u"true" : u"false"); }
    // qnBooleanValue of the text.
    static bool strToBool(StringView text);
    // op1 when the condition's boolValue is true, else op2.
    static Value qniif(const Value& condition, const Value& op1, const Value& op2);
    // Each component clamped to 0 ... 255; red in the high byte.
    static std::int64_t colorValueFromRGB(std::int64_t red, std::int64_t green,
                                          std::int64_t blue) noexcept;
    // Blocks the calling thread for that many seconds (none when not
    // positive); 0.
    static std::int64_t sleep(std::int64_t seconds);

    // --- Blobs and file locations (src/util/blobs.cc) -----------------------

    // Decodes strict standard Base64 (no blanks or line breaks) into a new
    // unique file under tempPath, written atomically; the path, also when
    // nothing could be decoded or written.
    static String blobFromBase64(StringView base64);
    // The Base64 text of the bytes at a blob path, a path or file URL inside
    // the sandbox roots or the bundle, or an http(s) URL (a 2xx answer); ""
    // for anything else, or when nothing can be read or the content is
    // longer than QNDataLayerServices::maximumBlobLength().
    static String blobToBase64(StringView pathOrURL);
    // http(s) URLs as they are; an existing file as its percent-encoded file
    // URL; anything else unchanged.
    static String blobToURLString(StringView text);
    // The text unchanged.
    static String getRelativeBlobFile(StringView text);
    // "qnblobdata://" + a new upper-case UUID + "." + the path extension of
    // the URL or path (cut before its first "?", a URL also before its "#"):
    // a file at the top of the blob folder. An extension of anything but
    // letters, digits, "-" and "_" is dropped (no dot), so the name can never
    // lead out of the folder.
    static String newBlobRelativeFilePathForURLString(StringView urlOrPath);
    // Where a blob value should be read from: for an attribute whose content
    // is kept offline, a new blob path, the blob copied to it or the URL
    // handed to the blob download service (the default one downloads before
    // returning; an application's may not); else the value's URL form, a
    // "PublicTempStorage" path resolved against the model's server.
    static String localPathOrURLString(StringView from, std::optional<StringView> attribute);
    // `qni` unchanged when `from` is empty or `qni` already names a blob;
    // else localPathOrURLString(from, attribute).
    static String localPathOrURLString(StringView from, StringView qni,
                                       std::optional<StringView> attribute);
    // The URL text of an application image, by identifier (36 characters)
    // then by name; "". Language and theme are not used.
    static String getImagePath(StringView name, StringView language = {},
                               StringView themeName = {});

    // --- SQL value lists ------------------------------------------------------
    // Quoted values have every "'" inside doubled, so no item can end the
    // literal early. The database-system argument is not used.

    // "1 = 0" for an empty collection; else prefix + the items as quoted
    // values joined with ", " + tail. Dates are their database text.
    static String toValueList(StringView dbms, const QNObjectCollection& collection,
                              StringView prefix, StringView tail);
    // "1 == 0" for an empty collection; else prefix + items joined with ", "
    // + tail: numbers bare, dates and other items quoted.
    static String toValueListForDBMS(StringView dbms, const QNObjectCollection& collection,
                                     StringView prefix, StringView tail);

    // --- JSON from string collections -----------------------------------------

    // [["code","description"],...] or, with no codes, ["description",...].
    static String stringCollectionsToJSONWithCodes(const QNObjectCollection& codes,
                                                   const QNObjectCollection& descriptions);
    static Ref<QNJSONArray> stringCollectionsToJSONArray(const QNObjectCollection& codes,
                                                         const QNObjectCollection& descriptions);

    // --- Messages and logging ---------------------------------------------------

    // One line on the console (standard error).
    static void msg(StringView text);
    // The console, then the host logger (type 0, level 5, no console echo).
    static void msgStatus(StringView text);
    static void writeLog(StringView text);
    static void writeLogln(StringView text);

    // --- Workstation name -----------------------------------------------------------

    // The stored "workstation.qn" string, else the device name.
    static String workstationName();
    // 0 for no name or when the store cannot be written, else 1.
    static std::int64_t setWorkstationName(std::optional<StringView> name);

    // --- Multi-line text ----------------------------------------------------------------
    // Lines break at line feeds (CR LF counts as one break) and, within a
    // paragraph longer than the line length, after the last blank or tab that
    // fits, else at the length; a surrogate pair is never cut. Lengths are in
    // UTF-16 code units.

    static std::int64_t qnMLines(StringView text, std::int64_t lineLength);
    // Line `lineNumber` (1-based); "" outside the lines.
    static String qnGetMLine(StringView text, std::int64_t lineNumber, std::int64_t lineLength);

    // --- Links and comparison ---------------------------------------------------------------

    static String formatLink(StringView name) { return formatLink(name, nullptr); }
    // The host's web-panel URL when it gives one; else, for an object link
    // ("sd:", "prc:", "eo:", "wbp:", "sdsynchro:"), the name with its string
    // parameters joined with "," (after a "," when the name holds "&"); "".
    static String formatLink(StringView name, const std::vector<Value>* parameters);
    static String formatLink(StringView name, const std::vector<Value>& parameters) {
        return formatLink(name, &parameters);
    }
    // `a op b`: a string against b read as a string, anything else with its
    // own ordering; a number and a non-number have none ("<>" true, the rest
    // false); "like" for a string `a` only.
    static bool dynamicCompare(const Value& a, StringView op, const Value& b);
};

// Text through Base64.
class QN_API QNPrivateUtilities {
public:
    // Standard Base64 of the UTF-8 bytes, padded, no line breaks.
    static String toBase64(StringView text);
    // Absent when the text is not strict Base64 or the bytes not UTF-8.
    static std::optional<String> fromBase64(StringView base64);
};

// UUID and object helpers.
class QN_API QNUUIDHelpers {
public:
    static String toString(const QNUUID& uuid);
    // -1, 0 or 1: the UUID's text against a string (compared ignoring ASCII
    // letter case, so a UUID equals its lower-case text) or another UUID's;
    // -1 for any other value.
    static int compare(const QNUUID& uuid, const Value& other);
    static bool qnIsEmpty(const QNUUID& uuid) noexcept;
    static bool equals(const QNUUID& uuid, const QNUUID& other) noexcept;
    // A string parsed (empty UUID when it does not parse), a UUID itself,
    // anything else the empty UUID.
    static QNUUID fromObject(const Value& value);
    static bool qnObjectIsNull(const Value& value) noexcept;
    // A string against a UUID by compare; other pairs by
    // QNBuiltins::compare's ordering (-1, 0, 1; -1 when unordered).
    static int qnCompare(const Value& receiver, const Value& other);
};

}  // namespace qn
