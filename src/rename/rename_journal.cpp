#include "rename_journal.h"

#include "file_list/file_list_model.h"

// A file lies on its folder's volume; a file that does not (a file mounted over an entry) is never
// moved, since a mount point cannot be renamed.
Platform::FileIdentity RenameJournal::fileOf(const Move& move) const
{
    const Platform::FolderIdentity& folder = folders[move.folder].identity;
    return { folder.volume, move.index, move.born, folder.fat ? 0 : move.indexHigh, move.size, folder.fat };
}

Platform::FileIdentity RenameJournal::fileBefore(const Move& move) const
{
    Platform::FileIdentity file = fileOf(move);
    if (file.fat)
        file.index = move.indexHigh;
    return renumbered.value(move.planRow, file);
}

void RenameJournal::setFile(Move& move, const Platform::FileIdentity& file) const
{
    move.index = file.index;
    if (!folders[move.folder].identity.fat)
        move.indexHigh = file.indexHigh;
    move.born = file.born;
    move.size = file.size;
}

void RenameJournal::addMove(quint32 folder, QByteArrayView base, QByteArrayView ext, quint32 planRow,
    const Platform::FileIdentity& file, const Platform::FileIdentity& before)
{
    Move move;
    move.folder = folder;
    setFile(move, file);
    // On FAT, which file the old name named before the move, by its number there; elsewhere, kept
    // aside where the move changed it.
    if (file.fat)
        move.indexHigh = before.index;
    else if (before != file)
        renumbered.insert(planRow, before);
    move.nameOffset = static_cast<quint32>(names.size());
    move.planRow = planRow;
    move.baseLength = static_cast<quint16>(base.size());
    move.extLength = static_cast<quint16>(ext.size());
    moves.push_back(move);
    names.insert(names.end(), base.begin(), base.end());
    names.insert(names.end(), ext.begin(), ext.end());
}

QByteArray RenameJournal::oldName(const Move& move) const
{
    return QByteArray(names.data() + move.nameOffset, move.baseLength + move.extLength);
}

QByteArray RenameJournal::newName(const Move& move) const
{
    const QByteArrayView name(names.data() + move.nameOffset, move.baseLength + move.extLength);
    return mode == NameMode::NewExtension ? name.first(move.baseLength).toByteArray() + value
                                          : value + name.sliced(move.baseLength).toByteArray();
}

size_t RenameJournal::bytesHeld() const
{
    size_t bytes = sizeof *this + searchedFolder.capacity() + value.capacity()
        + folders.capacity() * sizeof(Folder) + moves.capacity() * sizeof(Move) + names.capacity();
    for (const Folder& folder : folders)
        bytes += folder.text.capacity();
    return bytes;
}

JournalWriter::JournalWriter(RenameJournal& journal, const FileListModel& list, const std::vector<int>& rows,
    const QByteArray& value, NameMode mode)
    : m_journal(journal)
{
    m_journal.searchedFolder = list.searchedFolder();
    m_journal.searchedIdentity = list.searchedIdentity();
    m_journal.value = value;
    m_journal.mode = mode;
    // Room for every move at once: growing would copy what was written, on the moving thread.
    size_t nameBytes = 0;
    for (const int row : rows)
        nameBytes += size_t(list.base(row).size() + list.ext(row).size());
    m_journal.moves.reserve(rows.size());
    m_journal.names.reserve(nameBytes);
}

JournalWriter::~JournalWriter()
{
    m_journal.moves.shrink_to_fit();
    m_journal.names.shrink_to_fit();
    m_journal.folders.shrink_to_fit();
}

void JournalWriter::add(const FileListModel& list, int row, quint32 planRow,
    const Platform::FolderHandle& folder, const Platform::FileIdentity& file,
    const Platform::FileIdentity& before)
{
    const std::lock_guard lock(m_mutex);
    addLocked(list, row, planRow, folder, file, before);
}

void JournalWriter::addPlacedElsewhere(const FileListModel& list, int row, quint32 planRow,
    const Platform::FolderHandle& folder, const Platform::FileIdentity& file,
    const Platform::FileIdentity& before, const QByteArray& placedAt)
{
    const std::lock_guard lock(m_mutex);
    addLocked(list, row, planRow, folder, file, before);
    m_journal.placedElsewhere.insert(planRow, placedAt);
}

void JournalWriter::addLocked(const FileListModel& list, int row, quint32 planRow,
    const Platform::FolderHandle& folder, const Platform::FileIdentity& file,
    const Platform::FileIdentity& before)
{
    // Moves that overlap take turns between folders: each folder is kept once.
    auto known = m_folders.constFind(list.folderId(row));
    if (known == m_folders.cend()) {
        known = m_folders.insert(list.folderId(row), static_cast<quint32>(m_journal.folders.size()));
        m_journal.folders.push_back({ list.folder(row), folder.identity() });
    }
    m_journal.addMove(*known, list.base(row), list.ext(row), planRow, file, before);
}
