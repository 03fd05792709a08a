#include "HashQueue.h"

#include "Http.h"

namespace service {

namespace {

HttpError busy()
{
    return HttpError(503, "The service is busy — try again.");
}

} // namespace

HashQueue::Turn::Turn(HashQueue &queue, std::string address) : queue_(queue), address_(std::move(address))
{
    Try attempt{address_};
    std::unique_lock lock(queue.mutex_);
    queue.tries_.tryRecord(address_);
    const size_t standing = queue.tries_.count(address_);
    const auto from = queue.waitingFrom_.find(address_);
    if (from != queue.waitingFrom_.end() && from->second >= maxWaitingFromOne)
        throw busy();
    if (queue.waiting_.size() >= maxWaiting) {
        const auto [highest, highestStanding] = queue.find(false);
        if (highestStanding < standing || (*highest)->address == address_)
            throw busy();
        (*highest)->isTurnedAway = true;
        queue.remove(highest);
    }
    queue.waiting_.push_back(&attempt);
    ++queue.waitingFrom_[address_];
    queue.serve();
    queue.changed_.wait(lock, [&] { return attempt.isTurn || attempt.isTurnedAway; });
    if (attempt.isTurnedAway)
        throw busy();
}

HashQueue::Turn::~Turn()
{
    std::lock_guard lock(queue_.mutex_);
    ++queue_.free_;
    queue_.serve();
}

std::pair<HashQueue::Tries::iterator, size_t> HashQueue::find(bool lowest)
{
    auto found = waiting_.end();
    size_t foundStanding = 0;
    for (auto entry = waiting_.begin(); entry != waiting_.end(); ++entry) {
        const size_t s = tries_.count((*entry)->address);
        if (found == waiting_.end() || (lowest ? s < foundStanding : s >= foundStanding)) {
            found = entry;
            foundStanding = s;
        }
    }
    return {found, foundStanding};
}

void HashQueue::remove(Tries::iterator entry)
{
    const auto from = waitingFrom_.find((*entry)->address);
    if (--from->second == 0)
        waitingFrom_.erase(from);
    waiting_.erase(entry);
}

void HashQueue::serve()
{
    for (; free_ > 0 && !waiting_.empty(); --free_) {
        const auto lowest = find(true).first;
        (*lowest)->isTurn = true;
        remove(lowest);
    }
    changed_.notify_all();
}

} // namespace service
