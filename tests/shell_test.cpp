// The shell operations as the modules below the window see them, headless.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ui/ui.h"

namespace {

class ShellTest : public testing::Test {
  protected:
    void SetUp() override { headlessReset(); }
    void TearDown() override { headlessReset(); }
};

ShellResponder pressButton(int index) {
    return [index](const ShellCall&) { return ShellAnswer{index, {}, false}; };
}

TEST_F(ShellTest, ButtonNumbersCountFromOneWithTheLastAsZero) {
    struct Case {
        const char* buttons;
        int pressed;  // index of the pressed button, -1 = Escape or close
        int expect;
    } cases[] = {
        {"Create identity|Edit CN|Cancel", 0, 1},
        {"Create identity|Edit CN|Cancel", 1, 2},
        {"Create identity|Edit CN|Cancel", 2, 0},
        {"Create identity|Edit CN|Cancel", -1, 0},
        {"OK|Cancel", 0, 1},
        {"OK|Cancel", 1, 0},
        {"OK", 0, 0},
        {"OK|Cancel", 7, 0},  // a backend answering nonsense counts as cancel
        {"a||b", 1, 2},       // an empty name is a button too
        {"a||b", 2, 0},
        {nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        headlessSetResponder(pressButton(c.pressed));
        EXPECT_EQ(askChoice("body", c.buttons), c.expect)
            << (c.buttons ? c.buttons : "null") << " " << c.pressed;
    }
}

TEST_F(ShellTest, AnErrorClearsTheStatusLineFirst) {
    headlessSetResponder(pressButton(0));
    setStatus("Loading");
    showError("boom");
    showInfo("fine");
    EXPECT_EQ(askOkCancel("sure?"), 1);
    std::vector<ShellCall> calls = headlessCalls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1].what, ShellCall::STATUS);
    EXPECT_EQ(calls[1].body, "");
    EXPECT_EQ(calls[2].kind, REQ_ERROR);
    EXPECT_EQ(calls[2].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(calls[3].kind, REQ_INFO);
    EXPECT_EQ(calls[4].kind, REQ_QUESTION);
    EXPECT_EQ(calls[4].buttons, (std::vector<std::string>{"OK", "Cancel"}));
}

TEST_F(ShellTest, InputWindowCutsCharactersNotBytes) {
    struct Case {
        std::string typed;
        int maxChars;
        bool brk;
        int expectReturn;
        std::string expect;
    } cases[] = {
        {std::string(300, 'x'), 253, false, 0, std::string(253, 'x')},
        {"\xc3\xa9t\xc3\xa9", 2, false, 0, "\xc3\xa9t"},  // never half a character
        {"abc", 64, false, 0, "abc"},
        {"", 64, false, 0, ""},
        {"typed", 64, true, 1, ""},  // a break quits, whatever was typed
    };
    for (const auto& c : cases) {
        headlessSetResponder([&](const ShellCall& call) {
            EXPECT_EQ(call.maxChars, c.maxChars);
            return ShellAnswer{-1, c.typed, c.brk};
        });
        std::string result = "stale";
        EXPECT_EQ(openInputWindow("Common Name", "Farlander", c.maxChars, result), c.expectReturn);
        EXPECT_EQ(result, c.expect);
    }
    headlessSetResponder(nullptr);
    std::string result = "stale";
    EXPECT_EQ(openInputWindow("t", nullptr, 10, result), 0);  // no answer: cancelled
    EXPECT_EQ(result, "");
}

TEST_F(ShellTest, FileRequestersOfferTheNameAndTellAnAnswer) {
    headlessSetResponder([](const ShellCall& call) {
        return ShellAnswer{-1, call.what == ShellCall::SAVE_FILE ? "/tmp/x.gmi" : "", false};
    });
    std::string path;
    EXPECT_TRUE(requestSaveFile("page.gmi", path));
    EXPECT_EQ(path, "/tmp/x.gmi");
    EXPECT_FALSE(requestUploadFile(path));
    std::vector<ShellCall> calls = headlessCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].body, "page.gmi");
}

TEST_F(ShellTest, LoadingStateIsIdempotent) {
    enableGuiAfterPageLoad();  // not locked: nothing happens
    disableGuiBeforePageLoad();
    disableGuiBeforePageLoad();
    EXPECT_TRUE(guiLocked());
    setStatus("Net init...");
    enableGuiAfterPageLoad();
    enableGuiAfterPageLoad();
    EXPECT_FALSE(guiLocked());
    EXPECT_EQ(currentStatus(), "");  // unlocking clears the status line
    int locks = 0, unlocks = 0;
    for (const auto& call : headlessCalls()) {
        locks += call.what == ShellCall::LOCK;
        unlocks += call.what == ShellCall::UNLOCK;
    }
    EXPECT_EQ(locks, 1);
    EXPECT_EQ(unlocks, 1);
}

TEST_F(ShellTest, StatusFromOtherThreadsIsCopied) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                std::string text = "Bytes: " + std::to_string(t * 1000 + i);
                setStatus(text.c_str());
            }  // the text dies here; the status line keeps its copy
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(currentStatus().rfind("Bytes: ", 0), 0u);
    EXPECT_EQ(headlessCalls().size(), 800u);
}

}  // namespace
