#pragma once
// The implementation of a platform layer in force: the standard one, unless a test
// program installed its own (not owned; nullptr restores the standard one).

#include <atomic>

namespace nimbo::platform {

template <class Interface>
class Replaceable {
public:
    static Interface& current(Interface& standard) {
        Interface* replacement = slot().load();
        return replacement ? *replacement : standard;
    }
    static void install(Interface* replacement) { slot().store(replacement); }

private:
    static std::atomic<Interface*>& slot() {
        static std::atomic<Interface*> installed{nullptr};
        return installed;
    }
};

}  // namespace nimbo::platform
