#include "Chat.h"

#include "Accounts.h"
#include "Clock.h"
#include "Credits.h"
#include "Database.h"

namespace service {

namespace {

constexpr size_t maxMessageBytes = 32 * 1024;
constexpr size_t maxHistoryTurns = 100;
constexpr size_t maxConversationIdBytes = 64;

struct Turn {
    std::string role;
    std::string content;
};

struct ChatRequest {
    std::string message;
    std::vector<Turn> history;
    std::optional<std::string> conversationId;
};

ChatRequest readChat(const Json &body)
{
    ChatRequest chat;
    chat.message = requireString(body, "message", maxMessageBytes);
    if (trimmed(chat.message).empty())
        throw HttpError(400, "\"message\" must not be empty.");
    if (const auto mode = optionalString(body, "mode", 40); mode && *mode != "orc")
        throw HttpError(400, "Unknown chat mode.");
    if (body.contains("history")) {
        for (const Json &turn : requireArray(body, "history", maxHistoryTurns)) {
            if (!turn.is_object())
                throw HttpError(400, "Each \"history\" entry must be an object.");
            Turn read{requireString(turn, "role", 20), requireString(turn, "content", maxMessageBytes)};
            if (read.role != "user" && read.role != "assistant")
                throw HttpError(400, "A history \"role\" must be \"user\" or \"assistant\".");
            chat.history.push_back(std::move(read));
        }
    }
    chat.conversationId = optionalString(body, "conversationId", maxConversationIdBytes);
    return chat;
}

std::string plural(size_t count, const char *word)
{
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// The local responder: it echoes the message and shows that it read the history it was sent.
std::string respond(const ChatRequest &chat)
{
    std::string reply = "You said: “" + utf8Shortened(trimmed(chat.message), 200) + "” (I saw " +
                        plural(chat.history.size(), "earlier turn") + ").";
    for (auto turn = chat.history.rbegin(); turn != chat.history.rend(); ++turn) {
        if (turn->role == "user") {
            reply += " Before that you said: “" + utf8Shortened(trimmed(turn->content), 80) + "”.";
            break;
        }
    }
    return reply;
}

void requireOwnConversation(Connection &connection, const std::string &id, const User &user)
{
    auto query = connection.prepare("SELECT user_id FROM conversations WHERE id = ?");
    if (!query.bind(1, id).step() || query.integer(0) != user.id)
        throw HttpError(404, "Unknown conversation.");
}

void addTurn(Connection &connection, const std::string &conversationId, const char *role, const std::string &content,
             int64_t at)
{
    connection.prepare("INSERT INTO turns (conversation_id, role, content, created_at) VALUES (?, ?, ?, ?)")
        .bind(1, conversationId)
        .bind(2, std::string(role))
        .bind(3, content)
        .bind(4, at)
        .run();
}

int64_t storedTurns(Connection &connection, const std::string &conversationId)
{
    auto query = connection.prepare("SELECT COUNT(*) FROM turns WHERE conversation_id = ?");
    query.bind(1, conversationId).step();
    return query.integer(0);
}

void chat(Database &database, const std::string &node, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    const ChatRequest chat = readChat(requestObject(request));
    if (!user.canChat)
        throw HttpError(403, "Chat is not enabled for this account.");
    const std::string reply = respond(chat);
    const int64_t tokens = static_cast<int64_t>((chat.message.size() + reply.size() + 3) / 4);
    const std::string conversationId = chat.conversationId.value_or("conv_" + randomHex(16));
    const int64_t turns = connection->transaction([&] {
        if (chat.conversationId) {
            requireOwnConversation(*connection, conversationId, user);
        } else {
            connection->prepare("INSERT INTO conversations (id, user_id, created_at) VALUES (?, ?, ?)")
                .bind(1, conversationId)
                .bind(2, user.id)
                .bind(3, nowMs())
                .run();
        }
        chargeChatReply(*connection, user, tokens);
        const int64_t now = nowMs();
        addTurn(*connection, conversationId, "user", chat.message, now);
        addTurn(*connection, conversationId, "assistant", reply, now);
        return storedTurns(*connection, conversationId);
    });
    sendJson(response, 200,
             Json{{"reply", reply},
                  {"routedTo", "local-responder"},
                  {"node", node},
                  {"note", "Answered by the local stand-in responder; this conversation holds " +
                               plural(static_cast<size_t>(turns), "stored turn") + "."},
                  {"conversationId", conversationId}});
}

} // namespace

void addChatRoutes(Router &router, Database &database, const std::string &node)
{
    router.add("POST", "/api/chat/orc", [db = &database, node](const auto &request, auto &response, const Captures &) {
        chat(*db, node, request, response);
    });
}

} // namespace service
