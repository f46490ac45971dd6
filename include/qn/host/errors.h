// Errors that cross the host boundary, and the per-thread error list that
// parsers append to when their caller gave no message list of its own.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace qn {

// An error as the host reports it: a domain, a code and two descriptions, one
// for the user (localized) and one for the developer.
class QN_API QNError {
public:
    static constexpr StringView kDomain = u"QNErrorDomain";
    static constexpr std::int64_t kDefaultCode = -1;
    static constexpr StringView kDefaultDescription = u"An unexpected error has occurred.";

    QNError() = default;
    QNError(String domain, std::int64_t code, String localizedDescription,
            String developerDescription = {});

    // The host's generic error.
    static QNError defaultQNError();
    // A generic error with a developer description (the user sees the generic text).
    static QNError defaultQNErrorWithDeveloperDescription(const String& description);
    // A generic error whose user text is `description`.
    static QNError defaultQNErrorWithLocalizedDescription(const String& description);

    const String& domain() const noexcept { return domain_; }
    std::int64_t code() const noexcept { return code_; }
    const String& localizedDescription() const noexcept { return localizedDescription_; }
    // The developer description when there is one, else the localized one.
    const String& developerDescription() const noexcept {
        return developerDescription_.empty() ? localizedDescription_ : developerDescription_;
    }

private:
    String domain_{kDomain};
    std::int64_t code_ = kDefaultCode;
    String localizedDescription_{kDefaultDescription};
    String developerDescription_;
};

// The error list of the current thread. Each thread has its own; the list
// lives as long as its thread.
//
// Thread-compatible by construction: only its own thread reaches a list.
class QN_API QNThreadErrorHandler {
public:
    // The current thread's handler.
    static QNThreadErrorHandler& errorHandler();

    void addError(QNError error);
    void addErrorWithCodeDescription(std::int64_t code, const String& description);
    // Removes every error with that code.
    void removeErrorsWithCode(std::int64_t code);
    void clear() noexcept { errors_.clear(); }

    const std::vector<QNError>& errors() const noexcept { return errors_; }
    bool hasErrors() const noexcept { return !errors_.empty(); }
    // The most recent error, or null.
    const QNError* lastError() const noexcept {
        return errors_.empty() ? nullptr : &errors_.back();
    }

private:
    QNThreadErrorHandler() = default;
    std::vector<QNError> errors_;
};

// What the raise policy of QNUtilities::tryRecoverFatalError throws: a
// programming error of generated code, with the exception name the caller gave.
class QN_API FatalError : public std::exception {
public:
    FatalError(String name, String reason);
    const String& name() const noexcept { return name_; }
    const String& reason() const noexcept { return reason_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    String name_;
    String reason_;
    std::string what_;
};

// What an abstract operation throws when a generated subclass did not supply it:
// reason "<operation> must be overridden in a subclass.".
class QN_API InvalidArgumentException : public FatalError {
public:
    static constexpr StringView kName = u"NSInvalidArgumentException";
    explicit InvalidArgumentException(String reason)
        : FatalError(String(kName), std::move(reason)) {}
    // The exception for an abstract operation named `operation`.
    static InvalidArgumentException mustBeOverridden(std::string_view operation);
};

}  // namespace qn
