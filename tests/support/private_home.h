// A preferences folder of the test's own: while it lives, FARLANDER_HOME names a fresh,
// empty folder that no other test process shares; afterwards the folder is gone and
// the variable is as it was.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/process.h"

class PrivateHome {
  public:
    explicit PrivateHome(const std::string& name) : path(uniquePath(name)) {
        if (const char* old = std::getenv("FARLANDER_HOME")) saved_ = old;
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
        setEnvironment("FARLANDER_HOME", path);
    }
    ~PrivateHome() {
        setEnvironment("FARLANDER_HOME", saved_);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    const std::string path;

  private:
    static std::string uniquePath(const std::string& name) {
        static std::atomic<int> serial{0};
        auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        return (std::filesystem::temp_directory_path() /
                ("farlander-" + name + "-" + std::to_string(now) + "-" + std::to_string(serial++)))
            .string();
    }
    std::string saved_;
};
