#include "Options.h"

#include <charconv>
#include <optional>
#include <string_view>

#include <arpa/inet.h>

namespace service {

namespace {

std::optional<int> boundedInt(std::string_view text, int min, int max)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

// "HOST:PORT" or "[IPV6]:PORT".
bool parseListen(std::string_view text, Options &options)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto port = boundedInt(text.substr(colon + 1), 0, 65535);
    if (host.empty() || !port)
        return false;
    options.host = std::string(host);
    options.port = *port;
    return true;
}

bool isPrintableText(std::string_view text, size_t maxBytes)
{
    if (text.empty() || text.size() > maxBytes)
        return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

bool isWebUrl(std::string_view text)
{
    return isPrintableText(text, 2000) && (text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0) &&
           text.size() > text.find("//") + 2;
}

// Applies one flag with its value; the reason it is not valid otherwise.
std::optional<std::string> applyValue(std::string_view flag, std::string_view value, Options &options)
{
    if (flag == "--listen")
        return parseListen(value, options) ? std::nullopt : std::optional<std::string>("--listen wants HOST:PORT");
    if (flag == "--data") {
        options.dataDir = std::string(value);
        return value.empty() ? std::optional<std::string>("--data wants a folder") : std::nullopt;
    }
    if (flag == "--fail-status") {
        const auto status = boundedInt(value, 400, 599);
        options.failStatus = status.value_or(0);
        return status ? std::nullopt : std::optional<std::string>("--fail-status wants a status from 400 to 599");
    }
    if (flag == "--delay-ms") {
        const auto delay = boundedInt(value, 0, 60000);
        options.delayMs = delay.value_or(0);
        return delay ? std::nullopt : std::optional<std::string>("--delay-ms wants 0 to 60000");
    }
    if (flag == "--deploy-step-seconds") {
        const auto seconds = boundedInt(value, 0, 3600);
        options.deployStepSeconds = seconds.value_or(0);
        return seconds ? std::nullopt : std::optional<std::string>("--deploy-step-seconds wants 0 to 3600");
    }
    if (flag == "--latest-version") {
        options.latestVersion = std::string(value);
        return isPrintableText(value, 64) ? std::nullopt
                                          : std::optional<std::string>("--latest-version wants a version such as 1.2.0");
    }
    if (flag == "--store-url") {
        options.storeUrl = std::string(value);
        return isWebUrl(value) ? std::nullopt : std::optional<std::string>("--store-url wants an http(s) URL");
    }
    return "unknown option " + std::string(flag);
}

} // namespace

const char *usage()
{
    return "usage: nimbo-service --listen HOST:PORT --data DIR [options]\n"
           "  --listen HOST:PORT         address to serve on (port 0: any free port, printed at start)\n"
           "  --data DIR                 data folder (database and models/), created owner-only\n"
           "  --demo                     create the demo company and its four accounts when absent\n"
           "  --fail-status CODE         answer every request with CODE (400-599)\n"
           "  --delay-ms N               hold every answer back N ms (0-60000)\n"
           "  --latest-version V         version offered by /api/agent/latest-version\n"
           "  --store-url URL            store page offered with it (http or https)\n"
           "  --deploy-step-seconds N    length of each deploy step (0-3600, default 5)\n"
           "  --allow-remote             allow a HOST that is not a loopback address\n"
           "  --help, -h                 print this text\n";
}

std::variant<Options, std::string> parseOptions(int argc, const char *const *argv)
{
    Options options;
    bool listenGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            options.help = true;
            return options;
        }
        if (flag == "--demo") {
            options.demo = true;
            continue;
        }
        if (flag == "--allow-remote") {
            options.allowRemote = true;
            continue;
        }
        if (i + 1 >= argc)
            return "missing value for " + std::string(flag);
        if (auto problem = applyValue(flag, argv[++i], options))
            return *problem;
        listenGiven = listenGiven || flag == "--listen";
    }
    if (!listenGiven)
        return std::string("--listen is required");
    if (options.dataDir.empty())
        return std::string("--data is required");
    if (!options.allowRemote && !isLoopbackHost(options.host))
        return "refusing to listen on " + options.host + ", which is not a loopback address (add --allow-remote)";
    return options;
}

bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

} // namespace service
