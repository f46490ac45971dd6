// QNutil: the static built-in functions of generated code.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>

namespace qn {

class QN_API QNutil {
public:
    // --- Language settings -------------------------------------------------

    // The current language's name; "" when there is none.
    static String getLanguage();
    // The string value of `name` in the current language's configuration
    // entry ("time_fmt" and "date_fmt" stand for "QNTimeFormat" and
    // "QNDateFormat"); "" when missing or not a string.
    static String getLanguageProperty(StringView name);
    // Date order code of the current "QNDateFormat": YMD 1, MDY 2, DMY 3,
    // MDY4 4, DMY4 5, Y4MD 6, other 0; a missing code counts as MDY.
    static std::int64_t dateFormatForCurrentLanguage();
    // YMD and Y4MD 1, MDY and MDY4 2, DMY and DMY4 3, other 0; a missing code
    // counts as MDY.
    static std::int64_t timeFormatForCurrentLanguage();
    static std::int64_t dateTimeFormatForCurrentLanguage() {
        return timeFormatForCurrentLanguage();
    }
};

}  // namespace qn
