#pragma once

#include "operation_thread.h"
#include "rename_progress.h"
#include "work_thread.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

// Runs one command's work away from the window's thread and waits for it while pending events go
// through, so that a folder or a share that is slow to answer never holds the window. It makes
// every thread the work runs on (a pass's operations, the walk's listings, a question asked once),
// it is the one place that waits for them and lets events through meanwhile, and the one place a
// stop is asked: the user's cancel, or the window being closed, whatever the work.
class Runner final
{
public:
    // How often events go through while work runs: often enough that the window repaints smoothly
    // and a screen reader's question waits no longer than a blink, seldom enough that it costs the
    // work nothing measurable.
    static constexpr std::chrono::milliseconds eventInterval { 25 };

    // `progress`, when given, shows how far a pass has come and may ask it to stop.
    explicit Runner(RenameProgress* progress = nullptr);
    Q_DISABLE_COPY_MOVE(Runner)

    // Stops the work after the operation in progress, from any thread.
    void requestStop() { m_stopRequested = true; }
    // Whether `work` is to stop: a stop was requested, or the progress asks for one. Asked after
    // every operation, on the thread that makes them.
    bool stopRequested(RenameProgress::Work work) const;

    // Lets pending events through now: a search's rows first go to the views.
    void letEventsThrough();
    // The same, if eventInterval has passed since events last went through.
    void letEventsThroughInTime();
    // Called before events go through, to show what the work has done so far.
    void setBeforeEvents(std::function<void()> beforeEvents) { m_beforeEvents = std::move(beforeEvents); }

    // Runs `work` on a thread of its own: the one way the program starts one. The thread is joined
    // when the returned object goes, so it must not outlive what `work` uses.
    [[nodiscard]] static WorkThread startThread(std::function<void()> work)
    {
        return WorkThread(std::move(work));
    }

    // Waits on `ready`, which is notified under `lock`'s mutex, until done() holds, letting events
    // through every eventInterval; the mutex is released meanwhile.
    template <typename Predicate>
    void waitUntil(std::condition_variable& ready, std::unique_lock<std::mutex>& lock, Predicate done)
    {
        while (!ready.wait_for(lock, eventInterval, done)) {
            lock.unlock();
            letEventsThrough();
            lock.lock();
        }
    }

    // Holds the work, events going through, while the user answers something on this thread (a
    // box): open() opens it and hands its answer to the function it is given, which the holder
    // calls once on this thread, whenever it likes, even after the hold has ended.
    void hold(const std::function<void(std::function<void()> answered)>& open);

    // Asks `question` on a thread of its own and returns its answer once it has one.
    template <typename Answer> Answer answer(std::function<Answer()> question)
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<Answer> answer;
        std::optional<WorkThread> asking;
        try {
            asking.emplace(startThread([&] {
                Answer given = question();
                const std::lock_guard lock(mutex);
                answer = std::move(given);
                ready.notify_one();
            }));
        } catch (const std::system_error&) {
            return question(); // no thread to spare
        }
        std::unique_lock lock(mutex);
        waitUntil(ready, lock, [&answer] { return answer.has_value(); });
        return std::move(*answer);
    }

    // Runs operate(0) ... operate(count - 1) on a thread of their own, one after another, or where
    // they prove slow as `overlap` allows, and hands each outcome to taken() on this thread, in
    // order, saying whether the run had been asked to stop by then. An outcome for which holds() is
    // true holds the thread until taken() has returned (a failure, whose box must come before the
    // next operation); once one for which ends() is true comes, nothing more starts (every other
    // operation would fail the same way). Stops after the operations in progress when `work` is to
    // stop; returns how many operations ran, which, where `overlap` lets operations start ahead of
    // earlier ones, need not be the first ones: taken() hears of each that ran.
    template <typename Outcome>
    int runEach(
        int count, RenameProgress::Work work, std::function<Outcome(int index)> operate,
        const std::function<void(int index, const Outcome& outcome, bool afterStop)>& taken,
        const std::function<bool(const Outcome& outcome)>& holds,
        const std::function<bool(const Outcome& outcome)>& ends = [](const Outcome&) { return false; },
        Overlap overlap = {})
    {
        int done = 0;
        OperationThread<Outcome> operations(
            count, std::move(operate), [this, work] { return stopRequested(work); }, holds, ends,
            std::move(overlap), [](std::function<void()> more) { return startThread(std::move(more)); });
        const WorkThread thread = startThread([&operations] { operations.run(); });
        // Before the thread is joined, even when taken() throws: a held thread waits for it.
        const auto quitFirst = qScopeGuard([&operations] { operations.quit(); });
        std::vector<typename OperationThread<Outcome>::Taken> outcomes;
        for (;;) {
            const auto untilEvents = std::chrono::milliseconds(
                std::max<qint64>(0, eventInterval.count() - m_sinceEvents.elapsed()));
            if (!operations.takeOutcomes(outcomes, untilEvents))
                break;
            for (const auto& outcome : outcomes) {
                ++done;
                if (holds(outcome.outcome))
                    showProgress(work, done, count, RenameProgress::Showing::Now);
                taken(outcome.index, outcome.outcome, outcome.afterStop);
                if (holds(outcome.outcome))
                    operations.released();
            }
            outcomes.clear();
            if (m_sinceEvents.hasExpired(eventInterval.count())) {
                // The progress shows what is done before the events draw it.
                showProgress(work, done, count, RenameProgress::Showing::InTime);
                letEventsThrough();
            }
        }
        return done;
    }

private:
    void showProgress(RenameProgress::Work work, int done, int total, RenameProgress::Showing showing);

    RenameProgress* m_progress;
    std::atomic<bool> m_stopRequested = false;
    std::function<void()> m_beforeEvents;
    QElapsedTimer m_sinceEvents;
};
