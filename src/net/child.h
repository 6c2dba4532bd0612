// The network thread and its hand-shake with the GUI.
//
// The GUI thread calls childInit once; it allocates the GUI's four signal bits
// (ready, download, done, exit) on the calling task and starts the network task
// "Farlander Network", which opens the network and TLS layers, sends ready and then
// runs one fetch per go signal. Everything here except childNetworkProcess runs on
// the GUI thread that called childInit.
//
// A fetch is pending from childStartFetch until its done signal has been taken by
// childTakeDone (the event loop) or by sendChildBreak (Stop). While one is pending the
// exchange's request is never rewritten.
#pragma once

#include <cstdint>
#include <string>

#include "net/exchange.h"
#include "url/url.h"

inline constexpr const char* NETWORK_TASK_NAME = "Farlander Network";

// The GUI's signal masks (0 before childInit and after childCleanUp).
struct ChildSignals {
    uint32_t ready = 0;
    uint32_t download = 0;
    uint32_t done = 0;
    uint32_t exit = 0;
    uint32_t all() const { return ready | download | done | exit; }
};

// Allocates the GUI signals on the calling task and starts the network task. False
// when a signal or the task could not be made.
bool childInit();
// The network task's entry.
void childNetworkProcess();
// Sets quitRequested and sends the break: the network task ends any fetch (its done
// signal still comes), then sends exit and ends. Does not wait.
void childRequestQuit();
// childRequestQuit, then waits for the network task to end and frees the GUI signals.
// Safe after a failed or missing childInit, and more than once.
void childCleanUp();

ChildSignals childSignals();
// True while the network task runs (it clears this just before sending exit).
bool childRunning();
// Waits on the calling (GUI) task for any of the child signals and the bits of extra;
// returns and clears the pending ones.
uint32_t childWaitSignals(uint32_t extra = 0);
// The start-up wait: returns true once ready has arrived (now or earlier), false when
// the network task ended instead; an exit signal stays pending for the event loop.
bool childWaitReady();

// Starts a fetch of request (its body moves into the exchange) with options and the
// proxy settings as they stand now. False when a fetch is pending or the network task
// is not there.
bool childStartFetch(UrlRecord request, FetchOptions options = {});
bool childFetchPending();
// Call on the done signal: true when the pending fetch has finished (the exchange's
// status and result are valid and the fetch is no longer pending); false for a done
// signal that belongs to nothing pending (a Stop already took that fetch).
bool childTakeDone();

// True while the pending fetch waits in the download hand-over for an answer.
bool childDownloadPending();
// Answers the hand-over: a path accepts the download, an empty one declines it.
// False (and nothing written) when no hand-over is waiting.
bool childAnswerDownload(const std::string& path);

// Stop: interrupts the pending fetch, which ends with "User stop", and consumes its
// done signal; returns the controls to normal and shows "Stopped". A second Stop
// before the network task has handled the first sends nothing.
void sendChildBreak();
// Breaks sendChildBreak has sent to the network task since childInit.
uint32_t childBreakCount();
