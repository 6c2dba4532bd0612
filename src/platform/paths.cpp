#include "platform/paths.h"

#include "platform/files.h"

#include <QDir>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {

bool isDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

}  // namespace

std::string executableDirectory() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string prefsDirectory() {
    if (const char* home = nonEmptyEnv("FARLANDER_HOME")) return std::string(home) + "/prefs";
    std::string beside = executableDirectory();
    if (!beside.empty()) {
        beside += "/prefs";
        if (isDirectory(beside)) return beside;
    }
    if (const char* config = nonEmptyEnv("XDG_CONFIG_HOME")) return std::string(config) + "/farlander";
    const char* home = nonEmptyEnv("HOME");
    return std::string(home ? home : ".") + "/.config/farlander";
}

bool ensurePrefsDirectory() {
    return makeDirectories(prefsDirectory());
}

std::string initialDrawer() {
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QDir(downloads).exists()) return downloads.toStdString();
    const char* home = nonEmptyEnv("HOME");
    return home ? home : QDir::homePath().toStdString();
}
