// Stand-ins for the system's calls, put into the table through which the platform layer makes
// them, for volumes the machine running a test does not have.
#pragma once

#ifdef _WIN32
#include "platform/windows/native_calls.h"
#else
#include "platform/linux/native_calls.h"
#endif

#include <QByteArrayList>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <mutex>

namespace SystemStandIn {

// While it lives, the test may change the calls; afterwards they are the system's own again.
struct Restored
{
    ~Restored() { Platform::Native::calls = Platform::Native::systemCalls(); }
};

// What the layer made durable and what it moved, in order, as the recorder below has it: "sync"
// with what was synced, "move" with the name given. The calls come on the pass's thread.
struct RecordedCalls
{
    std::mutex mutex;
    QByteArrayList calls;
};
inline RecordedCalls& recorded()
{
    static RecordedCalls calls;
    return calls;
}
inline void record(const QByteArray& call)
{
    const std::lock_guard lock(recorded().mutex);
    recorded().calls.append(call);
}

// A rename on a busy network share can take most of a second; no such share here.
constexpr unsigned long slowRenameMs = 300;

#ifdef _WIN32

inline NTSTATUS NTAPI systemSetInformation(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
}

// A volume that takes no rename by handle (a file-system driver answering FileRenameInformation
// with STATUS_INVALID_PARAMETER), so that a file is moved by a hard link; `next` answers the rest.
template <Platform::Native::InformationFile next = systemSetInformation>
NTSTATUS NTAPI refusesRename(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation)
        return Platform::Native::statusInvalidParameter;
    return next(file, ioStatus, information, length, asked);
}

inline NTSTATUS NTAPI slowRename(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation)
        QThread::msleep(slowRenameMs);
    return systemSetInformation(file, ioStatus, information, length, asked);
}

inline void slowRenames()
{
    Platform::Native::calls.setInformationFile = slowRename;
}

inline BOOL WINAPI recordingFlush(HANDLE file)
{
    record("sync");
    return Platform::Native::systemCalls().flushFileBuffers(file);
}

inline NTSTATUS NTAPI recordingSetInformation(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation || asked == Platform::Native::fileLinkInformation)
        record("move");
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// Records every flush and every rename or link, as the system makes them.
inline void recordSyncsAndMoves()
{
    Platform::Native::calls.flushFileBuffers = recordingFlush;
    Platform::Native::calls.setInformationFile = recordingSetInformation;
}

#else

inline int slowRenameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags)
{
    QThread::msleep(slowRenameMs);
    return Platform::Native::systemCalls().renameat2(fromFolder, from, toFolder, to, flags);
}

inline void slowRenames()
{
    Platform::Native::calls.renameat2 = slowRenameat2;
}

inline int recordingFsync(int fd)
{
    record("sync " + QFile::encodeName(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))));
    return Platform::Native::systemCalls().fsync(fd);
}

inline int recordingRenameat2(
    int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags)
{
    record(QByteArray("move ") + to);
    return Platform::Native::systemCalls().renameat2(fromFolder, from, toFolder, to, flags);
}

inline int recordingRenameat(int fromFolder, const char* from, int toFolder, const char* to)
{
    record(QByteArray("move ") + to);
    return Platform::Native::systemCalls().renameat(fromFolder, from, toFolder, to);
}

inline int recordingLinkat(int fromFolder, const char* from, int toFolder, const char* to, int flags)
{
    record(QByteArray("move ") + to);
    return Platform::Native::systemCalls().linkat(fromFolder, from, toFolder, to, flags);
}

// Records every sync and every rename or link, as the system makes them.
inline void recordSyncsAndMoves()
{
    Platform::Native::calls.fsync = recordingFsync;
    Platform::Native::calls.renameat2 = recordingRenameat2;
    Platform::Native::calls.renameat = recordingRenameat;
    Platform::Native::calls.linkat = recordingLinkat;
}

#endif

} // namespace SystemStandIn
