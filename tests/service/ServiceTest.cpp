#include "ServiceTest.h"

namespace nimbo::service_test {

Client ServiceTest::signedInAt(int port, const Account &account)
{
    Client client(port);
    EXPECT_TRUE(client.signIn(account.email, account.password)) << account.email;
    return client;
}

std::optional<int64_t> ServiceTest::queryNumber(const std::string &sql) const
{
    const auto text = queryDatabase(databaseFile(), sql);
    return text ? std::optional<int64_t>(std::stoll(*text)) : std::nullopt;
}

void ServiceTest::execute(const std::string &sql) const
{
    queryDatabase(databaseFile(), sql);
}

Json ServiceTest::signUpTrial(const std::string &email, const std::string &password)
{
    Client client(service->port());
    const Reply reply = client.post("/api/clients/signup", signupBody(email, password));
    EXPECT_EQ(reply.status, 201) << reply.body;
    return reply.json;
}

Json signupBody(const std::string &email, const std::string &password)
{
    return Json{{"companyName", "Acme"},
                {"primaryDomain", email.substr(email.find('@') + 1)},
                {"signupName", "Ada Acme"},
                {"signupEmail", email},
                {"password", password},
                {"plan", "pro_trial"},
                {"servicesRequested", Json::array({"chat"})}};
}

::testing::AssertionResult refused(const Reply &reply, int status, const std::string &error)
{
    if (reply.status != status)
        return ::testing::AssertionFailure() << "status " << reply.status << " instead of " << status << ": "
                                             << reply.body.substr(0, 200);
    if (reply.error().empty() || (!error.empty() && reply.error() != error))
        return ::testing::AssertionFailure() << "not the expected \"error\" text in: " << reply.body.substr(0, 200);
    return ::testing::AssertionSuccess();
}

int64_t balanceOf(Client &client)
{
    return client.get("/api/v1/credits/balance").json["user"]["balance"].get<int64_t>();
}

} // namespace nimbo::service_test
