#include "platform/task.h"

#include <algorithm>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

struct TaskRecord {
    std::string name;
    std::mutex mutex;
    std::condition_variable changed;
    std::uint32_t allocated = TASK_BREAK_MASK;  // guarded by mutex
    std::uint32_t pending = 0;                  // guarded by mutex
    std::shared_ptr<const WaitPump> pump;       // guarded by mutex
    int breakFd = -1;                           // readable exactly while the break bit is pending

    std::mutex threadMutex;
    std::thread thread;  // guarded by threadMutex; empty for adopted threads
    bool created = false;
    std::atomic<bool> finished{false};

    TaskRecord() : breakFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~TaskRecord() {
        // The last handle can go in the task's own thread (its thread-local reference)
        // or after the thread dropped that reference on its way out: either way the
        // thread no longer needs the record, so it is left to finish on its own.
        if (thread.joinable()) thread.detach();
        if (breakFd >= 0) ::close(breakFd);
    }
    TaskRecord(const TaskRecord&) = delete;
    TaskRecord& operator=(const TaskRecord&) = delete;
};

namespace {

thread_local TaskHandle currentRecord;

using Clock = std::chrono::steady_clock;

// Both run with the record's mutex held, so the descriptor follows the bit exactly.
void raiseBreakDescriptor(TaskRecord& task) {
    if (task.breakFd < 0) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(task.breakFd, &one, sizeof one);
}

void drainBreakDescriptor(TaskRecord& task) {
    if (task.breakFd < 0) return;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(task.breakFd, &count, sizeof count);
}

// Clears bits of the pending set (mutex held) and returns those that were pending.
std::uint32_t takeBits(TaskRecord& task, std::uint32_t mask) {
    std::uint32_t got = task.pending & mask;
    task.pending &= ~got;
    if (got & TASK_BREAK_MASK) drainBreakDescriptor(task);
    return got;
}

std::string systemThreadName() {
    char buffer[TASK_THREAD_NAME_MAX + 1] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return {};
    return buffer;
}

std::uint32_t waitBits(std::uint32_t mask, std::optional<Clock::time_point> deadline) {
    if (mask == 0) return 0;
    TaskHandle self = taskCurrent();
    if (!self) return 0;
    std::unique_lock lock(self->mutex);
    for (;;) {
        if (std::uint32_t got = takeBits(*self, mask)) return got;
        if (deadline && Clock::now() >= *deadline) return 0;
        if (std::shared_ptr<const WaitPump> pump = self->pump; pump && pump->runOnce) {
            lock.unlock();
            if (deadline && pump->runFor) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                pump->runFor(static_cast<int>(std::max<long long>(1, left)));
            } else {
                pump->runOnce();
            }
            lock.lock();
        } else if (deadline) {
            self->changed.wait_until(lock, *deadline);
        } else {
            self->changed.wait(lock);
        }
    }
}

}  // namespace

TaskHandle taskCurrent() {
    if (!currentRecord) {
        try {
            auto record = std::make_shared<TaskRecord>();
            record->name = systemThreadName();
            currentRecord = std::move(record);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return currentRecord;
}

TaskHandle taskCreate(const char* name, std::function<void()> entry) {
    if (!entry) return nullptr;
    try {
        auto record = std::make_shared<TaskRecord>();
        record->name = name ? name : "";
        record->created = true;
        std::string systemName = record->name.substr(0, TASK_THREAD_NAME_MAX);
        std::lock_guard threadLock(record->threadMutex);
        record->thread = std::thread([record, entry = std::move(entry), systemName]() mutable {
            pthread_setname_np(pthread_self(), systemName.c_str());
            currentRecord = record;
            record.reset();  // from here on the thread-local reference keeps it
            entry();
            currentRecord->finished.store(true, std::memory_order_release);
            currentRecord.reset();
        });
        return record;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::system_error&) {
        return nullptr;
    }
}

bool taskJoin(const TaskHandle& task) {
    if (!task || !task->created || task == currentRecord) return false;
    std::thread thread;
    {
        std::lock_guard lock(task->threadMutex);
        thread = std::move(task->thread);
    }
    if (thread.joinable()) thread.join();
    return task->finished.load(std::memory_order_acquire);
}

bool taskFinished(const TaskHandle& task) {
    return task && task->finished.load(std::memory_order_acquire);
}

std::string taskName(const TaskHandle& task) {
    return task ? task->name : std::string();
}

int taskAllocSignal(int wanted) {
    TaskHandle self = taskCurrent();
    if (!self || wanted < -1 || wanted >= TASK_SIGNAL_BITS) return -1;
    std::lock_guard lock(self->mutex);
    int bit = -1;
    if (wanted >= 0) {
        if (!(self->allocated & (std::uint32_t{1} << wanted))) bit = wanted;
    } else {
        for (int b = 0; b < TASK_SIGNAL_BITS && bit < 0; ++b) {
            if (!(self->allocated & (std::uint32_t{1} << b))) bit = b;
        }
    }
    if (bit < 0) return -1;
    std::uint32_t mask = std::uint32_t{1} << bit;
    self->allocated |= mask;
    self->pending &= ~mask;
    return bit;
}

void taskFreeSignal(int bit) {
    if (bit < 0 || bit >= TASK_SIGNAL_BITS || bit == TASK_BREAK_BIT) return;
    TaskHandle self = taskCurrent();
    if (!self) return;
    std::lock_guard lock(self->mutex);
    std::uint32_t mask = std::uint32_t{1} << bit;
    self->allocated &= ~mask;
    self->pending &= ~mask;
}

void taskSendSignal(const TaskHandle& task, std::uint32_t mask) {
    if (!task || mask == 0) return;
    std::shared_ptr<const WaitPump> pump;
    {
        std::lock_guard lock(task->mutex);
        if ((mask & TASK_BREAK_MASK) && !(task->pending & TASK_BREAK_MASK)) raiseBreakDescriptor(*task);
        task->pending |= mask;
        pump = task->pump;
    }
    task->changed.notify_all();
    // Bits first, then the wake: a pump that is just about to block still sees them.
    if (pump && pump->wake) pump->wake();
}

std::uint32_t taskWaitSignals(std::uint32_t mask) {
    return waitBits(mask, std::nullopt);
}

std::uint32_t taskWaitSignalsFor(std::uint32_t mask, int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = 0;
    return waitBits(mask, Clock::now() + std::chrono::milliseconds(timeoutMs));
}

std::uint32_t taskClearSignals(std::uint32_t mask) {
    TaskHandle self = taskCurrent();
    if (!self) return 0;
    std::lock_guard lock(self->mutex);
    return takeBits(*self, mask);
}

std::uint32_t taskPendingSignals(const TaskHandle& task) {
    if (!task) return 0;
    std::lock_guard lock(task->mutex);
    return task->pending;
}

int taskBreakDescriptor(const TaskHandle& task) {
    return task ? task->breakFd : -1;
}

void taskSetWaitPump(WaitPump pump) {
    TaskHandle self = taskCurrent();
    if (!self) return;
    std::shared_ptr<const WaitPump> installed;
    if (pump.runOnce) {
        try {
            installed = std::make_shared<const WaitPump>(std::move(pump));
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    std::lock_guard lock(self->mutex);
    self->pump = std::move(installed);
}
