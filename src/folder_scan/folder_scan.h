#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

class FileListModel;
class Runner;

// The recursive folder search: which files of a tree match the filter, and how a name splits.
namespace FolderAllList {

struct SplitName
{
    QByteArrayView base;
    QByteArrayView ext; // from the last "." on, or empty
};

SplitName SplitFileName(QByteArrayView name);

// `path` ending with the separator, as every row's folder does.
QByteArray folderText(const QByteArray& path);

// Appends one unchecked row with the untouched preview " ".
void AddFileRow(FileListModel& list, const QByteArray& folder, QByteArrayView base, QByteArrayView ext);

// A folder in which the walk failed midway (exhausted memory, a listing that broke off): the rest
// of its entries and all of its subfolders were skipped.
struct FolderFailure
{
    QByteArray folder; // folder text
};

struct ScanContext
{
    std::function<void(const QByteArray& folder, QByteArrayView base, QByteArrayView ext)> addFileRow;
    // Told of each failure as it happens, on the walk's thread; the walk goes on once it returns,
    // so that a box shown there is closed before the next folder.
    std::function<void(const FolderFailure& failure)> folderFailed;
    // Called after every 50 entries of one folder, so the window can repaint during a long walk.
    std::function<void()> yieldToEventLoop;
    // Lets events through while the walk waits for the next folder's listing (a share that is slow
    // to answer), apart from the yields; the walk ends early when it asks to stop.
    Runner& runner;
    // How many folders are listed at once, ahead of the walk, on threads of their own: on a share
    // each listing waits for the network, and several waits overlap.
    int foldersReadAhead = 8;
};

// Walks `path` and every folder below it, depth first, and adds a row for every file (anything
// that is not a real directory, symbolic links included) whose name contains `filter`, ignoring
// case. Folders that cannot be listed are skipped silently, and so are trash folders and a folder
// that is one of those above it (a loop); a failure inside one folder is told once and skips the
// rest of that folder, while the walk of its siblings goes on. Folders are listed ahead of the walk,
// and a large folder's later entries as the walk gets to them, on threads of their own (the walk
// lets events through while it waits for one), but rows, their order and the yields are those of a
// walk that lists one folder at a time. Stopped by the runner, the walk ends after the yield or the
// folder in progress. Returns which folder `path` led to, or no identity when it could not be listed.
Platform::FolderIdentity ScanFolder(const QByteArray& path, const QString& filter, ScanContext& context);

} // namespace FolderAllList
