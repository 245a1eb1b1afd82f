// Stand-ins for the system's calls, put into the table through which the platform layer makes
// them, for volumes the machine running a test does not have.
#pragma once

#ifdef _WIN32
#include "platform/windows/native_calls.h"
#else
#include "platform/linux/native_calls.h"
#endif

#include <QThread>

#include <cerrno>

namespace SystemStandIn {

// While it lives, the test may change the calls; afterwards they are the system's own again.
struct Restored
{
    ~Restored() { Platform::Native::calls = Platform::Native::systemCalls(); }
};

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

#endif

} // namespace SystemStandIn
