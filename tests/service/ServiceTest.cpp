#include "ServiceTest.h"

#include <sqlite3.h>

namespace nimbo::service_test {

namespace {

// Runs `sql` on a connection of its own; the first column of the first row, if any.
std::optional<int64_t> runSql(const std::filesystem::path &file, const std::string &sql)
{
    sqlite3 *db = nullptr;
    std::optional<int64_t> value;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            if (sqlite3_step(statement) == SQLITE_ROW)
                value = sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    return value;
}

} // namespace

Client ServiceTest::signedInAt(int port, const Account &account)
{
    Client client(port);
    EXPECT_TRUE(client.signIn(account.email, account.password)) << account.email;
    return client;
}

std::optional<int64_t> ServiceTest::queryNumber(const std::string &sql) const
{
    return runSql(databaseFile(), sql);
}

void ServiceTest::execute(const std::string &sql) const
{
    runSql(databaseFile(), sql);
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

::testing::AssertionResult refused(const Reply &reply, int status)
{
    if (reply.status != status)
        return ::testing::AssertionFailure() << "status " << reply.status << " instead of " << status << ": "
                                             << reply.body.substr(0, 200);
    if (reply.error().empty())
        return ::testing::AssertionFailure() << "no JSON \"error\" text in: " << reply.body.substr(0, 200);
    return ::testing::AssertionSuccess();
}

} // namespace nimbo::service_test
