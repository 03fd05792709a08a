#include "chat/history/TranscriptRecorder.h"

#include <chrono>
#include <random>

namespace nimbo::history {

std::string newConversationId() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id(32, '0');
    for (char& c : id) c = kHex[random() & 15];
    return id;
}

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TranscriptRecorder::TranscriptRecorder() : conversation_(newConversationId()) {}

void TranscriptRecorder::setAccount(const std::string& account) {
    if (account == account_) return;
    account_ = account;
    for (NewEntry& entry : waiting_) entry.account = account;
    flush();
}

void TranscriptRecorder::startNew() {
    conversation_ = newConversationId();
    hasUserEntry_ = false;
    waiting_.clear();
}

void TranscriptRecorder::continueStored(const std::string& id) {
    conversation_ = id;
    hasUserEntry_ = true;
    waiting_.clear();
}

void TranscriptRecorder::entryAppended(const std::string& role, const std::string& content,
                                       const std::optional<std::string>& serverId) {
    waiting_.push_back({account_, conversation_, role, content, nowMs(), serverId});
    hasUserEntry_ = hasUserEntry_ || role == "user";
    flush();
}

void TranscriptRecorder::entryForConversation(const std::string& conversation, const std::string& role,
                                              const std::string& content, const std::optional<std::string>& serverId) {
    if (conversation == conversation_) return entryAppended(role, content, serverId);
    // Only a conversation that was written gets more: the store adds to an existing one.
    if (account_.empty()) return;
    ChatHistory::shared().post([entry = NewEntry{account_, conversation, role, content, nowMs(), serverId}](HistoryDatabase& db) {
        if (db.conversation(entry.account, entry.conversation)) db.append({entry});
    });
}

void TranscriptRecorder::flush() {
    if (account_.empty() || !hasUserEntry_) return;
    ChatHistory& history = ChatHistory::shared();
    for (NewEntry& entry : waiting_) history.append(std::move(entry));
    waiting_.clear();
}

}  // namespace nimbo::history
