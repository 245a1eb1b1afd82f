#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// The operations of one pass, run by run() on a thread of their own, one after another in their
// order, so that an operation that takes long (a rename on a busy network share) never holds the
// window's thread.
// That thread takes the outcomes as they come and keeps answering events meanwhile; an outcome that
// holds the thread (a failure, to be reported before the next operation starts) keeps it waiting
// until released, and an outcome that ends the run (a volume that is gone) is its last.
template <typename Outcome> class OperationThread final
{
public:
    struct Taken
    {
        int index = 0;
        Outcome outcome;
    };

    // run() calls operate(0), operate(1) ... operate(count - 1) and asks stopRequested() after each
    // whether to go on; every function is called on its thread.
    OperationThread(int count, std::function<Outcome(int index)> operate, std::function<bool()> stopRequested,
        std::function<bool(const Outcome&)> holds, std::function<bool(const Outcome&)> ends)
        : m_count(count)
        , m_operate(std::move(operate))
        , m_stopRequested(std::move(stopRequested))
        , m_holds(std::move(holds))
        , m_ends(std::move(ends))
    {
    }
    Q_DISABLE_COPY_MOVE(OperationThread)

    // Lets the operation in progress end and starts none after it; from the thread that takes the
    // outcomes, before it waits for run() to return.
    void quit()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
    }

    // Appends the outcomes not yet taken to `outcomes`, in order, waiting at most `timeout` for the
    // next one; false once the thread has ended and every outcome has been taken.
    bool takeOutcomes(std::vector<Taken>& outcomes, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [this] { return !m_outcomes.empty() || m_ended; });
        if (m_outcomes.empty())
            return !m_ended;
        outcomes.insert(outcomes.end(), m_outcomes.begin(), m_outcomes.end());
        m_outcomes.clear();
        return true;
    }
    // The outcome taken last that holds the thread has been dealt with; the next operation may start.
    void released()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_changed.notify_all();
    }

    void run()
    {
        // Outcomes are handed over a millisecond's worth at a time: taking the lock for each would
        // cost quick operations (look-ups in a local folder) a good part of their time. An outcome
        // that holds the thread, and the last outcome, are handed over at once.
        constexpr auto handOverInterval = std::chrono::milliseconds(1);
        std::vector<Taken> kept;
        auto handedOver = std::chrono::steady_clock::now();
        for (int index = 0; index < m_count; ++index) {
            kept.push_back({ index, m_operate(index) });
            const bool hold = m_holds(kept.back().outcome);
            const bool last = m_ends(kept.back().outcome);
            if (hold || std::chrono::steady_clock::now() - handedOver >= handOverInterval) {
                std::unique_lock lock(m_mutex);
                m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
                kept.clear();
                if (hold) {
                    // The window's thread waits for outcomes no longer than until its next events
                    // anyway; only an outcome that holds this thread is worth waking it for.
                    m_held = true;
                    m_changed.notify_all();
                    m_changed.wait(lock, [this] { return !m_held || m_quit; });
                }
                lock.unlock();
                handedOver = std::chrono::steady_clock::now();
            }
            if (last || m_quit || m_stopRequested())
                break;
        }
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
            m_ended = true;
        }
        m_changed.notify_all();
    }

private:
    const int m_count;
    std::function<Outcome(int index)> m_operate;
    std::function<bool()> m_stopRequested;
    std::function<bool(const Outcome&)> m_holds;
    std::function<bool(const Outcome&)> m_ends;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Taken> m_outcomes;
    bool m_held = false;
    std::atomic<bool> m_quit = false; // also read between operations, without the lock
    bool m_ended = false;
};
