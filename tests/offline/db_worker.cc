// A writer process of the multi-process tests. It reads one command a line
// on standard input and answers with lines on standard output, flushed at
// once, so a test can wait for exactly the point it wants to reach (and kill
// the process there):
//
//   open PATH                 ready
//   insert FROM COUNT BATCH   committed K after each transaction of BATCH rows
//                             (K: rows of this command so far; the last is COUNT)
//   begin                     in-transaction | no-transaction
//   insert-open FROM COUNT    inserted COUNT (in the open transaction, one
//                             begun by the first row when none is)
//   insert-one N              inserted 1
//   commit                    committed K (the rows of the transaction ended)
//   report                    in-transaction | no-transaction
//   count                     rows N
//   quit, or end of input     exits 0
//
// and, for the database manager (its creation hooks are internal):
//
//   manager BUNDLE CACHES SUPPORT   ready (the main bundle and storage folders set)
//   hold-copy                 armed; the next copy of a prepared database says
//                             "holding" once half of it is written, and stops there
//   hold-commit               armed; the next reorganization says "holding" once
//                             its work is committed, before the fingerprint is stored
//   create                    created R [error TEXT] (R: the creation's result)
//
// The reorganization the manager finds here is the tests' own
// (test_reorganization.cc) with its default body.
//
// Rows go to item(id, writer, payload); writer is this process's id. Every
// non-zero status the library answers is printed before anything else as
// "status S CODE MESSAGE", once per error it added (S names the operation
// for open, begin and commit, which answer no status: they failed when they
// added an error), so a test sees each failure.
#include <qn/core/string.h>
#include <qn/host/bundle.h>
#include <qn/host/environment.h>
#include <qn/host/errors.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>
#include <qn/value.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <future>
#include <iostream>
#include <sstream>
#include <string>

#include "offline/db_manager_internal.h"
#include "offline/test_reorganization.h"

using namespace qn;

namespace {

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    // The test is gone when its end of the pipe is: nothing left to do.
    if (std::fflush(stdout) != 0) std::_Exit(3);
}

// Prints a failure of the last operation with each error it added (a
// status the library answered without an error is printed too).
void reportFailure(const std::string& status) {
    auto& errors = QNThreadErrorHandler::errorHandler();
    if (!errors.hasErrors()) say("status " + status + " - (no error)");
    for (const QNError& error : errors.errors())
        say("status " + status + " " + std::to_string(error.code()) + " " +
            toUtf8(error.developerDescription()));
    errors.clear();
}

// Operations that answer no status failed when they added an error.
bool reportErrors(const std::string& operation) {
    if (!QNThreadErrorHandler::errorHandler().hasErrors()) return false;
    reportFailure(operation);
    return true;
}

class Writer {
public:
    bool open(const std::string& path) {
        connection_ = QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
            0, u"DEFAULT", fromUtf8(path));
        if (!connection_) return false;
        connection_->connect();
        reportErrors("open");
        insert_ = connection_->commandWithSQLStatement(
            u"INSERT INTO item (id, writer, payload) VALUES (?, ?, ?)");
        return true;
    }

    // One row; true when the library answered 0.
    bool insert(std::int64_t id) {
        // Long enough that a few thousand rows outgrow SQLite's page cache.
        std::string payload = "row " + std::to_string(id) + " ";
        payload.resize(200, '.');
        insert_->setParameters(std::vector<Value>{Value(id), Value(std::int64_t{::getpid()}),
                                                  Value(fromUtf8(payload))});
        const std::uint32_t status = insert_->execute();
        if (status != QN_STATUS_OK) {
            reportFailure(std::to_string(status));
            return false;
        }
        ++pending_;
        return true;
    }

    // The rows of the transaction that ended; 0 when the commit failed.
    std::int64_t commit() {
        connection_->commit();
        const bool failed = reportErrors("commit");
        const std::int64_t committed = failed ? 0 : pending_;
        pending_ = 0;
        return committed;
    }

    bool inTransaction() const { return connection_->hasAnyOpenTransaction(); }
    void begin() {
        connection_->beginTransaction();
        reportErrors("begin");
    }

    std::int64_t count() {
        auto command = connection_->commandWithSQLStatement(u"SELECT COUNT(*) FROM item");
        const Value n = command->executeScalar();
        if (command->status() != QN_STATUS_OK) reportFailure(std::to_string(command->status()));
        return n.integerValue();
    }

    bool isOpen() const { return connection_ != nullptr; }

private:
    Ref<QNDBConnection> connection_;
    Ref<QNDBCommand> insert_;
    std::int64_t pending_ = 0;  // rows inserted in the open transaction
};

// Stops the process where the test wants to kill it: nothing after this
// point may happen.
[[noreturn]] void hold() {
    say("holding");
    for (;;)
        ::pause();
}

bool manager(std::istringstream& in) {
    std::string bundle, caches, support;
    in >> bundle >> caches >> support;
    if (support.empty()) return false;
    QNBundle::setMainBundlePath(bundle);
    auto& storage = QNObjectsModelServices::applicationStorageService();
    storage.setApplicationCachesDirectory(caches);
    storage.setApplicationSupportDirectory(support);
    QNDBManager::sharedInstance().resetDatabaseConnections();
    return true;
}

std::string create() {
    std::promise<std::string> done;
    QNDBManager::sharedInstance().createDatabaseIfNeededWithCompletionBlock(
        [&done](int result, const std::optional<QNError>& error) {
            std::string line = "created " + std::to_string(result);
            if (error) line += " error " + toUtf8(error->developerDescription());
            done.set_value(line);
        });
    return done.get_future().get();
}

}  // namespace

int main() {
    Writer writer;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "quit") break;
        if (command == "open") {
            std::string path;
            std::getline(in >> std::ws, path);
            say(writer.open(path) ? "ready" : "no-connection");
            continue;
        }
        if (command == "manager") {
            say(manager(in) ? "ready" : "usage");
            continue;
        }
        if (command == "hold-copy") {
            internal::setCreationObserver([](internal::CreationStep step, std::uint64_t done,
                                             std::uint64_t total) {
                if (step == internal::CreationStep::kCopying && done * 2 >= total && done < total)
                    hold();
            });
            say("armed");
            continue;
        }
        if (command == "hold-commit") {
            internal::setCreationObserver(
                [](internal::CreationStep step, std::uint64_t, std::uint64_t) {
                    if (step == internal::CreationStep::kCommitted) hold();
                });
            say("armed");
            continue;
        }
        if (command == "create") {
            say(create());
            continue;
        }
        if (!writer.isOpen()) {
            say("not-open");
            continue;
        }
        if (command == "insert") {
            std::int64_t from = 0, count = 0, batch = 0;
            in >> from >> count >> batch;
            if (batch <= 0) batch = count;
            std::int64_t done = 0;
            for (std::int64_t i = 0; i < count; ++i) {
                writer.insert(from + i);
                if ((i + 1) % batch == 0 || i + 1 == count) {
                    done += writer.commit();
                    say("committed " + std::to_string(done));
                }
            }
        } else if (command == "insert-open") {
            std::int64_t from = 0, count = 0, inserted = 0;
            in >> from >> count;
            for (std::int64_t i = 0; i < count; ++i)
                inserted += writer.insert(from + i) ? 1 : 0;
            say("inserted " + std::to_string(inserted));
        } else if (command == "insert-one") {
            std::int64_t id = 0;
            in >> id;
            say(writer.insert(id) ? "inserted 1" : "inserted 0");
        } else if (command == "begin") {
            writer.begin();
            say(writer.inTransaction() ? "in-transaction" : "no-transaction");
        } else if (command == "commit") {
            say("committed " + std::to_string(writer.commit()));
        } else if (command == "report") {
            say(writer.inTransaction() ? "in-transaction" : "no-transaction");
        } else if (command == "count") {
            say("rows " + std::to_string(writer.count()));
        } else {
            say("unknown " + command);
        }
    }
    return 0;
}
