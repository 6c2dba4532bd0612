// Process-wide services: the break signals and the environment.
#pragma once

#include <functional>
#include <string>

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and every thread it
// starts later; they are read through breakSignalDescriptor instead. Call first
// thing in main, before any other thread exists.
void blockBreakSignals();

// A descriptor that becomes readable when a break signal arrives (-1 on failure).
int breakSignalDescriptor();
// Consumes a pending break signal; true if there was one.
bool takeBreakSignal();

// For tests and the command line: Qt's offscreen platform unless one is set, and a
// private runtime folder unless one is set.
void prepareHeadlessEnvironment();

// Sets an environment variable (overwriting it); an empty value unsets it.
void setEnvironment(const char* name, const std::string& value);

// Starts a thread that calls onBreak (on that thread) for every break signal that
// arrives (SIGINT, SIGTERM, SIGHUP, blocked by blockBreakSignals). False if it could
// not start. stopBreakWatcher ends and joins it; safe without a start.
bool startBreakWatcher(std::function<void()> onBreak);
void stopBreakWatcher();
