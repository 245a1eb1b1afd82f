#include "rename_pass.h"

#include "conflict_check.h"
#include "file_list/file_list_model.h"
#include "move_failure.h"
#include "rename_journal.h"
#include "row_folders.h"
#include "runner/runner.h"

namespace {

// Moves `row`'s file to its preview name, `target`: Renamed, or what made the move fail, and
// where the file now is if the file system put it outside its folder.
RowMark moveToPreview(const FileListModel& list, int row, const Platform::FolderHandle& folder,
    Platform::FileMover& mover, const QByteArray& target, bool& moved, QByteArray& placedAt)
{
    moved = false;
    if (!isPlainFileName(target))
        return RowMark::FailedNameUnusable;
    if (!folder.isOpen())
        return RowMark::FailedFolderReplaced;
    const QByteArray name = list.name(row);
    if (target == name)
        return Platform::entryExists(folder, name) ? RowMark::Renamed : RowMark::FailedSourceMissing;
    Platform::MoveResult result = mover.move(folder, name, target);
    const int error = result.error;
    placedAt = std::move(result.placedAt);
    moved = error == 0;
    return error == 0 ? RowMark::Renamed : failureOf(error);
}

// Moves each of `rows` to its preview name, marks what became of it, reports each failure and keeps
// each move in the journal. The rows a stopped execute does not reach keep no mark, as a stopped
// preview leaves them: asking the disk about them would hold the window on a slow volume.
PassResult moveToPreviews(FileListModel& list, const std::vector<int>& rows, RowFolders& folders,
    Platform::FileMover& mover, JournalWriter& journal, Runner& runner, const FailureReport& report)
{
    PassResult result;
    RowMark notTried = RowMark::None;
    QByteArray target; // each row's new name, made in the room of the last one's
    // The folders, the moves and the journal's look-ups are the thread's alone while it runs; it
    // only reads the rows, and this thread changes nothing of them but their marks.
    const int reached = runner.runEach<MoveOutcome>(
        static_cast<int>(rows.size()), RenameProgress::Work::Moving,
        [&](int index) {
            const int row = rows[index];
            const Platform::FolderHandle& folder = folders.of(row);
            bool moved = false;
            QByteArray placedAt;
            list.previewInto(row, target);
            // On FAT a rename may move the file's entry, and its number with it: which file the old
            // name names is read just before, so that a later undo can tell this execute's file by
            // its entry (see undo_pass.cpp).
            std::optional<Platform::FileIdentity> before;
            if (folder.isOpen() && folder.identity().fat)
                before = Platform::entryIdentity(folder, list.name(row));
            const RowMark mark = moveToPreview(list, row, folder, mover, target, moved, placedAt);
            if (moved)
                journal.add(list, row, folder, target, before);
            MoveOutcome outcome
                = outcomeInSearchedFolder(mark, list.searchedFolder(), list.searchedIdentity());
            outcome.placedAt = std::move(placedAt);
            return outcome;
        },
        [&](int index, const MoveOutcome& outcome) {
            const int row = rows[index];
            list.setMark(row, outcome.mark);
            notTried = outcome.notTried;
            if (!outcome.failed()) {
                ++result.renamed;
                return;
            }
            // A file the file system put elsewhere is told where it is.
            result.failures.push_back(
                { outcome.placedAt.isEmpty() ? list.fullPath(row) : outcome.placedAt, outcome.mark });
            report(result.failures.back());
        },
        [](const MoveOutcome& outcome) { return outcome.failed(); },
        [](const MoveOutcome& outcome) { return outcome.endsPass(); });
    if (notTried != RowMark::None) {
        // The volume is gone: every other move would fail the same way.
        result.end = PassEnd::CutShort;
        for (int index = reached; index < static_cast<int>(rows.size()); ++index)
            list.setMark(rows[index], notTried);
    } else if (reached < static_cast<int>(rows.size())) {
        result.end = PassEnd::Stopped;
    }
    return result;
}

} // namespace

PassResult applyNewNames(FileListModel& list, const QByteArray& value, PassKind kind, NameMode mode,
    Platform::FileMover& mover, Runner& runner, RenameJournal& journal, const FailureReport& report)
{
    const int rowCount = list.rowCount();
    const quint32 pass = list.beginPreviewPass(value, mode == NameMode::NewExtension);
    int firstChanged = rowCount;
    int lastChanged = -1;
    list.forgetSameNames();
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
        result = moveToPreviews(list, checkedRows, folders, mover, writer, runner, report);
    } else {
        ConflictCheck check(list, mover, mode);
        // The names are compared and looked up on the runner's thread, as the moves are, so that a
        // slow answer (from a busy network share) never holds the window.
        const int checkedCount = static_cast<int>(checkedRows.size());
        const int compared = runner.runEach<Finding>(
            checkedCount, RenameProgress::Work::Checking,
            [&](int index) { return check.byNameAndDisk(checkedRows, index, folders); },
            [&](int index, const Finding& finding) {
                finding.tell(list, checkedRows[index]);
                result.foreseen += finding.mark != RowMark::None ? 1 : 0;
            },
            [](const Finding&) { return false; });
        result.end = compared < checkedCount ? PassEnd::Stopped : PassEnd::Completed;
    }
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    return result;
}
