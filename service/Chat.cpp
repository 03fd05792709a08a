#include "Chat.h"

#include "Accounts.h"
#include "Clock.h"
#include "Credits.h"
#include "Database.h"
#include "Idempotency.h"

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

// `text` as a Markdown block quote, line by line.
std::string blockQuote(const std::string &text)
{
    std::string quoted = "> ";
    for (const char c : text)
        quoted += c == '\n' ? std::string("\n> ") : std::string(1, c);
    return quoted;
}

// The local responder: it quotes the message and shows that it read the history it was sent,
// with a little Markdown so that a client's formatting can be seen.
std::string respond(const ChatRequest &chat)
{
    std::string reply = "You said:\n\n" + blockQuote(utf8Shortened(trimmed(chat.message), 200)) + "\n\nI saw **" +
                        plural(chat.history.size(), "earlier turn") + "**.";
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

// Runs the responder and stores the round trip; `claim`, when given, keeps the answer in the
// same transaction as the charge and the turns.
Json answerChat(Connection &connection, const User &user, const ChatRequest &chat, const std::string &node,
                IdempotencyClaim *claim)
{
    const std::string reply = respond(chat);
    const int64_t tokens = static_cast<int64_t>((chat.message.size() + reply.size() + 3) / 4);
    const std::string conversationId = chat.conversationId.value_or("conv_" + randomHex(16));
    return connection.transaction([&] {
        if (chat.conversationId) {
            requireOwnConversation(connection, conversationId, user);
        } else {
            connection.prepare("INSERT INTO conversations (id, user_id, created_at) VALUES (?, ?, ?)")
                .bind(1, conversationId)
                .bind(2, user.id)
                .bind(3, nowMs())
                .run();
        }
        chargeChatReply(connection, user, tokens);
        const int64_t now = nowMs();
        addTurn(connection, conversationId, "user", chat.message, now);
        addTurn(connection, conversationId, "assistant", reply, now);
        const auto turns = static_cast<size_t>(storedTurns(connection, conversationId));
        Json answer{{"reply", reply},
                    {"routedTo", "local-responder"},
                    {"node", node},
                    {"note", "Answered by the local stand-in responder; this conversation holds " +
                                 plural(turns, "stored turn") + "."},
                    {"conversationId", conversationId}};
        if (claim)
            claim->complete(200, answer);
        return answer;
    });
}

void chat(Database &database, const std::string &node, const httplib::Request &request, httplib::Response &response)
{
    auto connection = database.acquire();
    const User user = requireUser(*connection, request);
    const auto key = idempotencyKey(request);
    const Json body = requestObject(request);
    const ChatRequest chat = readChat(body);
    if (!user.canChat)
        throw HttpError(403, "Chat is not enabled for this account.");
    if (!key) {
        sendJson(response, 200, answerChat(*connection, user, chat, node, nullptr));
        return;
    }
    IdempotencyClaim claim(*connection, user.id, *key, body);
    if (const auto &stored = claim.storedAnswer()) {
        sendStoredAnswer(response, *stored);
        return;
    }
    sendJson(response, 200, answerChat(*connection, user, chat, node, &claim));
}

} // namespace

void addChatRoutes(Router &router, Database &database, const std::string &node)
{
    router.add("POST", "/api/chat/orc", [db = &database, node](const auto &request, auto &response, const Captures &) {
        chat(*db, node, request, response);
    });
}

} // namespace service
