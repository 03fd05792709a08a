#pragma once
// Runs the stand-in service (nimbo-service) as a child process on a free loopback
// port, for end-to-end tests.

#include <filesystem>
#include <string>
#include <vector>

namespace nimbo::test {

class ServiceProcess {
public:
    // Starts `binary --listen 127.0.0.1:<free port> --data <dataDir> <extraArgs...>` and
    // waits until it answers HTTP. Throws std::runtime_error when it does not come up.
    ServiceProcess(const std::string& binary, const std::filesystem::path& dataDir,
                   const std::vector<std::string>& extraArgs);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int pid_ = -1;
    int port_ = 0;
};

}  // namespace nimbo::test
