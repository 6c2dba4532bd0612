// The event loop of one opening of the window: it waits for the network task's
// signals, window messages and the break, and dispatches them: menus, toolbar, keys,
// wheel, scroller, the text view's pointer, finished fetches and the download
// hand-over. GUI thread only.
#pragma once

// Runs until the window must be reopened (GUI_RESTART), the program quits (GUI_QUIT)
// or a break arrives (GUI_BREAK).
int runGUI();
// One turn of the loop: waits up to timeoutMs (-1: for as long as it takes) for a
// signal, then handles the signals and the queued window messages. result is set to
// GUI_BREAK or GUI_RESTART when one of them asks for it. False when nothing came.
bool runGUIStep(int timeoutMs, int& result);
