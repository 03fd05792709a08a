#pragma once
// Hands the entries of the conversation on screen to the chats database as they
// appear (to the app's chats database, reached only once there is something to
// write). Nothing is written before the account is known, nor while the conversation
// holds no message from the person (a fresh screen with only the greeting is not
// kept); what waited is written as soon as both hold. Used on the UI thread.

#include "chat/history/ChatHistory.h"

#include <optional>
#include <string>
#include <vector>

namespace nimbo::history {

class TranscriptRecorder {
public:
    TranscriptRecorder();

    const std::string& account() const { return account_; }
    void setAccount(const std::string& account);
    // The local id of the conversation on screen.
    const std::string& conversation() const { return conversation_; }

    // Starts a new conversation (nothing of it written yet).
    void startNew();
    // Continues a stored conversation: what it holds is written already.
    void continueStored(const std::string& id);

    // An entry shown in the transcript; `serverId` the conversation id known now.
    void entryAppended(const std::string& role, const std::string& content,
                       const std::optional<std::string>& serverId);
    // An entry for another conversation than the one on screen (a late reply): written
    // there, when that conversation is being kept.
    void entryForConversation(const std::string& conversation, const std::string& role, const std::string& content,
                              const std::optional<std::string>& serverId);

private:
    void flush();

    std::string account_;
    std::string conversation_;
    bool hasUserEntry_ = false;
    std::vector<NewEntry> waiting_;
};

// A new local conversation id.
std::string newConversationId();
// Milliseconds since the epoch, now.
std::int64_t nowMs();

}  // namespace nimbo::history
