// Offline procedures: generated procedures derive from QNProcedure and are
// run by class (QNProcedureHelper), by name at run time
// (QNOfflineDynamicCallHelper, "prc:Name?a,b") or in the background
// (executeSubmit). A procedure's work is its "executeFlexibleClient"
// operation with one argument per parameter, found in its class's operation
// table under the generator style's selector (see QNOfflineHelper);
// out-arguments are written back into the caller's list.
//
// Generated procedures register their class under the procedure name in
// lower case ("prctriptotals"), which is how they are found by name.
//
// Procedures that run on the server are handed to the host's online service
// (QNProcedureHelperOptionals); without one every online call fails with an
// error, never with an answer.
//
// Thread-safe class operations; a procedure instance is used by one thread
// at a time.
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/errors.h>
#include <qn/value.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace qn {

// How an online procedure is run. Copies carry every value.
class QN_API QNProcedureExecutionOptions {
public:
    double procedureHttpRequestTimeout() const noexcept { return procedureHttpRequestTimeout_; }
    void setProcedureHttpRequestTimeout(double seconds) noexcept {
        procedureHttpRequestTimeout_ = seconds;
    }
    bool shouldRetryOnSecurityCheckFailure() const noexcept {
        return shouldRetryOnSecurityCheckFailure_;
    }
    void setShouldRetryOnSecurityCheckFailure(bool retry) noexcept {
        shouldRetryOnSecurityCheckFailure_ = retry;
    }
    bool shouldProcessMessagesOutput() const noexcept { return shouldProcessMessagesOutput_; }
    void setShouldProcessMessagesOutput(bool process) noexcept {
        shouldProcessMessagesOutput_ = process;
    }

private:
    double procedureHttpRequestTimeout_ = 0;
    bool shouldRetryOnSecurityCheckFailure_ = true;
    bool shouldProcessMessagesOutput_ = false;
};

// The options of a helper call: a copy shares the resolver and copies the
// execution options.
class QN_API QNProcedureHelperExecutionOptions {
public:
    const Ref<Object>& connectivitySupportResolver() const noexcept { return resolver_; }
    void setConnectivitySupportResolver(Ref<Object> resolver) { resolver_ = std::move(resolver); }
    const QNProcedureExecutionOptions& executionOptions() const noexcept { return options_; }
    void setExecutionOptions(const QNProcedureExecutionOptions& options) { options_ = options; }

private:
    Ref<Object> resolver_;
    QNProcedureExecutionOptions options_;
};

// What an online call ended with: the answer, or the error.
class QN_API QNProcedureResult {
public:
    static QNProcedureResult success(std::vector<Value> values) {
        return QNProcedureResult(std::move(values), std::nullopt);
    }
    static QNProcedureResult failure(QNError error) {
        return QNProcedureResult({}, std::move(error));
    }
    bool succeeded() const noexcept { return !error_.has_value(); }
    // The answer (empty after a failure).
    const std::vector<Value>& values() const noexcept { return values_; }
    // The error; null after a success.
    const QNError* error() const noexcept { return error_ ? &*error_ : nullptr; }

private:
    QNProcedureResult(std::vector<Value> values, std::optional<QNError> error)
        : values_(std::move(values)), error_(std::move(error)) {}
    std::vector<Value> values_;
    std::optional<QNError> error_;
};

// An online call in progress, as the host hands it back.
class QN_API QNCancelableOperation {
public:
    virtual ~QNCancelableOperation();
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

// The host's online execution. Parameters arrive converted (UUIDs as their
// text); the library converts the answer back to the caller's types.
class QN_API QNProcedureHelperOptionals {
public:
    virtual ~QNProcedureHelperOptionals();
    using Completion = std::function<void(const QNProcedureResult& result)>;
    virtual QNProcedureResult executeOnlineProcedureParamsOptions(
        StringView name, const std::vector<Value>& parameters,
        const std::optional<QNProcedureExecutionOptions>& options) = 0;
    // Calls `completion` once, on any thread; may answer null when the call
    // cannot be cancelled.
    virtual Ref<QNCancelableOperation> executeProcedureParamsOptionsCompletion(
        StringView name, const std::vector<Value>& parameters,
        const std::optional<QNProcedureExecutionOptions>& options, Completion completion) = 0;
};

class QN_API QNProcedure : public Object {
    QN_OBJECT(QNProcedure)
public:
    const Value& Qn_mode() const noexcept { return mode_; }
    void setQn_mode(Value mode) { mode_ = std::move(mode); }

    // The procedure's work with the parameters, answering them with the
    // out-arguments written back. By default its "executeFlexibleClient"
    // operation (QNProcedureHelper::executeOfflineProcedureInstanceWithParameters);
    // generated procedures may override it.
    virtual std::vector<Value> execute(const std::vector<Value>& parameters);

    // Runs executeSubmitInternal on a new thread and returns at once. The
    // thread keeps the procedure alive; a procedure not held by a Ref is run
    // on the calling thread instead.
    void executeSubmit(std::vector<Value> parameters);
    // execute, then ends the database transaction whatever happened: an
    // exception the procedure throws is caught and logged.
    void executeSubmitInternal(const std::vector<Value>& parameters);

    virtual void setCreateDataBase() {}
    virtual void cleanup() {}
    virtual void initialize() {}

    // Submitted procedures whose thread has not ended yet.
    static std::size_t submittedProceduresInFlight() noexcept;
    // Blocks until none is in flight (orderly shutdown, tests).
    static void waitForSubmittedProcedures();

private:
    Value mode_;
};

class QN_API QNProcedureHelper {
public:
    static constexpr std::string_view kExecuteOperationName = "executeFlexibleClient";

    // The procedure class of `name`: "." replaced by "_", in lower case;
    // null unless it derives from QNProcedure.
    static const ClassInfo* qnOfflineProcedureClassForProcedureName(StringView name);
    // A new instance of the class run as below; the parameters unchanged
    // when there is no class or it cannot be made.
    static std::vector<Value> executeOfflineProcedureWithParameters(
        const ClassInfo* procedureClass, const std::vector<Value>& parameters);
    // Calls the instance's "executeFlexibleClient" operation with one argument
    // per parameter (the null marker passed as absent); answers the
    // parameters with each out-argument replaced by what the operation left
    // there, or unchanged when the instance has no such operation.
    // Exceptions the procedure throws reach the caller.
    static std::vector<Value> executeOfflineProcedureInstanceWithParameters(
        Object& procedure, const std::vector<Value>& parameters);

    // Runs the procedure on the server through the host's service and
    // converts the answer back to the parameters' types.
    static QNProcedureResult executeOnline(
        StringView name, const std::vector<Value>& parameters,
        const std::optional<QNProcedureExecutionOptions>& options = std::nullopt);
    // The same, answered through `completion` (once, on any thread); answers
    // the host's cancelable operation, or null.
    using Completion = QNProcedureHelperOptionals::Completion;
    static Ref<QNCancelableOperation> execute(
        StringView name, const std::vector<Value>& parameters,
        const std::optional<QNProcedureExecutionOptions>& options, Completion completion);

    // The host's online service; null restores the default, which fails
    // every call (asynchronous failures arrive on a background thread).
    static void setOnlineProcedureService(std::shared_ptr<QNProcedureHelperOptionals> service);
    static std::shared_ptr<QNProcedureHelperOptionals> onlineProcedureService();

    // The parameters as the host and the database take them: a UUID becomes
    // its text; other values are passed unchanged.
    static std::vector<Value> objectParameters(const std::vector<Value>& parameters);
    // For each position both have: where the caller passed a collection and
    // the answer is not one, a new collection of the answer's items (of the
    // caller's item type when it names one); where it passed a structured
    // record and the answer is not one, a record of that class loaded from
    // the answer, when that works. Other values are answered as they are.
    static std::vector<Value> convertAnswerToParameterTypes(const std::vector<Value>& answer,
                                                            const std::vector<Value>& parameters);
};

// Procedures called by a name known only at run time.
class QN_API QNOfflineDynamicCallHelper {
public:
    static constexpr StringView kCallPrefix = u"prc:";
    static constexpr StringView kMismatchDescription =
        u"Dynamic call does not match with procedure definition";
    static constexpr StringView kClassNotFoundDescription =
        u"Dynamic call failed: procedure class not found";

    // "prc:" (optional), the procedure name, then optionally "?" and the
    // arguments separated by "," (strings; they replace `parameters`). The
    // model's procedure of that name must take as many parameters as there
    // are arguments; a mismatch, or no procedure class, is reported to the
    // thread's error list (code 0). The answer is copied back into
    // `parameters` position by position.
    static void dynamicExecuteInternalParameters(StringView call, std::vector<Value>& parameters);
    static std::vector<Value> dynamicExecuteSwiftParameters(StringView call,
                                                            const std::vector<Value>& parameters);
    // The same, converting the answer back to each parameter's kind (UUID,
    // 64-bit integer, decimal; others as answered).
    static std::vector<Value> dynamicExecute(StringView call, const std::vector<Value>& parameters);
};

// Generated external objects derive from this.
class QN_API QNExternalObjectBase : public Object {
    QN_OBJECT(QNExternalObjectBase)
public:
    const Value& error() const noexcept { return error_; }
    void setError(Value error) { error_ = std::move(error); }

    virtual void cancelExecution() {}
    void dispatchExteralObjectEventWithParameters(StringView eventName,
                                                  const std::vector<Value>& parameters) {
        internalDispatchExteralObjectEventWithParameters(eventName, parameters);
    }
    // What an event does: the host's handler by default (a generated
    // subclass may override); logged when none is installed.
    virtual void internalDispatchExteralObjectEventWithParameters(
        StringView eventName, const std::vector<Value>& parameters);
    // Delivers the event on the main queue and returns at once; the object
    // is kept alive until then (one not held by a Ref is delivered at once
    // when on the main thread, else dropped with a log line).
    void fireExternalObjectEvent(StringView eventName, const std::vector<Value>& parameters);

    using EventHandler = std::function<void(QNExternalObjectBase& object, StringView eventName,
                                            const std::vector<Value>& parameters)>;
    // The host's receiver of events; null removes it.
    static void setExternalObjectEventHandler(EventHandler handler);

private:
    Value error_;
};

// Plain storage for generated report objects.
class QN_API QNReport : public Object {
    QN_OBJECT(QNReport)
public:
    const Value& swiftStorageQNReport() const noexcept { return storage_; }
    void setSwiftStorageQNReport(Value storage) { storage_ = std::move(storage); }

private:
    Value storage_;
};

class QN_API QNReportText : public Object {
    QN_OBJECT(QNReportText)
public:
    const Value& swiftStorageQNReportText() const noexcept { return storage_; }
    void setSwiftStorageQNReportText(Value storage) { storage_ = std::move(storage); }

private:
    Value storage_;
};

}  // namespace qn
