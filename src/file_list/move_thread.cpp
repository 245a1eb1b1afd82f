#include "move_thread.h"

MoveThread::MoveThread(int count, std::function<int(int index)> operate, std::function<bool()> stopRequested,
    bool failuresWaitForReport)
    : m_operate(std::move(operate))
    , m_stopRequested(std::move(stopRequested))
    , m_failuresWaitForReport(failuresWaitForReport)
    , m_thread([this, count] { run(count); })
{
}

MoveThread::~MoveThread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool MoveThread::takeOutcomes(std::vector<Outcome>& outcomes, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [this] { return outcomesOrEnd(); });
    if (m_outcomes.empty())
        return !m_ended;
    outcomes.insert(outcomes.end(), m_outcomes.begin(), m_outcomes.end());
    m_outcomes.clear();
    return true;
}

void MoveThread::failureReported()
{
    {
        const std::lock_guard lock(m_mutex);
        m_awaitingReport = false;
    }
    m_changed.notify_all();
}

void MoveThread::run(int count)
{
    // Outcomes are handed over a millisecond's worth at a time: taking the lock for each would cost
    // quick operations (look-ups in a local folder) a good part of their time. A failure to report,
    // and the last outcome, are handed over at once.
    constexpr auto handOverInterval = std::chrono::milliseconds(1);
    std::vector<Outcome> kept;
    auto handedOver = std::chrono::steady_clock::now();
    for (int index = 0; index < count; ++index) {
        const int result = m_operate(index);
        kept.push_back({ index, result });
        const bool awaitReport = result != 0 && m_failuresWaitForReport;
        if (awaitReport || std::chrono::steady_clock::now() - handedOver >= handOverInterval) {
            std::unique_lock lock(m_mutex);
            m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
            kept.clear();
            if (awaitReport) {
                // The window's thread waits for outcomes no longer than until its next events
                // anyway; only a failure, which holds this thread, is worth waking it for.
                m_awaitingReport = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_awaitingReport || m_quit; });
            }
            lock.unlock();
            handedOver = std::chrono::steady_clock::now();
        }
        if (m_quit || m_stopRequested())
            break;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
        m_ended = true;
    }
    m_changed.notify_all();
}
