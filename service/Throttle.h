#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

// Counts attempts per key (an e-mail or a client address, say) over a sliding window of time,
// in the memory of this process, for at most maxKeys keys at once: a full table forgets the
// key whose latest attempt is oldest, so that a newcomer is never refused for being new. Safe
// to use from any thread.
class Throttle {
public:
    static constexpr size_t maxKeys = 10000;

    Throttle(size_t limit, int64_t windowMs) : limit_(limit), windowMs_(windowMs) {}

    // Records an attempt for `key` unless `limit` attempts were recorded for it within the
    // window; false (and nothing recorded) in that case.
    bool tryRecord(const std::string &key);
    // Takes back the latest attempt recorded for `key` (one that is not to count after all).
    void takeBack(const std::string &key);
    // How many attempts are recorded for `key` within the window.
    size_t count(const std::string &key);
    // Forgets the attempts of `key`.
    void clear(const std::string &key);

private:
    struct Attempts {
        std::deque<int64_t> times;
        std::list<std::string>::iterator age; // its place in byAge_
    };
    void erase(std::unordered_map<std::string, Attempts>::iterator entry);

    const size_t limit_;
    const int64_t windowMs_;
    std::mutex mutex_;
    std::unordered_map<std::string, Attempts> attempts_;
    std::list<std::string> byAge_; // the keys, the one whose latest attempt is oldest first
};

} // namespace service
