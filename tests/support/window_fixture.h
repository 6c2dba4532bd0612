// A window on the offscreen display with the stores around it, for the shell, view
// and browser tests: a private preferences folder, an empty cache and history, the
// headless dialog answers, and (when asked for) the network task.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/private_home.h"
#include "ui/ui.h"

class WindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Starts the network task (the fixture stops it).
    void startNetwork();
    // Runs the event loop until done() holds; false after timeoutMs.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = 20000);
    // Runs the event loop until no fetch is pending and the queue is empty.
    bool settle(int timeoutMs = 20000);
    // Restarts the window as the main loop does after a restart request.
    void restartWindow();

    std::unique_ptr<PrivateHome> privateHome;
    std::string home;
    bool network = false;
};

// The style of display line i of the page on show (-1 outside).
int lineStyle(int i);
// The index of the first display line containing text, -1 when none.
int findLine(const std::string& text);
