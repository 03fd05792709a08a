#include "Deploy.h"

#include "Accounts.h"
#include "Clock.h"
#include "Database.h"

#include <algorithm>

namespace service {

namespace {

constexpr int64_t maxTake = 20;

struct JobPlan {
    const char *name;
    std::vector<const char *> steps;
};

const std::vector<JobPlan> &workflow()
{
    static const std::vector<JobPlan> jobs = {
        {"Deploy secondary", {"Build release", "Roll out to secondary channel"}},
        {"Verify secondary", {"Health check secondary", "Smoke test secondary"}},
        {"Deploy primary", {"Roll out to primary channel"}},
        {"Re-check both", {"Health check primary", "Health check secondary"}},
    };
    return jobs;
}

int64_t totalSteps()
{
    int64_t total = 0;
    for (const JobPlan &job : workflow())
        total += static_cast<int64_t>(job.steps.size());
    return total;
}

struct Run {
    int64_t id = 0;
    std::string environment;
    int64_t dispatchedAt = 0;
    int64_t stepMs = 0;
    std::string htmlBase;

    // A run is listed one step length after its dispatch.
    int64_t visibleAt() const { return dispatchedAt + stepMs; }
};

// Status and conclusion of a unit whose steps [first, end) are compared with `done`, the
// number of steps finished so far.
Json progress(int64_t first, int64_t end, int64_t done)
{
    if (done >= end)
        return Json{{"status", "completed"}, {"conclusion", "success"}};
    return Json{{"status", done >= first ? "in_progress" : "queued"}};
}

Json runJson(const Run &run, int64_t now)
{
    const int64_t total = totalSteps();
    const int64_t done = run.stepMs == 0 ? total : std::clamp<int64_t>((now - run.visibleAt()) / run.stepMs, 0, total);
    Json jobs = Json::array();
    int64_t index = 0;
    for (const JobPlan &plan : workflow()) {
        const int64_t first = index;
        Json steps = Json::array();
        for (const char *step : plan.steps) {
            Json entry = progress(index, index + 1, done);
            entry["name"] = step;
            steps.push_back(entry);
            ++index;
        }
        Json job = progress(first, index, done);
        job["name"] = plan.name;
        job["steps"] = steps;
        jobs.push_back(job);
    }
    Json answer = progress(0, total, done);
    answer["runId"] = run.id;
    answer["environment"] = run.environment;
    answer["dispatchedAtUtc"] = isoUtc(run.dispatchedAt);
    answer["htmlUrl"] = run.htmlBase + "/api/superadmin/deploy/runs/" + std::to_string(run.id);
    answer["jobs"] = jobs;
    return answer;
}

const char *const runColumns = "id, environment, dispatched_at, step_ms, html_base";

Run readRun(const Statement &row)
{
    return Run{row.integer(0), row.text(1), row.integer(2), row.integer(3), row.text(4)};
}

void trigger(Database &database, int64_t stepMs, const std::string &baseUrl, const httplib::Request &request,
             httplib::Response &response)
{
    auto connection = database.acquire();
    const User admin = requireSuperAdmin(*connection, request);
    const std::string environment = requireString(requestObject(request), "environment", 20);
    if (environment != "test" && environment != "prod")
        throw HttpError(400, "\"environment\" must be \"test\" or \"prod\".");
    // Dispatch times are the runs' cursor ("since"): each is later than every earlier one, even
    // for two triggers within one millisecond.
    const int64_t now = connection->transaction([&] {
        auto latest = connection->prepare("SELECT COALESCE(MAX(dispatched_at), 0) FROM deploy_runs");
        latest.step();
        const int64_t at = std::max(nowMs(), latest.integer(0) + 1);
        connection->prepare("INSERT INTO deploy_runs (environment, dispatched_at, step_ms, html_base, triggered_by) "
                            "VALUES (?, ?, ?, ?, ?)")
            .bind(1, environment)
            .bind(2, at)
            .bind(3, stepMs)
            .bind(4, baseUrl)
            .bind(5, admin.id)
            .run();
        return at;
    });
    sendJson(response, 200, Json{{"triggered", true}, {"environment", environment}, {"dispatchedAtUtc", isoUtc(now)}});
}

// Runs that have appeared, dispatched at or after "since", newest first, at most "take".
void status(Database &database, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    requireSuperAdmin(*connection, request);
    int64_t since = 0;
    if (const auto text = queryParam(request, "since"); text && !text->empty()) {
        const auto parsed = parseIsoUtc(*text);
        if (!parsed)
            throw HttpError(400, "\"since\" must be a dispatchedAtUtc value.");
        since = *parsed;
    }
    const auto takeText = queryParam(request, "take");
    const int64_t take = takeText ? parseBoundedInteger(*takeText, "take", 1, maxTake) : 1;
    const int64_t now = nowMs();
    auto query = connection->prepare(std::string("SELECT ") + runColumns +
                                     " FROM deploy_runs WHERE dispatched_at >= ? AND dispatched_at + step_ms <= ? "
                                     "ORDER BY dispatched_at DESC, id DESC LIMIT ?");
    query.bind(1, since).bind(2, now).bind(3, take);
    Json runs = Json::array();
    while (query.step())
        runs.push_back(runJson(readRun(query), now));
    sendJson(response, 200, Json{{"runs", runs}});
}

void oneRun(Database &database, const httplib::Request &request, httplib::Response &response, const std::string &id)
{
    auto connection = database.acquire();
    requireSuperAdmin(*connection, request);
    const int64_t runId = parseBoundedInteger(id, "run id", 1, INT64_MAX);
    const int64_t now = nowMs();
    auto query = connection->prepare(std::string("SELECT ") + runColumns + " FROM deploy_runs WHERE id = ?");
    if (!query.bind(1, runId).step() || readRun(query).visibleAt() > now)
        throw HttpError(404, "No such deploy run.");
    sendJson(response, 200, runJson(readRun(query), now));
}

} // namespace

void addDeployRoutes(Router &router, Database &database, int stepSeconds, const std::string &baseUrl)
{
    Database *db = &database;
    const int64_t stepMs = int64_t{stepSeconds} * 1000;
    router.add("POST", "/api/superadmin/deploy", [db, stepMs, baseUrl](const auto &request, auto &response, const Captures &) {
        trigger(*db, stepMs, baseUrl, request, response);
    });
    router.add("GET", "/api/superadmin/deploy/status",
               [db](const auto &request, auto &response, const Captures &) { status(*db, request, response); });
    router.add("GET", "/api/superadmin/deploy/runs/{}", [db](const auto &request, auto &response, const Captures &id) {
        oneRun(*db, request, response, id[0]);
    });
}

} // namespace service
