#include "move_thread.h"

namespace {

// A move on a local disk takes a few microseconds: each side first watches the other for about that
// long before it sleeps, so that handing a row over does not cost a sleep and a wake-up on every
// move, which would make a pass over a local disk markedly slower.
constexpr auto watchBeforeSleeping = std::chrono::microseconds(50);

template <typename Predicate>
bool watchFor(Predicate done)
{
    const auto until = std::chrono::steady_clock::now() + watchBeforeSleeping;
    do {
        if (done())
            return true;
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

} // namespace

MoveThread::MoveThread(std::function<int(int row)> moveRow)
    : m_moveRow(std::move(moveRow))
    , m_thread([this] { run(); })
{
}

MoveThread::~MoveThread()
{
    setState(State::Quit);
    m_thread.join();
}

void MoveThread::setState(State state)
{
    {
        const std::lock_guard lock(m_mutex);
        m_state.store(state, std::memory_order_release);
    }
    m_changed.notify_all();
}

void MoveThread::start(int row)
{
    m_row = row; // read by the thread only after it sees the state change below
    setState(State::Moving);
}

bool MoveThread::waitFor(std::chrono::microseconds timeout)
{
    const auto ended = [this] { return m_state.load(std::memory_order_acquire) == State::Done; };
    if (watchFor(ended))
        return true;
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, ended);
}

void MoveThread::run()
{
    const auto handedOver = [this] {
        const State state = m_state.load(std::memory_order_acquire);
        return state == State::Moving || state == State::Quit;
    };
    for (;;) {
        if (!watchFor(handedOver)) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, handedOver);
        }
        if (m_state.load(std::memory_order_acquire) == State::Quit)
            return;
        m_result = m_moveRow(m_row);
        setState(State::Done);
    }
}
