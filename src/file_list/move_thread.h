#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Moves the files of one pass on a thread of its own, one row at a time, so that a move that takes
// long (a busy network share) never holds the window's thread: that thread hands over a row, keeps
// answering events while the move runs, and takes the result before it hands over the next. Rows
// are thus moved in the order they are handed over, each only once the one before it has ended.
class MoveThread final
{
public:
    // `moveRow` runs on the thread and returns 0 or the errno value of the failed move.
    explicit MoveThread(std::function<int(int row)> moveRow);
    ~MoveThread();
    Q_DISABLE_COPY_MOVE(MoveThread)

    // Starts moving `row`; the move before it must have been waited for.
    void start(int row);
    // Whether the move has ended, waiting for it no longer than `timeout`.
    bool waitFor(std::chrono::microseconds timeout);
    // The result of the move that has ended.
    int result() const { return m_result; }

private:
    enum class State { Idle, Moving, Done, Quit };

    void run();
    void setState(State state);

    std::function<int(int row)> m_moveRow;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<State> m_state { State::Idle };
    int m_row = 0;
    int m_result = 0;
    std::thread m_thread;
};
