#include "api/Records.h"

namespace nimbo::api {

NimboMe NimboMe::fromJson(const Json& object) {
    NimboMe me;
    me.email = readString(object, "email").value_or("");
    me.name = readString(object, "name");
    me.role = readString(object, "role").value_or("");
    me.canChat = readBool(object, "canChat").value_or(false);
    me.companyId = readInteger(object, "companyId");
    return me;
}

NimboCreditBalance NimboCreditBalance::fromJson(const Json& object) {
    NimboCreditBalance balance;
    balance.companyId = readInteger(object, "companyId");
    balance.companyBalance = readCount(object, "companyBalance").value_or(0);
    balance.companyPoolExists = readBool(object, "companyPoolExists").value_or(false);
    if (const Json* user = readObject(object, "user")) {
        balance.userBalance = readCount(*user, "balance");
        balance.userLifetimeTokens = readCount(*user, "lifetimeTokens");
    }
    return balance;
}

NimboSignupResult NimboSignupResult::fromJson(const Json* object) {
    NimboSignupResult result;
    if (!object) return result;
    result.companyId = readInteger(*object, "companyId");
    result.enrollmentToken = readString(*object, "enrollmentToken");
    result.plan = readString(*object, "plan");
    result.trialExpiresAt = readString(*object, "trialExpiresAt");
    return result;
}

NimboChatResponse NimboChatResponse::fromJson(const Json& object) {
    NimboChatResponse response;
    response.reply = readString(object, "reply").value_or("");
    response.routedTo = readString(object, "routedTo").value_or("orc");
    response.node = readString(object, "node").value_or("");
    response.note = readString(object, "note");
    response.conversationId = readString(object, "conversationId");
    return response;
}

}  // namespace nimbo::api
