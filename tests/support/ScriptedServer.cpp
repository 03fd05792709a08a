#include "ScriptedServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nimbo::test {
namespace {

// The library listens with a backlog of five; a burst of connections beyond it would
// wait for the client's SYN retries (1 s, 3 s, ...).
struct BurstServer : httplib::Server {
    int bindToAnyPort(const char* host) {
        const int port = bind_to_any_port(host);
        ::listen(svr_sock_, SOMAXCONN);
        return port;
    }
};

}  // namespace

ScriptedServer::ScriptedServer() : server_(std::make_unique<BurstServer>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(64); };
    server_->set_payload_max_length(64u * 1024u * 1024u);
    auto route = [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest recorded{req.method, req.target, req.path, req.body, {}, {req.params.begin(), req.params.end()}};
        for (const auto& [name, value] : req.headers) {
            std::string lower(name.size(), ' ');
            std::transform(name.begin(), name.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            recorded.headers.emplace(lower, value);
        }
        const ScriptedResponse scripted = answer(recorded);
        res.status = scripted.status;
        for (const auto& cookie : scripted.setCookies) res.headers.emplace("Set-Cookie", cookie);
        if (scripted.cutBodyMidway) {
            auto body = std::make_shared<std::string>(scripted.body);
            res.set_content_provider(body->size(), scripted.contentType,
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) sink.write(body->data(), body->size() / 2);
                                         return offset == 0;
                                     });
        } else if (!scripted.body.empty()) {
            res.set_content(scripted.body, scripted.contentType.c_str());
        }
    };
    server_->Get(".*", route).Post(".*", route).Put(".*", route).Delete(".*", route).Patch(".*", route);
    port_ = static_cast<BurstServer&>(*server_).bindToAnyPort("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() before the loop has started would be lost; wait until it runs.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ScriptedServer::~ScriptedServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string ScriptedServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

void ScriptedServer::on(const std::string& method, const std::string& path, ScriptedResponse response) {
    on(method, path, [response](const RecordedRequest&) { return response; });
}

void ScriptedServer::on(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    rules_[method + " " + path] = std::move(handler);
}

void ScriptedServer::onAnything(ScriptedResponse response) {
    std::lock_guard lock(mutex_);
    fallback_ = [response](const RecordedRequest&) { return response; };
}

void ScriptedServer::reset() {
    std::lock_guard lock(mutex_);
    rules_.clear();
    fallback_ = nullptr;
    requests_.clear();
}

std::vector<RecordedRequest> ScriptedServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t ScriptedServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool ScriptedServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

ScriptedResponse ScriptedServer::answer(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        const auto it = rules_.find(request.method + " " + request.path);
        handler = it != rules_.end() ? it->second : fallback_;
    }
    changed_.notify_all();
    ScriptedResponse response = handler ? handler(request) : ScriptedResponse{404, R"({"error":"not scripted"})"};
    std::unique_lock lock(mutex_);  // the scripted delay, cut short when the server stops
    changed_.wait_for(lock, response.delay, [&] { return stopping_; });
    return response;
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string refusingBase() { return "http://127.0.0.1:" + std::to_string(freeLoopbackPort()); }

}  // namespace nimbo::test
