#pragma once

#include "Throttle.h"

#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

// Turns at password hashing, shared fairly between client addresses. At most `running` hashes
// run at once; the others wait, at most maxWaitingFromOne from one address and maxWaiting in
// all. An address stands by its tries of the last minute, refused ones included, less the
// ones forgiven (a successful sign-in's). A free turn goes to the try whose address stands
// lowest, the first among equals, so an address that has not been trying gets the next free
// turn however many others keep the queue busy. A full queue turns away the latest try of the
// address that stands highest to let in a try of another address that stands no higher; only
// a try that stands higher than every waiting one, or of that address, is refused. Tries are
// remembered for at most Throttle::maxKeys addresses, the one idle longest forgotten first, and
// at most maxTriesCounted per address. Safe to use from any thread.
class HashQueue {
public:
    static constexpr size_t maxWaiting = 8;
    static constexpr size_t maxWaitingFromOne = 5;
    static constexpr size_t maxTriesCounted = 100;

    explicit HashQueue(size_t running) : free_(running) {}

    // A turn for `address`, waited for and held until destroyed; HttpError 503 "The service is
    // busy — try again." when the try is refused or turned away.
    class Turn {
    public:
        Turn(HashQueue &queue, std::string address);
        ~Turn();
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;
        // The try no longer counts against its address.
        void forgive() { queue_.tries_.takeBack(address_); }

    private:
        HashQueue &queue_;
        const std::string address_;
    };

private:
    struct Try {
        const std::string &address;
        bool isTurn = false;
        bool isTurnedAway = false;
    };
    using Tries = std::list<Try *>;

    // The try whose address stands lowest, the first among equals; or highest, the latest.
    std::pair<Tries::iterator, size_t> find(bool lowest);
    void remove(Tries::iterator entry);
    // Hands the free turns to the tries that stand lowest.
    void serve();

    size_t free_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Tries waiting_; // in the order they came
    std::unordered_map<std::string, size_t> waitingFrom_;
    Throttle tries_{maxTriesCounted, 60'000};
};

} // namespace service
