// The transaction of a business component and the messages it reports.
//
// Generated code writes, per business component, a record class (a
// QNSdtBusinessComponent: the data, see <qn/data/record.h>) and a
// transaction class deriving from QNBusinessComponent: the logic that loads
// the record by key, checks it and inserts, updates or deletes its row. The
// record forwards its life cycle to the transaction; the transaction fills
// its message list and says whether the last operation failed.
//
// Thread-compatible: a transaction is used by one thread at a time.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/datetime.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qn {

class QNSdtBusinessComponent;

// Messages: records of the SDT "Norvale.Common.Messages.Message" with Id,
// Type (1 is an error) and Description.
class QN_API QNMessageList : public QNObjectCollection {
    QN_OBJECT(QNMessageList)
public:
    static constexpr StringView kMessageTypeName = u"Norvale.Common.Messages_Message";
    static constexpr StringView kCannotCreateMessage =
        u"Could not create Norvale.Common.Messages_Message instance.";

    QNMessageList();

    // A new message record; Absent when no message class exists.
    Value createItemInstance() const override;
    // [description, id, type]: an empty list does nothing; a message with
    // the description and, when given, the id and the type is appended.
    void addElement(const std::vector<Value>& element);
    using QNObjectCollection::addItem;
    void addItem(StringView description, StringView id, std::int64_t type) {
        addElement({Value(description), Value(id), Value(type)});
    }
    void addItem(StringView description, std::int64_t type) {
        addElement({Value(description), Value(String()), Value(type)});
    }
    // Whether some message is an error (Type 1).
    bool hasErrorItems() const;
    // The description of the first error; "" when there is none.
    String firstErrorMessage() const;
};

// Where the changes business components make are logged for sending (the
// host's synchronization installs one). Called on the calling thread right
// before the transaction's insert, update, save (in INS or UPD mode) or
// delete, with that mode: what the log writes through the database's
// connection joins the transaction the change is made in, and is committed
// or rolled back with it.
class QN_API QNBusinessComponentChangeLog {
public:
    virtual ~QNBusinessComponentChangeLog();
    virtual void recordChange(const QNSdtBusinessComponent& record, StringView mode) = 0;

    // The installed log (null: changes are not logged).
    static std::shared_ptr<QNBusinessComponentChangeLog> installed();
    static void install(std::shared_ptr<QNBusinessComponentChangeLog> log);
};

// The base of generated transaction classes: every operation does nothing
// here (insert, update and insertOrUpdate answer false).
class QN_API QNBusinessComponent : public Object {
    QN_OBJECT(QNBusinessComponent)
public:
    QNBusinessComponent();

    // The record the transaction works on (`sdttobc`: copy the record into
    // the transaction's own fields).
    virtual void setSdtSdttobc(QNSdtBusinessComponent* sdt, bool sdttobc);
    virtual void cleanup() {}
    virtual void initialize() {}
    virtual void loadKey(const std::vector<Value>&) {}
    virtual void save() {}
    virtual bool insert() { return false; }
    virtual bool update() { return false; }
    virtual bool insertOrUpdate() { return false; }
    virtual void check() {}
    // `delete` is a keyword of the language.
    virtual void delete_() {}
    virtual void getInsDefault() {}
    // The component's name; "" here (the record then derives it from the
    // class name).
    virtual String qnBCName() const { return String(); }
    // Non-zero when the last operation failed; Absent here.
    virtual Value anyerror() const { return Value(); }

    const Ref<QNMessageList>& qn_msglist() const noexcept { return messages_; }
    void setQn_msglist(Ref<QNMessageList> messages) { messages_ = std::move(messages); }
    // INS, UPD, DLT or other text generated code sets; absent at first.
    const std::optional<String>& mode() const noexcept { return mode_; }
    void setMode(std::optional<String> mode) { mode_ = std::move(mode); }
    const std::optional<DateTime>& saveTimestamp() const noexcept { return saveTimestamp_; }
    void setSaveTimestamp(std::optional<DateTime> when) { saveTimestamp_ = when; }

    // What generated code uses: the mode ("" when absent), the messages and
    // anyerror as an integer (0 when absent).
    String Qn_mode() const { return mode_.value_or(String()); }
    void setQn_mode(StringView mode) { mode_ = String(mode); }
    String getMode() const { return Qn_mode(); }
    const Ref<QNMessageList>& getMessages() const noexcept { return messages_; }
    std::int64_t errors() const;

private:
    Ref<QNMessageList> messages_;
    std::optional<String> mode_;
    std::optional<DateTime> saveTimestamp_;
};

}  // namespace qn
