// The table of native calls, filled with the system's own: ntdll's, kernel32's move by path, and UI
// Automation's.
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

// Asked of uiautomationcore.dll by name, loaded from the system's own folder only, so that a program
// built here runs on Windows before 10 1709, which lacks the notification: GetProcAddress then
// answers null, and nothing is raised.
template <typename Call> Call uiAutomationCall(const char* name)
{
    static const HMODULE core
        = LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!core)
        return nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(core, name)));
}

} // namespace

const Calls& systemCalls()
{
    static const Calls system { NtCreateFile, NtQueryDirectoryFile, NtQueryInformationFile,
        NtSetInformationFile, ntQueryVolumeInformationFile(), MoveFileExW,
        uiAutomationCall<RaiseNotificationEvent>("UiaRaiseNotificationEvent"),
        uiAutomationCall<HostProviderFromHwnd>("UiaHostProviderFromHwnd"), FlushFileBuffers };
    return system;
}

Calls calls = systemCalls();

} // namespace Platform::Native
