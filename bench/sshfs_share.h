#pragma once

// A folder served over SFTP by an sshd of the benchmark's own (keys, configuration and log in a
// temporary folder, on a loopback port) and mounted with sshfs through a TCP proxy that holds every
// chunk back by half a round trip each way: a share across a network with that latency, made on one
// machine whose kernel has no netem. Linux only, as root.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Bench {

// A loopback TCP socket connected to `port`, or listening on a free port when `port` is 0.
inline int loopbackSocket(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    const bool ready = port ? ::connect(fd, generic, sizeof address) == 0
                            : ::bind(fd, generic, sizeof address) == 0 && ::listen(fd, 16) == 0;
    if (!ready) {
        ::close(fd);
        return -1;
    }
    // Small SFTP requests go out at once, as they would on a real network.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

inline quint16 portOf(int fd)
{
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// Forwards each connection to its loopback port to `target`, each chunk delayed by `oneWay` in
// each direction; chunks keep their order and do not wait for one another.
class DelayingProxy final
{
public:
    DelayingProxy(quint16 target, std::chrono::microseconds oneWay)
        : m_listener(loopbackSocket(0))
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

    quint16 port() const { return portOf(m_listener); }

private:
    void acceptConnections()
    {
        for (;;) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            const int server = loopbackSocket(m_target);
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

// The sshd and the proxy; mount() puts the served folder on a fresh sshfs mount, so that every
// run starts with cold caches.
class SshfsShare final
{
public:
    SshfsShare(const QByteArray& served, std::chrono::milliseconds roundTrip)
        : m_served(served)
    {
        if (::geteuid() != 0) {
            m_whyNot = "sshd and sshfs need root here";
            return;
        }
        for (const char* program : { "/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/sshfs" }) {
            if (!QFile::exists(QString::fromUtf8(program))) {
                m_whyNot = QByteArray(program) + " is not installed (openssh-server, sshfs)";
                return;
            }
        }
        const QString work = m_work.path();
        for (const char* key : { "host_key", "client_key" }) {
            if (!run(QStringLiteral("/usr/bin/ssh-keygen"),
                    { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                        QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                        work + u'/' + QString::fromUtf8(key) }))
                return;
        }
        QFile::copy(work + QStringLiteral("/client_key.pub"), work + QStringLiteral("/authorized_keys"));
        const int probe = loopbackSocket(0);
        const quint16 sshdPort = portOf(probe);
        ::close(probe);
        QFile config(work + QStringLiteral("/sshd_config"));
        config.open(QIODevice::WriteOnly);
        config.write("Port " + QByteArray::number(sshdPort) + "\nListenAddress 127.0.0.1\n" + "HostKey "
            + QFile::encodeName(work) + "/host_key\n" + "AuthorizedKeysFile " + QFile::encodeName(work)
            + "/authorized_keys\n" + "PidFile " + QFile::encodeName(work) + "/sshd.pid\n"
            + "PermitRootLogin prohibit-password\nPasswordAuthentication no\nKbdInteractiveAuthentication "
              "no\n"
              "UsePAM no\nStrictModes no\nSubsystem sftp internal-sftp\nLogLevel ERROR\n");
        config.close();
        // sshd started as root insists on its privilege separation folder, which only the system's
        // own service start makes.
        QDir().mkpath(QStringLiteral("/run/sshd"));
        m_sshd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sshd.start(QStringLiteral("/usr/sbin/sshd"),
            { QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName() });
        const QDeadlineTimer deadline(10000);
        int probeConnection = -1;
        while (!deadline.hasExpired() && m_sshd.state() != QProcess::NotRunning
            && (probeConnection = loopbackSocket(sshdPort)) < 0)
            QThread::msleep(20);
        if (probeConnection < 0) {
            m_whyNot = "sshd did not start";
            return;
        }
        ::close(probeConnection);
        m_proxy = std::make_unique<DelayingProxy>(sshdPort, roundTrip / 2);
        m_mountPoint = work + QStringLiteral("/mnt");
        QDir().mkpath(m_mountPoint);
    }

    ~SshfsShare()
    {
        unmount();
        m_proxy.reset();
        m_sshd.terminate();
        m_sshd.waitForFinished(5000);
    }

    Q_DISABLE_COPY_MOVE(SshfsShare)

    QByteArray whyNot() const { return m_whyNot; }
    QByteArray root() const { return QFile::encodeName(m_mountPoint); }

    bool mount()
    {
        m_sshfs.start(QStringLiteral("/usr/bin/sshfs"),
            { QStringLiteral("-f"), QStringLiteral("-p"), QString::number(m_proxy->port()),
                QStringLiteral("-o"),
                QStringLiteral("IdentityFile=") + m_work.path()
                    + QStringLiteral("/client_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/"
                                     "null,BatchMode=yes,LogLevel=ERROR"),
                QStringLiteral("root@127.0.0.1:") + QFile::decodeName(m_served), m_mountPoint });
        constexpr long fuseMagic = 0x65735546;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && m_sshfs.state() != QProcess::NotRunning) {
            struct statfs status = {};
            if (::statfs(root().constData(), &status) == 0 && status.f_type == fuseMagic)
                return true;
            QThread::msleep(20);
        }
        m_whyNot = "sshfs did not mount the share: " + m_sshfs.readAllStandardError();
        return false;
    }

    void unmount()
    {
        if (m_sshfs.state() == QProcess::NotRunning)
            return;
        QProcess::execute(QStringLiteral("umount"), { m_mountPoint });
        if (!m_sshfs.waitForFinished(10000))
            m_sshfs.kill();
        m_sshfs.waitForFinished(5000);
    }

private:
    bool run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0)
            return true;
        m_whyNot = program.toUtf8() + " failed: " + process.readAllStandardError();
        return false;
    }

    QByteArray m_served;
    QTemporaryDir m_work;
    QProcess m_sshd;
    QProcess m_sshfs;
    std::unique_ptr<DelayingProxy> m_proxy;
    QString m_mountPoint;
    QByteArray m_whyNot;
};

} // namespace Bench
