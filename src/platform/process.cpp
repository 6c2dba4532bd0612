#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

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
