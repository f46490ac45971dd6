// The generator style of the application and class and operation lookup
// under its naming rules.
//
// Generated code comes in two styles. The default one keeps class names as
// written and selector-style operation names ("run:::"); the other lowers
// class names and names further arguments "param2:", "param3:", ... The
// style is read from the information dictionary's "QNiOSGeneratorLanguage"
// once per process.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <string>
#include <string_view>

namespace qn {

class ClassInfo;
class Dictionary;

class QN_API QNOfflineHelper {
public:
    static constexpr StringView kGeneratorLanguageKey = u"QNiOSGeneratorLanguage";
    static constexpr StringView kDefaultStyleValue = u"swift";

    // True for the default style: the key is missing or its value is exactly
    // "swift". Decided on first call; never changes afterwards.
    static bool isSwiftGenerator();

    // The registered class of `name` under the process's style (in the
    // lower-case style, of the name in lower case); null when there is none.
    static const ClassInfo* classFromString(StringView name);
    static const ClassInfo* classFromString(std::string_view name);

    // The selector-style name of an operation with `count` arguments.
    static std::string selectorFromMethodNameParametersCount(std::string_view name, int count);

    // The rules above for an explicit style and dictionary, for callers that
    // must not depend on the process-wide decision.
    static bool isSwiftGeneratorForInfoDictionary(const Dictionary& info);
    static const ClassInfo* classFromString(std::string_view name, bool swiftStyle);
    static std::string selectorFromMethodNameParametersCount(std::string_view name, int count,
                                                             bool swiftStyle);
};

}  // namespace qn
