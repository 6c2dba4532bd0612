// The command-line dump: fetch one address with the browser's own code and print
// its display lines, without a window.
#pragma once

#include <string>

enum DumpExit {
    DUMP_SHOWN = 0,         // the page was printed
    DUMP_FAILED = 1,        // network, server or redirect error
    DUMP_USAGE = 2,         // the dump's arguments are wrong
    DUMP_INPUT = 3,         // the server asks for input
    DUMP_DOWNLOAD = 4,      // a download was refused or failed
    DUMP_CERTIFICATE = 5,   // the server requires a client certificate
    DUMP_CERT_CHANGED = 6,  // the server's key is not the pinned one
    DUMP_BREAK = 20,        // stopped by Ctrl-C
};

struct DumpOptions {
    bool wanted = false;     // --dump or --dump-lines was given
    bool pageModel = false;  // --dump-lines
    int columns = 80;
    std::string url;
    std::string output;  // --output FILE: where a download goes
    int unicode = -1;    // --unicode 1, --latin1 0; -1: as the preferences say
};

inline constexpr int DUMP_MIN_COLUMNS = 10;

// True when the command line asks for a dump (then dumpMain runs instead of the window).
bool dumpRequested(int argc, const char* const* argv);

// Reads the dump's options. Returns -1 when they are fine, else DUMP_USAGE after a
// message on standard error (or 0 after --help).
int dumpParseArgs(int argc, const char* const* argv, DumpOptions& options);

// Runs a dump; returns its exit code.
int dumpRun(const DumpOptions& options);

// The dump's part of --help.
extern const char* const DUMP_HELP;
