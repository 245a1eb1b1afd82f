#include "rename_pass.h"

#include "conflict_check.h"
#include "file_list/file_list_model.h"
#include "move_failure.h"
#include "move_overlap.h"
#include "rename_journal.h"
#include "row_folders.h"
#include "runner/runner.h"

#include <QSet>

#include <mutex>

namespace {

// Makes the record of an execute, before its first move: 0, or the errno value of why it is not kept.
using RecordStart = std::function<int(ExecuteRecord& record)>;

// Keeps the file of `row`, which the file system put at the full path `placedAt` in place of its
// folder, in the journal and on record where it is, so that an undo can bring it back.
void keepPlacedElsewhere(const FileListModel& list, int row, quint32 planRow,
    const Platform::FolderHandle& folder, const Platform::FileIdentity& before, const QByteArray& placedAt,
    JournalWriter& journal, ExecuteRecord& record)
{
    const auto [there, name] = folderOfPath(placedAt);
    const std::optional<Platform::FileIdentity> file
        = there.isOpen() ? Platform::entryIdentity(there, name) : std::nullopt;
    if (!file)
        return;
    record.placedElsewhere(planRow, placedAt, *file);
    journal.addPlacedElsewhere(list, row, planRow, folder, *file, before, placedAt);
}

// Moves `row`'s file, the record's row `planRow`, to its preview name, `target`, keeping the move in
// the journal and on record: Renamed, or what made the move fail, and where the file now is if the
// file system put it outside its folder.
RowMark moveToPreview(const FileListModel& list, int row, quint32 planRow,
    const Platform::FolderHandle& folder, Platform::FileMover& mover, const QByteArray& target,
    JournalWriter& journal, ExecuteRecord& record, QByteArray& placedAt)
{
    if (!isPlainFileName(target))
        return RowMark::FailedNameUnusable;
    if (!folder.isOpen())
        return RowMark::FailedFolderReplaced;
    const QByteArray name = list.name(row);
    if (target == name)
        return Platform::entryExists(folder, name) ? RowMark::Renamed : RowMark::FailedSourceMissing;
    // Which file moves is on record before it moves, so that a crash cannot leave it unidentified. A
    // file the system cannot tell from another could not be checked before moving it back, so it is
    // moved but kept nowhere.
    const std::optional<Platform::FileIdentity> file = Platform::entryIdentity(folder, name);
    if (file)
        record.aboutToMove(planRow, *file);
    // A link made by a file system that numbers its files by name (sshfs) has a number of its own,
    // which alone tells the file once its old name has gone: it is on record before that, so that
    // a crash between the two still leaves the file found.
    std::optional<Platform::FileIdentity> linked;
    Platform::MoveResult result = mover.move(
        folder, name, target, [&](const QByteArray& temporary) { record.temporaryName(planRow, temporary); },
        [&] {
            linked = file ? Platform::entryIdentity(folder, target) : std::nullopt;
            if (linked)
                record.moved(planRow, *linked);
        });
    placedAt = std::move(result.placedAt);
    if (result.error != 0) {
        if (file) {
            record.failed(planRow);
            if (result.error == Platform::movedElsewhere && !placedAt.isEmpty())
                keepPlacedElsewhere(list, row, planRow, folder, *file, placedAt, journal, record);
        }
        return failureOf(result.error);
    }
    if (!file)
        return RowMark::Renamed;
    // A later undo tells this execute's file on FAT by its number before (see undo_pass.cpp).
    const bool renumbered = result.mayRenumber(file->fat) && !linked;
    const std::optional<Platform::FileIdentity> now = linked ? linked
        : renumbered                                         ? Platform::entryIdentity(folder, target)
                                                             : file;
    if (now) {
        if (renumbered)
            record.moved(planRow, *now);
        journal.add(list, row, planRow, folder, *now, *file);
    }
    return RowMark::Renamed;
}

// Moves each of `rows` to its preview name, marks what became of it, reports each failure and keeps
// each move in the journal. The rows a stopped execute does not reach keep no mark, as a stopped
// preview leaves them: asking the disk about them would hold the window on a slow volume.
PassResult moveToPreviews(FileListModel& list, const std::vector<int>& rows, RowFolders& folders,
    Platform::FileMover& mover, JournalWriter& journal, ExecuteRecord& record, const RecordStart& recordStart,
    Runner& runner, const FailureReport& report)
{
    PassResult result;
    std::mutex recording; // for recordedFolders
    QSet<quint32> recordedFolders;
    std::vector<bool> taken(rows.size());
    RowMark notTried = RowMark::None;
    const auto namesOf = [&list, &rows](int index) {
        QByteArray target;
        list.previewInto(rows[index], target);
        return std::array<QByteArray, 2> { list.name(rows[index]), target };
    };
    // The folders, the moves and the journal's look-ups are the threads' alone while they run; they
    // only read the rows, and this thread changes nothing of them but their marks.
    const int reached = runner.runEach<MoveOutcome>(
        static_cast<int>(rows.size()), RenameProgress::Work::Moving,
        [&](int index) {
            if (index == 0)
                result.recordError = recordStart(record);
            const int row = rows[index];
            const std::shared_ptr<const Platform::FolderHandle> folder = folders.of(row);
            if (folder->isOpen()) {
                const std::lock_guard lock(recording);
                if (!recordedFolders.contains(list.folderId(row))) {
                    recordedFolders.insert(list.folderId(row));
                    record.folderOpened(list.folderId(row), folder->identity());
                }
            }
            QByteArray placedAt;
            QByteArray target;
            list.previewInto(row, target);
            const RowMark mark
                = moveToPreview(list, row, quint32(index), *folder, mover, target, journal, record, placedAt);
            MoveOutcome outcome
                = outcomeInSearchedFolder(mark, list.searchedFolder(), list.searchedIdentity());
            outcome.placedAt = std::move(placedAt);
            return outcome;
        },
        [&](int index, const MoveOutcome& outcome, bool afterStop) {
            const int row = rows[index];
            taken[index] = true;
            list.setMark(row, outcome.mark);
            if (!outcome.placedAt.isEmpty())
                list.setPlacedElsewhere(row, outcome.placedAt);
            if (!outcome.failed()) {
                ++result.renamed;
                return;
            }
            // A file the file system put elsewhere is told where it is.
            result.failures.push_back(
                { outcome.placedAt.isEmpty() ? list.fullPath(row) : outcome.placedAt, outcome.mark });
            // Once the volume is gone, the moves that were under way fail with it, told by their
            // marks: the one box said it. Those under way when the user stopped the pass are told
            // by their marks too: the user asked for no more.
            if (notTried == RowMark::None && !afterStop)
                report(result.failures.back());
            if (outcome.endsPass())
                notTried = outcome.notTried;
        },
        [](const MoveOutcome& outcome) { return outcome.failed(); },
        [](const MoveOutcome& outcome) { return outcome.endsPass(); },
        Overlap { movesAtOnce,
            // Only moves of one folder are given to it.
            [&](int earlier, int later) { return namesMeet(namesOf(earlier), namesOf(later)); },
            [&](int index) { return list.folderId(rows[index]); }, movesAhead });
    if (notTried != RowMark::None) {
        // The volume is gone: every other move would fail the same way.
        result.end = PassEnd::CutShort;
        for (size_t index = 0; index < rows.size(); ++index) {
            if (!taken[index])
                list.setMark(rows[index], notTried);
        }
    } else if (reached < static_cast<int>(rows.size())) {
        result.end = PassEnd::Stopped;
    }
    // Stopped or cut short, the execute moves nothing more either way.
    record.complete();
    return result;
}

} // namespace

PassResult applyNewNames(FileListModel& list, const QByteArray& value, PassKind kind, NameMode mode,
    Platform::FileMover& mover, Runner& runner, RenameJournal& journal, const QByteArray& recordFolder,
    const FailureReport& report)
{
    const int rowCount = list.rowCount();
    const quint32 pass = list.beginPreviewPass(value, mode == NameMode::NewExtension);
    int firstChanged = rowCount;
    int lastChanged = -1;
    list.forgetMarkDetails();
    std::vector<int> checkedRows;
    for (int row = 0; row < rowCount; ++row) {
        if (!list.isChecked(row) && list.mark(row) == RowMark::None)
            continue;
        list.setMark(row, RowMark::None);
        if (list.isChecked(row)) {
            list.setPreviewPass(row, pass);
            checkedRows.push_back(row);
        }
        firstChanged = std::min(firstChanged, row);
        lastChanged = row;
        if (row % 1024 == 0)
            runner.letEventsThroughInTime();
    }
    RowFolders folders(list);
    PassResult result;
    if (kind == PassKind::Execute) {
        // Each move answers for its own row, and more surely than a comparison beforehand would.
        JournalWriter writer(journal, list, checkedRows, value, mode);
        // Written on the runner's thread, as the moves are: a plan of many rows takes a while to write.
        const RecordStart recordStart = [&](ExecuteRecord& record) {
            int error = 0;
            if (!recordFolder.isEmpty())
                record = ExecuteRecord::start(recordFolder, list, checkedRows, value, mode, error);
            return error;
        };
        result = moveToPreviews(
            list, checkedRows, folders, mover, writer, journal.record, recordStart, runner, report);
    } else {
        ConflictCheck check(list, mover, mode);
        // The names are compared and looked up on the runner's thread, as the moves are, so that a
        // slow answer (from a busy network share) never holds the window.
        const int checkedCount = static_cast<int>(checkedRows.size());
        const int compared = runner.runEach<Finding>(
            checkedCount, RenameProgress::Work::Checking,
            [&](int index) { return check.byNameAndDisk(checkedRows, index, folders); },
            [&](int index, const Finding& finding, bool) {
                finding.tell(list, checkedRows[index]);
                result.foreseen += finding.mark != RowMark::None ? 1 : 0;
            },
            [](const Finding&) { return false; });
        result.end = compared < checkedCount ? PassEnd::Stopped : PassEnd::Completed;
    }
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    return result;
}
