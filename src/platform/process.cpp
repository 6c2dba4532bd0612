#include "platform/process.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <mutex>
#include <thread>

namespace {

sigset_t breakSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void blockBreakSignals() {
    sigset_t set = breakSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int breakSignalDescriptor() {
    static std::once_flag once;
    static int fd = -1;
    std::call_once(once, [] {
        sigset_t set = breakSet();
        fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    });
    return fd;
}

bool takeBreakSignal() {
    int fd = breakSignalDescriptor();
    if (fd < 0) return false;
    signalfd_siginfo info;
    bool any = false;
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        any = true;
    return any;
}

void prepareHeadlessEnvironment() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        std::string dir = "/tmp/farlander-runtime-" + std::to_string(getuid());
        ::mkdir(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
}

void setEnvironment(const char* name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}

namespace {

struct BreakWatcher {
    std::thread thread;
    int stopFd = -1;
};

BreakWatcher watcher;

}  // namespace

bool startBreakWatcher(std::function<void()> onBreak) {
    stopBreakWatcher();
    int signals = breakSignalDescriptor();
    if (signals < 0) return false;
    watcher.stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (watcher.stopFd < 0) return false;
    int stopFd = watcher.stopFd;
    try {
        watcher.thread = std::thread([signals, stopFd, onBreak = std::move(onBreak)] {
            for (;;) {
                pollfd fds[2] = {{signals, POLLIN, 0}, {stopFd, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) continue;
                if (fds[1].revents) return;
                if (fds[0].revents && takeBreakSignal() && onBreak) onBreak();
            }
        });
    } catch (const std::system_error&) {
        ::close(watcher.stopFd);
        watcher.stopFd = -1;
        return false;
    }
    return true;
}

void stopBreakWatcher() {
    if (watcher.thread.joinable()) {
        uint64_t one = 1;
        if (::write(watcher.stopFd, &one, sizeof one) < 0) {
            // The eventfd cannot be full after one write; nothing else can fail here.
        }
        watcher.thread.join();
    }
    if (watcher.stopFd >= 0) ::close(watcher.stopFd);
    watcher.stopFd = -1;
}
