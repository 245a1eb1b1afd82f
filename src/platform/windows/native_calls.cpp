// The table of native calls, filled with ntdll's own.
#include "native_calls.h"

// Declared by the driver kit rather than by winternl.h; ntdll has exported it since Windows NT.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
    PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS informationClass,
    BOOLEAN returnSingleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan);

namespace Platform::Native {

const Calls& systemCalls()
{
    static const Calls ntdll { NtCreateFile, NtQueryDirectoryFile, NtQueryInformationFile,
        NtSetInformationFile };
    return ntdll;
}

Calls calls = systemCalls();

} // namespace Platform::Native
