#include "Throttle.h"

#include "Clock.h"

namespace service {

bool Throttle::tryRecord(const std::string &key)
{
    const int64_t now = nowMs();
    std::lock_guard lock(mutex_);
    if (now >= nextPruneMs_)
        prune(now);
    if (attempts_.size() >= maxKeys && !attempts_.count(key))
        return false;
    std::deque<int64_t> &times = attempts_[key];
    while (!times.empty() && times.front() <= now - windowMs_)
        times.pop_front();
    if (times.size() >= limit_)
        return false;
    times.push_back(now);
    return true;
}

void Throttle::clear(const std::string &key)
{
    std::lock_guard lock(mutex_);
    attempts_.erase(key);
}

void Throttle::prune(int64_t now)
{
    for (auto it = attempts_.begin(); it != attempts_.end();) {
        if (it->second.empty() || it->second.back() <= now - windowMs_)
            it = attempts_.erase(it);
        else
            ++it;
    }
    nextPruneMs_ = now + windowMs_ / 10;
}

} // namespace service
