// Wire formats and records of the account, credit and chat endpoints.
#include "api/NimboApi.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace nimbo;
using namespace nimbo::api;
using namespace std::chrono_literals;
using test::failureOf;
using test::ScriptedResponse;

namespace {

class Endpoints : public ::testing::Test {
protected:
    void SetUp() override { test::resetServers(); }
    test::ScriptedServer& production = test::productionServer();
    NimboApi client{{production.base(), test::testServer().base()}, 2s};

    Json lastBody() { return Json::parse(production.requests().back().body); }
};

TEST_F(Endpoints, LoginAndForgotPasswordSendTheirArgumentsUnchanged) {
    production.onAnything(ScriptedResponse{200, "not json"});
    client.login(" A@B.c ", " pw ");
    EXPECT_EQ(production.requests().back().target, "/api/auth/local-login");
    EXPECT_EQ(lastBody(), (Json{{"email", " A@B.c "}, {"password", " pw "}}));
    client.forgotPassword("x@y");
    EXPECT_EQ(production.requests().back().target, "/api/auth/forgot-password");
    EXPECT_EQ(lastBody(), (Json{{"email", "x@y"}}));
}

TEST_F(Endpoints, BalanceQueryEncoding) {
    production.onAnything(ScriptedResponse{200, "{}"});
    client.fetchCreditBalance(12, "ann+1@x.io");
    EXPECT_EQ(production.requests().back().target, "/api/v1/credits/balance?companyId=12&email=ann+1@x.io");
    client.fetchCreditBalance(std::nullopt, std::nullopt);
    EXPECT_EQ(production.requests().back().target, "/api/v1/credits/balance");
    client.fetchCreditBalance(std::nullopt, "a b&c=d\xC3\xA9");
    EXPECT_EQ(production.requests().back().target, "/api/v1/credits/balance?email=a%20b&c=d%C3%A9");
    client.fetchCreditBalance(std::nullopt, "");
    EXPECT_EQ(production.requests().back().target, "/api/v1/credits/balance?email=");
}

TEST_F(Endpoints, BalanceRecordRules) {
    production.on("GET", "/api/v1/credits/balance",
                  ScriptedResponse{200, R"({"companyId":3,"companyBalance":12.9,"companyPoolExists":true,"user":{"balance":true,"lifetimeTokens":40}})"});
    auto balance = client.fetchCreditBalance(std::nullopt, std::nullopt);
    EXPECT_EQ(balance.companyId, 3);
    EXPECT_EQ(balance.companyBalance, 12);
    EXPECT_TRUE(balance.companyPoolExists);
    EXPECT_EQ(balance.userBalance, 1);
    EXPECT_EQ(balance.userLifetimeTokens, 40);

    production.on("GET", "/api/v1/credits/balance", ScriptedResponse{200, R"({"user":null})"});
    balance = client.fetchCreditBalance(std::nullopt, std::nullopt);
    EXPECT_EQ(balance.companyBalance, 0);
    EXPECT_FALSE(balance.companyPoolExists);
    EXPECT_FALSE(balance.userBalance);
    EXPECT_FALSE(balance.userLifetimeTokens);

    production.on("GET", "/api/v1/credits/balance", ScriptedResponse{200, ""});
    const auto error = failureOf([&] { client.fetchCreditBalance(1, "a@b"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Empty);
    EXPECT_EQ(error.errorDescription(), "Empty response from /api/v1/credits/balance.");
}

TEST_F(Endpoints, UserRecordRules) {
    production.on("GET", "/api/auth/me", ScriptedResponse{200, R"({"email":"e@x","companyId":"12","canChat":1})"});
    const auto me = client.fetchMe();
    EXPECT_EQ(me.email, "e@x");
    EXPECT_FALSE(me.companyId);
    EXPECT_FALSE(me.canChat);
    EXPECT_FALSE(me.name);
    EXPECT_EQ(me.role, "");
    production.on("GET", "/api/auth/me", ScriptedResponse{200, "[]"});
    EXPECT_EQ(failureOf([&] { client.fetchMe(); }).errorDescription(), "Empty response from /api/auth/me.");
}

TEST_F(Endpoints, SignupBodyAndResults) {
    production.on("POST", "/api/clients/signup", ScriptedResponse{201, ""});
    const auto pending = client.signup("Ann", "Acme", "acme.io", "ann@acme.io", "secret-pw");
    EXPECT_TRUE(pending.ok);
    EXPECT_FALSE(pending.isTrial());
    EXPECT_FALSE(pending.companyId);
    EXPECT_EQ(lastBody(), (Json{{"companyName", "Acme"}, {"primaryDomain", "acme.io"}, {"signupName", "Ann"},
                                {"signupEmail", "ann@acme.io"}, {"password", "secret-pw"}, {"plan", "pro_trial"},
                                {"servicesRequested", Json::array({"chat"})}}));

    production.on("POST", "/api/clients/signup",
                  ScriptedResponse{200, R"({"companyId":7,"enrollmentToken":"tok","plan":"pro_trial","trialExpiresAt":"2027-01-01"})"});
    const auto trial = client.signup("Ann", "Acme", "acme.io", "ann@acme.io", "secret-pw");
    EXPECT_TRUE(trial.isTrial());
    EXPECT_EQ(trial.companyId, 7);
    EXPECT_EQ(trial.trialExpiresAt, "2027-01-01");
}

TEST_F(Endpoints, SignupRefusalsAreApiErrorsEvenFor401) {
    production.on("POST", "/api/clients/signup", ScriptedResponse{409, R"({"error":"Email already registered"})"});
    auto error = failureOf([&] { client.signup("a", "b", "c", "d", "e"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Api);
    EXPECT_EQ(error.message(), "Email already registered");
    EXPECT_EQ(error.httpStatus(), 409);
    production.on("POST", "/api/clients/signup", ScriptedResponse{409, ""});
    EXPECT_EQ(failureOf([&] { client.signup("a", "b", "c", "d", "e"); }).message(), "signup failed (409)");
    production.on("POST", "/api/clients/signup", ScriptedResponse{401, ""});
    error = failureOf([&] { client.signup("a", "b", "c", "d", "e"); });
    EXPECT_EQ(error.kind(), NimboApiError::Kind::Api);
    EXPECT_EQ(error.message(), "signup failed (401)");
}

TEST_F(Endpoints, ChatBodyAndResponse) {
    production.on("POST", "/api/chat/orc", ScriptedResponse{200, R"({"reply":"hi"})"});
    const auto response = client.sendChat("hello", {{"assistant", "greeting"}, {"user", "q"}}, std::nullopt);
    const Json body = lastBody();
    EXPECT_FALSE(body.contains("conversationId"));
    EXPECT_EQ(body, (Json{{"message", "hello"}, {"mode", "orc"},
                          {"history", Json::array({Json{{"role", "assistant"}, {"content", "greeting"}},
                                                   Json{{"role", "user"}, {"content", "q"}}})}}));
    EXPECT_EQ(response.reply, "hi");
    EXPECT_EQ(response.routedTo, "orc");
    EXPECT_EQ(response.node, "");
    EXPECT_FALSE(response.note);
    EXPECT_FALSE(response.conversationId);

    client.sendChat("again", {}, std::string("c-1"));
    EXPECT_EQ(lastBody()["conversationId"], "c-1");
    EXPECT_EQ(lastBody()["history"], Json::array());

    production.on("POST", "/api/chat/orc", ScriptedResponse{200, R"({"note":"n"})"});
    EXPECT_EQ(client.sendChat("x", {}, std::nullopt).reply, "");
    production.on("POST", "/api/chat/orc", ScriptedResponse{200, ""});
    EXPECT_EQ(failureOf([&] { client.sendChat("x", {}, std::nullopt); }).errorDescription(),
              "Empty response from /api/chat/orc.");
}

}  // namespace
