#pragma once

// A folder served over SFTP by an sshd of its own (keys, configuration and log in a temporary folder,
// on a loopback port) and mounted with sshfs: a network share on one machine. Linux only, as root.

#include "mounted_volume.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMultiMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Loopback {

// A loopback TCP socket connected to `port`, or listening on a free port when `port` is 0.
inline int socket(quint16 port)
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

} // namespace Loopback

// The fields of a process's or thread's stat file in /proc that follow its name: its state, its
// parent and on; none where it has ended.
inline QList<QByteArray> statFields(const QString& statFile)
{
    QFile stat(statFile);
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // "pid (name) state ppid ...", where the name may hold spaces and parentheses.
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// The processes `parent` started and theirs in turn, zombies left out, as /proc tells them.
inline QList<pid_t> descendantsOf(pid_t parent)
{
    QMultiMap<pid_t, pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isProcess = false;
        const pid_t pid = entry.toInt(&isProcess);
        const QList<QByteArray> fields = isProcess
            ? statFields(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"))
            : QList<QByteArray>();
        if (fields.size() > 1 && fields[0] != "Z")
            children.insert(fields[1].toInt(), pid);
    }
    QList<pid_t> found = children.values(parent);
    for (qsizetype i = 0; i < found.size(); ++i)
        found += children.values(found[i]);
    return found;
}

// The sshd runs for the life of the object; mount() puts the served folder on a fresh sshfs mount.
class SshfsShare final
{
public:
    // What this machine lacks for a share, empty where nothing.
    static QByteArray missing()
    {
        if (::geteuid() != 0)
            return "sshd and sshfs need root here";
        for (const char* needed :
            { "/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/sshfs", "/dev/fuse" }) {
            if (!QFile::exists(QString::fromUtf8(needed)))
                return QByteArray(needed) + " is missing (openssh-server, sshfs, FUSE)";
        }
        return {};
    }

    explicit SshfsShare(const QByteArray& served)
        : m_served(served)
    {
        m_whyNot = missing();
        if (!m_whyNot.isEmpty())
            return;
        const QString work = m_work.path();
        for (const char* key : { "host_key", "client_key" }) {
            if (!run(QStringLiteral("/usr/bin/ssh-keygen"),
                    { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                        QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                        work + u'/' + QString::fromUtf8(key) }))
                return;
        }
        QFile::copy(work + QStringLiteral("/client_key.pub"), work + QStringLiteral("/authorized_keys"));
        const int probe = Loopback::socket(0);
        m_port = Loopback::portOf(probe);
        ::close(probe);
        QFile config(work + QStringLiteral("/sshd_config"));
        config.open(QIODevice::WriteOnly);
        config.write("Port " + QByteArray::number(m_port) + "\nListenAddress 127.0.0.1\n" + "HostKey "
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
        endWithThisProcess(m_sshd);
        m_sshd.start(QStringLiteral("/usr/sbin/sshd"),
            { QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config.fileName() });
        // sshd writes its pid file once it listens; a connection to find out would be logged.
        const auto listening = [&] {
            QFile pidFile(work + QStringLiteral("/sshd.pid"));
            return pidFile.open(QIODevice::ReadOnly) && pidFile.readAll().endsWith('\n');
        };
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_sshd.state() != QProcess::NotRunning && !listening())
            m_sshd.waitForFinished(20);
        if (!listening()) {
            m_whyNot = "sshd did not start";
            return;
        }
        m_mountPoint = work + QStringLiteral("/mnt");
        QDir().mkpath(m_mountPoint);
    }

    ~SshfsShare()
    {
        unmount();
        stopServer();
    }

    Q_DISABLE_COPY_MOVE(SshfsShare)

    QByteArray whyNot() const { return m_whyNot; }
    QByteArray root() const { return QFile::encodeName(m_mountPoint); }
    // Where sshd listens.
    quint16 port() const { return m_port; }
    // The sshfs process, the share's FUSE driver; killed, it leaves the share cut off.
    qint64 driverProcess() const { return m_sshfs.processId(); }

    // Mounts the share through `port`, sshd's own by default, on a fresh sshfs, so that every mount
    // starts with cold caches.
    bool mount(quint16 port = 0)
    {
        m_mounted = startFuseDriver(m_sshfs, QStringLiteral("/usr/bin/sshfs"),
            { QStringLiteral("-f"), QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-p"),
                QString::number(port ? port : m_port), QStringLiteral("-o"),
                QStringLiteral("IdentityFile=") + m_work.path()
                    + QStringLiteral("/client_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/"
                                     "null,BatchMode=yes,LogLevel=ERROR"),
                QStringLiteral("root@127.0.0.1:") + QFile::decodeName(m_served), m_mountPoint },
            root(), 20000);
        if (!m_mounted)
            m_whyNot = "sshfs did not mount the share: " + m_sshfs.readAllStandardError();
        return m_mounted;
    }

    // Unmounts the share, lazily where something still holds it, and waits for sshfs to end. A
    // killed sshfs leaves its mount behind, cut off; one that mounted too late leaves it too.
    void unmount()
    {
        if ((m_mounted || m_sshfs.state() != QProcess::NotRunning)
            && QProcess::execute(QStringLiteral("umount"), { m_mountPoint }) != 0)
            QProcess::execute(QStringLiteral("umount"), { QStringLiteral("-l"), m_mountPoint });
        m_mounted = false;
        if (!m_sshfs.waitForFinished(10000))
            m_sshfs.kill();
        m_sshfs.waitForFinished(5000);
    }

private:
    // Ends sshd, its sessions first: each ends by itself once its client's connection closes, and
    // one that has not by the deadline is killed, so that nothing of the share outlives it.
    void stopServer()
    {
        if (m_sshd.state() == QProcess::NotRunning)
            return;
        const auto listener = static_cast<pid_t>(m_sshd.processId());
        const QDeadlineTimer deadline(10000);
        while (!descendantsOf(listener).isEmpty() && !deadline.hasExpired())
            QThread::msleep(20);
        for (const pid_t session : descendantsOf(listener))
            ::kill(session, SIGKILL);
        m_sshd.terminate();
        if (!m_sshd.waitForFinished(5000))
            m_sshd.kill();
        m_sshd.waitForFinished(5000);
    }

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
    quint16 m_port = 0;
    QString m_mountPoint;
    bool m_mounted = false;
    QByteArray m_whyNot;
};
