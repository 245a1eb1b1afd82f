// The errno values the ways of moving report for what the system answered, as on every other system.
#include "internal.h"

#include <cerrno>

namespace Platform::Windows {

namespace {

// The cloud filter's errors (System Error Codes 0-499), which not every SDK's winerror.h holds.
constexpr DWORD errorCloudFileProviderNotRunning = 362;
constexpr DWORD errorCloudFileReadOnlyVolume = 381;
constexpr DWORD errorCloudFileInUse = 391;
constexpr DWORD errorCloudFileAccessDenied = 395;
constexpr DWORD errorCloudFileProviderTerminated = 404;

} // namespace

int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case errorCloudFileAccessDenied:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case errorCloudFileInUse:
        return EBUSY;
    // "An operation is pending on the file's deletion": another program is deleting it, so its
    // name is on its way out; not a matter of permission.
    case ERROR_DELETE_PENDING:
        return Platform::deletePending;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOTSUP;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return EILSEQ;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_WRITE_PROTECT:
    case errorCloudFileReadOnlyVolume:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    // The volume is gone: a drive pulled out, a card taken from its reader or a volume dismounted
    // ("the device is not ready", "not connected", "does not exist"), or a network share that went
    // away while open. The rename pass ends on these rather than failing every row after them.
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        return ENODEV;
    case ERROR_NETNAME_DELETED:
        return ENOTCONN;
    // "The cloud file provider is not running", or "exited unexpectedly": a cloud drive's sync program
    // (OneDrive and the like) must answer for its placeholders, and nobody does.
    case errorCloudFileProviderNotRunning:
    case errorCloudFileProviderTerminated:
        return Platform::cloudProviderNotRunning;
    default:
        return EIO;
    }
}

int errnoOfStatus(NTSTATUS status)
{
    switch (status) {
    // A cloud drive's placeholder takes no hard link unless its provider allows them
    // (CF_HARDLINK_POLICY): that refuses the way, not the move. RtlNtStatusToDosError does not know
    // this status everywhere (Wine 8 gives ERROR_MR_MID_NOT_FOUND), so it is told apart here.
    case Native::statusCloudFileIncompatibleHardlinks:
        return ENOTSUP;
    // The cloud filter's other answers that say why, told apart here for the same reason; where
    // RtlNtStatusToDosError knows them it gives the ERROR_CLOUD_FILE_ error of the same name. "The
    // operation is in progress on the file" (a hydration or sync under way) is in use; the sync
    // program not running, or ended unexpectedly, has a reason of its own; access to the cloud file
    // denied, and a cloud operation refused on a read-only volume, are what their names say. The
    // others (the network or the provider failing, a request timed out) fail as a move does.
    case Native::statusCloudFileInUse:
        return EBUSY;
    case Native::statusCloudFileProviderNotRunning:
    case Native::statusCloudFileProviderTerminated:
        return Platform::cloudProviderNotRunning;
    case Native::statusCloudFileAccessDenied:
        return EACCES;
    case Native::statusCloudFileReadOnlyVolume:
        return EROFS;
    // Another program has deleted the file while holding it open: the name stays until it closes
    // the file, and it may still cancel the deletion (FILE_DISPOSITION_INFORMATION), so the file is
    // not missing. RtlNtStatusToDosError makes ERROR_ACCESS_DENIED of it, which would read as no
    // permission.
    case Native::statusDeletePending:
        return Platform::deletePending;
    // The volume is gone ([MS-ERREF] 2.3.1: "the device is not connected", "no such device",
    // "the volume has been dismounted"). Told apart before RtlNtStatusToDosError, whose table makes
    // ERROR_FILE_NOT_FOUND of STATUS_NO_SUCH_DEVICE, as if the file alone were missing.
    case Native::statusDeviceNotConnected:
    case Native::statusNoSuchDevice:
    case Native::statusVolumeDismounted:
    // fastfat's answers for a card pulled out (STATUS_FILE_INVALID: the volume it was opened on is
    // gone) or swapped for another (STATUS_WRONG_VOLUME), from FatVerifyFcb and FatVerifyVcb
    // (verfysup.c); RtlNtStatusToDosError makes other errors of them.
    case Native::statusFileInvalid:
    case Native::statusWrongVolume:
        return ENODEV;
    // "The specified network name is no longer available": the share went away under an open handle.
    case Native::statusNetworkNameDeleted:
        return ENOTCONN;
    default:
        return NT_SUCCESS(status) ? 0 : errnoOf(RtlNtStatusToDosError(status));
    }
}

int lastErrno()
{
    return errnoOf(GetLastError());
}

} // namespace Platform::Windows
