// A business component written the way the generator writes one, for the
// business-component tests: the record SdtVoyage (the SDT "Voyage": a key
// that may have no value, a title, a fare with its old value, an image, a
// blob and the mode) and its transaction Voyage_bc, which does no work of its
// own but records every call it receives and answers what the test decides.
//
// The metadata (the SDT and the business-component model) is installed in
// memory by the tests; the environment in voyage_fixture.cc makes a sample
// bundle the main bundle and gives the application's storage folders one
// home for the whole run, since the folders are fixed on first use.
#pragma once

#include <qn/bc.h>
#include <qn/data.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace bctest {

// The calls transactions received, in order; one log may be shared by the
// records of a collection so that their calls interleave as they happened.
class CallLog {
public:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// Where a transaction call ran.
struct CallContext {
    std::thread::id thread;
    bool mainThread = false;
    int priority = 0;
};

class SdtVoyage;

class Voyage_bc : public qn::QNBusinessComponent {
    QN_OBJECT(Voyage_bc)
public:
    Voyage_bc() = default;
    explicit Voyage_bc(SdtVoyage* record) : record_(record) {}

    // --- What the test decides -------------------------------------------------
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    // Prefixes this transaction's calls in the log ("b.insert").
    std::string tag;
    bool insertSucceeds = true;
    bool updateSucceeds = true;
    // What anyerror answers (Absent at first).
    qn::Value error;
    // Added to the thread's error list when an insert fails (a duplicate key
    // leaves code 19 there).
    std::vector<std::int64_t> insertFailureCodes;
    // Added to the messages (as an error) when an insert or update fails.
    std::optional<qn::String> failureMessage;
    // The mode save, insert and update leave behind, as a real transaction
    // turns INS into UPD once the row exists.
    std::optional<qn::String> modeAfterWork;
    qn::String name;  // qnBCName

    // --- What the transaction saw ----------------------------------------------
    std::vector<qn::Value> loadedKey;
    std::vector<std::int64_t> errorCodesSeenByUpdate;
    qn::String modeSeenByInsDefault;
    std::optional<CallContext> lastContext;

    void setSdtSdttobc(qn::QNSdtBusinessComponent* sdt, bool sdttobc) override;
    void cleanup() override { called("cleanup"); }
    void loadKey(const std::vector<qn::Value>& key) override;
    void save() override;
    bool insert() override;
    bool update() override;
    void check() override { called("check"); }
    void delete_() override { called("delete"); }
    void getInsDefault() override;
    qn::String qnBCName() const override { return name; }
    qn::Value anyerror() const override { return error; }

private:
    void called(const char* what);
    void leaveMode() {
        if (modeAfterWork) setQn_mode(*modeAfterWork);
    }

    SdtVoyage* record_ = nullptr;  // the record owns the transaction
};

class SdtVoyage : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtVoyage)
public:
    enum Field : std::size_t { kId, kTitle, kFare, kFareOld, kPhoto, kTicket, kMode, kCount };

    SdtVoyage();

    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;
    qn::Value objectValueForPropertyIndex(std::size_t index) const override;
    void setObjectValueForPropertyIndex(const qn::Value& value, std::size_t index) override;
    qn::Ref<qn::QNProperties> getMetadata() const override;

    // The key's short names getMetadata gives under "PK" (a JSON array).
    qn::String primaryKey = u"[\"Id\"]";

    std::optional<std::int64_t> id() const noexcept { return id_; }
    void setId(std::optional<std::int64_t> value);
    const qn::String& title() const noexcept { return title_; }
    void setTitle(qn::String value);
    std::int64_t fare() const noexcept { return fare_; }
    void setFare(std::int64_t value);
    // The fare as last read; the transaction keeps it, so no setter marks it.
    void setFareOld(std::int64_t value) { fare_Z_ = value; }
    const qn::String& photo() const noexcept { return photo_; }
    void setPhoto(qn::String value);
    const qn::Value& ticket() const noexcept { return ticket_; }
    void setTicket(qn::Value value);
    // The transaction's mode.
    qn::String mode() const { return getMode(); }
    void setMode(qn::StringView value) {
        if (transaction()) transaction()->setQn_mode(value);
    }

    // The transaction this record was made with (tests keep it even after
    // taking it away from the record).
    Voyage_bc& trn() const { return *own_; }

private:
    std::shared_ptr<Voyage_bc> own_;
    std::optional<std::int64_t> id_;
    qn::String title_;
    std::int64_t fare_ = 0;
    std::int64_t fare_Z_ = 0;
    qn::String photo_;
    qn::Value ticket_;
};

// A record of the component's level "Stop", which has no transaction.
class SdtVoyage_Stop : public qn::QNSdtBusinessComponent {
    QN_OBJECT(SdtVoyage_Stop)
public:
    const std::vector<qn::String>& sdtLevelPathNames() const override;
    const qn::QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override;
    qn::Value objectValueForPropertyName(qn::StringView fullName) const override;
    void setObjectValueForPropertyName(const qn::Value& value, qn::StringView fullName) override;

    std::int64_t stopId = 0;
    qn::String place;
};

// Installs the SDTs "Voyage" while in scope (records of the classes above
// build their property tables from it on first use).
class ScopedVoyageSDT {
public:
    ScopedVoyageSDT();
    ~ScopedVoyageSDT();
};

// Installs the business-component model "Voyage" (its key Id, Title and
// Fare read-only, the child level Stop with its key StopId) under the given
// spelling while in scope.
class ScopedVoyageModel {
public:
    explicit ScopedVoyageModel(qn::StringView spelling = u"Voyage");
    ~ScopedVoyageModel();
};

// A new record whose transaction logs into `log` under `tag`.
qn::Ref<SdtVoyage> voyage(std::optional<std::int64_t> id, const std::shared_ptr<CallLog>& log,
                          std::string tag = {});

// Records the save and delete notifications posted while in scope, from
// any thread.
class NotificationRecorder {
public:
    struct Seen {
        qn::String name;
        qn::Value object;
        qn::Ref<qn::Dictionary> userInfo;
    };
    NotificationRecorder();
    ~NotificationRecorder();
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;
    std::vector<Seen> seen() const;

private:
    mutable std::mutex mutex_;
    std::vector<Seen> seen_;
    std::vector<qn::QNNotificationCenter::Token> tokens_;
};

}  // namespace bctest
