#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Temporary files are named after their target: "<path>.tmp-" and eight hex digits.
constexpr char TEMPORARY_MARK[] = ".tmp-";
constexpr size_t TEMPORARY_DIGITS = 8;

// Creates a new temporary file beside path (mode 0600 until the caller sets another).
int createTemporary(const std::string& path, std::string& temp) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%s%08x", TEMPORARY_MARK, static_cast<unsigned>(random()));
        temp = path + suffix;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// The mode a file written over path should have: the old file's, or newFileMode.
unsigned targetMode(const std::string& path, unsigned newFileMode) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<unsigned>(st.st_mode & 07777);
    return newFileMode;
}

// The file a write to path replaces: a symbolic link is followed, so the link stays
// and its target gets the new text (dot-file folders often link the files they keep).
std::string replacedFile(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : path;
}

// Whether something that is not a plain file (a device, a pipe) sits at path: it is
// written in place, since there is nothing to replace.
bool isSpecialFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// The mode of a new file made the usual way: 0666 less the process's umask. The mask
// is read from /proc, not by setting it (umask(2) cannot be read without a change
// that other threads would see).
unsigned usualNewFileMode() {
    unsigned mask = 022;
    std::string status;
    if (readWholeFile("/proc/self/status", status, 1u << 20)) {
        const size_t at = status.find("\nUmask:");
        if (at != std::string::npos)
            mask = static_cast<unsigned>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    }
    return 0666u & ~mask;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is durable once the folder that holds it is on disk.
void syncFolder(const std::string& path) {
    Fd fd(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.fd >= 0) ::fsync(fd.fd);
}

bool isTemporaryName(const char* name) {
    const char* mark = std::strstr(name, TEMPORARY_MARK);
    if (mark == nullptr || mark == name) return false;
    const char* digits = mark + sizeof TEMPORARY_MARK - 1;
    if (std::strlen(digits) != TEMPORARY_DIGITS) return false;
    for (const char* c = digits; *c != '\0'; ++c)
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
    return true;
}

}  // namespace

bool readWholeFile(const std::string& path, std::string& out, size_t limit) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) return false;
    struct stat st;
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (static_cast<unsigned long long>(st.st_size) > limit) return false;
    out.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out.clear();
            return false;
        }
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > limit) {
            out.clear();
            return false;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool writeFileAtomic(const std::string& linkPath, std::string_view data, unsigned newFileMode,
                     bool forceMode) {
    const std::string path = replacedFile(linkPath);
    const unsigned mode = forceMode ? newFileMode : targetMode(path, newFileMode);
    std::string temp;
    int raw = createTemporary(path, temp);
    if (raw < 0) return false;
    Fd fd(raw);
    bool ok = ::fchmod(fd.fd, static_cast<mode_t>(mode)) == 0 && writeAll(fd.fd, data.data(), data.size()) &&
              ::fsync(fd.fd) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) {
        syncFolder(path);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

PendingFile::~PendingFile() {
    pendingFileDiscard(*this);
}

bool pendingFileOpen(PendingFile& file, const std::string& path) {
    pendingFileDiscard(file);
    file.path = replacedFile(path);
    if (isSpecialFile(file.path)) {
        file.fd = ::open(file.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return file.fd >= 0;
    }
    file.mode = targetMode(file.path, usualNewFileMode());
    file.fd = createTemporary(file.path, file.temporary);
    if (file.fd < 0) {
        file.temporary.clear();
        return false;
    }
    if (::fchmod(file.fd, static_cast<mode_t>(file.mode)) != 0) {
        pendingFileDiscard(file);
        return false;
    }
    return true;
}

namespace {

constexpr size_t PENDING_BUFFER_SIZE = 64 * 1024;

bool flushPending(PendingFile& file) {
    bool ok = writeAll(file.fd, file.buffer.data(), file.buffer.size());
    file.buffer.clear();
    return ok;
}

}  // namespace

bool pendingFileWrite(PendingFile& file, const char* data, size_t length) {
    if (file.fd < 0) return false;
    if (file.buffer.size() + length > PENDING_BUFFER_SIZE && !flushPending(file)) return false;
    if (length >= PENDING_BUFFER_SIZE) return writeAll(file.fd, data, length);
    file.buffer.append(data, length);
    return true;
}

bool pendingFileCommit(PendingFile& file) {
    if (file.fd < 0) return false;
    if (file.temporary.empty()) {  // a device or pipe, written in place
        bool ok = flushPending(file);
        ok = ::close(file.fd) == 0 && ok;
        file.fd = -1;
        return ok;
    }
    bool ok = flushPending(file) && ::fsync(file.fd) == 0;
    ok = ::close(file.fd) == 0 && ok;
    file.fd = -1;
    if (ok && ::rename(file.temporary.c_str(), file.path.c_str()) == 0) {
        syncFolder(file.path);
        file.temporary.clear();
        return true;
    }
    pendingFileDiscard(file);
    return false;
}

void pendingFileDiscard(PendingFile& file) {
    if (file.fd >= 0) ::close(file.fd);
    file.fd = -1;
    if (!file.temporary.empty()) ::unlink(file.temporary.c_str());
    file.temporary.clear();
    file.buffer.clear();
}

int removeLeftoverTemporaries(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isTemporaryName(entry->d_name)) continue;
        const std::string path = folder + "/" + entry->d_name;
        if (isRegularFile(path) && ::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

bool makeFolderPrivate(const std::string& folder) {
    return isDirectoryPath(folder) && ::chmod(folder.c_str(), 0700) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectoryPath(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    if (isDirectoryPath(path)) return true;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
    }
    return isDirectoryPath(path);
}

long long fileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}
