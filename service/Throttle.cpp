#include "Throttle.h"

#include "Clock.h"

#include <algorithm>

namespace service {

bool Throttle::tryRecord(const std::string &key)
{
    const int64_t now = nowMs();
    std::lock_guard lock(mutex_);
    if (!attempts_.count(key)) {
        // Keys whose latest attempt left the window go, and the oldest one while the table is full.
        while (!byAge_.empty() &&
               (attempts_.size() >= maxKeys || attempts_.at(byAge_.front()).times.back() <= now - windowMs_))
            erase(attempts_.find(byAge_.front()));
    }
    auto found = attempts_.find(key);
    if (found == attempts_.end())
        found = attempts_.emplace(key, Attempts{{}, byAge_.insert(byAge_.end(), key)}).first;
    std::deque<int64_t> &times = found->second.times;
    while (!times.empty() && times.front() <= now - windowMs_)
        times.pop_front();
    if (times.size() >= limit_)
        return false;
    times.push_back(now);
    byAge_.splice(byAge_.end(), byAge_, found->second.age);
    return true;
}

void Throttle::takeBack(const std::string &key)
{
    std::lock_guard lock(mutex_);
    const auto found = attempts_.find(key);
    if (found == attempts_.end())
        return;
    found->second.times.pop_back();
    if (found->second.times.empty())
        erase(found);
}

size_t Throttle::count(const std::string &key)
{
    const int64_t since = nowMs() - windowMs_;
    std::lock_guard lock(mutex_);
    const auto found = attempts_.find(key);
    if (found == attempts_.end())
        return 0;
    const std::deque<int64_t> &times = found->second.times;
    return static_cast<size_t>(times.end() - std::upper_bound(times.begin(), times.end(), since));
}

void Throttle::clear(const std::string &key)
{
    std::lock_guard lock(mutex_);
    const auto found = attempts_.find(key);
    if (found != attempts_.end())
        erase(found);
}

void Throttle::erase(std::unordered_map<std::string, Attempts>::iterator entry)
{
    byAge_.erase(entry->second.age);
    attempts_.erase(entry);
}

} // namespace service
