#include "platform/task.h"

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

bool readable(int fd) {
    return netWaitReadable(fd, -1, 0);
}

std::uint32_t bit(int n) {
    return std::uint32_t{1} << n;
}

// A plain pump: a queue of jobs run by the waiting thread.
struct JobPump {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> jobs;
    bool woken = false;
    int runs = 0;  // only touched by the pumping thread

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        cv.notify_all();
    }
    void wake() {
        {
            std::lock_guard lock(mutex);
            woken = true;
        }
        cv.notify_all();
    }
    void runOnce() {
        ++runs;
        std::deque<std::function<void()>> batch;
        {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return woken || !jobs.empty(); });
            woken = false;
            batch.swap(jobs);
        }
        for (auto& job : batch)
            job();
    }
    WaitPump pump() {
        return WaitPump{[this] { runOnce(); }, [this] { wake(); }, {}};
    }
};

TEST(TaskSignals, DeliveryBetweenTasks) {
    const struct {
        bool sendFirst;  // the sender finishes before the wait starts
        int sendBits;    // indices into the allocated bits, as a mask of 0..2
        int waitBits;
        int expectGot;
        int expectLeft;
    } cases[] = {
        {true, 0b001, 0b001, 0b001, 0},
        {false, 0b111, 0b111, 0b111, 0},
        {true, 0b110, 0b011, 0b010, 0b100},  // unwanted bits stay pending
    };
    int bits[3];
    for (int& b : bits)
        ASSERT_GE(b = taskAllocSignal(), 0);
    auto maskOf = [&](int which) {
        std::uint32_t m = 0;
        for (int i = 0; i < 3; ++i)
            if (which & (1 << i)) m |= bit(bits[i]);
        return m;
    };
    TaskHandle self = taskCurrent();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sendBits);
        TaskHandle sender = taskCreate("sender", [&] {
            if (!c.sendFirst) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            taskSendSignal(self, maskOf(c.sendBits));
        });
        ASSERT_TRUE(sender);
        ASSERT_TRUE(!c.sendFirst || taskJoin(sender));
        EXPECT_EQ(taskWaitSignals(maskOf(c.waitBits)), maskOf(c.expectGot));
        taskJoin(sender);
        EXPECT_EQ(taskClearSignals(maskOf(0b111)), maskOf(c.expectLeft));
    }
    for (int b : bits)
        taskFreeSignal(b);
}

TEST(TaskSignals, AllocationExhaustsAtThirtyOneBits) {
    TaskHandle worker = taskCreate("alloc", [] {
        std::set<int> got;
        for (int i = 0; i < TASK_SIGNAL_BITS - 1; ++i)
            got.insert(taskAllocSignal());
        EXPECT_EQ(got.size(), static_cast<size_t>(TASK_SIGNAL_BITS - 1));
        EXPECT_EQ(got.count(-1) + got.count(TASK_BREAK_BIT), 0u);
        EXPECT_EQ(taskAllocSignal(), -1);
        const struct {
            int freeFirst;  // -2: free nothing
            int wanted;
            int expect;
        } cases[] = {
            {5, -1, 5},                            // a freed bit comes back
            {20, 20, 20},                          // ... also when asked for by number
            {-2, 7, -1},                           // a taken bit asked for
            {TASK_BREAK_BIT, TASK_BREAK_BIT, -1},  // the break bit is never handed out
            {-2, TASK_SIGNAL_BITS, -1},
            {40, -1, -1},  // out of range
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.wanted);
            if (c.freeFirst != -2) taskFreeSignal(c.freeFirst);
            EXPECT_EQ(taskAllocSignal(c.wanted), c.expect);
        }
    });
    ASSERT_TRUE(worker);
    ASSERT_TRUE(taskJoin(worker));
}

TEST(TaskSignals, AllocatedBitStartsClearedAndWaitsTimeOut) {
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
    taskFreeSignal(b);
}

TEST(TaskSignals, BreakDescriptorFollowsTheBreakBit) {
    TaskHandle self = taskCurrent();
    int fd = taskBreakDescriptor(self);
    ASSERT_GE(fd, 0);
    taskClearSignals(TASK_BREAK_MASK);
    EXPECT_FALSE(readable(fd));
    // Sent twice from another task: one pending break.
    TaskHandle sender = taskCreate("breaker", [self] {
        taskSendSignal(self, TASK_BREAK_MASK);
        taskSendSignal(self, TASK_BREAK_MASK);
    });
    ASSERT_TRUE(taskJoin(sender));
    EXPECT_TRUE(readable(fd));
    EXPECT_EQ(taskClearSignals(TASK_BREAK_MASK), TASK_BREAK_MASK);
    EXPECT_FALSE(readable(fd));
    // Other bits do not touch it; a wait that returns the break drains it.
    int b = taskAllocSignal();
    ASSERT_GE(b, 0);
    taskSendSignal(self, bit(b));
    EXPECT_FALSE(readable(fd));
    taskSendSignal(self, TASK_BREAK_MASK);
    EXPECT_EQ(taskWaitSignals(bit(b)), bit(b));
    EXPECT_TRUE(readable(fd));
    EXPECT_EQ(taskWaitSignals(TASK_BREAK_MASK | bit(b)), TASK_BREAK_MASK);
    EXPECT_FALSE(readable(fd));
    taskFreeSignal(b);
}

TEST(TaskSignals, PumpRunsWhileWaiting) {
    TaskHandle self = taskCurrent();
    int ready = taskAllocSignal();
    int jobRan = taskAllocSignal();
    ASSERT_GE(ready, 0);
    ASSERT_GE(jobRan, 0);
    JobPump pump;
    int go = -1;
    std::uint32_t got = 0;
    std::thread::id jobThread;
    TaskHandle gui = taskCreate("pumped", [&] {
        go = taskAllocSignal();
        taskSetWaitPump(pump.pump());
        taskSendSignal(self, bit(ready));
        got = taskWaitSignals(bit(go));
        taskSetWaitPump({});
    });
    ASSERT_TRUE(gui);
    ASSERT_EQ(taskWaitSignals(bit(ready)), bit(ready));
    ASSERT_GE(go, 0);
    // A job posted to the pump runs on the waiting task's thread, and the wait goes on.
    pump.post([&] {
        jobThread = std::this_thread::get_id();
        taskSendSignal(self, bit(jobRan));
    });
    ASSERT_EQ(taskWaitSignals(bit(jobRan)), bit(jobRan));
    EXPECT_FALSE(taskFinished(gui));
    taskSendSignal(gui, bit(go));
    ASSERT_TRUE(taskJoin(gui));
    EXPECT_EQ(got, bit(go));
    EXPECT_NE(jobThread, std::this_thread::get_id());
    EXPECT_NE(jobThread, std::thread::id());
    EXPECT_GE(pump.runs, 1);
    taskFreeSignal(ready);
    taskFreeSignal(jobRan);
}

// Every round is a send/wait pair each way over a plain counter: a lost wake-up hangs,
// a missing ordering shows under ThreadSanitizer.
TEST(TaskSignals, PingPongLosesNoWakeUp) {
    constexpr int ROUNDS = 1000;
    for (bool pumped : {false, true}) {
        SCOPED_TRACE(pumped);
        TaskHandle self = taskCurrent();
        int pong = taskAllocSignal();
        int ready = taskAllocSignal();
        ASSERT_GE(pong, 0);
        ASSERT_GE(ready, 0);
        int ping = -1;
        long counter = 0;  // deliberately not atomic
        JobPump pump;
        TaskHandle partner = taskCreate("partner", [&] {
            ping = taskAllocSignal();
            if (pumped) taskSetWaitPump(pump.pump());
            taskSendSignal(self, bit(ready));
            for (int i = 0; i < ROUNDS; ++i) {
                taskWaitSignals(bit(ping));
                ++counter;
                taskSendSignal(self, bit(pong));
            }
        });
        ASSERT_TRUE(partner);
        taskWaitSignals(bit(ready));
        long mismatches = 0;
        for (int i = 0; i < ROUNDS; ++i) {
            ++counter;
            taskSendSignal(partner, bit(ping));
            taskWaitSignals(bit(pong));
            if (counter != 2L * (i + 1)) ++mismatches;
        }
        ASSERT_TRUE(taskJoin(partner));
        EXPECT_EQ(mismatches, 0);
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
    TaskHandle adopted;
    TaskHandle again;
    bool joinSelf = true;
    std::uint32_t got = 0;
    std::mutex mutex;
    std::condition_variable cv;
    std::thread plain([&] {
        TaskHandle me = taskCurrent();
        again = taskCurrent();
        joinSelf = taskJoin(me);
        int b = taskAllocSignal(3);
        {
            std::lock_guard lock(mutex);
            adopted = me;
        }
        cv.notify_all();
        got = b < 0 ? 0 : taskWaitSignals(bit(b));
    });
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return adopted != nullptr; });
    }
    taskSendSignal(adopted, bit(3));
    plain.join();
    EXPECT_EQ(adopted, again);
    EXPECT_NE(adopted, taskCurrent());
    EXPECT_FALSE(joinSelf);
    EXPECT_FALSE(taskJoin(adopted));
    EXPECT_FALSE(taskFinished(adopted));
    EXPECT_EQ(got, bit(3));
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
