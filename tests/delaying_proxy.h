#pragma once

// A TCP proxy on a loopback port that holds every chunk back by half a round trip each way: a share
// across a network with that latency, made on one machine whose kernel has no netem. Linux only.

#include "sshfs_share.h"

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Loopback {

// Forwards each connection to its loopback port to `target`, each chunk delayed by `oneWay` in
// each direction; chunks keep their order and do not wait for one another.
class DelayingProxy final
{
public:
    DelayingProxy(quint16 target, std::chrono::microseconds oneWay)
        : m_listener(Loopback::socket(0))
        , m_target(target)
        , m_oneWay(oneWay)
    {
        m_acceptor = std::thread([this] { acceptConnections(); });
    }

    ~DelayingProxy()
    {
        ::shutdown(m_listener, SHUT_RDWR); // wakes accept()
        m_acceptor.join();
        ::close(m_listener);
        for (std::thread& connection : m_connections)
            connection.join();
    }

    Q_DISABLE_COPY_MOVE(DelayingProxy)

    quint16 port() const { return Loopback::portOf(m_listener); }

private:
    void acceptConnections()
    {
        for (;;) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            const int server = Loopback::socket(m_target);
            const int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_connections.emplace_back([this, client, server] {
                if (server >= 0) {
                    std::thread back([&] { pump(server, client); });
                    pump(client, server);
                    back.join();
                    ::close(server);
                }
                ::close(client);
            });
        }
    }

    // Copies `from` to `to` until `from` ends; a second thread writes each chunk once it is due.
    void pump(int from, int to) const
    {
        struct Chunk
        {
            std::chrono::steady_clock::time_point due;
            std::string data;
        };
        std::mutex mutex;
        std::condition_variable arrived;
        std::deque<Chunk> chunks;
        bool ended = false;
        std::thread writer([&] {
            for (;;) {
                std::unique_lock lock(mutex);
                arrived.wait(lock, [&] { return ended || !chunks.empty(); });
                if (chunks.empty())
                    break;
                const Chunk chunk = std::move(chunks.front());
                chunks.pop_front();
                lock.unlock();
                std::this_thread::sleep_until(chunk.due);
                for (size_t sent = 0; sent < chunk.data.size();) {
                    const ssize_t written = ::write(to, chunk.data.data() + sent, chunk.data.size() - sent);
                    if (written <= 0)
                        return;
                    sent += static_cast<size_t>(written);
                }
            }
            ::shutdown(to, SHUT_WR);
        });
        char buffer[65536];
        for (;;) {
            const ssize_t size = ::read(from, buffer, sizeof buffer);
            if (size <= 0)
                break;
            const std::lock_guard lock(mutex);
            chunks.push_back({ std::chrono::steady_clock::now() + m_oneWay, std::string(buffer, size) });
            arrived.notify_one();
        }
        {
            const std::lock_guard lock(mutex);
            ended = true;
        }
        arrived.notify_one();
        writer.join();
    }

    const int m_listener;
    const quint16 m_target;
    const std::chrono::microseconds m_oneWay;
    std::thread m_acceptor;
    std::vector<std::thread> m_connections; // only the acceptor adds to it, until it is joined
};

} // namespace Loopback
