#include "ScriptedServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nimbo::test {

std::string RecordedRequest::header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

ScriptedServer::ScriptedServer() : server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(64); };
    server_->set_payload_max_length(64u * 1024u * 1024u);
    auto route = [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest recorded;
        recorded.method = req.method;
        recorded.target = req.target;
        recorded.path = req.path;
        recorded.body = req.body;
        for (const auto& [name, value] : req.headers) {
            std::string lower = name;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            recorded.headers.emplace(lower, value);
        }
        const ScriptedResponse scripted = answer(recorded);
        sleepUnlessStopping(scripted.delay);
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
    for (auto* method : {"GET", "POST", "PUT", "DELETE", "PATCH"}) {
        const std::string m = method;
        if (m == "GET") server_->Get(".*", route);
        if (m == "POST") server_->Post(".*", route);
        if (m == "PUT") server_->Put(".*", route);
        if (m == "DELETE") server_->Delete(".*", route);
        if (m == "PATCH") server_->Patch(".*", route);
    }
    port_ = server_->bind_to_any_port("127.0.0.1");
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
    fallback_ = std::make_unique<ScriptedResponse>(std::move(response));
}

void ScriptedServer::reset() {
    std::lock_guard lock(mutex_);
    rules_.clear();
    fallback_.reset();
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
    std::unique_ptr<ScriptedResponse> fallback;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        const auto it = rules_.find(request.method + " " + request.path);
        if (it != rules_.end()) handler = it->second;
        else if (fallback_) fallback = std::make_unique<ScriptedResponse>(*fallback_);
    }
    changed_.notify_all();
    if (handler) return handler(request);
    if (fallback) return *fallback;
    return ScriptedResponse{404, R"({"error":"not scripted"})"};
}

void ScriptedServer::sleepUnlessStopping(std::chrono::milliseconds delay) {
    if (delay.count() <= 0) return;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, delay, [&] { return stopping_; });
}

namespace {
int bindLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    port = ntohs(addr.sin_port);
    return fd;
}
}  // namespace

int freeLoopbackPort() {
    int port = 0;
    ::close(bindLoopback(port));
    return port;
}

std::string refusingBase() { return "http://127.0.0.1:" + std::to_string(freeLoopbackPort()); }

ResettingServer::ResettingServer() {
    listenFd_ = bindLoopback(port_);
    ::listen(listenFd_, 16);
    thread_ = std::thread([fd = listenFd_] {
        for (;;) {
            const int client = ::accept(fd, nullptr, nullptr);
            if (client < 0) return;
            char buffer[4096];
            (void)::recv(client, buffer, sizeof buffer, 0);
            linger hard{1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(client);
        }
    });
}

ResettingServer::~ResettingServer() {
    ::shutdown(listenFd_, SHUT_RDWR);
    ::close(listenFd_);
    if (thread_.joinable()) thread_.join();
}

std::string ResettingServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace nimbo::test
