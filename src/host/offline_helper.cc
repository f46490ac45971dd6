#include <qn/core/containers.h>
#include <qn/core/registry.h>
#include <qn/host/bundle.h>
#include <qn/host/offline_helper.h>

#include <cstdio>

#include "core/ascii.h"

namespace qn {

bool QNOfflineHelper::isSwiftGeneratorForInfoDictionary(const Dictionary& info) {
    const Value& style = info.get(kGeneratorLanguageKey);
    if (style.isAbsent()) return true;
    return style.isString() && style.asString() == kDefaultStyleValue;
}

bool QNOfflineHelper::isSwiftGenerator() {
    static const bool swift =
        isSwiftGeneratorForInfoDictionary(QNBundle::mainBundle()->infoDictionary());
    return swift;
}

const ClassInfo* QNOfflineHelper::classFromString(std::string_view name, bool swiftStyle) {
    if (swiftStyle) return ClassRegistry::classNamed(name);
    return ClassRegistry::classNamed(std::string_view(internal::asciiLowercased(name)));
}

const ClassInfo* QNOfflineHelper::classFromString(std::string_view name) {
    return classFromString(name, isSwiftGenerator());
}

const ClassInfo* QNOfflineHelper::classFromString(StringView name) {
    return classFromString(std::string_view(toUtf8(name)));
}

std::string QNOfflineHelper::selectorFromMethodNameParametersCount(std::string_view name, int count,
                                                                   bool swiftStyle) {
    std::string selector(name);
    if (count <= 0) return selector;
    selector += ':';
    for (int i = 2; i <= count; ++i) {
        if (swiftStyle) {
            selector += ':';
        } else {
            selector += "param" + std::to_string(i) + ":";
        }
    }
    return selector;
}

std::string QNOfflineHelper::selectorFromMethodNameParametersCount(std::string_view name,
                                                                   int count) {
    return selectorFromMethodNameParametersCount(name, count, isSwiftGenerator());
}

}  // namespace qn
