// Offline procedures, dynamic calls, online calls through the host, external
// objects.
#include <qn/collections/collection.h>
#include <qn/core/containers.h>
#include <qn/core/decimal.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/core/uuid.h>
#include <qn/data/record.h>
#include <qn/host/dispatch.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/offline_helper.h>
#include <qn/host/utilities.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "core/ascii.h"

namespace qn {

QN_REGISTER_CLASS(QNProcedure, Object)
QN_REGISTER_CLASS(QNExternalObjectBase, Object)
QN_REGISTER_CLASS(QNReport, Object)
QN_REGISTER_CLASS(QNReportText, Object)

QNCancelableOperation::~QNCancelableOperation() = default;
QNProcedureHelperOptionals::~QNProcedureHelperOptionals() = default;

namespace {

void logLine(const String& text, int level) {
    QNLog::loggerService()->logMessage(text, QNLogTypeDatabase, level, level >= QNLogLevelError);
}

// --- Submitted procedures in flight ---

struct InFlight {
    std::mutex mutex;
    std::condition_variable idle;
    std::size_t count = 0;
};

InFlight& inFlight() {
    static auto* state = new InFlight;  // submitted threads may outlive exit
    return *state;
}

// --- The host's online service ---

std::mutex& serviceMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<QNProcedureHelperOptionals>& serviceSlot() {
    static auto* slot = new std::shared_ptr<QNProcedureHelperOptionals>;
    return *slot;
}

QNError noOnlineServiceError() {
    return QNError::defaultQNErrorWithDeveloperDescription(
        u"Online procedures are not available: no online procedure service is installed.");
}

// --- External-object events ---

std::mutex& eventHandlerMutex() {
    static auto* m = new std::mutex;
    return *m;
}

QNExternalObjectBase::EventHandler& eventHandler() {
    static auto* handler = new QNExternalObjectBase::EventHandler;
    return *handler;
}

}  // namespace

// --- QNProcedure ---------------------------------------------------------------------------

std::vector<Value> QNProcedure::execute(const std::vector<Value>& parameters) {
    return QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(*this, parameters);
}

void QNProcedure::executeSubmitInternal(const std::vector<Value>& parameters) {
    // The thread is the procedure's alone: nothing it throws may end the
    // process, and its transaction ends whatever happened.
    try {
        execute(parameters);
    } catch (const FatalError& e) {
        logLine(u"Submitted procedure " + className() + u" failed: " + e.reason(), QNLogLevelError);
    } catch (const std::exception& e) {
        logLine(u"Submitted procedure " + className() + u" failed: " + fromUtf8(e.what()),
                QNLogLevelError);
    } catch (...) {
        logLine(u"Submitted procedure " + className() + u" failed with an unknown exception",
                QNLogLevelError);
    }
    try {
        QNDBManager::sharedInstance().endTransaction();
    } catch (...) {
        logLine(u"Submitted procedure " + className() + u": ending the transaction failed",
                QNLogLevelError);
    }
    // Nobody reads this thread's error list: what the work reported is logged.
    auto& errors = QNThreadErrorHandler::errorHandler();
    for (const QNError& error : errors.errors())
        logLine(u"Submitted procedure " + className() + u": " + error.developerDescription(),
                QNLogLevelError);
    errors.clear();
}

void QNProcedure::executeSubmit(std::vector<Value> parameters) {
    auto self = std::static_pointer_cast<QNProcedure>(weak_from_this().lock());
    if (!self) {
        // Nothing would keep the procedure alive on another thread.
        executeSubmitInternal(parameters);
        return;
    }
    {
        std::lock_guard lock(inFlight().mutex);
        ++inFlight().count;
    }
    try {
        std::thread([self = std::move(self), parameters = std::move(parameters)]() mutable {
            self->executeSubmitInternal(parameters);
            self.reset();  // the procedure goes before the count says it has
            {
                std::lock_guard lock(inFlight().mutex);
                --inFlight().count;
            }
            inFlight().idle.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the work is not dropped.
        {
            std::lock_guard lock(inFlight().mutex);
            --inFlight().count;
        }
        inFlight().idle.notify_all();
        executeSubmitInternal(parameters);
    }
}

std::size_t QNProcedure::submittedProceduresInFlight() noexcept {
    std::lock_guard lock(inFlight().mutex);
    return inFlight().count;
}

void QNProcedure::waitForSubmittedProcedures() {
    std::unique_lock lock(inFlight().mutex);
    inFlight().idle.wait(lock, [] { return inFlight().count == 0; });
}

// --- QNProcedureHelper -------------------------------------------------------------------

const ClassInfo* QNProcedureHelper::qnOfflineProcedureClassForProcedureName(StringView name) {
    std::string className = toUtf8(name);
    for (char& c : className)
        if (c == '.') c = '_';
    const ClassInfo* found =
        ClassRegistry::classNamed(std::string_view(internal::asciiLowercased(className)));
    return found && found->isKindOf(QNProcedure::staticClassInfo()) ? found : nullptr;
}

std::vector<Value> QNProcedureHelper::executeOfflineProcedureWithParameters(
    const ClassInfo* procedureClass, const std::vector<Value>& parameters) {
    Ref<Object> procedure = procedureClass ? procedureClass->create() : nullptr;
    if (!procedure) return parameters;
    return executeOfflineProcedureInstanceWithParameters(*procedure, parameters);
}

std::vector<Value> QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(
    Object& procedure, const std::vector<Value>& parameters) {
    const ClassInfo* procedureClass = procedure.classInfo();
    if (!procedureClass) return parameters;
    const std::string selector = QNOfflineHelper::selectorFromMethodNameParametersCount(
        kExecuteOperationName, static_cast<int>(parameters.size()));
    const MethodInfo* method = procedureClass->methodNamed(selector);
    if (!method || method->isClassMethod || !method->invoke) return parameters;

    std::vector<Value> arguments(static_cast<std::size_t>(std::max(method->arity, 0)));
    for (std::size_t i = 0; i < arguments.size() && i < parameters.size(); ++i)
        if (!parameters[i].isNull()) arguments[i] = parameters[i];
    method->invoke(&procedure, arguments);

    std::vector<Value> answer = parameters;
    for (std::size_t i = 0; i < answer.size() && i < arguments.size(); ++i)
        if (method->isOutArgument(static_cast<int>(i))) answer[i] = std::move(arguments[i]);
    return answer;
}

std::vector<Value> QNProcedureHelper::objectParameters(const std::vector<Value>& parameters) {
    std::vector<Value> objects;
    objects.reserve(parameters.size());
    for (const Value& value : parameters)
        objects.push_back(value.isUuid() ? Value(value.asUuid().uuidString()) : value);
    return objects;
}

std::vector<Value> QNProcedureHelper::convertAnswerToParameterTypes(
    const std::vector<Value>& answer, const std::vector<Value>& parameters) {
    std::vector<Value> converted = answer;
    for (std::size_t i = 0; i < converted.size() && i < parameters.size(); ++i) {
        const Ref<Object>& given = parameters[i].asObject();
        if (!given) continue;
        Value& value = converted[i];
        if (auto* collection = dynamic_cast<QNObjectCollection*>(given.get())) {
            if (dynamic_cast<QNObjectCollection*>(value.asObject().get())) continue;
            Ref<QNObjectCollection> made;
            if (auto type = collection->itemsTypeName()) {
                made = QNObjectCollection::convertSDTDataToCollectionOfType(value, *type);
            } else if (const Array* items = value.asArray()) {
                made = QNObjectCollection::initWithArray(items->items());
            }
            if (made) value = Value(std::move(made));
        } else if (dynamic_cast<QNUserType*>(given.get())) {
            if (dynamic_cast<QNUserType*>(value.asObject().get())) continue;
            // The caller's own class: a nested level's name alone does not
            // name its class.
            const ClassInfo* recordClass = given->classInfo();
            if (!recordClass) {
                auto* record = static_cast<QNUserType*>(given.get());
                const auto& levels = record->sdtLevelPathNames();
                if (!levels.empty())
                    recordClass = ClassRegistry::classNamed(
                        StringView(QNSDTDataHelper::typeNameFromSDTName(levels.back())));
            }
            Value record = QNSDTDataHelper::convertSDTDataToClass(value, recordClass);
            if (dynamic_cast<QNUserType*>(record.asObject().get())) value = std::move(record);
        }
    }
    return converted;
}

void QNProcedureHelper::setOnlineProcedureService(
    std::shared_ptr<QNProcedureHelperOptionals> service) {
    std::lock_guard lock(serviceMutex());
    serviceSlot() = std::move(service);
}

std::shared_ptr<QNProcedureHelperOptionals> QNProcedureHelper::onlineProcedureService() {
    std::lock_guard lock(serviceMutex());
    return serviceSlot();
}

QNProcedureResult QNProcedureHelper::executeOnline(
    StringView name, const std::vector<Value>& parameters,
    const std::optional<QNProcedureExecutionOptions>& options) {
    auto service = onlineProcedureService();
    if (!service) return QNProcedureResult::failure(noOnlineServiceError());
    QNProcedureResult result =
        service->executeOnlineProcedureParamsOptions(name, objectParameters(parameters), options);
    if (!result.succeeded()) return result;
    return QNProcedureResult::success(convertAnswerToParameterTypes(result.values(), parameters));
}

Ref<QNCancelableOperation> QNProcedureHelper::execute(
    StringView name, const std::vector<Value>& parameters,
    const std::optional<QNProcedureExecutionOptions>& options, Completion completion) {
    auto service = onlineProcedureService();
    if (!service) {
        // Answered later, as the host would: the caller may still be setting up.
        if (completion)
            qn_dispatch_on_background([completion = std::move(completion)] {
                completion(QNProcedureResult::failure(noOnlineServiceError()));
            });
        return nullptr;
    }
    return service->executeProcedureParamsOptionsCompletion(
        name, objectParameters(parameters), options,
        [parameters, completion = std::move(completion)](const QNProcedureResult& result) {
            if (!completion) return;
            if (!result.succeeded()) {
                completion(result);
                return;
            }
            completion(QNProcedureResult::success(
                convertAnswerToParameterTypes(result.values(), parameters)));
        });
}

// --- QNOfflineDynamicCallHelper -------------------------------------------------------------

void QNOfflineDynamicCallHelper::dynamicExecuteInternalParameters(StringView call,
                                                                  std::vector<Value>& parameters) {
    if (call.starts_with(kCallPrefix)) call.remove_prefix(kCallPrefix.size());
    String name;
    String query;
    std::vector<Value> arguments;
    if (QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(call, u"?", name, query)) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = query.find(u',', start);
            arguments.emplace_back(String(query.substr(start, comma - start)));
            if (comma == String::npos) break;
            start = comma + 1;
        }
    } else {
        name = String(call);
        arguments = parameters;
    }

    auto& errors = QNThreadErrorHandler::errorHandler();
    auto model = QNApplicationModel::currentModel();
    const QNProcedureDefinition* definition = model->procedureForName(name);
    if (!definition || definition->parameters().size() != arguments.size()) {
        errors.addErrorWithCodeDescription(0, String(kMismatchDescription));
        return;
    }
    // The name as written, in lower case (how generated procedures register),
    // then with the module dots of a qualified name; procedures only, as the
    // name may come from data.
    auto procedureClass = [](const ClassInfo* c) {
        return c && c->isKindOf(QNProcedure::staticClassInfo()) ? c : nullptr;
    };
    const ClassInfo* found = procedureClass(QNOfflineHelper::classFromString(StringView(name)));
    if (!found) {
        const std::string lower = internal::asciiLowercased(toUtf8(name));
        found = procedureClass(ClassRegistry::classNamed(std::string_view(lower)));
    }
    if (!found) found = QNProcedureHelper::qnOfflineProcedureClassForProcedureName(name);
    if (!found) errors.addErrorWithCodeDescription(0, String(kClassNotFoundDescription));

    std::vector<Value> answer =
        QNProcedureHelper::executeOfflineProcedureWithParameters(found, arguments);
    for (std::size_t i = 0; i < answer.size() && i < parameters.size(); ++i)
        parameters[i] = std::move(answer[i]);
}

std::vector<Value> QNOfflineDynamicCallHelper::dynamicExecuteSwiftParameters(
    StringView call, const std::vector<Value>& parameters) {
    std::vector<Value> copy = parameters;
    dynamicExecuteInternalParameters(call, copy);
    return copy;
}

namespace {

enum class Kind { kUuid, kInteger, kDecimal, kOther };

Kind kindOf(const Value& value) {
    if (value.isUuid()) return Kind::kUuid;
    if (value.isInt()) return Kind::kInteger;
    if (value.isDecimal()) return Kind::kDecimal;
    return Kind::kOther;
}

// The answer at a position back in the kind the caller passed; values that
// do not read as that kind are answered as they are.
Value asKind(const Value& value, Kind kind) {
    switch (kind) {
        case Kind::kUuid:
            if (value.isString())
                if (auto uuid = QNUUID::fromString(StringView(value.asString())))
                    return Value(*uuid);
            return value;
        case Kind::kInteger:
            if (value.isNumber()) return Value(value.integerValue());
            if (value.isString()) {
                const Decimal d = Decimal::fromString(StringView(value.asString()));
                if (!d.isNaN()) return Value(d.toInt64());
            }
            return value;
        case Kind::kDecimal:
            if (value.isNumber()) return Value(value.decimalValue());
            if (value.isString()) {
                const Decimal d = Decimal::fromString(StringView(value.asString()));
                if (!d.isNaN()) return Value(d);
            }
            return value;
        case Kind::kOther:
            return value;
    }
    return value;
}

}  // namespace

std::vector<Value> QNOfflineDynamicCallHelper::dynamicExecute(
    StringView call, const std::vector<Value>& parameters) {
    std::vector<Kind> kinds;
    kinds.reserve(parameters.size());
    for (const Value& value : parameters)
        kinds.push_back(kindOf(value));
    std::vector<Value> answer =
        dynamicExecuteSwiftParameters(call, QNProcedureHelper::objectParameters(parameters));
    for (std::size_t i = 0; i < answer.size() && i < kinds.size(); ++i)
        answer[i] = asKind(answer[i], kinds[i]);
    return answer;
}

// --- QNExternalObjectBase ------------------------------------------------------------------

void QNExternalObjectBase::setExternalObjectEventHandler(EventHandler handler) {
    std::lock_guard lock(eventHandlerMutex());
    eventHandler() = std::move(handler);
}

void QNExternalObjectBase::internalDispatchExteralObjectEventWithParameters(
    StringView eventName, const std::vector<Value>& parameters) {
    EventHandler handler;
    {
        std::lock_guard lock(eventHandlerMutex());
        handler = eventHandler();
    }
    if (handler) {
        handler(*this, eventName, parameters);
    } else {
        QNLog::loggerService()->logMessage(u"External object event " + String(eventName) + u" of " +
                                               className() + u" has no receiver",
                                           QNLogTypeSynchronization, QNLogLevelDebug);
    }
}

void QNExternalObjectBase::fireExternalObjectEvent(StringView eventName,
                                                   const std::vector<Value>& parameters) {
    std::vector<Value> objects = QNProcedureHelper::objectParameters(parameters);
    auto self = std::static_pointer_cast<QNExternalObjectBase>(weak_from_this().lock());
    if (!self) {
        if (qn_is_main_thread()) {
            dispatchExteralObjectEventWithParameters(eventName, objects);
        } else {
            QNLog::loggerService()->logMessage(
                u"External object event " + String(eventName) +
                    u" dropped: its object is not shared, so it cannot wait for the main queue",
                QNLogTypeSynchronization, QNLogLevelError);
        }
        return;
    }
    qn_dispatch_on_main_queue(
        [self = std::move(self), name = String(eventName), objects = std::move(objects)] {
            self->dispatchExteralObjectEventWithParameters(name, objects);
        });
}

}  // namespace qn
