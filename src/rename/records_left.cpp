#include "records_left.h"

#include "row_folders.h"

#include <QDir>
#include <QFile>

namespace {

// Where the file of row `row` of a record lies now, and which file it is there: under its new name,
// when that names the recorded file, or under a temporary name the record gave it. That name is the
// program's own, unique by its random part, so the file found there on the recorded volume is taken
// for the recorded one though its number may differ: FAT and exFAT number a file by where its entry
// lies, and the move to a longer name moved the entry.
std::optional<std::pair<QByteArray, Platform::FileIdentity>> whereRecordedFile(
    const ReadRecord& record, quint32 row, const Platform::FolderHandle& folder, const QByteArray& newName)
{
    const Platform::FileIdentity file = record.moved.value(row, record.aboutToMove.value(row));
    if (const std::optional<Platform::FileIdentity> there = Platform::entryIdentity(folder, newName);
        there && Platform::stillSameFile(file, *there))
        return std::pair(newName, file);
    for (const QByteArray& temporary : record.temporaryNames.value(row)) {
        if (const std::optional<Platform::FileIdentity> there = Platform::entryIdentity(folder, temporary);
            there && there->volume == file.volume)
            return std::pair(temporary, *there);
    }
    return std::nullopt;
}

// The new name of row `row`, where a crash between a link and the unlink of the old name left the
// file under both and the volume gave the link a number of its own before the record learnt it
// (sshfs numbers its files by name, and may number the old name anew too): the old name is still
// there, and the new one names something, which the undo takes away only where it holds the same
// bytes. A volume that numbers its files otherwise gives a link the file's own number, by which
// the file is found under its new name.
std::optional<std::pair<QByteArray, Platform::FileIdentity>> secondName(const ReadRecord& record, quint32 row,
    const Platform::FolderHandle& folder, const QByteArray& oldName, const QByteArray& newName)
{
    if (record.moved.contains(row) || !Platform::entryIdentity(folder, oldName))
        return std::nullopt;
    if (const std::optional<Platform::FileIdentity> atNew = Platform::entryIdentity(folder, newName))
        return std::pair(newName, *atNew);
    return std::nullopt;
}

// The journal of `record`, for the undo: every row moved and not yet taken back, where the disk is
// asked only for a cut-off execute and for files that may lie under a temporary name.
RenameJournal journalOf(const ReadRecord& record)
{
    RenameJournal journal;
    journal.searchedFolder = record.searchedFolder;
    journal.searchedIdentity = record.searchedIdentity;
    journal.value = record.value;
    journal.mode = record.mode;
    Platform::FolderHandle searched;
    QHash<quint32, quint32> journalFolder; // by the record's number of it
    std::optional<quint32> openFolder;
    Platform::FolderHandle folder;
    for (quint32 index = 0; index < record.rows.size(); ++index) {
        const QList<QByteArray> temporaries = record.temporaryNames.value(index);
        // A file the file system put outside its folder is taken back from where it was told to be.
        const auto placed = record.placedElsewhere.constFind(index);
        const bool isPlaced = placed != record.placedElsewhere.cend();
        if (!record.aboutToMove.contains(index) || record.takenBack.contains(index)
            || (record.failed.contains(index) && temporaries.isEmpty() && !isPlaced))
            continue;
        const ReadRecord::Row& row = record.rows[index];
        const ReadRecord::Folder& recorded = record.folders[row.folder];
        if (!recorded.identity)
            continue;
        const QByteArray newName = record.newName(row);
        const Platform::FileIdentity before = record.aboutToMove.value(index);
        std::optional<std::pair<QByteArray, Platform::FileIdentity>> found
            = isPlaced ? *placed : std::pair(newName, record.moved.value(index, before));
        if (!isPlaced && (!record.complete || !temporaries.isEmpty())) {
            if (!searched.isOpen())
                searched = openSearchedFolder(record.searchedFolder, record.searchedIdentity);
            if (openFolder != row.folder) {
                openFolder = row.folder;
                folder = openRecordedFolder(searched, record.searchedFolder,
                    record.searchedFolder + recorded.text, *recorded.identity);
            }
            found = folder.isOpen() ? whereRecordedFile(record, index, folder, newName) : std::nullopt;
            if (!found && folder.isOpen())
                found = secondName(record, index, folder, row.base + row.ext, newName);
            if (!found)
                continue;
        }
        if (!journalFolder.contains(row.folder)) {
            journalFolder.insert(row.folder, quint32(journal.folders.size()));
            journal.folders.push_back({ record.searchedFolder + recorded.text, *recorded.identity });
        }
        journal.addMove(journalFolder.value(row.folder), row.base, row.ext, index, found->second, before);
        if (isPlaced)
            journal.placedElsewhere.insert(index, found->first);
        else if (found->first != newName)
            journal.leftUnder.insert(index, found->first);
    }
    return journal;
}

} // namespace

RecordsLeft takeRecordsLeft(const QByteArray& folder)
{
    RecordsLeft left;
    // Named by the time each execute began, so that sorting by name puts the oldest first. Picked by
    // their ending rather than by a name filter, which would leave a regular expression's stack on
    // this short-lived thread, and that stack's release at the thread's end crashes under Wine.
    const QStringList names = QDir(QFile::decodeName(folder)).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const bool unfinished = name.endsWith(QStringLiteral(".record.new"));
        if (!unfinished && !name.endsWith(QStringLiteral(".record")))
            continue;
        Platform::RecordFile::Taken taken = Platform::RecordFile::Taken::Failed;
        Platform::RecordFile file = Platform::RecordFile::take(folder, QFile::encodeName(name), taken);
        if (taken != Platform::RecordFile::Taken::Held)
            continue;
        // A plan whose writer ended before it was durable: no file was moved under it.
        if (unfinished) {
            file.remove();
            continue;
        }
        const std::optional<ReadRecord> record = readRecord(file.readAll());
        if (!record) {
            // Told once: set aside, it is not read again, but stays for whoever wants to look.
            ++left.unreadable;
            file.setAside();
            continue;
        }
        RenameJournal journal = journalOf(*record);
        // Of a cut-off execute, the journal holds exactly the files the disk shows it moved.
        if (!record->complete && !journal.moves.empty())
            left.cutOff.push_back({ record->searchedFolder, static_cast<int>(journal.moves.size()) });
        if (journal.moves.empty()) {
            file.remove();
            continue;
        }
        journal.record = ExecuteRecord(std::move(file));
        left.executes.push_back(std::move(journal));
    }
    return left;
}
