#pragma once

#include "work_thread.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

// Which operations of a pass may run at once. Where `bound` is above 1 and the operations prove
// slow (each waits on a share's round trips), up to `bound` of them run at once, each started in
// order and only once no operation in progress is one it depends on; elsewhere, and where nothing
// says which depend on which, they run one after another.
struct Overlap
{
    int bound = 1;
    // Whether operation `later` must wait for operation `earlier` to end.
    std::function<bool(int earlier, int later)> dependent;
    // Where given, the group of each operation (the folder its move changes): operations of different
    // groups never depend on one another, so one may start ahead of earlier ones of other groups, up
    // to `ahead` beyond the first whose outcome is yet to come, each group's own still in order; in
    // that first one's group, none starts further than the bound beyond it, as without groups. The
    // groups with fewest under way go first: where a volume changes the names of one folder only one
    // after another (Linux holds a folder while a name in it changes), several folders keep as many
    // moves under way as the bound allows.
    std::function<quint32(int index)> group;
    int ahead = 0;
};

// Starts a thread that runs its work and is joined when the returned object goes.
using ThreadStart = std::function<WorkThread(std::function<void()> work)>;

// The operations of one pass, run by run() on a thread of their own, one after another in their
// order, so that an operation that takes long (a rename on a busy network share) never holds the
// window's thread; where they prove slow, up to an overlap's bound at once, on threads of their own.
// That thread takes the outcomes as they come, in the operations' order, and keeps answering events
// meanwhile; an outcome that holds the thread (a failure, to be reported before the next operation
// starts) keeps it waiting until released, and once an outcome ends the run (a volume that is gone)
// nothing more starts: what runs already ends, and its outcome comes too. Where operations started
// out of their order, those that never started are passed over.
template <typename Outcome> class OperationThread final
{
public:
    struct Taken
    {
        int index = 0;
        Outcome outcome;
        bool afterStop = false; // an operation under way when the run was asked to stop
    };

    // run() calls operate(0), operate(1) ... operate(count - 1) and asks stopRequested() after each
    // whether to go on; every function is called on the threads that operate.
    OperationThread(int count, std::function<Outcome(int index)> operate, std::function<bool()> stopRequested,
        std::function<bool(const Outcome&)> holds, std::function<bool(const Outcome&)> ends,
        Overlap overlap = {}, ThreadStart startThread = {})
        : m_count(count)
        , m_operate(std::move(operate))
        , m_stopRequested(std::move(stopRequested))
        , m_holds(std::move(holds))
        , m_ends(std::move(ends))
        , m_overlap(std::move(overlap))
        , m_startThread(std::move(startThread))
    {
    }
    Q_DISABLE_COPY_MOVE(OperationThread)

    // Lets the operations in progress end and starts none after them; from the thread that takes the
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
            // The user may have asked to stop while the held outcome's box was up, and the moves
            // under way then may all have ended before it: the next to start asks first.
            m_askBeforeNext = m_overlapped;
            handOver();
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
        int slowInARow = 0;
        int index = 0;
        for (; index < m_count; ++index) {
            const auto started = std::chrono::steady_clock::now();
            kept.push_back({ index, m_operate(index) });
            const auto now = std::chrono::steady_clock::now();
            slowInARow = now - started >= slowOperation ? slowInARow + 1 : 0;
            const bool hold = m_holds(kept.back().outcome);
            const bool last = m_ends(kept.back().outcome);
            if (hold || now - handedOver >= handOverInterval) {
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
            if (slowInARow >= slowBeforeOverlap && m_overlap.bound > 1 && m_overlap.dependent
                && m_startThread) {
                runOverlapped(index + 1, std::move(kept));
                return;
            }
        }
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
            m_ended = true;
        }
        m_changed.notify_all();
    }

private:
    // An operation this long waits on something slower than a local disk, even a busy one; three of
    // them in a row, and the rest overlap. A local move takes microseconds, a share's round trip
    // milliseconds.
    static constexpr auto slowOperation = std::chrono::milliseconds(5);
    static constexpr int slowBeforeOverlap = 3;

    // Runs the operations from `first` on, up to the overlap's bound at once: this thread and the
    // threads it starts each take the next operation that may start, until none is left to start.
    void runOverlapped(int first, std::vector<Taken> kept)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_outcomes.insert(m_outcomes.end(), kept.begin(), kept.end());
            m_overlapped = true;
            m_next = first;
            m_handed = first;
        }
        m_changed.notify_all();
        {
            std::vector<WorkThread> others;
            for (int more = 1; more < m_overlap.bound; ++more) {
                try {
                    others.push_back(m_startThread([this] { operateWhileAny(); }));
                } catch (const std::system_error&) {
                    break; // no thread to spare: fewer at once
                }
            }
            operateWhileAny();
        }
        // Every operation has ended; the outcomes after a held one wait for its release.
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_completed.empty() || m_quit; });
        m_ended = true;
        lock.unlock();
        m_changed.notify_all();
    }

    // Takes the next operation that may start and runs it, until none is left to start.
    void operateWhileAny()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            int next = -1;
            m_changed.wait(lock, [this, &next] {
                if (noneLeftToStart())
                    return true;
                next = nextToStart();
                return next >= 0 || mayAsk();
            });
            if (!noneLeftToStart() && mayAsk()) {
                m_asking = true;
                lock.unlock();
                const bool stop = m_stopRequested();
                lock.lock();
                m_stopping = m_stopping || stop;
                m_askBeforeNext = false;
                m_asking = false;
                handOver();
                m_changed.notify_all();
                continue;
            }
            if (noneLeftToStart())
                return;
            const int index = next;
            start(index);
            lock.unlock();
            Outcome outcome = m_operate(index);
            const bool stop = m_stopRequested();
            lock.lock();
            std::erase_if(m_running, [index](const auto& running) { return running.first == index; });
            // Nothing more starts once one operation ends the run, whatever its place.
            m_lastStarted = m_lastStarted || m_ends(outcome);
            m_completed.emplace(index, std::move(outcome));
            m_stopping = m_stopping || stop;
            handOver();
            m_changed.notify_all();
        }
    }

    bool mayAsk() const { return m_askBeforeNext && !m_asking; }
    bool noneLeftToStart() const
    {
        return (m_next >= m_count && m_waiting.empty()) || m_quit || m_stopping || m_lastStarted;
    }
    quint32 groupOf(int index) const { return m_overlap.group ? m_overlap.group(index) : 0; }

    // The operation to start next, or -1 while none may: of the groups whose first operation not yet
    // started depends on none under way, the one with fewest under way, then the earliest. In the
    // group of the first whose outcome is yet to come, none starts further than the bound beyond it:
    // a hold, an end or a stop that outcome brings finds no more than that many of its folder started
    // after it. Other groups' may start up to the reach beyond it.
    int nextToStart()
    {
        if (m_held || m_askBeforeNext || std::ssize(m_running) >= m_overlap.bound)
            return -1;
        const int reach = m_overlap.group ? std::max(m_overlap.ahead, m_overlap.bound) : m_overlap.bound;
        for (; m_next < m_count && m_next < m_handed + reach; ++m_next)
            m_waiting[groupOf(m_next)].push_back(m_next);
        if (m_waiting.empty())
            return -1;
        const quint32 nextGroup = groupOf(m_handed); // none waits to start before it
        int chosen = -1;
        int chosenUnderWay = 0;
        for (const auto& [group, waiting] : m_waiting) {
            const int first = waiting.front();
            if (group == nextGroup && first >= m_handed + m_overlap.bound)
                continue;
            int underWay = 0;
            bool free = true;
            for (const auto& [running, itsGroup] : m_running) {
                if (itsGroup == group) {
                    ++underWay;
                    free = free && !m_overlap.dependent(running, first);
                }
            }
            if (free
                && (chosen < 0 || underWay < chosenUnderWay
                    || (underWay == chosenUnderWay && first < chosen))) {
                chosen = first;
                chosenUnderWay = underWay;
            }
        }
        return chosen;
    }
    // Takes the operation `index`, the one to start next, off its group's waiting ones.
    void start(int index)
    {
        const quint32 group = groupOf(index);
        const auto waiting = m_waiting.find(group);
        waiting->second.pop_front();
        if (waiting->second.empty())
            m_waiting.erase(waiting);
        m_running.emplace_back(index, group);
    }

    // Hands over the outcomes that follow those handed over, in order, up to one that holds, passing
    // over the operations that never started once none will.
    void handOver()
    {
        while (!m_held && m_handed < m_count) {
            const auto found = m_completed.find(m_handed);
            if (found != m_completed.end()) {
                m_held = m_holds(found->second);
                m_outcomes.push_back({ m_handed++, std::move(found->second), m_stopping });
                m_completed.erase(found);
            } else if (noneLeftToStart()
                && std::none_of(m_running.begin(), m_running.end(),
                    [this](const auto& running) { return running.first == m_handed; })) {
                ++m_handed;
            } else {
                return;
            }
        }
    }

    const int m_count;
    std::function<Outcome(int index)> m_operate;
    std::function<bool()> m_stopRequested;
    std::function<bool(const Outcome&)> m_holds;
    std::function<bool(const Outcome&)> m_ends;
    const Overlap m_overlap;
    const ThreadStart m_startThread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Taken> m_outcomes;
    bool m_held = false;
    std::atomic<bool> m_quit = false; // also read between operations, without the lock
    bool m_ended = false;
    // Of overlapped operations: the next to be given a place among those waiting to start, those
    // waiting by group, in order, the next to hand over, those in progress with their groups, and
    // those ended whose outcome waits for an earlier one's.
    int m_next = 0;
    std::map<quint32, std::deque<int>> m_waiting;
    int m_handed = 0;
    std::vector<std::pair<int, quint32>> m_running;
    std::map<int, Outcome> m_completed;
    bool m_overlapped = false;
    bool m_stopping = false; // a stop was asked
    bool m_askBeforeNext = false; // whether a stop was asked, before the next starts
    bool m_asking = false;
    bool m_lastStarted = false; // an outcome ended the run
};
