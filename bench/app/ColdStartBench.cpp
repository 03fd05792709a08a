// Cold start of the app, offscreen, to its first rendered frame: starts a fresh process of
// the program five times and prints each time and the median. The program is the build
// tree's nimbochat, or the one named by the first argument (an installed copy, say).
// A preloaded hook (FirstFrameHook.cpp) ends the process at its first frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* program = argc > 1 ? argv[1] : NIMBO_APP_PROGRAM;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_QUICK_BACKEND", "software", 1);
    setenv("LD_PRELOAD", NIMBO_FIRST_FRAME_HOOK, 1);
    std::vector<double> millis;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execl(program, program, static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("run %d of %s failed (status %d)\n", run + 1, program, status);
            return 1;
        }
        millis.push_back(ms);
        std::printf("run %d: %.1f ms to the first frame\n", run + 1, ms);
    }
    std::sort(millis.begin(), millis.end());
    std::printf("cold start median of %s: %.1f ms (5 runs)\n", program, millis[2]);
    return 0;
}
