#include "ServiceTest.h"

namespace nimbo::service_test {

Client ServiceTest::signedIn(const Account &account, int port) const
{
    Client client(port ? port : service->port());
    EXPECT_TRUE(client.signIn(account.email, account.password)) << account.email;
    return client;
}

std::optional<int64_t> ServiceTest::queryNumber(const std::string &sql) const
{
    const auto text = queryDatabase(databaseFile(), sql);
    return text ? std::optional<int64_t>(std::stoll(*text)) : std::nullopt;
}

Json ServiceTest::signUpTrial(const std::string &email, const std::string &password)
{
    const Reply reply = Client(service->port()).post("/api/clients/signup", signupBody(email, password));
    EXPECT_EQ(reply.status, 201) << reply.body;
    return reply.json;
}

Json signupBody(const std::string &email, const std::string &password)
{
    return Json{{"companyName", "Acme"}, {"primaryDomain", email.substr(email.find('@') + 1)}, {"signupName", "Ada Acme"},
                {"signupEmail", email}, {"password", password}, {"plan", "pro_trial"}, {"servicesRequested", Json::array({"chat"})}};
}

::testing::AssertionResult refused(const Reply &reply, int status, const std::string &error)
{
    if (reply.status == status && !reply.error().empty() && (error.empty() || reply.error() == error))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not a " << status << " with " << (error.empty() ? "an error text" : error)
                                         << ": " << reply.status << " " << reply.body.substr(0, 200);
}

int64_t balanceOf(Client &client)
{
    return client.get("/api/v1/credits/balance").json["user"]["balance"].get<int64_t>();
}

} // namespace nimbo::service_test
