// Prints what NimboApi costs over a bare libcurl request, how quickly it fails over
// when production refuses connections, and what the limited JSON parser costs over a
// plain one on the largest body the client accepts. Loopback only; bounded loops.
#include "api/NimboApi.h"
#include "platform/http/HttpClient.h"

#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

double medianMicros(int runs, const std::function<void()>& call) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        call();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

size_t discard(char*, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(size * count, ' ');
    return size * count;
}

void bareCurlGet(const std::string& url) {
    CURL* curl = curl_easy_init();
    std::string body;
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

std::string refusingBase() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

// The largest body the client accepts, made of as many sibling objects as fit:
// {"a":[{},{},...]}
std::string siblingHeavyBody() {
    std::string body = R"({"a":[{})";
    while (body.size() + 5 <= nimbo::platform::http::kMaxBodyBytes) body += ",{}";
    return body + "]}";
}

void benchJsonParsing() {
    const std::string body = siblingHeavyBody();
    constexpr int kRuns = 3;
    const double plain = medianMicros(kRuns, [&] { nlohmann::json value = nlohmann::json::parse(body); });
    const double limited = medianMicros(kRuns, [&] {
        if (!nimbo::api::parseJsonDocument(body)) std::printf("parseJsonDocument refused the body\n");
    });
    std::printf("JSON %zu bytes of siblings: parseJsonDocument median %8.0f ms, plain parse %8.0f ms (%d runs)\n",
                body.size(), limited / 1000, plain / 1000, kRuns);
    std::printf("JSON parse ratio        %8.3f (target <= 1.5)\n", limited / plain);
}
}  // namespace

int main() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    httplib::Server server;
    const std::string body = R"({"email":"demo@nimbo.test","name":"Demo","role":"member","canChat":true,"companyId":1})";
    server.Get("/api/auth/me", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    constexpr int kRuns = 400;
    nimbo::api::NimboApi direct({base});
    for (int i = 0; i < 20; ++i) {  // warm-up
        bareCurlGet(base + "/api/auth/me");
        direct.fetchMe();
    }
    const double bare = medianMicros(kRuns, [&] { bareCurlGet(base + "/api/auth/me"); });
    const double api = medianMicros(kRuns, [&] { direct.fetchMe(); });
    std::printf("bare libcurl GET        median %8.1f us (%d runs)\n", bare, kRuns);
    std::printf("NimboApi fetchMe        median %8.1f us (%d runs)\n", api, kRuns);
    std::printf("overhead ratio          %8.3f (target <= 1.15)\n", api / bare);

    nimbo::api::NimboApi failover({refusingBase(), base});
    const double viaFailover = medianMicros(kRuns, [&] { failover.fetchMe(); });
    std::printf("production refusing     median %8.1f us to the test base's answer\n", viaFailover);
    std::printf("fail-over penalty       %8.1f us over a direct request (target < 50000 us)\n", viaFailover - api);

    server.stop();
    thread.join();
    benchJsonParsing();
    return 0;
}
