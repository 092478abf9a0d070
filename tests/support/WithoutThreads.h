// A child process in which no thread can be started, for the code that must carry on when the
// system has none to give (a tight pids.max): the child's address space is capped just above
// what it maps, so no new thread stack fits, and the stacks glibc keeps for reuse are taken
// by threads that never end.
#pragma once

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

namespace lumidex::testing {

// What RunWithoutThreads returns when a thread could still be started in the child.
inline constexpr int kThreadsStillStart = 77;

// body's exit code from the child, kThreadsStillStart, or -1 when the child died (an uncaught
// exception, for one).
inline int RunWithoutThreads(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (4 << 20);
        const rlimit limit{cap, cap};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) {
            ::_exit(kThreadsStillStart);
        }
        bool refused = false;
        for (int i = 0; i < 64 && !refused; ++i) {
            pthread_t thread;
            refused = ::pthread_create(
                          &thread, nullptr,
                          [](void*) -> void* {
                              ::pause();
                              return nullptr;
                          },
                          nullptr) != 0;
        }
        ::_exit(refused ? body() : kThreadsStillStart);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace lumidex::testing
