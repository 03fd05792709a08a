#pragma once

#include <filesystem>
#include <string>
#include <variant>

namespace service {

// The command line:
// nimbo-service --listen HOST:PORT --data DIR [--demo] [--fail-status CODE] [--delay-ms N]
//               [--latest-version V --store-url URL] [--deploy-step-seconds N] [--allow-remote]
struct Options {
    std::string host;
    int port = 0; // 0: any free port (the one chosen is printed at start)
    std::filesystem::path dataDir;
    bool demo = false;
    int failStatus = 0; // 0: answer normally
    int delayMs = 0;
    std::string latestVersion = NIMBO_SERVICE_VERSION;
    std::string storeUrl; // empty: this instance's own store page
    int deployStepSeconds = 5;
    bool allowRemote = false;
    bool help = false; // --help or -h: print the usage and do nothing else
};

const char *usage();

// The options, or the reason the command line is not valid.
std::variant<Options, std::string> parseOptions(int argc, const char *const *argv);

// 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(const std::string &host);

} // namespace service
