// The application bundle: a read-only folder with the application's
// resources, its information dictionary (Info.plist) and its configuration
// and model files.
//
// The main bundle is the folder named by the environment variable QN_BUNDLE,
// or the one the application sets with setMainBundlePath before first use;
// without either it is the current directory. Tests point it at fresh
// folders with setMainBundlePath at any time.
//
// Thread-safe: a QNBundle is immutable once made (its information dictionary
// is read when the bundle is made); the main bundle may be replaced while
// other threads hold the previous one.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace qn {

class QN_API QNBundle {
public:
    explicit QNBundle(std::filesystem::path root);

    static std::shared_ptr<const QNBundle> mainBundle();
    static void setMainBundlePath(const std::filesystem::path& root);

    const std::filesystem::path& bundlePath() const noexcept { return root_; }

    // The path of resource `name` with extension `type` (with or without the
    // dot; empty when `name` has its extension), when such a regular file
    // exists in the bundle. A name that would leave the bundle ("..",
    // absolute paths) finds nothing.
    std::optional<std::filesystem::path> pathForResourceOfType(const std::string& name,
                                                               const std::string& type = {}) const;

    // Info.plist as a dictionary (empty when missing or unreadable; a line is
    // logged when it exists but cannot be read).
    const Dictionary& infoDictionary() const noexcept { return *info_; }
    // A key of the information dictionary; Absent when missing.
    const Value& objectForInfoDictionaryKey(StringView key) const noexcept {
        return info_->get(key);
    }

private:
    std::filesystem::path root_;
    std::shared_ptr<Dictionary> info_;
};

// Property lists (XML or binary) to and from Values: dictionaries become
// Dictionary, arrays Array, integers Int, reals Double, booleans Bool, strings
// String, dates Date, data Data.
class QN_API QNPropertyList {
public:
    // The file's root; absent (with a reason in `error` when given) when it
    // is missing, unreadable or not a property list.
    static std::optional<Value> readFile(const std::filesystem::path& path,
                                         std::string* error = nullptr);
    static std::optional<Value> parse(std::string_view bytes, std::string* error = nullptr);

    // XML property-list text of a value made of the kinds above (a Decimal
    // is written as a real, a UUID as its text, Absent and Null are left out).
    static std::string toXML(const Value& root);
    // Writes the XML form to a temporary file beside `path`, flushes it to
    // disk and renames it over `path`, so a reader sees the old file or the
    // new one, never a torn one. False (and `path` untouched) on failure.
    static bool writeFileAtomically(const std::filesystem::path& path, const Value& root,
                                    std::string* error = nullptr);
};

}  // namespace qn
