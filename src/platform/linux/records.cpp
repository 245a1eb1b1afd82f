// The program's record files: the state folder, files made durable and locked with flock().
#include "native_calls.h"
#include "platform/record_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr QByteArrayView newSuffix = ".new";

int fd(qintptr handle)
{
    return static_cast<int>(handle);
}

// Makes `path` and the folders above it that are missing, each readable by the user alone, as the
// freedesktop.org base directory rules ask of the folders they name. 0 or the errno value.
int makeFolders(const QByteArray& path)
{
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.first(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (slash < 0)
            return 0;
    }
}

// 0, or the errno value of making the folder open as `folder` durable with its entries.
int syncFolder(const QByteArray& folder)
{
    const int handle = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return errno;
    const int error = Native::calls.fsync(handle) == 0 ? 0 : errno;
    ::close(handle);
    return error;
}

} // namespace

QByteArray stateFolder()
{
    QByteArray base = qgetenv("XDG_STATE_HOME");
    // A relative path in the variable is to be ignored, as the base directory rules say.
    if (!base.startsWith('/'))
        base = qgetenv("HOME") + "/.local/state";
    const QByteArray folder = base + "/batch-renamer";
    // Names of the user's files are the user's alone, whatever made the folder before.
    if (makeFolders(folder) == 0)
        ::chmod(folder.constData(), 0700);
    return folder;
}

RecordFile::~RecordFile()
{
    if (isOpen())
        ::close(fd(m_handle)); // which lets the lock go
}

RecordFile RecordFile::create(
    const QByteArray& folder, const QByteArray& name, QByteArrayView start, int& error)
{
    // Written under a name no reader takes, and locked before it gets its own: a reader never finds
    // it half written and unheld.
    const QByteArray path = folder + '/' + name;
    const QByteArray writing = path + newSuffix.toByteArray();
    RecordFile record;
    record.m_handle = ::open(writing.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_APPEND, 0600);
    if (!record.isOpen()) {
        error = errno;
        return {};
    }
    record.m_folder = folder;
    record.m_name = name + newSuffix.toByteArray();
    error = ::flock(fd(record.m_handle), LOCK_EX | LOCK_NB) == 0 ? record.append(start) : errno;
    if (error == 0 && Native::calls.fsync(fd(record.m_handle)) != 0)
        error = errno;
    if (error == 0 && Native::calls.renameat(AT_FDCWD, writing.constData(), AT_FDCWD, path.constData()) != 0)
        error = errno;
    if (error == 0) {
        record.m_name = name;
        error = syncFolder(folder);
    }
    if (error != 0) {
        record.remove();
        return {};
    }
    return record;
}

RecordFile RecordFile::take(const QByteArray& folder, const QByteArray& name, Taken& taken)
{
    RecordFile record;
    record.m_handle = ::open((folder + '/' + name).constData(), O_RDWR | O_CLOEXEC | O_APPEND | O_NOFOLLOW);
    if (!record.isOpen()) {
        taken = Taken::Failed;
        return {};
    }
    if (::flock(fd(record.m_handle), LOCK_EX | LOCK_NB) != 0) {
        taken = errno == EWOULDBLOCK ? Taken::HeldElsewhere : Taken::Failed;
        return {};
    }
    // Its holder may have removed it between the opening and the lock: a record no longer named is
    // one that was taken back whole.
    struct stat status = {};
    if (::fstat(fd(record.m_handle), &status) != 0 || status.st_nlink == 0) {
        taken = Taken::Failed;
        return {};
    }
    record.m_folder = folder;
    record.m_name = name;
    taken = Taken::Held;
    return record;
}

QByteArray RecordFile::readAll() const
{
    QFile file;
    if (!isOpen() || !file.open(fd(m_handle), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return {};
    file.seek(0);
    return file.readAll();
}

int RecordFile::append(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd(m_handle), bytes.data(), size_t(bytes.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes = bytes.sliced(written);
    }
    return 0;
}

void RecordFile::setAside()
{
    if (!isOpen())
        return;
    const QByteArray path = m_folder + '/' + m_name;
    ::rename(path.constData(), (path + ".unreadable").constData());
    ::close(fd(std::exchange(m_handle, noHandle)));
}

void RecordFile::remove()
{
    if (!isOpen())
        return;
    ::unlink((m_folder + '/' + m_name).constData());
    ::close(fd(std::exchange(m_handle, noHandle)));
}

} // namespace Platform
