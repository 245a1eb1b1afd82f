#pragma once

#include <QString>
#include <QtGlobal>

// What the last preview foresees for a row's rename, or what the last execute did with it. Rows
// that would rename fine, and rows an execute did not reach, carry none.
enum class RowMark : quint8 {
    None,
    // foreseen by a preview
    TargetExists,
    SameNameAsRow, // as an earlier row of the same folder
    NameUnusable,
    NameTooLong,
    FolderReplaced,
    VolumeReadOnly,
    NoPermission, // the folder lets nobody like the user add or remove names
    // not tried by an execute that ended early, since every move after it would fail
    NotReachedVolumeLost,
    NotReachedFolderReplaced,
    // done by an execute
    Renamed,
    FailedTargetExists,
    FailedSourceMissing,
    FailedSourceModified, // of an undo: the file is there but has been edited since
    FailedNoPermission,
    FailedInUse,
    FailedNameUnusable,
    FailedNameTooLong,
    FailedReadOnlyVolume,
    FailedFolderReplaced,
    FailedVolumeLost, // the volume, the share or the searched folder itself no longer answers
    FailedKeptBothNames, // the file is also under its new name, the preview
    FailedCloudProviderNotRunning, // the sync program of the file's cloud drive is not running
    FailedDeletePending, // another program is deleting the file and may still cancel it
    FailedMovedElsewhere, // the file system put the file outside its folder, and it stayed there
    Failed,
};

// How a mark shows: foreseen (or not tried), done, or failed.
enum class MarkKind { None, Foreseen, Done, Failed };
MarkKind kindOf(RowMark mark);

// The reason behind a mark, as a row's tooltip and a screen reader give it; empty for none. A row
// with the same name as an earlier one also names that row, which only the list knows.
QString reasonOf(RowMark mark);
