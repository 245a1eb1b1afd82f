// The table of native calls, filled with the system's own: ntdll's, and kernel32's move by path.
#include "native_calls.h"

// Declared by the driver kit rather than by winternl.h; ntdll has exported it since Windows NT.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
    PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS informationClass,
    BOOLEAN returnSingleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan);

namespace Platform::Native {

namespace {

// Asked of ntdll by name, which has exported it since Windows NT, since the SDKs declare it with a
// class type each of their own, or not at all. Through void (*)(), which any function pointer type
// may be cast to and from.
VolumeInformationFile ntQueryVolumeInformationFile()
{
    const FARPROC call = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryVolumeInformationFile");
    return reinterpret_cast<VolumeInformationFile>(reinterpret_cast<void (*)()>(call));
}

} // namespace

const Calls& systemCalls()
{
    static const Calls ntdll { NtCreateFile, NtQueryDirectoryFile, NtQueryInformationFile,
        NtSetInformationFile, ntQueryVolumeInformationFile(), MoveFileExW };
    return ntdll;
}

Calls calls = systemCalls();

} // namespace Platform::Native
