#pragma once

#include <QtGlobal>

#include <functional>
#include <thread>

class Runner;

// A thread the runner started, joined when this goes.
class WorkThread final
{
public:
    WorkThread(WorkThread&&) noexcept = default;
    WorkThread& operator=(WorkThread&&) = delete;
    ~WorkThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    Q_DISABLE_COPY(WorkThread)

private:
    friend class Runner;
    // Throws std::system_error when no thread can be started.
    explicit WorkThread(std::function<void()> work)
        : m_thread(std::move(work))
    {
    }

    std::thread m_thread;
};
