#include "chat/history/ChatHistory.h"

#include "platform/files/AppPaths.h"

namespace nimbo::history {

ChatHistory& ChatHistory::shared() {
    static ChatHistory history(platform::applicationSupportDir() / "Chats.sqlite");
    return history;
}

ChatHistory::ChatHistory(std::filesystem::path file) : file_(std::move(file)), thread_([this] { run(); }) {}

ChatHistory::~ChatHistory() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ChatHistory::append(NewEntry entry) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(entry));
    }
    wake_.notify_one();
}

void ChatHistory::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(job));
    }
    wake_.notify_one();
}

void ChatHistory::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void ChatHistory::run() {
    HistoryDatabase db(file_);
    isSaving_ = db.isWritable();
    setAsideNotice_ = db.state() == HistoryDatabase::State::SetAside;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) break;  // stopping, and everything asked for is done
        std::deque<std::variant<NewEntry, Job>> batch;
        batch.swap(queue_);
        busy_ = true;
        lock.unlock();
        runBatch(batch, db);
        lock.lock();
        if (queue_.empty() && (written_ += batch.size()) >= kCheckpointEvery) {  // idle: a good moment
            written_ = 0;
            lock.unlock();
            db.checkpoint();
            lock.lock();
        }
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

// Runs the jobs in order; neighbouring entries go into one transaction.
void ChatHistory::runBatch(std::deque<std::variant<NewEntry, Job>>& batch, HistoryDatabase& db) {
    std::vector<NewEntry> entries;
    const auto writeEntries = [&] {
        if (entries.empty()) return;
        isSaving_ = db.append(entries);
        entries.clear();
    };
    for (auto& item : batch) {
        if (auto* entry = std::get_if<NewEntry>(&item)) {
            entries.push_back(std::move(*entry));
            continue;
        }
        writeEntries();
        std::get<Job>(item)(db);
    }
    writeEntries();
}

}  // namespace nimbo::history
