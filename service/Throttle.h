#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

// Counts attempts per key (an e-mail address, say) over a sliding window of time, in the
// memory of this process, for at most maxKeys keys at once: while that many keys have attempts
// in the window, a new key is refused. Safe to use from any thread.
class Throttle {
public:
    static constexpr size_t maxKeys = 10000;

    Throttle(size_t limit, int64_t windowMs) : limit_(limit), windowMs_(windowMs) {}

    // Records an attempt for `key` unless `limit` attempts were recorded for it within the
    // window; false (and nothing recorded) in that case.
    bool tryRecord(const std::string &key);
    // Forgets the attempts of `key`.
    void clear(const std::string &key);

private:
    // Drops the attempts that left the window, and the keys left without any.
    void prune(int64_t now);

    const size_t limit_;
    const int64_t windowMs_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::deque<int64_t>> attempts_;
    int64_t nextPruneMs_ = 0;
};

} // namespace service
