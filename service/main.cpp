// nimbo-service: the local stand-in of the hosted Nimbo service.

#include "Accounts.h"
#include "Chat.h"
#include "Credits.h"
#include "Database.h"
#include "Deploy.h"
#include "Files.h"
#include "Http.h"
#include "Learning.h"
#include "Options.h"
#include "Schema.h"

#include <sodium.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace service;

// Creates the data folder (and its models folder) readable by the owner only.
bool prepareDataFolder(const std::filesystem::path &folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder / "models", error);
    if (error || ::chmod(folder.c_str(), 0700) != 0 || ::chmod((folder / "models").c_str(), 0700) != 0) {
        std::fprintf(stderr, "nimbo-service: cannot prepare the data folder %s\n", folder.c_str());
        return false;
    }
    return true;
}

std::string baseUrlOf(const Options &options, int port)
{
    const bool v6 = options.host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(port);
}

// Each connection holds a descriptor: the soft limit (often 1,024) is raised to what the
// server's bounds need, as far as the hard limit allows.
void raiseDescriptorLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 4096) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

// SIGINT and SIGTERM stop the server from a thread of their own: it stops accepting at once,
// requests in flight finish within a few seconds, and the database closes cleanly.
std::thread stopOnSignal(Server &server)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return std::thread([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        server.stopServing();
    });
}

int serve(const Options &options)
{
    if (!prepareDataFolder(options.dataDir))
        return 1;
    Database database(options.dataDir / databaseFileName);
    {
        auto connection = database.acquire();
        createSchema(*connection);
    }
    if (options.demo)
        ensureDemoAccounts(database);

    raiseDescriptorLimit();
    Server server;
    // SO_REUSEADDR only: the HTTP library's default also sets SO_REUSEPORT, which lets a second
    // instance bind the same port and silently take half of its connections.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                       : (server.bind_to_port(options.host, options.port) ? options.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "nimbo-service: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    server.raiseBacklog();
    Options bound = options;
    bound.port = port;
    const std::string baseUrl = baseUrlOf(options, port);
    Router router;
    addPublicRoutes(router, bound, baseUrl);
    addAccountRoutes(router, database);
    addCreditRoutes(router, database);
    addChatRoutes(router, database, baseUrl.substr(std::string("http://").size()));
    addLearningRoutes(router, database);
    addDeployRoutes(router, database, options.deployStepSeconds, baseUrl);
    configureServer(server, router, bound);

    std::thread stopper = stopOnSignal(server);
    std::printf("nimbo-service listening on %s (data %s)\n", baseUrl.c_str(), options.dataDir.c_str());
    std::fflush(stdout);
    const bool listened = server.listen_after_bind();
    if (!listened)
        std::fprintf(stderr, "nimbo-service: the server stopped unexpectedly\n");
    ::kill(::getpid(), SIGTERM); // ends the signal thread if no signal did (stays blocked otherwise)
    stopper.join();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    ::umask(077);
    auto parsed = parseOptions(argc, argv);
    if (auto *problem = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "nimbo-service: %s\n%s", problem->c_str(), usage());
        return 2;
    }
    if (std::get<Options>(parsed).help) {
        std::fputs(usage(), stdout);
        return 0;
    }
    if (sodium_init() < 0) {
        std::fprintf(stderr, "nimbo-service: libsodium cannot start\n");
        return 1;
    }
    try {
        return serve(std::get<Options>(parsed));
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "nimbo-service: %s\n", failure.what());
        return 1;
    }
}
