#include "runner.h"

#include <QCoreApplication>

Runner::Runner(RenameProgress* progress)
    : m_progress(progress)
{
    m_sinceEvents.start();
}

bool Runner::stopRequested(RenameProgress::Work work) const
{
    return m_stopRequested || (m_progress && m_progress->stopRequested(work));
}

void Runner::letEventsThrough()
{
    if (m_beforeEvents)
        m_beforeEvents();
    QCoreApplication::processEvents();
    m_sinceEvents.restart();
}

void Runner::letEventsThroughInTime()
{
    if (m_sinceEvents.hasExpired(eventInterval.count()))
        letEventsThrough();
}

void Runner::hold(const std::function<void(std::function<void()> answered)>& open)
{
    // Shared with the holder, which may answer after the hold has ended (a box closed late); both
    // are on this thread.
    const auto isAnswered = std::make_shared<bool>(false);
    open([isAnswered] { *isAnswered = true; });
    // The events are all there is to wait for: the answer comes with one of them.
    while (!*isAnswered)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_sinceEvents.restart();
}

void Runner::showProgress(RenameProgress::Work work, int done, int total, RenameProgress::Showing showing)
{
    if (m_progress)
        m_progress->show(work, done, total, showing);
}
