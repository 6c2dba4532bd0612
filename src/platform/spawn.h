// Runs another program and collects what it prints (tests and tools use it).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ProgramResult {
    int exitCode = -1;  // the exit status, 128 + signal when killed, -1 when it could not start
    std::string out;
    std::string err;
    bool timedOut = false;
};

// argv[0] is the program's path. env entries are set (an empty value unsets the
// variable) on top of the current environment. The program is killed after timeoutMs.
// interruptWhen, when given, is asked every few milliseconds while the program runs;
// the first time it answers true the program gets SIGINT.
ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env = {},
                         const std::string& input = {}, int timeoutMs = 30000,
                         const std::function<bool()>& interruptWhen = {});

// The path of the running executable.
std::string currentExecutable();

// True when an executable file of this name is in one of the folders of PATH.
bool programOnPath(const char* name);
