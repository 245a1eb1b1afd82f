// The native calls through which the Windows layer asks the file system, makes its records durable
// and raises what a screen reader speaks, in one table a test may change.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it builds on.
#include <winternl.h>

// UI Automation's element, whose header the table's users need not read.
struct IRawElementProviderSimple;

namespace Platform::Native {

using CreateFile = NTSTATUS(NTAPI*)(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
    PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER allocationSize, ULONG fileAttributes, ULONG shareAccess,
    ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength);
using QueryDirectoryFile = NTSTATUS(NTAPI*)(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
    PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS informationClass,
    BOOLEAN returnSingleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan);
using InformationFile = NTSTATUS(NTAPI*)(HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information,
    ULONG length, FILE_INFORMATION_CLASS informationClass);
// NtQueryVolumeInformationFile, whose class the SDKs type each their own way, or not at all.
using MoveByPath = BOOL(WINAPI*)(LPCWSTR existing, LPCWSTR target, DWORD flags);
using VolumeInformationFile = NTSTATUS(NTAPI*)(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, ULONG informationClass);

// UI Automation's notification (uiautomationcoreapi.h), which mingw-w64's headers lack; its two
// enumerations are numbered as Microsoft documents them, the values used here only.
enum class NotificationKind : int { ActionCompleted = 2, Other = 4 };
enum class NotificationProcessing : int { MostRecent = 3 };
using RaiseNotificationEvent = HRESULT(WINAPI*)(IRawElementProviderSimple* provider, NotificationKind kind,
    NotificationProcessing processing, BSTR displayString, BSTR activityId);
using HostProviderFromHwnd = HRESULT(WINAPI*)(HWND window, IRawElementProviderSimple** provider);

struct Calls
{
    CreateFile createFile;
    QueryDirectoryFile queryDirectoryFile;
    InformationFile queryInformationFile;
    InformationFile setInformationFile;
    VolumeInformationFile queryVolumeInformationFile;
    MoveByPath moveFileEx; // kernel32's, not ntdll's: the move by path
    // UiaRaiseNotificationEvent, null where uiautomationcore.dll does not export it: Windows before
    // 10 1709, and Wine.
    RaiseNotificationEvent raiseNotificationEvent;
    HostProviderFromHwnd hostProviderFromHwnd; // UiaHostProviderFromHwnd, which Windows has had since XP
    // FlushFileBuffers, which makes the program's own records durable, so that a test can see it
    // come before a move.
    BOOL(WINAPI* flushFileBuffers)(HANDLE file);
};

// The calls the layer makes: the system's own, unless a test has put others in their place to answer
// as a file system that the machine running it does not have, or to record what it raises.
extern Calls calls;
// The system's own calls, to which a test's replacement hands on what it does not answer itself.
const Calls& systemCalls();

// The information classes used, file and volume, numbered here since the SDK's winternl.h names only
// the first.
inline const auto fileFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(2);
inline const auto fileBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
inline const auto fileStandardInformation = static_cast<FILE_INFORMATION_CLASS>(5);
inline const auto fileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
inline const auto fileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
inline const auto fileLinkInformation = static_cast<FILE_INFORMATION_CLASS>(11);
inline const auto fileDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
inline const auto fileNetworkOpenInformation = static_cast<FILE_INFORMATION_CLASS>(34);
inline const auto fileAttributeTagInformation = static_cast<FILE_INFORMATION_CLASS>(35);
inline const auto fileHardLinkInformation = static_cast<FILE_INFORMATION_CLASS>(46);
inline const auto fileIdInformation = static_cast<FILE_INFORMATION_CLASS>(59);
inline const auto fileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
inline constexpr ULONG fileFsVolumeInformation = 1;
inline constexpr ULONG fileFsAttributeInformation = 5;

// Their structures, under names of their own: the SDKs declare few of them, and not alike.
struct BasicInformation
{
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG fileAttributes;
};

struct StandardInformation
{
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    ULONG numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};

struct InternalInformation
{
    LARGE_INTEGER indexNumber;
};

struct NetworkOpenInformation
{
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    ULONG fileAttributes;
};

struct AttributeTagInformation
{
    ULONG fileAttributes;
    ULONG reparseTag;
};

struct IdInformation
{
    ULONGLONG volumeSerialNumber;
    ULONGLONG fileIdLow;
    ULONGLONG fileIdHigh;
};

// FILE_LINKS_INFORMATION, whose entries (FILE_LINK_ENTRY_INFORMATION) follow one another from
// `entry` on; a name's length is counted in characters.
struct LinkEntryInformation
{
    ULONG nextEntryOffset;
    LONGLONG parentFileId;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

struct LinksInformation
{
    ULONG bytesNeeded;
    ULONG entriesReturned;
    LinkEntryInformation entry;
};

struct DispositionInformation
{
    BOOLEAN deleteFile;
};

struct DispositionInformationEx
{
    ULONG flags;
};
struct FsVolumeInformation
{
    LARGE_INTEGER volumeCreationTime;
    ULONG volumeSerialNumber;
    ULONG volumeLabelLength;
    BOOLEAN supportsObjects;
    WCHAR volumeLabel[1];
};

struct FsAttributeInformation
{
    ULONG fileSystemAttributes;
    LONG maximumComponentNameLength;
    ULONG fileSystemNameLength;
    WCHAR fileSystemName[1];
};

inline constexpr ULONG dispositionDelete = 0x1;
inline constexpr ULONG dispositionPosixSemantics = 0x2;
inline constexpr ULONG dispositionIgnoreReadOnlyAttribute = 0x10;

// The answers the layer tells apart, which the SDK's ntstatus.h holds but cannot share a file with
// windows.h.
inline constexpr auto statusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
inline constexpr auto statusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
inline constexpr auto statusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
inline constexpr auto statusNoSuchDevice = static_cast<NTSTATUS>(0xC000000E);
inline constexpr auto statusWrongVolume = static_cast<NTSTATUS>(0xC0000012);
inline constexpr auto statusFileInvalid = static_cast<NTSTATUS>(0xC0000098);
inline constexpr auto statusInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);
inline constexpr auto statusDeviceNotConnected = static_cast<NTSTATUS>(0xC000009D);
inline constexpr auto statusDeletePending = static_cast<NTSTATUS>(0xC0000056);
inline constexpr auto statusNotSupported = static_cast<NTSTATUS>(0xC00000BB);
inline constexpr auto statusNetworkNameDeleted = static_cast<NTSTATUS>(0xC00000C9);
inline constexpr auto statusCannotDelete = static_cast<NTSTATUS>(0xC0000121);
inline constexpr auto statusVolumeDismounted = static_cast<NTSTATUS>(0xC000026E);
inline constexpr auto statusCloudFileProviderNotRunning = static_cast<NTSTATUS>(0xC000CF01);
inline constexpr auto statusCloudFileReadOnlyVolume = static_cast<NTSTATUS>(0xC000CF0C);
inline constexpr auto statusCloudFileInUse = static_cast<NTSTATUS>(0xC000CF14);
inline constexpr auto statusCloudFileAccessDenied = static_cast<NTSTATUS>(0xC000CF18);
inline constexpr auto statusCloudFileIncompatibleHardlinks = static_cast<NTSTATUS>(0xC000CF19);
inline constexpr auto statusCloudFileProviderTerminated = static_cast<NTSTATUS>(0xC000CF1D);

} // namespace Platform::Native
