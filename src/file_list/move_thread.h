#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs the file operations of one pass on a thread of its own, one after another in their order, so
// that an operation that takes long (a rename on a busy network share) never holds the window's
// thread. That thread takes the outcomes as they come, keeps answering events meanwhile, and, where
// failures are reported, reports each before the next operation starts: after a failure the thread
// then waits until it has been reported.
class MoveThread final
{
public:
    struct Outcome
    {
        int index = 0;
        int result = 0; // 0, or what made the operation fail
    };

    // Runs operate(0), operate(1) ... operate(count - 1), each returning 0 or what made it fail, and
    // asks stopRequested() after each whether to go on; both are called on the thread.
    MoveThread(int count, std::function<int(int index)> operate, std::function<bool()> stopRequested,
        bool failuresWaitForReport);
    // Lets the operation in progress end and starts none after it.
    ~MoveThread();
    Q_DISABLE_COPY_MOVE(MoveThread)

    // Appends the outcomes not yet taken to `outcomes`, in order, waiting at most `timeout` for the
    // next one; false once the thread has ended and every outcome has been taken.
    bool takeOutcomes(std::vector<Outcome>& outcomes, std::chrono::milliseconds timeout);
    // The failure taken last has been reported; the next operation may start.
    void failureReported();

private:
    void run(int count);
    bool outcomesOrEnd() const { return !m_outcomes.empty() || m_ended; }

    std::function<int(int index)> m_operate;
    std::function<bool()> m_stopRequested;
    const bool m_failuresWaitForReport;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Outcome> m_outcomes;
    bool m_awaitingReport = false;
    std::atomic<bool> m_quit = false; // also read between operations, without the lock
    bool m_ended = false;
    std::thread m_thread;
};
