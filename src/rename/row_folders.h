#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

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

// A folder beneath the searched one, opened without following a symbolic link, so that a folder
// swapped for a link meanwhile cannot lead a move outside the searched tree; not open when it can no
// longer be reached that way.
Platform::FolderHandle openFolderOfRow(
    const Platform::FolderHandle& searched, const QByteArray& searchedPath, const QByteArray& folder);

// Each row's folder, reached as openFolderOfRow() does; consecutive rows of one folder share the
// handle. Nothing is opened until the first row is asked for. Used by one thread at a time.
class RowFolders final
{
public:
    explicit RowFolders(const FileListModel& list);

    // Not open when the row's folder can no longer be reached.
    const Platform::FolderHandle& of(int row);

private:
    const FileListModel& m_list;
    Platform::FolderHandle m_searched;
    std::optional<quint32> m_current;
    Platform::FolderHandle m_folder;
};
