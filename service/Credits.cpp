#include "Credits.h"

#include "Accounts.h"
#include "Database.h"

namespace service {

namespace {

constexpr int64_t creditsPerReply = 1;

struct Company {
    int64_t id = 0;
    int64_t poolBalance = 0;
};

std::optional<Company> findCompany(Connection &connection, std::optional<int64_t> id)
{
    if (!id)
        return std::nullopt;
    auto query = connection.prepare("SELECT id, pool_balance FROM companies WHERE id = ?");
    if (!query.bind(1, *id).step())
        return std::nullopt;
    return Company{query.integer(0), query.integer(1)};
}

// Whose balance the request asks for: the caller, or another user of the caller's company
// named by "email". "companyId" may only name the caller's own company.
User balanceSubject(Connection &connection, const httplib::Request &request, const User &caller)
{
    if (const auto companyId = queryParam(request, "companyId")) {
        const int64_t id = parseBoundedInteger(*companyId, "companyId", INT64_MIN, INT64_MAX);
        if (!caller.companyId || id != *caller.companyId)
            throw HttpError(403, "You can only read your own company's balance.");
    }
    const auto email = queryParam(request, "email");
    if (!email)
        return caller;
    const std::string wanted = normalizedEmail(*email);
    if (wanted == caller.email)
        return caller;
    auto subject = findUserByEmail(connection, wanted);
    if (!subject || !caller.companyId || subject->companyId != caller.companyId)
        throw HttpError(403, "You can only read balances of your own company.");
    return *subject;
}

void balance(Database &database, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    const User caller = requireUser(*connection, request);
    const User subject = balanceSubject(*connection, request, caller);
    const auto company = findCompany(*connection, subject.companyId);
    sendJson(response, 200,
             Json{{"companyId", company ? Json(company->id) : Json()},
                  {"companyBalance", company ? company->poolBalance : 0},
                  {"companyPoolExists", company.has_value()},
                  {"user",
                   {{"email", subject.email},
                    {"balance", subject.balance ? Json(*subject.balance) : Json()},
                    {"lifetimeTokens", subject.lifetimeTokens}}}});
}

} // namespace

void chargeChatReply(Connection &connection, const User &user, int64_t tokens)
{
    // Read afresh: `user` was loaded before the transaction began.
    std::optional<int64_t> own;
    std::optional<int64_t> companyId;
    {
        auto current = connection.prepare("SELECT balance, company_id FROM users WHERE id = ?");
        if (!current.bind(1, user.id).step())
            throw HttpError(401, "Sign in first.");
        own = current.optionalInteger(0);
        companyId = current.optionalInteger(1);
    }
    const auto company = findCompany(connection, companyId);
    const int64_t available = own ? *own : company ? company->poolBalance : 0;
    if (available < creditsPerReply)
        throw HttpError(402, "You're out of credits for orchestrator chat — add credits on the billing page.");
    if (own)
        connection.prepare("UPDATE users SET balance = balance - ? WHERE id = ?").bind(1, creditsPerReply).bind(2, user.id).run();
    else
        connection.prepare("UPDATE companies SET pool_balance = pool_balance - ? WHERE id = ?")
            .bind(1, creditsPerReply)
            .bind(2, company->id)
            .run();
    connection.prepare("UPDATE users SET lifetime_tokens = lifetime_tokens + ? WHERE id = ?")
        .bind(1, tokens)
        .bind(2, user.id)
        .run();
}

void addCreditRoutes(Router &router, Database &database)
{
    router.add("GET", "/api/v1/credits/balance",
               [db = &database](const auto &request, auto &response, const Captures &) { balance(*db, request, response); });
}

} // namespace service
