// Figures of the chats kept on the device:
//  1. appending one entry in its own transaction, as the writer thread does while a
//     conversation goes on (median and p99 of 2,000);
//  2. with 1,000 conversations of 100 entries each (100,000 entries): opening the
//     database, the Chats list's first query with the rows of its first screen,
//     reopening a 1,000-entry conversation, and full-text search (medians);
//  3. the size of the database.
#include "chat/history/ChatsListModel.h"
#include "chat/history/HistoryDatabase.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace nimbo;
using namespace nimbo::history;
using Clock = std::chrono::steady_clock;

namespace {

double millisOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

// Sentences as a transcript holds them: a few very common words and 4,000 others
// drawn with a Zipf-like skew (a few frequent, most rare).
std::string sentence(std::mt19937& random, int words) {
    static const std::vector<std::string> vocabulary = [] {
        std::vector<std::string> v{"the", "and", "for", "with", "you", "that", "this", "please", "could", "about"};
        for (int i = 0; i < 4000; ++i) {
            std::string word;
            for (int n = i + 1; n > 0; n /= 26) word += static_cast<char>('a' + n % 26);
            v.push_back(word + "en");
        }
        return v;
    }();
    std::exponential_distribution<double> rank(0.004);
    std::string text;
    for (int i = 0; i < words; ++i)
        text += (i ? " " : "") + vocabulary[std::min<std::size_t>(vocabulary.size() - 1, static_cast<std::size_t>(rank(random)))];
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "Chats.sqlite";
    const std::string account = "bench@nimbo.test";
    std::mt19937 random(7);
    std::int64_t time = 1'700'000'000'000;

    {
        HistoryDatabase db(file);
        std::vector<double> appends, checkpoints;
        for (int i = 0; i < 2000; ++i) {
            const NewEntry entry{account, "append-bench", i % 2 ? "assistant" : "user", sentence(random, 40), ++time, {}};
            appends.push_back(millisOf([&] { db.append({entry}); }));
            if (i % 200 == 199) checkpoints.push_back(millisOf([&] { db.checkpoint(); }));  // as the idle writer does
        }
        std::printf("append one entry (own transaction, 2,000 runs): median %.3f ms, p99 %.3f ms (goal <= 2)\n",
                    percentile(appends, 0.5), percentile(appends, 0.99));
        std::printf("journal checkpoint every 200 entries, on the idle writer: median %.2f ms, slowest %.2f ms\n",
                    percentile(checkpoints, 0.5), percentile(checkpoints, 1.0));
        db.removeAll(account);

        const double fill = millisOf([&] {
            for (int c = 0; c < 1000; ++c) {
                std::vector<NewEntry> entries;
                const std::string id = "conversation-" + std::to_string(c);
                for (int e = 0; e < 100; ++e)
                    entries.push_back({account, id, e % 2 ? "assistant" : "user",
                                       sentence(random, e % 2 ? 60 : 12) + (c == 500 && e == 40 ? " zanzibar" : ""),
                                       ++time, "srv-" + std::to_string(c)});
                db.append(entries);
                db.checkpoint();
            }
            std::vector<NewEntry> big;
            for (int e = 0; e < 1000; ++e) big.push_back({account, "big", e % 2 ? "assistant" : "user", sentence(random, 30), ++time, {}});
            db.append(big);
            db.checkpoint();
        });
        std::printf("filled 1,000 conversations x 100 entries (+ one of 1,000) in %.0f ms\n", fill);
    }

    std::vector<double> opens, lists, reopens, searches;
    for (int run = 0; run < 5; ++run) {
        std::unique_ptr<HistoryDatabase> db;
        opens.push_back(millisOf([&] { db = std::make_unique<HistoryDatabase>(file); }));
        ChatsListModel model;
        lists.push_back(millisOf([&] {
            model.reset(db->conversations(account));
            for (int row = 0; row < 12; ++row)  // the rows of the first screen
                for (int role : {ChatsListModel::TitleRole, ChatsListModel::PreviewRole, ChatsListModel::LastActiveRole})
                    (void)model.data(model.index(row), role);
        }));
        if (model.rowCount() != 1001) std::printf("unexpected row count %d\n", model.rowCount());
        reopens.push_back(millisOf([&] {
            if (db->conversation(account, "big")->entries.size() != 1000) std::printf("unexpected transcript\n");
        }));
        // A rare word, a frequent one, two together, a word start, a word in every entry.
        for (const char* text : {"zanzibar", "ben", "cen fen", "bc", "the"})
            searches.push_back(millisOf([&] { (void)db->search(account, text); }));
    }
    std::printf("open the database (schema and quick check), median of 5: %.1f ms\n", percentile(opens, 0.5));
    std::printf("Chats list first query + first screen of rows (1,001 conversations), median of 5: %.1f ms (goal <= 50)\n",
                percentile(lists, 0.5));
    std::printf("reopen a 1,000-entry conversation, median of 5: %.1f ms (goal <= 50)\n", percentile(reopens, 0.5));
    std::printf("full-text search over 101,000 entries, median of %zu: %.1f ms (goal <= 30), slowest %.1f ms\n",
                searches.size(), percentile(searches, 0.5), percentile(searches, 1.0));
    std::uintmax_t bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(file.string() + suffix, ec);
        if (!ec) bytes += size;
    }
    std::printf("database size: %.1f MiB\n", static_cast<double>(bytes) / (1024.0 * 1024.0));
    // Deleting rebuilds the search index (so no word of a deleted chat stays in the file): its cost
    // on the full store, on the writer thread.
    HistoryDatabase db(file);
    const std::string victim = db.conversations(account).back().id;
    std::printf("delete one conversation from the full store (index rebuilt): %.0f ms\n",
                millisOf([&] { (void)db.remove(account, victim); }));
    return 0;
}
