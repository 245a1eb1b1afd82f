#include "row_folders.h"

#include "file_list/file_list_model.h"

#include <algorithm>

bool isPlainFileName(QByteArrayView name)
{
    return !name.isEmpty() && name != QByteArrayView(".") && name != QByteArrayView("..")
        && std::none_of(name.begin(), name.end(), Platform::isSeparator) && !name.contains('\0');
}

Platform::FolderHandle openSearchedFolder(const QByteArray& path, const Platform::FolderIdentity& identity)
{
    Platform::FolderHandle searched = Platform::openFolder(path);
    if (!Platform::stillSameFolder(identity, searched.identity()))
        return {};
    return searched;
}

SearchedFolderState searchedFolderState(const QByteArray& path, const Platform::FolderIdentity& identity)
{
    const Platform::FolderHandle searched = Platform::openFolder(path);
    if (!searched.isOpen())
        return SearchedFolderState::Gone;
    return Platform::stillSameFolder(identity, searched.identity()) ? SearchedFolderState::There
                                                                    : SearchedFolderState::Replaced;
}

Platform::FolderHandle openFolderOfRow(
    const Platform::FolderHandle& searched, const QByteArray& searchedPath, const QByteArray& folder)
{
    return folder.startsWith(searchedPath)
        ? Platform::openFolderBeneath(searched, QByteArrayView(folder).sliced(searchedPath.size()))
        : Platform::FolderHandle();
}

RowFolders::RowFolders(const FileListModel& list)
    : m_list(list)
{
}

const Platform::FolderHandle& RowFolders::of(int row)
{
    const quint32 id = m_list.folderId(row);
    if (!m_current || *m_current != id) {
        // Opened with the first row, on the thread that asks: a volume slow to answer holds that
        // thread, never the window's.
        if (!m_current)
            m_searched = openSearchedFolder(m_list.searchedFolder(), m_list.searchedIdentity());
        m_current = id;
        m_folder = openFolderOfRow(m_searched, m_list.searchedFolder(), m_list.folder(row));
    }
    return m_folder;
}
