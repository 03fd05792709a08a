#pragma once

#include "ServiceDriver.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

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

// One instance with the demo accounts on a fresh data folder.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { service = std::make_unique<ServiceInstance>(data.path(), std::vector<std::string>{"--demo"}); }

    // A client of the instance on `port` (default: `service`) signed in as `account`; the test
    // fails when it cannot sign in.
    Client signedIn(const Account &account, int port = 0) const;
    std::filesystem::path databaseFile() const { return data.path() / "nimbo-service.db"; }
    // The first column of the first row of `sql`, read straight from the database file.
    std::optional<int64_t> queryNumber(const std::string &sql) const;
    // A trial company account for `email` (a domain no one has yet); fails the test otherwise.
    Json signUpTrial(const std::string &email, const std::string &password = "trial-password-1");

    TempFolder data;
    std::unique_ptr<ServiceInstance> service;
};

// The signup body with all seven keys valid for `email`.
Json signupBody(const std::string &email, const std::string &password = "trial-password-1");

// True when `reply` is a refusal with the given status and a non-empty JSON "error" text
// (that text exactly, when given).
::testing::AssertionResult refused(const Reply &reply, int status, const std::string &error = "");

// The signed-in user's own credit balance.
int64_t balanceOf(Client &client);

} // namespace nimbo::service_test
