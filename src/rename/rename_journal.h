#pragma once

#include "execute_record.h"
#include "pass_result.h"
#include "platform/file_mover.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QHash>

#include <mutex>
#include <vector>

class FileListModel;

// The moves of one execute, in the order made, kept in memory so that they can be taken back: the
// folder each file lies in, as the move found it, the file's old name, from which the pass's value
// gives the new one, and which file the new name named right after the move.
struct RenameJournal
{
    struct Folder
    {
        QByteArray text; // ending with the separator, beneath the searched folder
        Platform::FolderIdentity identity;
    };
    struct Move
    {
        // Which file the new name named: its identity but for the volume and whether the volume is
        // FAT, which its folder's identity holds for all of its moves (see fileOf()).
        quint64 index = 0;
        // The upper half of a 128-bit number; on FAT, whose numbers are 64 bits wide, the file's
        // number under its old name just before the move, since the move may have moved its entry
        // (see fileBefore()).
        quint64 indexHigh = 0;
        quint64 born = 0;
        quint64 size = 0;
        quint32 nameOffset = 0; // the old name, base followed by extension, in `names`
        quint32 planRow = 0; // the row's number in the execute's record
        quint32 folder = 0;
        quint16 baseLength = 0;
        quint16 extLength = 0;
    };

    QByteArray searchedFolder;
    Platform::FolderIdentity searchedIdentity;
    QByteArray value;
    NameMode mode = NameMode::NewBase;
    std::vector<Folder> folders;
    std::vector<Move> moves;
    std::vector<char> names;
    // Where a move on its way to another letter case may have left a file: its temporary name, by
    // the move's record row; only for an execute read back from its record.
    QHash<quint32, QByteArray> leftUnder;
    // Which file the old name named before a move that gave the file another number, off FAT (a
    // link on sshfs), by the move's record row.
    QHash<quint32, Platform::FileIdentity> renumbered;
    // Where the file system put a file in place of its folder, by the move's record row: its full
    // path, as the failure told it.
    QHash<quint32, QByteArray> placedElsewhere;
    ExecuteRecord record; // not kept where the state folder cannot be written
    // Whether a move of it could not be taken back: its record then stays for a later start.
    bool undoFailed = false;

    Platform::FileIdentity fileOf(const Move& move) const;
    // Which file the old name named just before the move: on FAT with the number it had there.
    Platform::FileIdentity fileBefore(const Move& move) const;
    // Records `file` as what the new name names; on FAT the number before the move stays.
    void setFile(Move& move, const Platform::FileIdentity& file) const;
    // Adds the move of `base` & `ext`, the record's row `planRow`, in the folder numbered `folder`,
    // where the new name names `file`; `before` is which file the old name named just before.
    void addMove(quint32 folder, QByteArrayView base, QByteArrayView ext, quint32 planRow,
        const Platform::FileIdentity& file, const Platform::FileIdentity& before);
    QByteArray oldName(const Move& move) const;
    QByteArray newName(const Move& move) const;
    // The memory the journal holds, for measuring it.
    size_t bytesHeld() const;
};

// Keeps each move of an execute in a journal.
class JournalWriter final
{
public:
    // For an execute of `rows` of `list`.
    JournalWriter(RenameJournal& journal, const FileListModel& list, const std::vector<int>& rows,
        const QByteArray& value, NameMode mode);
    // Growing by doubling leaves up to half the room unused; an undo list keeps none.
    ~JournalWriter();
    Q_DISABLE_COPY_MOVE(JournalWriter)

    // `row`, the record's row `planRow`, has just been moved to its preview name in `folder`, where it
    // is the file `file`; `before` is which file its old name named just before (on FAT, with the
    // number it had there).
    void add(const FileListModel& list, int row, quint32 planRow, const Platform::FolderHandle& folder,
        const Platform::FileIdentity& file, const Platform::FileIdentity& before);
    // The same for a file the file system put at the full path `placedAt`, outside its folder.
    void addPlacedElsewhere(const FileListModel& list, int row, quint32 planRow,
        const Platform::FolderHandle& folder, const Platform::FileIdentity& file,
        const Platform::FileIdentity& before, const QByteArray& placedAt);

private:
    void addLocked(const FileListModel& list, int row, quint32 planRow, const Platform::FolderHandle& folder,
        const Platform::FileIdentity& file, const Platform::FileIdentity& before);

    RenameJournal& m_journal;
    std::mutex m_mutex; // moves that overlap add from their own threads
    QHash<quint32, quint32> m_folders; // the list's numbers of the folders, to the journal's
};
