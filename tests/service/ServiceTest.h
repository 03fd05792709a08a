#pragma once
// The fixture of the service's tests: an instance of the real program on loopback, the demo
// accounts, and the checks the tests share.

#include "ServiceDriver.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>

namespace nimbo::service_test {

using namespace nimbo::service_driver;

struct Account {
    const char *email;
    const char *password;
};

inline constexpr Account demo{"demo@nimbo.test", "demo-password-1"};
inline constexpr Account low{"low@nimbo.test", "low-password-1"};
inline constexpr Account broke{"broke@nimbo.test", "broke-password-1"};
inline constexpr Account admin{"admin@nimbo.test", "admin-password-1"};

// The signup body with all seven keys valid for `email`.
inline Json signupBody(const std::string &email, const std::string &password = "trial-password-1")
{
    return Json{{"companyName", "Acme"}, {"primaryDomain", email.substr(email.find('@') + 1)}, {"signupName", "Ada Acme"},
                {"signupEmail", email}, {"password", password}, {"plan", "pro_trial"}, {"servicesRequested", Json::array({"chat"})}};
}

// The value of the header `name` of `reply` ("" when there is none).
inline std::string header(const Reply &reply, const char *name)
{
    const auto found = reply.headers.find(name);
    return found == reply.headers.end() ? "" : found->second;
}

// True when `reply` is a refusal with the given status and a non-empty JSON "error" text
// (that text exactly, when given).
inline ::testing::AssertionResult refused(const Reply &reply, int status, const std::string &error = "")
{
    if (reply.status == status && !reply.error().empty() && (error.empty() || reply.error() == error))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << reply.status << " " << reply.body.substr(0, 200);
}

// One instance with the demo accounts on a fresh data folder.
class ServiceTest : public ::testing::Test {
protected:
    // A client of `service` signed in as `account`; the test fails when it cannot sign in.
    Client signedIn(const Account &account) const
    {
        Client client(service->port());
        EXPECT_TRUE(client.signIn(account.email, account.password)) << account.email;
        return client;
    }

    std::filesystem::path databaseFile() const { return data.path() / "nimbo-service.db"; }

    // The first column of the first row of `sql`, read straight from the database file.
    std::optional<int64_t> queryNumber(const std::string &sql) const
    {
        const auto text = queryDatabase(databaseFile(), sql);
        return text ? std::optional<int64_t>(std::stoll(*text)) : std::nullopt;
    }

    // Posts `body` to `path` of `service` `count` times at once, each on a client of its own
    // with `cookie`; how many answers had each status.
    std::map<int, int> statusesAtOnce(int count, const std::string &cookie, const std::string &path, const Json &body) const
    {
        std::vector<std::future<int>> replies;
        for (int i = 0; i < count; ++i) {
            replies.push_back(std::async(std::launch::async, [&] {
                Client client(service->port());
                client.setCookie(cookie);
                return client.post(path, body).status;
            }));
        }
        std::map<int, int> statuses;
        for (auto &reply : replies)
            ++statuses[reply.get()];
        return statuses;
    }

    TempFolder data;
    std::unique_ptr<ServiceInstance> service = std::make_unique<ServiceInstance>(data.path());
};

} // namespace nimbo::service_test
