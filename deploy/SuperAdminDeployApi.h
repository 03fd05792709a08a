#pragma once
// The client of the super-admin deploy operations: who is signed in, start a deploy,
// and read the recent runs. Every call blocks its (worker) thread and never throws:
// a failure becomes an absent result or an empty list.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

struct SuperAdminMeResult {
    std::string email;
    bool isSuperAdmin = false;
};

struct DeployTriggerResult {
    bool triggered = false;
    std::string environment;
    std::string dispatchedAtUtc;  // opaque; handed back unchanged as `since`
};

struct DeployStep {
    std::string name;
    std::optional<std::string> status;
    std::optional<std::string> conclusion;
};

struct DeployJob {
    std::string name;
    std::optional<std::string> status;
    std::optional<std::string> conclusion;
    std::vector<DeployStep> steps;
};

struct DeployRun {
    std::int64_t id = 0;
    std::optional<std::string> status;
    std::optional<std::string> conclusion;
    std::string htmlUrl;
    std::vector<DeployJob> jobs;
};

class SuperAdminDeployApi {
public:
    SuperAdminDeployApi() = delete;

    // GET /api/auth/me.
    static std::optional<SuperAdminMeResult> me();
    // POST /api/superadmin/deploy with {"environment": environment}.
    static std::optional<DeployTriggerResult> trigger(const std::string& environment);
    // GET /api/superadmin/deploy/status, the newest run, or up to three dispatched at
    // or after `since` (inserted into the query as it is).
    static std::vector<DeployRun> status(const std::optional<std::string>& since);
};

}  // namespace nimbo
