// The host's error value, the per-thread error list and the exceptions that
// carry programming errors of generated code.
#include <qn/host/errors.h>

#include <utility>

namespace qn {

QNError::QNError(String domain, std::int64_t code, String localizedDescription,
                 String developerDescription)
    : domain_(std::move(domain)),
      code_(code),
      localizedDescription_(std::move(localizedDescription)),
      developerDescription_(std::move(developerDescription)) {}

QNError QNError::defaultQNError() {
    return QNError();
}

QNError QNError::defaultQNErrorWithDeveloperDescription(const String& description) {
    return QNError(String(kDomain), kDefaultCode, String(kDefaultDescription), description);
}

QNError QNError::defaultQNErrorWithLocalizedDescription(const String& description) {
    return QNError(String(kDomain), kDefaultCode, description);
}

QNThreadErrorHandler& QNThreadErrorHandler::errorHandler() {
    thread_local QNThreadErrorHandler handler;
    return handler;
}

void QNThreadErrorHandler::addError(QNError error) {
    errors_.push_back(std::move(error));
}

void QNThreadErrorHandler::addErrorWithCodeDescription(std::int64_t code,
                                                       const String& description) {
    errors_.emplace_back(String(QNError::kDomain), code, description);
}

void QNThreadErrorHandler::removeErrorsWithCode(std::int64_t code) {
    std::erase_if(errors_, [code](const QNError& e) { return e.code() == code; });
}

FatalError::FatalError(String name, String reason)
    : name_(std::move(name)), reason_(std::move(reason)) {
    what_ = toUtf8(name_);
    what_ += ": ";
    what_ += toUtf8(reason_);
}

InvalidArgumentException InvalidArgumentException::mustBeOverridden(std::string_view operation) {
    String reason = fromUtf8(operation);
    reason.append(u" must be overridden in a subclass.");
    return InvalidArgumentException(std::move(reason));
}

}  // namespace qn
