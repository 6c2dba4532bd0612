#include "platform/task.h"

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

namespace {

bool readable(int fd) {
    return netWaitReadable(fd, -1, 0);
}

std::uint32_t bit(int n) {
    return std::uint32_t{1} << n;
}

// Only the break bit drives the break descriptor: readable while the break is pending, however often it
// was sent, and drained by whatever clears the bit.
TEST(TaskSignals, DeliveryBetweenTasksAndTheBreakDescriptor) {
    TaskHandle self = taskCurrent();
    const int fd = taskBreakDescriptor(self);
    int a = taskAllocSignal(), b = taskAllocSignal();
    ASSERT_TRUE(fd >= 0 && a >= 0 && b >= 0);
    taskClearSignals(TASK_BREAK_MASK);
    EXPECT_FALSE(readable(fd));
    // Sent before the wait: found at once; the bits not waited for stay pending.
    bool readableBeforeBreak = true;
    TaskHandle sender = taskCreate("sender", [&] {
        taskSendSignal(self, bit(b));
        readableBeforeBreak = readable(fd);
        taskSendSignal(self, TASK_BREAK_MASK);
        taskSendSignal(self, TASK_BREAK_MASK);
    });
    ASSERT_TRUE(taskJoin(sender));
    EXPECT_FALSE(readableBeforeBreak);
    EXPECT_EQ(taskWaitSignals(bit(a) | bit(b)), bit(b));
    EXPECT_TRUE(readable(fd));
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK | bit(a) | bit(b)), TASK_BREAK_MASK);
    EXPECT_FALSE(readable(fd));
    // Sent while the wait blocks: every bit of the mask arrives together.
    const std::uint32_t all = bit(a) | bit(b) | TASK_BREAK_MASK;
    sender = taskCreate("sender", [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        taskSendSignal(self, all);
    });
    EXPECT_EQ(taskWaitSignals(all), all);
    ASSERT_TRUE(taskJoin(sender));
    EXPECT_FALSE(readable(fd));
    EXPECT_EQ(taskClearSignals(all), 0u);
    taskFreeSignal(a);
    taskFreeSignal(b);
}

// Run in a fresh task, whose bits are all free.
TEST(TaskSignals, AllocationStartsClearedAndExhaustsAtThirtyOneBits) {
    TaskHandle worker = taskCreate("alloc", [] {
        TaskHandle self = taskCurrent();
        int b = taskAllocSignal();
        ASSERT_GE(b, 0);
        taskSendSignal(self, bit(b));
        taskFreeSignal(b);
        EXPECT_EQ(taskPendingSignals(self) & bit(b), 0u);
        taskSendSignal(self, bit(b));  // sending to a free bit still sets it
        EXPECT_EQ(taskAllocSignal(b), b);
        EXPECT_EQ(taskPendingSignals(self) & bit(b), 0u);
        EXPECT_EQ(taskWaitSignalsFor(bit(b), 5), 0u);
        EXPECT_EQ(taskWaitSignals(0), 0u);
        taskSendSignal(self, bit(b));
        EXPECT_EQ(taskWaitSignalsFor(bit(b), 0), bit(b));

        std::set<int> got = {b};
        for (int i = 1; i < TASK_SIGNAL_BITS - 1; ++i)
            got.insert(taskAllocSignal());
        EXPECT_EQ(got.size(), static_cast<size_t>(TASK_SIGNAL_BITS - 1));
        EXPECT_EQ(got.count(-1) + got.count(TASK_BREAK_BIT), 0u);
        EXPECT_EQ(taskAllocSignal(), -1);
        // A bit to free first (-2: none), the bit asked for, the answer. A freed bit comes back, also asked
        // for by number; a taken bit, the break bit and bits out of range are not handed out.
        const std::tuple<int, int, int> cases[] = {
            // clang-format off
            {5, -1, 5}, {20, 20, 20}, {-2, 7, -1},
            {TASK_BREAK_BIT, TASK_BREAK_BIT, -1}, {-2, TASK_SIGNAL_BITS, -1}, {40, -1, -1},
            // clang-format on
        };
        for (const auto& [freeFirst, wanted, expect] : cases) {
            SCOPED_TRACE(wanted);
            if (freeFirst != -2) taskFreeSignal(freeFirst);
            EXPECT_EQ(taskAllocSignal(wanted), expect);
        }
    });
    ASSERT_TRUE(worker);
    ASSERT_TRUE(taskJoin(worker));
}

// Every round is a send/wait pair each way over a plain counter: a lost wake-up hangs, a missing ordering
// shows under ThreadSanitizer. With a wait pump, a job posted to it first runs on the waiting partner's
// thread and the partner's wait goes on.
TEST(TaskSignals, PingPongLosesNoWakeUp) {
    constexpr int ROUNDS = 1000;
    for (bool pumped : {false, true}) {
        SCOPED_TRACE(pumped);
        TaskHandle self = taskCurrent();
        int pong = taskAllocSignal(), ready = taskAllocSignal();
        ASSERT_GE(pong, 0);
        ASSERT_GE(ready, 0);
        int ping = -1, pumpRuns = 0;
        long counter = 0, wrongWakes = 0;  // deliberately not atomic
        std::thread::id partnerThread, jobThread;
        std::mutex mutex;  // guards job and woken
        std::condition_variable cv;
        std::function<void()> job;
        bool woken = false;
        const auto wake = [&] {
            std::lock_guard lock(mutex);
            woken = true;
            cv.notify_all();
        };
        const auto runOnce = [&] {
            std::unique_lock lock(mutex);
            ++pumpRuns;
            cv.wait(lock, [&] { return woken || job; });
            woken = false;
            if (job) std::exchange(job, nullptr)();  // it only sends a signal: fine under the lock
        };
        TaskHandle partner = taskCreate("partner", [&] {
            ping = taskAllocSignal();
            partnerThread = std::this_thread::get_id();
            if (pumped) taskSetWaitPump({runOnce, wake, {}});
            taskSendSignal(self, bit(ready));
            for (int i = 0; i < ROUNDS; ++i) {
                if (taskWaitSignals(bit(ping)) != bit(ping)) ++wrongWakes;
                ++counter;
                taskSendSignal(self, bit(pong));
            }
            taskSetWaitPump({});
        });
        ASSERT_TRUE(partner);
        ASSERT_EQ(taskWaitSignals(bit(ready)), bit(ready));
        ASSERT_GE(ping, 0);
        if (pumped) {
            {
                std::lock_guard lock(mutex);
                job = [&] {
                    jobThread = std::this_thread::get_id();
                    taskSendSignal(self, bit(pong));
                };
                cv.notify_all();
            }
            ASSERT_EQ(taskWaitSignals(bit(pong)), bit(pong));
            EXPECT_FALSE(taskFinished(partner));
        }
        long mismatches = 0;
        for (int i = 0; i < ROUNDS; ++i) {
            ++counter;
            taskSendSignal(partner, bit(ping));
            taskWaitSignals(bit(pong));
            if (counter != 2L * (i + 1)) ++mismatches;
        }
        ASSERT_TRUE(taskJoin(partner));
        EXPECT_EQ(mismatches + wrongWakes, 0);
        EXPECT_EQ(jobThread, pumped ? partnerThread : std::thread::id());
        EXPECT_EQ(pumpRuns > 0, pumped);
        taskFreeSignal(pong);
        taskFreeSignal(ready);
    }
}

TEST(TaskSignals, EndedDroppedAndNullTasksAreSafe) {
    TaskHandle ended = taskCreate("brief", [] {});
    ASSERT_TRUE(taskJoin(ended));
    EXPECT_TRUE(taskFinished(ended));
    taskSendSignal(ended, bit(3) | TASK_BREAK_MASK);
    EXPECT_EQ(taskPendingSignals(ended), bit(3) | TASK_BREAK_MASK);
    EXPECT_TRUE(readable(taskBreakDescriptor(ended)));
    EXPECT_TRUE(taskJoin(ended));  // a second join is harmless

    // A task whose handle was dropped while it ran frees its own record on the way out.
    TaskHandle self = taskCurrent();
    int started = taskAllocSignal();
    ASSERT_GE(started, 0);
    std::weak_ptr<TaskRecord> watch;
    {
        TaskHandle loose = taskCreate("loose", [self, started] {
            taskSendSignal(self, bit(started));
            taskWaitSignals(TASK_BREAK_MASK);
        });
        ASSERT_TRUE(loose);
        watch = loose;
        taskWaitSignals(bit(started));
        taskSendSignal(loose, TASK_BREAK_MASK);
    }
    for (int i = 0; i < 2000 && !watch.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(watch.expired());
    taskFreeSignal(started);

    TaskHandle none;
    taskSendSignal(none, 1);
    EXPECT_EQ(taskPendingSignals(none), 0u);
    EXPECT_EQ(taskBreakDescriptor(none), -1);
    EXPECT_FALSE(taskJoin(none));
    EXPECT_EQ(taskCreate("no entry", {}), nullptr);
}

TEST(TaskSignals, AdoptedThreadIsATask) {
    TaskHandle self = taskCurrent(), adopted, again;
    int ready = taskAllocSignal();
    ASSERT_GE(ready, 0);
    bool joinSelf = true;
    std::uint32_t got = 0;
    std::thread plain([&] {
        adopted = taskCurrent();
        again = taskCurrent();
        joinSelf = taskJoin(adopted);
        int b = taskAllocSignal(3);
        taskSendSignal(self, bit(ready));
        got = b < 0 ? 0 : taskWaitSignals(bit(b));
    });
    taskWaitSignals(bit(ready));
    taskSendSignal(adopted, bit(3));
    plain.join();
    EXPECT_EQ(adopted, again);
    EXPECT_NE(adopted, self);
    EXPECT_FALSE(joinSelf);
    EXPECT_FALSE(taskJoin(adopted));
    EXPECT_FALSE(taskFinished(adopted));
    EXPECT_EQ(got, bit(3));
    taskFreeSignal(ready);
}

TEST(TaskSignals, ThreadNameIsCutToFifteenBytes) {
    for (const std::string given : {"Farlander Network", "exactly15bytes!"}) {
        std::string seen;
        TaskHandle named = taskCreate(given.c_str(), [&] {
            std::ifstream comm("/proc/thread-self/comm");
            std::getline(comm, seen);
        });
        ASSERT_TRUE(taskJoin(named));
        EXPECT_EQ(seen, given.substr(0, 15));
        EXPECT_EQ(taskName(named), given);
    }
}

}  // namespace
