#pragma once
// The one writer of the chats database: a thread of its own that owns the connection
// and runs every read and write in the order they were asked for, so the UI thread
// never waits on the disk. Entries waiting together are written in one transaction.
//
// The database is opened on the writer thread when the first job runs, not at start-up.

#include "chat/history/HistoryDatabase.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <variant>

namespace nimbo::history {

class ChatHistory {
public:
    using Job = std::function<void(HistoryDatabase&)>;

    // The app's chats, "Chats.sqlite" in the application-support folder; created on first use.
    static ChatHistory& shared();

    explicit ChatHistory(std::filesystem::path file);
    // Finishes every job already asked for, then closes the database.
    ~ChatHistory();
    ChatHistory(const ChatHistory&) = delete;
    ChatHistory& operator=(const ChatHistory&) = delete;

    void append(NewEntry entry);
    void post(Job job);

    // False while the database is unavailable or read-only, or the last write failed.
    bool isSaving() const { return isSaving_; }
    // True once, for the first caller after the earlier database was set aside.
    bool takeSetAsideNotice() { return setAsideNotice_.exchange(false); }
    // Blocks until every job asked for so far has run (tests and benchmarks).
    void waitUntilIdle();

private:
    void run();
    void runBatch(std::deque<std::variant<NewEntry, Job>>& batch, HistoryDatabase& db);

    // Jobs run since the journal was last checkpointed, and how many make one due.
    static constexpr std::size_t kCheckpointEvery = 200;
    std::size_t written_ = 0;

    std::filesystem::path file_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::variant<NewEntry, Job>> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::atomic<bool> isSaving_{true};
    std::atomic<bool> setAsideNotice_{false};
    std::thread thread_;
};

}  // namespace nimbo::history
