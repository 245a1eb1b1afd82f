#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class FileListModel;

// Whether `name` can only name an entry of the folder it is resolved in.
bool isPlainFileName(QByteArrayView name);

// The folder at `path`, only while it is still the folder with `identity`: whoever can write the
// folder above it may have put another folder, or a link to one, in its place. No file can be reached
// otherwise.
Platform::FolderHandle openSearchedFolder(const QByteArray& path, const Platform::FolderIdentity& identity);

// What became of the searched folder since it was searched.
enum class SearchedFolderState {
    There,
    Gone, // its volume or share no longer answers, or nothing is at its path
    Replaced, // another folder is at its path
};
SearchedFolderState searchedFolderState(const QByteArray& path, const Platform::FolderIdentity& identity);

// The last component of `path`.
QByteArrayView entryNameOf(QByteArrayView path);
// The folder holding the entry at the full path `path`, and the entry's name in it; the folder is not
// open where it cannot be opened, or `path` ends in no plain name.
std::pair<Platform::FolderHandle, QByteArray> folderOfPath(const QByteArray& path);

// A folder beneath the searched one, opened without following a symbolic link, so that a folder
// swapped for a link meanwhile cannot lead a move outside the searched tree; not open when it can no
// longer be reached that way.
Platform::FolderHandle openFolderOfRow(
    const Platform::FolderHandle& searched, const QByteArray& searchedPath, const QByteArray& folder);
// The same, only while it is still the folder with `identity`, in which an execute moved its files.
Platform::FolderHandle openRecordedFolder(const Platform::FolderHandle& searched,
    const QByteArray& searchedPath, const QByteArray& folder, const Platform::FolderIdentity& identity);

// The folders last opened, by their numbers, shared with whoever still uses them: moves that overlap
// may each hold a folder while another is opened, and take turns between several folders. Asked
// from any thread.
class FolderCache final
{
public:
    // The folder numbered `id`, opened by open() unless it is among those opened last; open() is
    // called under the cache's lock.
    std::shared_ptr<const Platform::FolderHandle> get(
        quint32 id, const std::function<Platform::FolderHandle()>& open);

private:
    std::mutex m_mutex;
    std::deque<std::pair<quint32, std::shared_ptr<const Platform::FolderHandle>>> m_folders; // latest first
};

// Each row's folder, reached as openFolderOfRow() does; rows of one folder share the handle while it
// is among those opened last, and a folder opened again must still be the one first opened. Nothing
// is opened until the first row is asked for. Asked from any thread.
class RowFolders final
{
public:
    explicit RowFolders(const FileListModel& list);

    // Not open when the row's folder can no longer be reached.
    std::shared_ptr<const Platform::FolderHandle> of(int row);

private:
    const FileListModel& m_list;
    std::once_flag m_searchedOpened;
    Platform::FolderHandle m_searched;
    FolderCache m_folders;
    QHash<quint32, Platform::FolderIdentity> m_identities; // of the folders opened, under the cache's lock
};
