#include "platform/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void closeEnd(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
};

}  // namespace

std::string currentExecutable() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env,
                         const std::string& input, int timeoutMs,
                         const std::function<bool()>& interruptWhen) {
    ProgramResult result;
    if (argv.empty()) return result;
    Pipe in, out, err;
    if (::pipe2(in.fd, O_CLOEXEC) != 0 || ::pipe2(out.fd, O_CLOEXEC) != 0 || ::pipe2(err.fd, O_CLOEXEC) != 0)
        return result;

    // Everything the child needs is prepared before the fork.
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string var = *e;
        std::string name = var.substr(0, var.find('='));
        bool replaced = false;
        for (const auto& kv : env)
            replaced = replaced || kv.first == name;
        if (!replaced) vars.push_back(std::move(var));
    }
    for (const auto& [name, value] : env)
        if (!value.empty()) vars.push_back(name + "=" + value);
    std::vector<char*> cenv;
    for (auto& v : vars)
        cenv.push_back(v.data());
    cenv.push_back(nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not take us with it

    pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        ::dup2(in.fd[0], 0);
        ::dup2(out.fd[1], 1);
        ::dup2(err.fd[1], 2);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execve(cargs[0], cargs.data(), cenv.data());
        ::_exit(127);
    }
    in.closeEnd(0);
    out.closeEnd(1);
    err.closeEnd(1);

    size_t written = 0;
    if (input.empty()) in.closeEnd(1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    bool interrupted = false;
    while (out.fd[0] >= 0 || err.fd[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        int outAt = -1, errAt = -1, inAt = -1;
        if (out.fd[0] >= 0) {
            fds[n] = {out.fd[0], POLLIN, 0};
            outAt = n++;
        }
        if (err.fd[0] >= 0) {
            fds[n] = {err.fd[0], POLLIN, 0};
            errAt = n++;
        }
        if (in.fd[1] >= 0) {
            fds[n] = {in.fd[1], POLLOUT, 0};
            inAt = n++;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        int wait = static_cast<int>(left.count());
        if (interruptWhen && !interrupted) {
            if (interruptWhen()) {
                ::kill(pid, SIGINT);
                interrupted = true;
            } else if (wait > 5) {
                wait = 5;
            }
        }
        int ready = ::poll(fds, static_cast<nfds_t>(n), wait);
        if (ready < 0) continue;
        auto drain = [&](int at, Pipe& p, std::string& to) {
            if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) return;
            ssize_t got = ::read(p.fd[0], buffer, sizeof buffer);
            if (got > 0) {
                to.append(buffer, static_cast<size_t>(got));
            } else {
                p.closeEnd(0);
            }
        };
        drain(outAt, out, result.out);
        drain(errAt, err, result.err);
        if (inAt >= 0 && (fds[inAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = ::write(in.fd[1], input.data() + written, input.size() - written);
            if (put > 0) written += static_cast<size_t>(put);
            if (put <= 0 || written == input.size()) in.closeEnd(1);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitCode = 128 + WTERMSIG(status);
    }
    return result;
}

bool programOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path || !name || !*name) return false;
    std::string folders = path;
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string candidate(folders, start, end - start);
        if (candidate.empty()) candidate.push_back('.');
        candidate.push_back('/');
        candidate.append(name);
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}
