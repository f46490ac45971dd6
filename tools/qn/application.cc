// The demo's last section, the whole application: the reference
// synchronization server on a loopback port, and the sample application
// (examples/travelagency) run twice against it on a fresh copy of the
// bundle. Also `qn sync-server`, the same server on its own.

#include <qn/core/json.h>
#include <qn/host.h>
#include <qn/media/image_util.h>
#include <reference_server.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

extern char** environ;

namespace qntool {

namespace fs = std::filesystem;

namespace {

// The application's binary: $QN_TRAVELAGENCY, else the one built beside
// this tool.
fs::path applicationBinary() {
    if (const char* env = std::getenv("QN_TRAVELAGENCY"); env != nullptr && *env != '\0')
        return env;
#ifdef QN_TRAVELAGENCY_APP
    return QN_TRAVELAGENCY_APP;
#else
    return {};
#endif
}

// Runs the program and collects its standard output; its exit status, or
// -1 when it could not be started or ended by a signal.
int run(const std::vector<std::string>& arguments, std::string& output) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        return -1;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void indented(std::ostream& out, const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        out << "     | " << line << "\n";
}

}  // namespace

void showApplication(std::ostream& out) {
    const fs::path binary = applicationBinary();
    std::error_code error;
    if (binary.empty() || !fs::exists(binary, error)) {
        out << "   the application is not built here (set QN_TRAVELAGENCY): skipped\n";
        return;
    }
    const auto& storage = qn::QNObjectsModelServices::applicationStorageService();
    const fs::path root = storage.temporaryDirectory() / "application";
    fs::remove_all(root, error);
    fs::create_directories(root, error);
    fs::copy(qn::QNBundle::mainBundle()->bundlePath(), root / "bundle", fs::copy_options::recursive,
             error);
    // The photo it attaches: $QN_TRAVELAGENCY_PHOTO, else the sample's.
    const char* photoVariable = std::getenv("QN_TRAVELAGENCY_PHOTO");
    const fs::path photo = photoVariable != nullptr && *photoVariable != '\0'
                               ? fs::path(photoVariable)
                               : fs::path(QN_TRAVELAGENCY_PHOTO);

    qnsync::ReferenceServer server(root / "server");
    if (server.start() == 0) {
        out << "   the reference server could not listen on 127.0.0.1\n";
        return;
    }
    out << "   reference synchronization server: " << server.baseURL() << "\n";
    const std::vector<std::string> arguments{binary.string(),
                                             "--bundle",
                                             (root / "bundle").string(),
                                             "--data",
                                             (root / "data").string(),
                                             "--server",
                                             server.baseURL(),
                                             "--photo",
                                             photo.string()};

    std::string first;
    const int firstResult = run(arguments, first);
    out << "   first run (a fresh copy of the bundle), exit status " << firstResult << ":\n";
    indented(out, first);

    out << "   the server stored:\n";
    for (const auto& event : server.storedEvents()) {
        out << "     event " << event.id << ": " << event.bc << " " << event.mode;
        if (const qn::Dictionary* message = event.message.asDictionary())
            out << ", CustomerId " << qn::toUtf8(message->get(u"CustomerId").description())
                << ", CustomerEmail " << qn::toUtf8(message->get(u"CustomerEmail").description());
        out << "\n";
        for (const auto& file : event.files) {
            const qn::String path = qn::fromUtf8(file.string());
            out << "       file " << file.filename().string() << ": " << fs::file_size(file, error)
                << " bytes, " << qn::QNImageUtil::getImageWidth(path) << " x "
                << qn::QNImageUtil::getImageHeight(path) << " pixels\n";
        }
    }

    // A change made on the server: a trip booked there for the same customer.
    const auto change = qn::QNJSON::parse(std::string_view(
        R"j([{"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripDate",)j"
        R"j("TripFare"],"rows":[[50,1,"Buenos Aires - Lisbon (booked online)","2027-01-20",)j"
        R"j(1180.00]]}])j"));
    const bool changed = change && server.addChange(*change);
    out << "   on the server: trip 50 booked for customer 1"
        << (changed ? "" : " (could not be written)") << "\n";

    std::string second;
    const int secondResult = run(arguments, second);
    out << "   second run (the existing database), exit status " << secondResult << ":\n";
    indented(out, second);
    int deliveries = 0;
    for (const auto& [id, count] : server.deliveries())
        deliveries += count;
    out << "   the server now holds " << server.storedEvents().size() << " event(s), " << deliveries
        << " delivered\n";
    server.stop();
}

int runSyncServer(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2) {
        std::cerr << "usage: qn sync-server DIR [PORT]\n";
        return 2;
    }
    const int port = args.size() == 2 ? std::atoi(args[1].c_str()) : 0;
    if (port < 0 || port > 65535) {
        std::cerr << "qn: " << args[1] << " is not a port\n";
        return 2;
    }
    // The signals that end the server are taken by this thread alone: every
    // thread the server starts inherits the mask.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    qnsync::ReferenceServer server{fs::path(args[0])};
    if (server.start(port) == 0) {
        std::cerr << "qn: cannot listen on 127.0.0.1:" << port << " or write to " << args[0]
                  << "\n";
        return 1;
    }
    std::cout << "Listening on " << server.baseURL() << ", events in "
              << (fs::path(args[0]) / "events").string() << " (Ctrl-C ends)" << std::endl;
    int signal = 0;
    sigwait(&ending, &signal);
    server.stop();
    std::cout << "Stopped\n";
    return 0;
}

}  // namespace qntool
