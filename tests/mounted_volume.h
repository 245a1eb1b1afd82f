#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#ifdef _WIN32

#include "windows_volumes.h"

#else

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#include <unistd.h>

// Should this process die, `process` ends too: a FUSE driver's mount goes with it.
inline void endWithThisProcess(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// Starts a FUSE driver that stays in the foreground and waits up to `msecs` for its volume to show
// at `mountPoint`; false where the driver ended first or the time ran out.
inline bool startFuseDriver(QProcess& driver, const QString& program, const QStringList& arguments,
    const QByteArray& mountPoint, int msecs)
{
    endWithThisProcess(driver);
    driver.start(program, arguments);
    constexpr long fuseMagic = 0x65735546;
    const QDeadlineTimer deadline(msecs);
    while (!deadline.hasExpired() && driver.state() != QProcess::NotRunning) {
        struct statfs status = {};
        if (::statfs(mountPoint.constData(), &status) == 0 && status.f_type == fuseMagic)
            return true;
        driver.waitForFinished(20);
    }
    return false;
}

// A file system made in a sparse image file and mounted on a temporary folder for the life of the
// object: the kernel's own drivers on a loop device, or a FUSE driver running as a child process.
class MountedVolume final
{
public:
    // Every kind a test can ask for, in the order tests list them.
    static QStringList kinds()
    {
        return { QStringLiteral("ext2"), QStringLiteral("btrfs"), QStringLiteral("exfat"),
            QStringLiteral("fat"), QStringLiteral("ntfs") };
    }

    explicit MountedVolume(const QString& kind)
    {
        if (::geteuid() != 0) {
            m_whyNot = QStringLiteral("mounting a file system needs root");
            return;
        }
        if (!m_dir.isValid()) {
            m_whyNot = QStringLiteral("no temporary folder");
            return;
        }
        const QString image = m_dir.filePath(QStringLiteral("volume.img"));
        m_mountPoint = m_dir.filePath(QStringLiteral("mnt"));
        QDir().mkpath(m_mountPoint);
        // Sparse, so the size costs nothing; xfs and btrfs refuse smaller volumes.
        QFile(image).open(QIODevice::WriteOnly);
        QFile(image).resize(kind == QStringLiteral("btrfs") ? 128 << 20 : 64 << 20);
        m_kind = kind;
        if (makeFileSystem(image))
            m_mounted = mountImage(image);
    }

    ~MountedVolume()
    {
        if (!unmount())
            run(QStringLiteral("umount"), { QStringLiteral("-l"), m_mountPoint });
        if (m_driver) {
            if (!m_driver->waitForFinished(5000))
                m_driver->kill();
            m_driver->waitForFinished(5000);
        }
    }

    Q_DISABLE_COPY_MOVE(MountedVolume)

    bool isMounted() const { return m_mounted; }
    // False while anything still holds a file or folder of the volume open.
    bool unmount()
    {
        if (m_mounted && run(QStringLiteral("umount"), { m_mountPoint }))
            m_mounted = false;
        return !m_mounted;
    }
    QString whyNot() const { return m_whyNot; }
    QByteArray root() const { return QFile::encodeName(m_mountPoint); }
    // The FUSE driver's process, 0 for a kernel driver: stopped, it stalls the volume as a network
    // share that stops answering does.
    qint64 driverProcess() const { return m_driver ? m_driver->processId() : 0; }

    // Remounts a volume of a kernel driver read-only, as a failing disk or a write-protected card is.
    bool remountReadOnly()
    {
        return run(
            QStringLiteral("mount"), { QStringLiteral("-o"), QStringLiteral("remount,ro"), m_mountPoint });
    }

    // Mounts the image again after its driver was killed, the dead mount first let go: what the
    // volume holds can then be read as the driver left it.
    bool mountAgain()
    {
        run(QStringLiteral("umount"), { QStringLiteral("-l"), m_mountPoint });
        if (m_driver) {
            m_driver->waitForFinished(5000);
            m_driver.reset();
        }
        m_mounted = mountImage(m_dir.filePath(QStringLiteral("volume.img")));
        return m_mounted;
    }

private:
    bool makeFileSystem(const QString& image)
    {
        if (m_kind == QStringLiteral("ext2") || m_kind == QStringLiteral("btrfs"))
            return run(QStringLiteral("mkfs.") + m_kind, { QStringLiteral("-q"), image });
        if (m_kind == QStringLiteral("exfat"))
            return run(QStringLiteral("mkfs.exfat"), { image });
        if (m_kind == QStringLiteral("fat"))
            return run(QStringLiteral("mkfs.vfat"), { image });
        if (m_kind == QStringLiteral("ntfs"))
            return run(QStringLiteral("mkntfs"), { QStringLiteral("-F"), QStringLiteral("-Q"), image });
        m_whyNot = QStringLiteral("unknown kind of volume ") + m_kind;
        return false;
    }

    bool mountImage(const QString& image)
    {
        if (m_kind == QStringLiteral("ext2") || m_kind == QStringLiteral("btrfs"))
            return run(QStringLiteral("mount"),
                { QStringLiteral("-o"), QStringLiteral("loop"), image, m_mountPoint });
        if (m_kind == QStringLiteral("exfat")) {
            QString device;
            if (!run(QStringLiteral("losetup"), { QStringLiteral("-f"), QStringLiteral("--show"), image },
                    &device))
                return false;
            // -d keeps the driver in the foreground, where this object can stop it.
            const bool mounted = startDriver(
                QStringLiteral("mount.exfat-fuse"), { QStringLiteral("-d"), device, m_mountPoint });
            // Detached now, the loop device goes away by itself once the driver lets it go.
            run(QStringLiteral("losetup"), { QStringLiteral("-d"), device });
            return mounted;
        }
        if (m_kind == QStringLiteral("fat"))
            return startDriver(QStringLiteral("fusefat"),
                { QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("rw+"), image, m_mountPoint });
        return startDriver(QStringLiteral("ntfs-3g"),
            { QStringLiteral("-o"), QStringLiteral("no_detach"), image, m_mountPoint });
    }

    bool installed(const QString& program)
    {
        const QStringList folders = { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
            QStringLiteral("/sbin"), QStringLiteral("/bin") };
        if (!QStandardPaths::findExecutable(program, folders).isEmpty())
            return true;
        m_whyNot = program + QStringLiteral(" is not installed");
        return false;
    }

    bool run(const QString& program, const QStringList& arguments, QString* output = nullptr)
    {
        if (!installed(program))
            return false;
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            m_whyNot = program + QStringLiteral(" failed: ")
                + QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
            return false;
        }
        if (output)
            *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        return true;
    }

    bool startDriver(const QString& program, const QStringList& arguments)
    {
        if (!installed(program))
            return false;
        m_driver = std::make_unique<QProcess>();
        m_driver->setStandardOutputFile(QProcess::nullDevice());
        m_driver->setStandardErrorFile(QProcess::nullDevice());
        if (startFuseDriver(*m_driver, program, arguments, root(), 10000))
            return true;
        m_whyNot = program + QStringLiteral(" did not mount the volume");
        return false;
    }

    QTemporaryDir m_dir;
    QString m_kind;
    QString m_mountPoint;
    std::unique_ptr<QProcess> m_driver;
    bool m_mounted = false;
    QString m_whyNot;
};

// The volumes a test binary uses, each mounted at its first use and unmounted by unmountAll() or,
// failing that, at exit.
class Volumes final
{
public:
    // Empty for the local disk, else the mount point; `whyNot` tells why a volume could not be had.
    static bool root(const QString& kind, QByteArray& root, QString& whyNot)
    {
        if (kind == QStringLiteral("local")) {
            root.clear();
            return true;
        }
        auto& volume = all()[kind];
        if (!volume)
            volume = std::make_unique<MountedVolume>(kind);
        root = volume->root();
        whyNot = volume->whyNot();
        return volume->isMounted();
    }

    static void unmountAll() { all().clear(); }

    // Every volume here is the real file system: nothing answers in its place.
    class Answers final
    {
    public:
        explicit Answers(const QString& kind)
            : m_kind(kind)
        {
        }
        const QString& kind() const { return m_kind; }

    private:
        QString m_kind;
    };
    // Whether the volume of `kind` could be unmounted without force; the next use mounts it anew.
    static bool unmount(const QString& kind)
    {
        const auto volume = all().find(kind);
        if (volume == all().end() || !volume->second->unmount())
            return false;
        all().erase(volume);
        return true;
    }

private:
    static std::map<QString, std::unique_ptr<MountedVolume>>& all()
    {
        static std::map<QString, std::unique_ptr<MountedVolume>> volumes;
        return volumes;
    }
};

// As root, the test runs in a mount namespace of its own, so that even a crash leaves no kernel
// mount behind: the namespace and its mounts end with the test's last process. This runs before
// main(), while the process still has one thread.
inline const bool ownMountNamespace = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
    && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

#endif

// The volume named by the test's "volume" column, mounted at first use; skips the test with the
// reason where it cannot be had. Empty for the local disk, also where the local disk answers as
// another volume would, which it does until the test function returns.
#define VOLUME_BASE(base)                                                                                    \
    const Volumes::Answers base##Answers([] {                                                                \
        QFETCH(QString, volume);                                                                             \
        return volume;                                                                                       \
    }());                                                                                                    \
    QByteArray base;                                                                                         \
    do {                                                                                                     \
        QString whyNot;                                                                                      \
        if (!Volumes::root(base##Answers.kind(), base, whyNot))                                              \
            QSKIP(qPrintable(whyNot));                                                                       \
    } while (false)
