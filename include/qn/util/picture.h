// Number formatters for pictures: how QNutil::formatNumber turns a number
// and a picture such as "ZZZ,ZZ9.99" into text in the current language.
//
// A picture describes digit positions ("9" always shown, "Z", "z" or "#"
// with leading zeros suppressed), the locale's grouping separator (",") and
// decimal separator ("."), and literal text; docs/builtins.md gives the
// whole language. The digits themselves come from ICU's number formatter,
// fed the number's exact decimal text, so a 38-digit Decimal keeps every
// digit; halves round away from zero, and a number wider than its picture is
// never cut.
//
// The formatter for a (picture, locale, flag) triple comes from a provider
// the application may replace, as a host would install its own number
// formatters. The default provider builds ICU formatters and keeps the
// recent ones per thread, since building one costs far more than using it.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <memory>
#include <optional>
#include <string_view>

namespace qn {

// Formats numbers for one picture and locale. Implementations must be
// immutable once made: one formatter may be used from several threads.
class QN_API QNNumberPictureFormatter {
public:
    virtual ~QNNumberPictureFormatter() = default;
    // The text of a number (a Value of kind Bool, Int, Double or Decimal);
    // absent when the formatter has none for it.
    virtual std::optional<String> stringFromNumber(const Value& number) const = 0;
};

// Answers the formatter for a picture. Called from any thread at once, so
// implementations must be thread-safe.
class QN_API QNNumberFormatterProvider {
public:
    virtual ~QNNumberFormatterProvider() = default;
    // The formatter for `picture` in the locale `localeId` (an ICU/POSIX
    // identifier such as "es_UY"; absent when the current language names
    // none), or null when there is none (formatNumber then writes the
    // number's description). `hasDecimals` says the number may carry
    // decimals the picture does not place.
    virtual std::shared_ptr<const QNNumberPictureFormatter>
    numberFormatterForQNPictureLocaleIdNumberHasDecimals(StringView picture,
                                                         std::optional<std::string_view> localeId,
                                                         bool hasDecimals) = 0;
};

// The provider in use. Thread-safe.
class QN_API QNNumberFormatter {
public:
    // The installed provider (never null).
    static std::shared_ptr<QNNumberFormatterProvider> provider();
    // Installs a provider; null restores the default. Returns the previous
    // one so a caller can put it back.
    static std::shared_ptr<QNNumberFormatterProvider> setProvider(
        std::shared_ptr<QNNumberFormatterProvider> provider);
    // The built-in ICU provider, for a provider that handles a few pictures
    // itself and hands the rest on.
    static std::shared_ptr<QNNumberFormatterProvider> defaultProvider();
    // The installed provider's answer.
    static std::shared_ptr<const QNNumberPictureFormatter>
    numberFormatterForQNPictureLocaleIdNumberHasDecimals(StringView picture,
                                                         std::optional<std::string_view> localeId,
                                                         bool hasDecimals);
};

}  // namespace qn
