// The reference synchronization server (see reference_server.h).
#include "reference_server.h"

#include <httplib.h>
#include <qn/core/containers.h>
#include <qn/core/json.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace qnsync {

namespace fs = std::filesystem;
using qn::Array;
using qn::Dictionary;
using qn::Value;

namespace {

// Ids and part names become file names: letters, digits, '-' and '_' only.
bool isSafeName(const std::string& name) {
    if (name.empty() || name.size() > 80) return false;
    return std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

// A file's extension kept for the stored copy when it is a plain one.
std::string safeExtension(const std::string& fileName) {
    const std::string extension = fs::path(fileName).extension().string();
    if (extension.size() < 2 || extension.size() > 10) return {};
    const bool plain = std::all_of(extension.begin() + 1, extension.end(),
                                   [](unsigned char c) { return std::isalnum(c); });
    return plain ? extension : std::string();
}

bool writeAtomically(const fs::path& path, std::string_view bytes) {
    const fs::path temporary = path.string() + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

std::string utf8(const Value& value) {
    return value.isString() ? qn::toUtf8(value.asString()) : std::string();
}

std::string json(const Value& value) {
    return qn::QNJSON::generateUtf8(value).value_or("null");
}

}  // namespace

struct ReferenceServer::Impl {
    explicit Impl(fs::path directory)
        : events(directory / "events"), changes(directory / "changes.json") {}

    const fs::path events;
    const fs::path changes;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> listenReturned{false};

    mutable std::mutex mutex;       // the files and the members below
    std::int64_t lastReceived = 0;  // the number of the last event stored
    std::map<std::string, int> deliveries;
    PostHook hook;

    std::mutex stopMutex;
    std::condition_variable stopped;
    bool stopRequested = false;

    void post(const httplib::Request& request, httplib::Response& response);
    void answerChanges(const httplib::Request& request, httplib::Response& response);
    // Every stored event in the order it arrived.
    std::vector<StoredEvent> readEvents() const;
    // Stores one event with its parts; false when it is not whole.
    bool store(const Dictionary& event, const httplib::Request& request);
};

std::vector<StoredEvent> ReferenceServer::Impl::readEvents() const {
    std::vector<StoredEvent> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(events, error)) {
        if (entry.path().extension() != ".json") continue;
        const auto text = readFile(entry.path());
        const auto value = text ? qn::QNJSON::parse(std::string_view(*text)) : std::nullopt;
        const Dictionary* event = value ? value->asDictionary() : nullptr;
        if (!event) continue;
        StoredEvent stored{utf8(event->get(u"id")),
                           utf8(event->get(u"bc")),
                           utf8(event->get(u"mode")),
                           event->get(u"message"),
                           {},
                           event->get(u"received").integerValue()};
        if (const Array* files = event->get(u"files").asArray())
            for (const Value& file : *files)
                stored.files.push_back(events / utf8(file));
        found.push_back(std::move(stored));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.received < b.received; });
    return found;
}

bool ReferenceServer::Impl::store(const Dictionary& event, const httplib::Request& request) {
    const std::string id = utf8(event.get(u"id"));
    const Array* names = event.get(u"files").asArray();
    if (!isSafeName(id) || !event.get(u"bc").isString() || !event.get(u"mode").isString() || !names)
        return false;
    const fs::path eventFile = events / (id + ".json");
    std::error_code error;
    if (fs::exists(eventFile, error)) return true;  // seen before: acknowledged, not stored again

    auto stored = qn::makeRef<Dictionary>();
    stored->set(u"received", Value(++lastReceived));
    stored->set(u"id", event.get(u"id"));
    stored->set(u"bc", event.get(u"bc"));
    stored->set(u"mode", event.get(u"mode"));
    stored->set(u"message", event.get(u"message"));
    auto storedFiles = qn::makeRef<Array>();
    std::size_t index = 0;
    for (const Value& name : *names) {
        // A file that did not come: not acknowledged.
        if (!request.has_file(utf8(name))) return false;
        const auto part = request.get_file_value(utf8(name));
        const std::string fileName =
            id + "." + std::to_string(index++) + safeExtension(part.filename);
        if (!writeAtomically(events / fileName, part.content)) return false;
        storedFiles->append(Value(qn::fromUtf8(fileName)));
    }
    stored->set(u"files", Value(storedFiles));
    // The event's own file last: it names only files already in place.
    return writeAtomically(eventFile, json(Value(stored)));
}

void ReferenceServer::Impl::post(const httplib::Request& request, httplib::Response& response) {
    const bool hasEvents = request.has_file("events");
    const auto list =
        hasEvents ? qn::QNJSON::parse(std::string_view(request.get_file_value("events").content))
                  : std::nullopt;
    const Array* eventList = list ? list->asArray() : nullptr;
    if (!eventList) {
        response.status = 400;
        response.set_content("{\"error\":\"the part events is not a JSON array\"}",
                             "application/json");
        return;
    }

    std::vector<std::string> acknowledged;
    PostHook postHook;
    {
        std::lock_guard lock(mutex);
        std::error_code error;
        fs::create_directories(events, error);
        for (const Value& entry : *eventList) {
            const Dictionary* event = entry.asDictionary();
            if (!event) continue;
            const std::string id = utf8(event->get(u"id"));
            ++deliveries[id];
            if (store(*event, request)) acknowledged.push_back(id);
        }
        postHook = hook;
    }
    if (postHook) {
        if (const int status = postHook(acknowledged); status != 0) {
            response.status = status;
            return;
        }
    }
    auto ids = qn::makeRef<Array>();
    for (const auto& id : acknowledged)
        ids->append(Value(qn::fromUtf8(id)));
    auto answer = qn::makeRef<Dictionary>();
    answer->set(u"acknowledged", Value(ids));
    response.set_content(json(Value(answer)), "application/json");
}

void ReferenceServer::Impl::answerChanges(const httplib::Request& request,
                                          httplib::Response& response) {
    const std::string since = request.get_param_value("since");
    std::optional<Value> all;
    {
        std::lock_guard lock(mutex);
        if (const auto text = readFile(changes)) all = qn::QNJSON::parse(std::string_view(*text));
    }
    const Dictionary* root = all ? all->asDictionary() : nullptr;
    const Array* sets = root ? root->get(u"changes").asArray() : nullptr;
    // Everything after the change set named `since`; all of them when the
    // token is unknown (applying a change set again changes nothing).
    std::size_t first = 0;
    if (sets && !since.empty()) {
        for (std::size_t i = 0; i < sets->size(); ++i) {
            const Dictionary* set = sets->at(i).asDictionary();
            if (set && utf8(set->get(u"token")) == since) first = i + 1;
        }
    }
    auto tables = qn::makeRef<Array>();
    Value token(qn::fromUtf8(since));
    for (std::size_t i = first; sets && i < sets->size(); ++i) {
        const Dictionary* set = sets->at(i).asDictionary();
        if (!set) continue;
        token = set->get(u"token");
        if (const Array* list = set->get(u"tables").asArray())
            for (const Value& table : *list)
                tables->append(table);
    }
    auto answer = qn::makeRef<Dictionary>();
    answer->set(u"token", token);
    answer->set(u"tables", Value(tables));
    response.set_content(json(Value(answer)), "application/json");
}

ReferenceServer::ReferenceServer(fs::path directory)
    : directory_(std::move(directory)), d_(std::make_unique<Impl>(directory_)) {
    auto& server = d_->server;
    Impl* d = d_.get();
    server.Post("/qnsync/v1/events",
                [d](const httplib::Request& request, httplib::Response& response) {
                    d->post(request, response);
                });
    server.Get("/qnsync/v1/changes",
               [d](const httplib::Request& request, httplib::Response& response) {
                   d->answerChanges(request, response);
               });
    server.Get("/qnsync/v1/status", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{\"status\":2}", "application/json");
    });
    server.set_payload_max_length(std::size_t{512} << 20);
    // Header and body go out in separate writes; without this they meet the
    // client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(1);
}

ReferenceServer::~ReferenceServer() {
    stop();
}

int ReferenceServer::start(int port) {
    std::error_code error;
    fs::create_directories(d_->events, error);
    if (error) return 0;
    {
        // Numbering goes on from the events a previous run stored.
        std::lock_guard lock(d_->mutex);
        for (const auto& event : d_->readEvents())
            d_->lastReceived = std::max(d_->lastReceived, event.received);
    }
    port_ = port == 0 ? d_->server.bind_to_any_port("127.0.0.1")
                      : (d_->server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) {
        port_ = 0;
        return 0;
    }
    d_->thread = std::thread([d = d_.get()] {
        d->server.listen_after_bind();
        d->listenReturned = true;
    });
    return port_;
}

void ReferenceServer::stop() {
    if (d_->thread.joinable()) {
        // A stop before the accept loop has started would be lost.
        while (!d_->server.is_running() && !d_->listenReturned)
            std::this_thread::yield();
        d_->server.stop();
        d_->thread.join();
    }
    std::lock_guard lock(d_->stopMutex);
    d_->stopRequested = true;
    d_->stopped.notify_all();
}

void ReferenceServer::wait() {
    std::unique_lock lock(d_->stopMutex);
    d_->stopped.wait(lock, [this] { return d_->stopRequested; });
}

std::string ReferenceServer::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/qnsync/v1/";
}

void ReferenceServer::setPostHook(PostHook hook) {
    std::lock_guard lock(d_->mutex);
    d_->hook = std::move(hook);
}

std::vector<StoredEvent> ReferenceServer::storedEvents() const {
    std::lock_guard lock(d_->mutex);
    return d_->readEvents();
}

std::map<std::string, int> ReferenceServer::deliveries() const {
    std::lock_guard lock(d_->mutex);
    return d_->deliveries;
}

bool ReferenceServer::addChange(const Value& tables) {
    std::lock_guard lock(d_->mutex);
    std::optional<Value> all;
    if (const auto text = readFile(d_->changes)) all = qn::QNJSON::parse(std::string_view(*text));
    auto root = qn::makeRef<Dictionary>();
    auto sets = qn::makeRef<Array>();
    if (const Dictionary* old = all ? all->asDictionary() : nullptr)
        if (const Array* list = old->get(u"changes").asArray())
            for (const Value& set : *list)
                sets->append(set);
    auto set = qn::makeRef<Dictionary>();
    set->set(u"token", Value(qn::fromUtf8(std::to_string(sets->size() + 1))));
    set->set(u"tables", tables);
    sets->append(Value(set));
    root->set(u"changes", Value(sets));
    std::error_code error;
    fs::create_directories(directory_, error);
    return writeAtomically(d_->changes, json(Value(root)));
}

}  // namespace qnsync
