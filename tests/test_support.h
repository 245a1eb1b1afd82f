#pragma once

#include "dialog/message_boxes.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

// Records every box instead of showing it; the box is "closed" at once, after `whileShown`, which
// stands for what the user does while the box is up.
class RecordingMessageBoxes final : public MessageBoxes
{
public:
    void show(const QString& title, const QString& text) override
    {
        shown.append({ title, text });
        if (whileShown)
            whileShown();
    }

    struct Shown
    {
        QString title;
        QString text;
    };
    QList<Shown> shown;
    std::function<void()> whileShown;
};

// A real folder tree under a temporary folder, in the system's temporary folder or below `base`.
// Paths are bytes relative to the root, so names that are not valid UTF-8 can be made too.
class TestTree final
{
public:
    explicit TestTree(const QByteArray& base = {})
        : m_dir(base.isEmpty() ? QDir::tempPath() + QStringLiteral("/tree-XXXXXX")
                               : QFile::decodeName(base) + QStringLiteral("/tree-XXXXXX"))
    {
        QVERIFY(m_dir.isValid());
    }
    // QTemporaryDir works on decoded names and cannot remove names that are not valid UTF-8, nor
    // look into folders a test made read-only, so the tree is removed here, by bytes.
    ~TestTree() { removeBelow(AT_FDCWD, root().constData()); }
    Q_DISABLE_COPY_MOVE(TestTree)

    QByteArray root() const { return QFile::encodeName(m_dir.path()); }
    QByteArray path(const QByteArray& relative) const { return root() + '/' + relative; }

    void createDir(const QByteArray& relative) const
    {
        QVERIFY2(::mkdir(path(relative).constData(), 0755) == 0, relative.constData());
    }

    void createFile(const QByteArray& relative, const QByteArray& content = {}) const
    {
        const int fd = ::open(path(relative).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY2(fd >= 0, relative.constData());
        QCOMPARE(::write(fd, content.constData(), content.size()), content.size());
        ::close(fd);
    }

    // Makes a folder refuse new, renamed and removed entries: by its mode for an ordinary user, by
    // the immutable flag for root, whom modes do not stop. False where neither can be had.
    bool makeReadOnly(const QByteArray& relative) const
    {
        if (::geteuid() != 0)
            return ::chmod(path(relative).constData(), 0555) == 0;
        const int fd = ::open(path(relative).constData(), O_RDONLY | O_DIRECTORY);
        const bool done = fd >= 0 && setImmutable(fd, true);
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    // Every file below the root, relative path to content (a link maps to "->" and its target).
    QMap<QByteArray, QByteArray> snapshot() const
    {
        QMap<QByteArray, QByteArray> files;
        collect(QByteArray(), files);
        return files;
    }

private:
    void collect(const QByteArray& relative, QMap<QByteArray, QByteArray>& files) const
    {
        const QByteArray dirPath = relative.isEmpty() ? root() : path(relative);
        DIR* dir = ::opendir(dirPath.constData());
        if (!dir)
            return;
        QList<QByteArray> names;
        while (const dirent* entry = ::readdir(dir))
            names.append(QByteArray(entry->d_name));
        ::closedir(dir);
        for (const QByteArray& name : names) {
            if (name == "." || name == "..")
                continue;
            const QByteArray child = relative.isEmpty() ? name : relative + '/' + name;
            struct stat status
            {
            };
            ::lstat(path(child).constData(), &status);
            if (S_ISDIR(status.st_mode)) {
                collect(child, files);
            } else if (S_ISLNK(status.st_mode)) {
                char target[4096];
                const ssize_t size = ::readlink(path(child).constData(), target, sizeof target);
                files.insert(child, "->" + QByteArray(target, size < 0 ? 0 : size));
            } else {
                files.insert(child, readFile(path(child)));
            }
        }
    }

    static bool setImmutable(int fd, bool immutable)
    {
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        return ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }

    // Works through folder handles, so it also reaches folders nested deeper than the longest path.
    static void removeBelow(int parentFd, const char* name)
    {
        // Opens up a folder a test made read-only; where that fails, the removal below leaves it.
        std::ignore = ::fchmodat(parentFd, name, 0700, 0);
        const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0)
            return;
        setImmutable(fd, false);
        DIR* dir = ::fdopendir(fd);
        QList<QByteArray> names;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray child(entry->d_name);
            if (child != "." && child != "..")
                names.append(child);
        }
        for (const QByteArray& child : names) {
            if (::unlinkat(fd, child.constData(), 0) != 0) {
                removeBelow(fd, child.constData());
                ::unlinkat(fd, child.constData(), AT_REMOVEDIR);
            }
        }
        ::closedir(dir);
    }

    static QByteArray readFile(const QByteArray& filePath)
    {
        QByteArray content;
        const int fd = ::open(filePath.constData(), O_RDONLY);
        if (fd < 0)
            return "<unreadable>";
        char buffer[4096];
        ssize_t size = 0;
        while ((size = ::read(fd, buffer, sizeof buffer)) > 0)
            content.append(buffer, size);
        ::close(fd);
        return content;
    }

    QTemporaryDir m_dir;
};
