// The reference synchronization server (docs/sync-protocol.md): what the
// reference services talk to, on 127.0.0.1 only. `qn sync-server DIR` runs
// it; the tests, the benchmarks and the demo run it in-process.
//
// DIR/events/<id>.json holds each event received, its files beside it as
// <id>.<n><extension>; every file is written to a temporary name and
// renamed, and the event's JSON last, so a killed server never keeps half an
// event. An id seen before is acknowledged again and not stored twice.
// DIR/changes.json holds the change sets `changes` answers, read on every
// request so it may be edited while the server runs.
//
// Thread-safe.
#pragma once

#include <qn/value.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qnsync {

// One event as the server stored it.
struct StoredEvent {
    std::string id;
    std::string bc;
    std::string mode;
    qn::Value message;
    std::vector<std::filesystem::path> files;  // in the order the event lists them
    std::int64_t received = 0;                 // 1 for the first event the server stored, ...
};

class ReferenceServer {
public:
    // Called with the ids of a post's events once they are stored, before
    // the answer: 0 answers normally, any other value is the status to
    // answer instead. May block (the tests hold the answer back with it).
    using PostHook = std::function<int(const std::vector<std::string>& ids)>;

    explicit ReferenceServer(std::filesystem::path directory);
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    // Listens on 127.0.0.1:`port` (0: a free one) on a thread of its own;
    // the port, or 0 when it cannot listen.
    int start(int port = 0);
    // Waits for the requests in progress, then stops listening.
    void stop();
    // Blocks until stop() is called (from a signal handler's thread, say).
    void wait();

    int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>/qnsync/v1/": what the services are given.
    std::string baseURL() const;
    const std::filesystem::path& directory() const noexcept { return directory_; }

    void setPostHook(PostHook hook);

    // Every stored event, oldest first.
    std::vector<StoredEvent> storedEvents() const;
    // How often each id arrived, repeats included (this run only).
    std::map<std::string, int> deliveries() const;

    // Appends a change set (an array of tables as `changes` answers them);
    // its token is the next number. False when the file cannot be written.
    bool addChange(const qn::Value& tables);

private:
    struct Impl;
    std::filesystem::path directory_;
    int port_ = 0;
    std::unique_ptr<Impl> d_;
};

}  // namespace qnsync
