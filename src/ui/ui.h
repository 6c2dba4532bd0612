// What every module may ask of the user interface: the status line, message
// requesters, the one-line input window, file, font and mode requesters and the
// loading state of the controls. The drawing side is a backend: headless (scripted
// answers, for tests and the command line) until the window shell installs its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum RequesterKind {
    REQ_INFO = 0,
    REQ_ERROR = 1,
    REQ_QUESTION = 2,
};

// Shows text in the status line; callable from any thread, the text is copied.
// An empty text (or null) clears the line.
void setStatus(const char* text);
// The text the status line shows now.
std::string currentStatus();

// A modal requester; buttons are separated by "|". Returns 1 for the first button,
// 2 for the second and so on, and 0 for the last (also for Escape or closing it).
int showRequester(int kind, const char* body, const char* buttons);
void showInfo(const char* body);
void showError(const char* body);   // clears the status line first
int askOkCancel(const char* body);  // non-zero means OK
int askChoice(const char* body, const char* buttons);
// As askChoice, but -1 when the requester was closed with Escape or its close button.
int askChoiceOrDismiss(const char* body, const char* buttons);

// One-line text input, at most maxChars characters (UTF-8 sequences are never split).
// With masked set, what is typed is not shown (a password). result receives the text,
// empty when cancelled. Returns 1 when a break signal arrived while the window was
// open (the caller then quits), else 0.
int openInputWindow(const char* title, const char* initialText, int maxChars, std::string& result,
                    bool masked = false);

// File requesters, starting in the initial drawer. False when cancelled.
bool requestSaveFile(const char* initialName, std::string& path);
bool requestUploadFile(std::string& path);

// The font requester: kind 0 any font, 1 fixed-width only, 2 proportional only.
// family and height hold the current font and receive the chosen one. False when
// cancelled.
bool requestFont(int kind, const char* title, std::string& family, int& height);
// A list of display modes; returns the chosen index, -1 when cancelled.
int requestMode(const std::vector<std::string>& labels, int initial);

// The loading state of the controls; both calls are idempotent.
void disableGuiBeforePageLoad();
void enableGuiAfterPageLoad();
bool guiLocked();

// ---- backend ----
struct ShellBackend {
    std::function<void(const std::string& text)> showStatus;  // any thread
    // Returns the index of the pressed button (0 = first) or -1 when dismissed.
    std::function<int(int kind, const std::string& title, const std::string& body,
                      const std::vector<std::string>& buttons)>
        requester;
    // Returns true on a break; text receives the answer (empty = cancelled).
    std::function<bool(const std::string& title, const std::string& initialText, int maxChars, bool masked,
                       std::string& text)>
        input;
    // save: true for "Save File As...", false for "Upload file...". Empty path = cancelled.
    std::function<std::string(bool save, const std::string& title, const std::string& drawer,
                              const std::string& initialName)>
        file;
    std::function<void(bool locked)> lockControls;
    std::function<bool(int kind, const std::string& title, std::string& family, int& height)> font;
    std::function<int(const std::vector<std::string>& labels, int initial)> mode;
};

// Installs a backend (the window's); a default-constructed one restores the headless one.
void shellInstallBackend(ShellBackend backend);

// ---- headless backend, for tests and the command line ----
struct ShellCall {
    enum What { STATUS, REQUESTER, INPUT, SAVE_FILE, UPLOAD_FILE, LOCK, UNLOCK, FONT, MODE } what;
    int kind = 0;
    std::string title;
    std::string body;  // requester body, input initial text, file initial name, status text
    std::vector<std::string> buttons;
    int maxChars = 0;
    bool masked = false;  // input window: what is typed is hidden
};

struct ShellAnswer {
    int button = -1;   // requesters and modes: the chosen index, -1 = dismissed; fonts: the height
    std::string text;  // input window, file and font requesters: the answer, empty = cancelled
    bool brk = false;  // input window: a break arrived
};

using ShellResponder = std::function<ShellAnswer(const ShellCall& call)>;

// Answers requesters, input windows and file requesters. Without a responder every
// requester is dismissed and every input cancelled.
void headlessSetResponder(ShellResponder responder);
// Everything shown since the last reset, in order (status texts included).
std::vector<ShellCall> headlessCalls();
void headlessReset();

// Splits "a|b|c" into its buttons.
std::vector<std::string> splitButtons(const char* buttons);
