#include "collections/sdt_names.h"

#include <qn/core/registry.h>
#include <qn/host/sdt_metadata.h>

#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/ascii.h"

namespace qn::internal {

namespace {

struct LibraryClasses {
    std::mutex mutex;
    std::unordered_map<String, String> byDottedName;
};

LibraryClasses& libraryClasses() {
    static LibraryClasses classes;
    return classes;
}

std::optional<String> libraryClassFor(const String& dotted) {
    auto& classes = libraryClasses();
    std::lock_guard lock(classes.mutex);
    auto it = classes.byDottedName.find(dotted);
    if (it == classes.byDottedName.end()) return std::nullopt;
    return it->second;
}

// How many times a collection SDT may lead on to its item's type: metadata
// can describe chains of any length, and a name must come back.
constexpr int kMaxCollectionSteps = 8;

String typeNameFromSDTName(StringView sdtName, int steps) {
    String dotted(sdtName);
    for (auto& c : dotted)
        if (c == u'_') c = u'.';
    std::vector<String> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = dotted.find(u'.', start);
        parts.emplace_back(dotted.substr(start, end - start));
        if (end == String::npos) break;
        start = end + 1;
    }
    const std::size_t n = parts.size();
    for (std::size_t k = 1; k <= n; ++k) {
        String candidate;
        for (std::size_t i = 0; i < n - k; ++i) {
            for (char16_t c : parts[i])
                candidate += asciiLower(c);
            candidate += u'_';
        }
        candidate += u"Sdt";
        for (std::size_t i = n - k; i < n; ++i) {
            if (i > n - k) candidate += u'_';
            candidate += parts[i];
        }
        if (ClassRegistry::classNamed(StringView(candidate))) return candidate;
    }
    // No class: a collection SDT names the type of its items.
    if (steps < kMaxCollectionSteps) {
        auto field = QNStructureDataTypeInfo::sdtFieldInfoForName(dotted);
        if (field && field->levelInfo() && field->levelInfo()->isCollection() &&
            !field->levelInfo()->collectionItemName().empty()) {
            return typeNameFromSDTName(dotted + u"." + field->levelInfo()->collectionItemName(),
                                       steps + 1);
        }
    }
    if (auto library = libraryClassFor(dotted)) return *library;
    return dotted;
}

}  // namespace

void registerLibraryClassForSDTName(StringView dottedSDTName, StringView className) {
    auto& classes = libraryClasses();
    std::lock_guard lock(classes.mutex);
    classes.byDottedName.insert_or_assign(String(dottedSDTName), String(className));
}

String typeNameFromSDTName(StringView sdtName) {
    return typeNameFromSDTName(sdtName, 0);
}

}  // namespace qn::internal
