#pragma once
// The latest-version check. Asks the service which version of the app is the newest
// and remembers whether it is newer than the installed one; the chat screen offers
// the update. Silent: no failure is ever shown.

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace nimbo {

struct AvailableUpdate {
    std::string version;   // never empty
    std::string storeUrl;  // never empty

    bool operator==(const AvailableUpdate&) const = default;
};

class UpdateChecker {
public:
    // The one checker of the process, created on first use and never destroyed.
    static UpdateChecker& shared();

    // Starts one check on a reserved background worker (never queued behind slow
    // requests on the shared pool) and returns at once. The bases are
    // asked in order; the first usable answer decides. `completion` runs exactly once
    // on the UI thread: true when a usable answer was found and an update is then held.
    void checkOnLaunch(std::function<void(bool)> completion = {});

    // The result of the latest check that got a usable answer.
    std::optional<AvailableUpdate> available() const;

    static constexpr int kTimeoutMs = 8'000;         // per request
    static constexpr int kWaitPerBaseMs = 9'000;     // the request time-out plus one second
    static constexpr const char* kPath = "/api/agent/latest-version?app=nimbo-ios&os=ios";

    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

private:
    friend struct UpdateCheckerAccess;  // the tests of the version comparison
    UpdateChecker() = default;

    // Runs on the worker: the loop over the bases. Returns the completion's value.
    bool check();
    // One request; true when its answer was usable (and `available` updated).
    bool ask(const std::string& base, const std::string& installed);
    void store(std::optional<AvailableUpdate> update);

    // True when version `a` is strictly newer than version `b`.
    static bool isNewer(const std::string& a, const std::string& b);

    mutable std::mutex mutex_;
    std::optional<AvailableUpdate> available_;
};

}  // namespace nimbo
