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

void Runner::showProgress(RenameProgress::Work work, int done, int total)
{
    if (m_progress)
        m_progress->show(work, done, total);
}
