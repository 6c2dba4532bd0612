// Start-up, arguments and shutdown.
#pragma once

#include <cstdint>
#include <string>

// "$VER: ..." tag for the version command; the About requester shows the same.
extern const char* const VERSION_TAG;
// "Farlander 0.11 (18.02.2024)": the tag without its marker and platform.
const char* versionText();

// -1 = not given, 0 = window on the desktop, 1 = own screen.
extern int32_t startupScreenChoice;
// The address the first window shows: "HOME" unless the command line names one.
std::string& startAddress();

inline constexpr int RETURN_OK = 0;
inline constexpr int RETURN_FAIL = 20;
inline constexpr int ARGS_CONTINUE = -1;

// Reads the command line into startAddress() (cut to 328 characters) and
// startupScreenChoice. Returns ARGS_CONTINUE to go on, RETURN_OK after --help or
// --version, RETURN_FAIL after printing the valid arguments.
int readCliArgs(int argc, const char* const* argv);

// Reports "Could not open: what" on standard error, closes everything that was
// opened and returns RETURN_FAIL for main to return.
[[nodiscard]] int fatalError(const char* what);

// Closes every module in the fixed order; safe at any point of start-up and twice.
void cleanUp();

// The program: start-up, the window loop, shutdown. Returns the program's return code.
int appMain(int argc, const char* const* argv);
