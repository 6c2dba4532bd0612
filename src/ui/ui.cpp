#include "ui/ui.h"

#include <cstring>
#include <mutex>

#include "platform/paths.h"
#include "text/locale.h"

namespace {

std::mutex shellMutex;
ShellBackend backend;  // empty members: the headless one answers
std::string statusText;
bool locked = false;

std::mutex headlessMutex;
ShellResponder responder;
std::vector<ShellCall> calls;

void record(const ShellCall& call) {
    std::lock_guard<std::mutex> guard(headlessMutex);
    calls.push_back(call);
}

ShellAnswer ask(const ShellCall& call) {
    record(call);
    ShellResponder r;
    {
        std::lock_guard<std::mutex> guard(headlessMutex);
        r = responder;
    }
    return r ? r(call) : ShellAnswer{};
}

const char* textOr(const char* text, const char* fallback) {
    return text ? text : fallback;
}

// Cuts s to at most maxChars UTF-8 characters.
void cutCharacters(std::string& s, int maxChars) {
    if (maxChars < 0) maxChars = 0;
    int chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (chars == maxChars) {
            s.resize(i);
            return;
        }
        chars++;
    }
}

}  // namespace

std::vector<std::string> splitButtons(const char* buttons) {
    std::vector<std::string> out;
    const char* s = textOr(buttons, "");
    const char* start = s;
    for (;; ++s) {
        if (*s == '|' || *s == '\0') {
            out.emplace_back(start, static_cast<size_t>(s - start));
            if (*s == '\0') break;
            start = s + 1;
        }
    }
    return out;
}

void shellInstallBackend(ShellBackend b) {
    std::lock_guard<std::mutex> guard(shellMutex);
    backend = std::move(b);
}

void setStatus(const char* text) {
    std::string copy = textOr(text, "");
    std::function<void(const std::string&)> show;
    {
        std::lock_guard<std::mutex> guard(shellMutex);
        statusText = copy;
        show = backend.showStatus;
    }
    if (show) {
        show(copy);
    } else {
        record(ShellCall{ShellCall::STATUS, 0, {}, copy, {}, 0});
    }
}

std::string currentStatus() {
    std::lock_guard<std::mutex> guard(shellMutex);
    return statusText;
}

namespace {

// The index of the pressed button (0 = first), -1 when the requester was dismissed.
int requesterButton(int kind, const char* body, const std::vector<std::string>& list) {
    const char* title = kind == REQ_INFO    ? getString(MSG_TITLE_INFO)
                        : kind == REQ_ERROR ? getString(MSG_TITLE_ERROR)
                                            : "Farlander";
    if (backend.requester) return backend.requester(kind, textOr(title, ""), textOr(body, ""), list);
    return ask(ShellCall{ShellCall::REQUESTER, kind, textOr(title, ""), textOr(body, ""), list, 0}).button;
}

}  // namespace

int showRequester(int kind, const char* body, const char* buttons) {
    std::vector<std::string> list = splitButtons(buttons);
    int index = requesterButton(kind, body, list);
    int count = static_cast<int>(list.size());
    if (index < 0 || index >= count - 1) return 0;
    return index + 1;
}

void showInfo(const char* body) {
    showRequester(REQ_INFO, body, getString(MSG_BUTTONS_OK));
}

void showError(const char* body) {
    setStatus("");
    showRequester(REQ_ERROR, body, getString(MSG_BUTTONS_OK));
}

int askOkCancel(const char* body) {
    return showRequester(REQ_QUESTION, body, getString(MSG_BUTTONS_OK_CANCEL));
}

int askChoice(const char* body, const char* buttons) {
    return showRequester(REQ_QUESTION, body, buttons);
}

int askChoiceOrDismiss(const char* body, const char* buttons) {
    std::vector<std::string> list = splitButtons(buttons);
    int index = requesterButton(REQ_QUESTION, body, list);
    int count = static_cast<int>(list.size());
    if (index < 0 || index >= count) return -1;
    return index == count - 1 ? 0 : index + 1;
}

int openInputWindow(const char* title, const char* initialText, int maxChars, std::string& result,
                    bool masked) {
    result.clear();
    bool brk;
    std::string text;
    if (backend.input) {
        brk = backend.input(textOr(title, ""), textOr(initialText, ""), maxChars, masked, text);
    } else {
        ShellAnswer answer = ask(
            ShellCall{ShellCall::INPUT, 0, textOr(title, ""), textOr(initialText, ""), {}, maxChars, masked});
        brk = answer.brk;
        text = std::move(answer.text);
    }
    if (brk) return 1;
    cutCharacters(text, maxChars);
    result = std::move(text);
    return 0;
}

static bool requestFile(bool save, const char* initialName, std::string& path) {
    const char* title = getString(save ? MSG_TITLE_SAVE_FILE : MSG_TITLE_UPLOAD_FILE);
    std::string drawer = initialDrawer();
    std::string name = textOr(initialName, "");
    if (backend.file) {
        path = backend.file(save, textOr(title, ""), drawer, name);
    } else {
        path =
            ask(ShellCall{
                    save ? ShellCall::SAVE_FILE : ShellCall::UPLOAD_FILE, 0, textOr(title, ""), name, {}, 0})
                .text;
    }
    return !path.empty();
}

bool requestSaveFile(const char* initialName, std::string& path) {
    return requestFile(true, initialName, path);
}

bool requestUploadFile(std::string& path) {
    return requestFile(false, nullptr, path);
}

bool requestFont(int kind, const char* title, std::string& family, int& height) {
    if (backend.font) return backend.font(kind, textOr(title, ""), family, height);
    ShellCall call{ShellCall::FONT, kind, textOr(title, ""), family, {}, height};
    ShellAnswer answer = ask(call);
    if (answer.text.empty()) return false;
    family = answer.text;
    height = answer.button;
    return true;
}

int requestMode(const std::vector<std::string>& labels, int initial) {
    if (backend.mode) return backend.mode(labels, initial);
    ShellAnswer answer = ask(ShellCall{ShellCall::MODE, 0, {}, {}, labels, initial});
    return answer.button >= 0 && answer.button < static_cast<int>(labels.size()) ? answer.button : -1;
}

void disableGuiBeforePageLoad() {
    if (locked) return;
    locked = true;
    if (backend.lockControls) {
        backend.lockControls(true);
    } else {
        record(ShellCall{ShellCall::LOCK, 0, {}, {}, {}, 0});
    }
}

void enableGuiAfterPageLoad() {
    if (!locked) return;
    if (backend.lockControls) {
        backend.lockControls(false);
    } else {
        record(ShellCall{ShellCall::UNLOCK, 0, {}, {}, {}, 0});
    }
    setStatus("");
    locked = false;
}

bool guiLocked() {
    return locked;
}

void headlessSetResponder(ShellResponder r) {
    std::lock_guard<std::mutex> guard(headlessMutex);
    responder = std::move(r);
}

std::vector<ShellCall> headlessCalls() {
    std::lock_guard<std::mutex> guard(headlessMutex);
    return calls;
}

void headlessReset() {
    {
        std::lock_guard<std::mutex> guard(headlessMutex);
        calls.clear();
        responder = nullptr;
    }
    std::lock_guard<std::mutex> guard(shellMutex);
    statusText.clear();
    locked = false;
}
