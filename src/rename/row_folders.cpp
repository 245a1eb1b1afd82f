#include "row_folders.h"

#include "file_list/file_list_model.h"
#include "move_overlap.h"

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

QByteArrayView entryNameOf(QByteArrayView path)
{
    const auto separator = std::find_if(path.rbegin(), path.rend(), Platform::isSeparator);
    return path.last(separator - path.rbegin());
}

std::pair<Platform::FolderHandle, QByteArray> folderOfPath(const QByteArray& path)
{
    const QByteArrayView name = entryNameOf(path);
    if (!isPlainFileName(name) || name.size() == path.size())
        return {};
    // The separator kept, so that a volume's root is a folder: "D:\", not "D:".
    return { Platform::openFolder(path.chopped(name.size())), name.toByteArray() };
}

Platform::FolderHandle openFolderOfRow(
    const Platform::FolderHandle& searched, const QByteArray& searchedPath, const QByteArray& folder)
{
    return folder.startsWith(searchedPath)
        ? Platform::openFolderBeneath(searched, QByteArrayView(folder).sliced(searchedPath.size()))
        : Platform::FolderHandle();
}

Platform::FolderHandle openRecordedFolder(const Platform::FolderHandle& searched,
    const QByteArray& searchedPath, const QByteArray& folder, const Platform::FolderIdentity& identity)
{
    Platform::FolderHandle opened = openFolderOfRow(searched, searchedPath, folder);
    return Platform::stillSameFolder(identity, opened.identity()) ? std::move(opened)
                                                                  : Platform::FolderHandle();
}

std::shared_ptr<const Platform::FolderHandle> FolderCache::get(
    quint32 id, const std::function<Platform::FolderHandle()>& open)
{
    // Twice as many as moves under way: a folder whose moves wait for another's is still open
    // when they start.
    constexpr size_t kept = 2 * movesAtOnce;
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(
        m_folders.begin(), m_folders.end(), [id](const auto& folder) { return folder.first == id; });
    if (found != m_folders.end()) {
        std::rotate(m_folders.begin(), found, found + 1);
    } else {
        if (m_folders.size() == kept)
            m_folders.pop_back();
        m_folders.emplace_front(id, std::make_shared<const Platform::FolderHandle>(open()));
    }
    return m_folders.front().second;
}

RowFolders::RowFolders(const FileListModel& list)
    : m_list(list)
{
}

std::shared_ptr<const Platform::FolderHandle> RowFolders::of(int row)
{
    // Opened with the first row, on the thread that asks: a volume slow to answer holds that
    // thread, never the window's.
    std::call_once(m_searchedOpened,
        [this] { m_searched = openSearchedFolder(m_list.searchedFolder(), m_list.searchedIdentity()); });
    const quint32 id = m_list.folderId(row);
    return m_folders.get(id, [&] {
        // Another folder may have been put in place of one let go meanwhile: the row's file is not
        // in it.
        const auto first = m_identities.constFind(id);
        if (first != m_identities.cend())
            return openRecordedFolder(m_searched, m_list.searchedFolder(), m_list.folder(row), *first);
        Platform::FolderHandle opened
            = openFolderOfRow(m_searched, m_list.searchedFolder(), m_list.folder(row));
        if (opened.isOpen())
            m_identities.insert(id, opened.identity());
        return opened;
    });
}
