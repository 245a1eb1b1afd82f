#include "move_failure.h"

#include "platform/platform.h"
#include "row_folders.h"

#include <cerrno>

RowMark failureOf(int error)
{
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        return RowMark::FailedTargetExists;
    case ENOENT:
        return RowMark::FailedSourceMissing;
    case EACCES:
    case EPERM:
        return RowMark::FailedNoPermission;
    case EBUSY:
    case ETXTBSY:
        return RowMark::FailedInUse;
    case EINVAL:
    case EILSEQ:
        return RowMark::FailedNameUnusable;
    case ENAMETOOLONG:
        return RowMark::FailedNameTooLong;
    case EROFS:
        return RowMark::FailedReadOnlyVolume;
    // The driver or the connection is gone: a pulled card, a killed FUSE driver, a dropped share.
    // FUSE ends the calls its driver had not answered when it went with ECONNABORTED, later ones
    // with ENOTCONN; neither says anything of one file.
    case ENOTCONN:
    case ECONNABORTED:
    case ENODEV:
    case ENXIO:
        return RowMark::FailedVolumeLost;
    case Platform::keptBothNames:
        return RowMark::FailedKeptBothNames;
    case Platform::cloudProviderNotRunning:
        return RowMark::FailedCloudProviderNotRunning;
    case Platform::movedElsewhere:
        return RowMark::FailedMovedElsewhere;
    case Platform::deletePending:
        return RowMark::FailedDeletePending;
    default:
        return RowMark::Failed;
    }
}

MoveOutcome outcomeInSearchedFolder(
    RowMark mark, const QByteArray& path, const Platform::FolderIdentity& identity)
{
    switch (mark) {
    case RowMark::Renamed:
    // The file's own name and target: nothing to do with the folder.
    case RowMark::FailedTargetExists:
    case RowMark::FailedNameUnusable:
    case RowMark::FailedNameTooLong:
    // A read-only volume refuses every move, but each with its box, which the user can stop; so does
    // a cloud drive whose sync program is not running, and only for the files it keeps in the cloud.
    case RowMark::FailedReadOnlyVolume:
    case RowMark::FailedCloudProviderNotRunning:
        return { mark, RowMark::None, {} };
    default:
        break;
    }
    switch (searchedFolderState(path, identity)) {
    case SearchedFolderState::Gone:
        return { RowMark::FailedVolumeLost, RowMark::NotReachedVolumeLost, {} };
    case SearchedFolderState::Replaced:
        return { RowMark::FailedFolderReplaced, RowMark::NotReachedFolderReplaced, {} };
    case SearchedFolderState::There:
        break;
    }
    // A lost device or connection ends the pass even where the searched folder still answers from
    // what the system has cached of it.
    return { mark, mark == RowMark::FailedVolumeLost ? RowMark::NotReachedVolumeLost : RowMark::None, {} };
}
