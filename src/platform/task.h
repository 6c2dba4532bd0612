// Tasks and one-bit signals.
//
// A task is a thread with a record of 32 signal bits. A task allocates the bits it
// waits for; any thread may send bits to any task; only the task itself waits for,
// clears, allocates and frees its own bits. Bit TASK_BREAK_BIT is every task's break
// signal: always allocated, never handed out by taskAllocSignal.
//
// Records are reference-counted (TaskHandle is a std::shared_ptr). A task's thread
// holds its own record while it runs; whoever keeps a handle keeps the record alive,
// so sending to a task that has ended is always safe (the bits are simply set on a
// record nobody waits on). A thread that was not made by taskCreate (the main thread,
// a test's std::thread) is adopted as a task the first time it calls taskCurrent or
// any operation on its own signals.
//
// Ordering: the bits live under the record's mutex, so everything a thread wrote
// before taskSendSignal is visible to the task once taskWaitSignals returns those bits.
//
// The break descriptor: each task has an eventfd that is readable exactly while its
// break bit is pending (poll it beside a socket to make a blocking call stoppable).
// Sending the break makes it readable; clearing the break bit (by a wait that returns
// it, by taskClearSignals or by taskFreeSignal) drains it.
//
// Wait pumps: a task whose thread must keep an event loop running while it waits
// installs a WaitPump. taskWaitSignals then calls runOnce() (which may block) until a
// wanted bit is pending; taskSendSignal sets the bits first and then calls wake(). The
// pump must not lose a wake-up: a wake() that comes before runOnce() blocks must make
// that runOnce() return promptly (Qt's event dispatcher wakeUp() behaves so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct TaskRecord;
using TaskHandle = std::shared_ptr<TaskRecord>;

inline constexpr int TASK_SIGNAL_BITS = 32;
inline constexpr int TASK_BREAK_BIT = 12;
inline constexpr std::uint32_t TASK_BREAK_MASK = std::uint32_t{1} << TASK_BREAK_BIT;
// The system keeps at most this many bytes of a thread's name.
inline constexpr std::size_t TASK_THREAD_NAME_MAX = 15;

struct WaitPump {
    std::function<void()> runOnce;  // runs the loop once, blocking until there is work or a wake()
    std::function<void()> wake;     // makes a blocked (or the next) runOnce() return; any thread
    // Optional: as runOnce, but returns after timeoutMs at the latest (timed waits use it).
    std::function<void(int timeoutMs)> runFor;
};

// The calling thread's task (adopting the thread on first use); null only when the
// record could not be allocated.
TaskHandle taskCurrent();

// Starts a thread running entry() as a new task. The thread's system name is the first
// 15 bytes of name; taskName keeps the whole name. Null when the thread or its record
// could not be created.
TaskHandle taskCreate(const char* name, std::function<void()> entry);
// Waits until a task made by taskCreate has ended and reaps its thread. False for a
// null handle, an adopted thread, or the calling task itself. A handle dropped without
// a join is fine too: the thread is then detached when its record goes.
bool taskJoin(const TaskHandle& task);
// True once the entry function of a task made by taskCreate has returned.
bool taskFinished(const TaskHandle& task);
// The name given to taskCreate (the system name for an adopted thread).
std::string taskName(const TaskHandle& task);

// Allocates a signal bit of the current task: the given bit (0-31) if it is free, or
// with -1 the lowest free one. The bit starts cleared. Returns the bit or -1.
int taskAllocSignal(int wanted = -1);
// Frees a bit of the current task and clears it; the break bit and bits out of range
// are ignored.
void taskFreeSignal(int bit);

// Sets the bits of mask in the task (a null handle is ignored), then wakes it.
void taskSendSignal(const TaskHandle& task, std::uint32_t mask);
// Waits until at least one bit of mask is pending in the current task; returns the
// pending bits of mask and clears them (the others stay pending). A mask of 0 returns 0.
std::uint32_t taskWaitSignals(std::uint32_t mask);
// As taskWaitSignals, but gives up after timeoutMs and returns 0. With a wait pump
// installed, the time-out is checked each time runOnce() returns.
std::uint32_t taskWaitSignalsFor(std::uint32_t mask, int timeoutMs);
// Clears the bits of mask in the current task; returns those that were pending.
std::uint32_t taskClearSignals(std::uint32_t mask);
// The pending bits of a task, left as they are (0 for a null handle).
std::uint32_t taskPendingSignals(const TaskHandle& task);

// The task's break descriptor (-1 for a null handle or when it could not be made).
// The descriptor belongs to the record: do not close it.
int taskBreakDescriptor(const TaskHandle& task);

// Installs the current task's wait pump; a pump without runOnce removes it.
void taskSetWaitPump(WaitPump pump);
