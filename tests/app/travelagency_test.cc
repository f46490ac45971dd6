// The sample application (examples/travelagency) run as its users run it:
// a process of its own against the reference synchronization server on
// 127.0.0.1, on a fresh copy of the bundle. Twice (the second run finds
// the database and receives a change made on the server), and killed while
// its send waits for the server's answer (nothing is lost, and the event
// sent again is stored once), also before the server had anything.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <reference_server.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <memory>
#include <thread>

#include "net/test_server.h"
#include "support/test_support.h"

extern char** environ;

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;

namespace {

// One run of the application; its standard output is collected.
class AppProcess {
public:
    AppProcess(const fs::path& root, const std::string& serverURL) {
        const std::vector<std::string> arguments{QN_TRAVELAGENCY_APP,
                                                 "--bundle",
                                                 (root / "bundle").string(),
                                                 "--data",
                                                 (root / "data").string(),
                                                 "--server",
                                                 serverURL,
                                                 "--photo",
                                                 QN_TRAVELAGENCY_PHOTO};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        output_ = ends[0];
    }
    ~AppProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (output_ >= 0) ::close(output_);
    }
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    bool started() const noexcept { return pid_ > 0; }
    void kill9() { ::kill(pid_, SIGKILL); }

    // Reads the output to its end and waits for the process: its exit
    // status, or -1 when a signal ended it.
    int wait() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text_.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& output() const noexcept { return text_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

::testing::AssertionResult hasLine(const std::string& output, const std::string& line) {
    if (("\n" + output).find("\n" + line + "\n") != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no line \"" << line << "\" in:\n" << output;
}

// The width and height a PNG file's header gives.
std::pair<int, int> pngSize(const fs::path& file) {
    const std::string bytes = readFile(file);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    const auto big = [&bytes](std::size_t at) {
        int value = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            value = value * 256 + static_cast<unsigned char>(bytes[i]);
        return value;
    };
    return {big(16), big(20)};
}

// Accepts one connection on 127.0.0.1 and reads whatever comes without ever
// answering; says when the first bytes of a request arrived.
class SilentListener {
public:
    SilentListener() {
        fd_ = listenOnLoopback(port_);
        thread_ = std::thread([this] {
            const int connection = ::accept(fd_, nullptr, nullptr);
            if (connection < 0) return;
            char buffer[65536];
            bool first = true;
            while (::recv(connection, buffer, sizeof buffer, 0) > 0) {
                if (first) arrived_->arrive();
                first = false;
            }
            ::close(connection);
        });
    }
    ~SilentListener() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    std::string baseURL() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/qnsync/v1/";
    }
    bool waitForRequest() { return arrived_->waitFor(1); }

private:
    int fd_ = -1;
    int port_ = 0;
    std::shared_ptr<Latch> arrived_ = std::make_shared<Latch>();
    std::thread thread_;
};

class TravelAgencyTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(QN_SAMPLE_BUNDLE_DIR, dir_.path() / "bundle", fs::copy_options::recursive);
        ASSERT_GT(server_.start(), 0);
    }

    TempDir dir_;
    TempDir serverDir_;
    qnsync::ReferenceServer server_{serverDir_.path()};
};

TEST_F(TravelAgencyTest, RunsOnAFreshBundleThenOnItsDatabaseAndSynchronizesBothWays) {
    AppProcess first(dir_.path(), server_.baseURL());
    ASSERT_TRUE(first.started());
    ASSERT_EQ(first.wait(), 0) << first.output();
    const std::string& out = first.output();
    EXPECT_TRUE(hasLine(out, "Database created (result 2)"));
    EXPECT_TRUE(hasLine(out, "Welcome to TravelAgency, Ana Souza!"));
    EXPECT_TRUE(hasLine(out, "3 trips found"));
    EXPECT_TRUE(hasLine(out, "Total fare (PrcTripTotals): 2540.75"));
    EXPECT_TRUE(hasLine(out,
                        "Saved customer 1 \"Ana Souza\" through the business component "
                        "CustomerProfile: ana.souza@travel.example.com, a 48 x 32 photo"));
    EXPECT_TRUE(hasLine(out, "Pending events: 1"));
    EXPECT_TRUE(hasLine(out, "Send: result 0, pending events 0"));
    EXPECT_TRUE(hasLine(out, "Receive: result 0"));
    EXPECT_TRUE(hasLine(out, "Done"));

    auto stored = server_.storedEvents();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].bc, "CustomerProfile");
    EXPECT_EQ(stored[0].mode, "UPD");
    const Dictionary* message = stored[0].message.asDictionary();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->get(u"CustomerId").integerValue(), 1);
    EXPECT_EQ(message->get(u"CustomerEmail").asString(), u"ana.souza@travel.example.com");
    EXPECT_EQ(message->get(u"CustomerPhoto").asString(), u"<file:0>");
    ASSERT_EQ(stored[0].files.size(), 1u);
    EXPECT_EQ(pngSize(stored[0].files[0]), std::make_pair(48, 32));

    // A trip booked on the server reaches the second run, which starts
    // from the database the first one made.
    ASSERT_TRUE(server_.addChange(*QNJSON::parse(std::string_view(
        R"([{"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripDate",)"
        R"("TripFare"],"rows":[[50,1,"Booked online","2027-01-20",1180]]}])"))));
    AppProcess second(dir_.path(), server_.baseURL());
    ASSERT_EQ(second.wait(), 0) << second.output();
    EXPECT_TRUE(hasLine(second.output(), "Database found (result 0)"));
    EXPECT_TRUE(hasLine(second.output(), "3 trips found")) << "before the receive";
    EXPECT_TRUE(hasLine(second.output(), "4 trips found")) << "after it";
    EXPECT_NE(second.output().find("Booked online"), std::string::npos);
    stored = server_.storedEvents();
    EXPECT_EQ(stored.size(), 2u);
    for (const auto& [id, count] : server_.deliveries())
        EXPECT_EQ(count, 1) << id;
}

TEST_F(TravelAgencyTest, KilledWhileItsSendWaitsLosesNothingAndTheEventIsStoredOnce) {
    // The server stores the event, tells the test, and holds its answer
    // until the application is gone.
    auto arrived = std::make_shared<Latch>();
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    server_.setPostHook([arrived, released](const auto&) {
        arrived->arrive();
        released.wait();
        return 0;
    });
    {
        AppProcess killed(dir_.path(), server_.baseURL());
        ASSERT_TRUE(killed.started());
        ASSERT_TRUE(arrived->waitFor(1)) << "the send never reached the server";
        killed.kill9();
        EXPECT_EQ(killed.wait(), -1);
        EXPECT_TRUE(hasLine(killed.output(), "Pending events: 1"));
    }
    release->set_value();
    server_.setPostHook(nullptr);
    const auto stored = server_.storedEvents();
    ASSERT_EQ(stored.size(), 1u);
    const std::string first = stored[0].id;

    // The next run finds the event still pending and sends it with its own.
    AppProcess next(dir_.path(), server_.baseURL());
    ASSERT_EQ(next.wait(), 0) << next.output();
    EXPECT_TRUE(hasLine(next.output(), "Pending events: 2"));
    EXPECT_TRUE(hasLine(next.output(), "Send: result 0, pending events 0"));
    EXPECT_EQ(server_.storedEvents().size(), 2u);
    EXPECT_EQ(server_.deliveries().at(first), 2) << "sent again under the same id";
    ASSERT_EQ(server_.storedEvents()[0].files.size(), 1u);
    EXPECT_EQ(pngSize(server_.storedEvents()[0].files[0]), std::make_pair(48, 32))
        << "the first event's file survived the kill";
}

TEST_F(TravelAgencyTest, KilledBeforeTheServerHasItsEventLosesNothing) {
    {
        SilentListener silent;
        AppProcess killed(dir_.path(), silent.baseURL());
        ASSERT_TRUE(killed.started());
        ASSERT_TRUE(silent.waitForRequest()) << "the send never started";
        killed.kill9();
        EXPECT_EQ(killed.wait(), -1);
    }
    AppProcess next(dir_.path(), server_.baseURL());
    ASSERT_EQ(next.wait(), 0) << next.output();
    EXPECT_TRUE(hasLine(next.output(), "Database found (result 0)"));
    EXPECT_TRUE(hasLine(next.output(), "Pending events: 2"));
    EXPECT_TRUE(hasLine(next.output(), "Send: result 0, pending events 0"));
    const auto stored = server_.storedEvents();
    ASSERT_EQ(stored.size(), 2u);
    for (const auto& event : stored) {
        ASSERT_EQ(event.files.size(), 1u) << event.id;
        EXPECT_EQ(pngSize(event.files[0]), std::make_pair(48, 32)) << event.id;
    }
    for (const auto& [id, count] : server_.deliveries())
        EXPECT_EQ(count, 1) << id;
}

}  // namespace
