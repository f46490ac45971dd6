#include "offline/test_reorganization.h"

#include <qn/core/registry.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>
#include <qn/value.h>

#include <vector>

namespace qn::test {

std::function<void()>& reorganizationBody() {
    static std::function<void()> body;
    return body;
}

std::atomic<std::int64_t> rowsSeenByReorganization{-1};

std::int64_t countRows(QNDBConnection& connection, StringView table) {
    auto command = connection.commandWithSQLStatement(u"SELECT COUNT(*) FROM " + String(table));
    const Value n = command->executeScalar();
    command->close();
    return n.isAbsent() ? -1 : n.integerValue();
}

void defaultReorganization() {
    QNDBManager::executeInDatastoreCommandString(
        u"DEFAULT", u"CREATE TABLE fresh (id INTEGER PRIMARY KEY, note TEXT)");
    QNDBManager::executeInDatastoreCommandString(
        u"DEFAULT", u"INSERT INTO fresh (id, note) VALUES (1, 'one'), (2, 'two')");
    auto connection = QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
    rowsSeenByReorganization = connection ? countRows(*connection, u"fresh") : -1;
}

namespace {

class TestSyncReorganization : public QNProcedure {
    QN_OBJECT(TestSyncReorganization)
public:
    void executeFlexibleClient() {
        if (reorganizationBody()) {
            reorganizationBody()();
        } else {
            defaultReorganization();
        }
    }
};

}  // namespace

QN_REGISTER_CLASS_AS(
    TestSyncReorganization, "test_sync_reorg", "QNProcedure", [](ClassDefinition& c) {
        c.method("executeFlexibleClient", 0, {}, [](Object* self, std::vector<Value>&) {
            static_cast<TestSyncReorganization*>(self)->executeFlexibleClient();
            return Value();
        });
    })

}  // namespace qn::test
