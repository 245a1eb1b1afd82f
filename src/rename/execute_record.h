#pragma once

#include "pass_result.h"
#include "platform/platform.h"
#include "platform/record_file.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class FileListModel;

// What an execute did, on disk, so that it can be taken back after the window that made it has
// closed, or its program was killed or lost its power midway. The plan (the searched folder, each
// checked row's folder and old name, and the pass's value, which gives the new names) is durable
// before the first move. Then each move adds the identity of the file it is about to move, and a
// case-only change the temporary name it is about to use, neither waiting for the disk: the next
// start reads the disk to learn what happened, and a lost tail only leaves those files unidentified,
// so that nothing is moved for them. Each entry carries a checksum, so that a torn tail is found.
class ExecuteRecord final
{
public:
    ExecuteRecord() = default;
    ExecuteRecord(ExecuteRecord&&) noexcept = default;
    ExecuteRecord& operator=(ExecuteRecord&&) noexcept = default;
    Q_DISABLE_COPY(ExecuteRecord)

    // A new record, in `folder`, of an execute of `rows` of `list`, durable when it returns. Not
    // kept, with `error` set to the errno value, when it cannot be written.
    static ExecuteRecord start(const QByteArray& folder, const FileListModel& list,
        const std::vector<int>& rows, const QByteArray& value, NameMode mode, int& error);
    // An existing record, held by this one.
    explicit ExecuteRecord(Platform::RecordFile file)
        : m_file(std::move(file))
    {
    }

    bool isKept() const { return m_file.isOpen(); }
    const Platform::RecordFile& file() const { return m_file; }

    // The plan's rows are numbered in the order of `rows`, their folders as the list numbers them.
    // The folder numbered `folder` has just been opened, as `identity`.
    void folderOpened(quint32 folder, const Platform::FolderIdentity& identity);
    // The plan's row `row`, the file `file`, is about to be moved.
    void aboutToMove(quint32 row, const Platform::FileIdentity& file);
    // The file of row `row` is about to be moved to `temporary` on its way to another case.
    void temporaryName(quint32 row, const QByteArray& temporary);
    // After its move, the file of `row` is `file` (FAT and exFAT may move its entry, and its number).
    void moved(quint32 row, const Platform::FileIdentity& file);
    // The move of `row` failed.
    void failed(quint32 row);
    // The file system put the file of `row`, now `file`, at the full path `path`, in place of its
    // folder: the move failed, and the file is to be brought back from there.
    void placedElsewhere(quint32 row, const QByteArray& path, const Platform::FileIdentity& file);
    // The file of `row` is back under its old name.
    void takenBack(quint32 row);
    // The execute reached its end, or the user stopped it, having moved no later row.
    void complete();
    // Lets the record go: removed when `whole`, everything in it having been taken back, else kept
    // for a later start to take back what is left.
    void release(bool whole);

private:
    void add(char kind, const QByteArray& payload);

    Platform::RecordFile m_file;
    // Moves that overlap append from their own threads, one entry at a time.
    std::unique_ptr<std::mutex> m_appending = std::make_unique<std::mutex>();
    bool m_failing = false; // an entry could not be written: the rest would not parse anyway
};

// A record as read from disk: what it planned and what its entries say happened. Nothing in it is
// trusted until checked against the disk; names and folders that could lead elsewhere are refused
// while reading.
struct ReadRecord
{
    struct Folder
    {
        QByteArray text; // ending with the separator, beneath the searched folder
        std::optional<Platform::FolderIdentity> identity; // once the execute opened it
    };
    struct Row
    {
        quint32 folder = 0;
        QByteArray base;
        QByteArray ext;
    };
    QByteArray searchedFolder;
    Platform::FolderIdentity searchedIdentity;
    QByteArray value;
    NameMode mode = NameMode::NewBase;
    QHash<quint32, Folder> folders; // by the list's numbers of them
    std::vector<Row> rows;
    QHash<quint32, Platform::FileIdentity> aboutToMove; // by row: which file the old name named
    QHash<quint32, Platform::FileIdentity> moved; // by row, where a move changed the file's number
    QHash<quint32, QList<QByteArray>> temporaryNames;
    QSet<quint32> failed;
    // By row: where the file system put the file in place of its folder, and which file it is there.
    QHash<quint32, std::pair<QByteArray, Platform::FileIdentity>> placedElsewhere;
    QSet<quint32> takenBack;
    bool complete = false;

    // The name the execute gave `row`.
    QByteArray newName(const Row& row) const
    {
        return mode == NameMode::NewExtension ? row.base + value : value + row.ext;
    }
};

// The record in `bytes`, read as far as its entries prove themselves: a torn or corrupt entry ends it.
// None when no plan parses and proves itself by its checksums, or a later version of the program
// wrote it, in a form this one does not know.
std::optional<ReadRecord> readRecord(const QByteArray& bytes);
