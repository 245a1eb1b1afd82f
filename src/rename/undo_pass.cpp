#include "undo_pass.h"

#include "move_failure.h"
#include "move_overlap.h"
#include "row_folders.h"
#include "runner/runner.h"

#include <QHash>

#include <mutex>
#include <tuple>

namespace {

// A file an undo took back to its old name, and which file that name now names.
struct MovedBack
{
    const RenameJournal::Move* move;
    Platform::FileIdentity now;
};

// Moves one file of the journal back to its old name in `folder`: Renamed, or why not. On FAT and
// exFAT the move may have moved the file's entry, and its number with it, and a link made in the
// move may have a number of its own: what the old name now names is then told in `nowThere`.
RowMark moveBack(RenameJournal& journal, const RenameJournal::Move& move,
    const Platform::FolderHandle& folder, Platform::FileMover& mover,
    std::optional<Platform::FileIdentity>& nowThere, QByteArray& placedAt)
{
    if (!folder.isOpen())
        return RowMark::FailedFolderReplaced;
    QByteArray newName = journal.leftUnder.value(move.planRow, journal.newName(move));
    // A file the file system put outside its folder comes back from there, where it is told to be.
    Platform::FolderHandle elsewhere;
    const auto placed = journal.placedElsewhere.constFind(move.planRow);
    const bool isPlaced = placed != journal.placedElsewhere.cend();
    if (isPlaced) {
        placedAt = *placed;
        std::tie(elsewhere, newName) = folderOfPath(*placed);
        if (!elsewhere.isOpen())
            return RowMark::FailedSourceMissing;
    }
    const Platform::FolderHandle& from = isPlaced ? elsewhere : folder;
    // Only the file the execute renamed goes back: not one put under its name since.
    const std::optional<Platform::FileIdentity> there = Platform::entryIdentity(from, newName);
    if (!there)
        return RowMark::FailedSourceMissing;
    if (!Platform::stillSameFile(journal.fileOf(move), *there)) {
        // The same file but for its size (FAT and exFAT alone record it): edited since.
        Platform::FileIdentity resized = *there;
        resized.size = journal.fileOf(move).size;
        return Platform::stillSameFile(journal.fileOf(move), resized) ? RowMark::FailedSourceModified
                                                                      : RowMark::FailedSourceMissing;
    }
    const QByteArray oldName = journal.oldName(move);
    ExecuteRecord& record = journal.record;
    Platform::MoveResult result;
    if (isPlaced) {
        result.error = Platform::moveBackInto(elsewhere, newName, folder, oldName);
        if (result.error == Platform::movedElsewhere)
            result.placedAt = Platform::takePlacedElsewhere();
    } else {
        result = mover.move(folder, newName, oldName,
            [&](const QByteArray& temporary) { record.temporaryName(move.planRow, temporary); });
    }
    if (result.error == EEXIST && !isPlaced) {
        // Killed between a link and the unlink of the old name, the execute left the file under
        // both: the old name still names it, and the new one goes where it holds the same bytes. A
        // volume that gave the link a number of its own numbers its files by name (sshfs), and
        // may number the old name anew as well once the system has let go of it: there the bytes
        // alone tell.
        const std::optional<Platform::FileIdentity> atOld = Platform::entryIdentity(folder, oldName);
        if (atOld
            && (Platform::stillSameFile(journal.fileBefore(move), *atOld)
                || journal.renumbered.contains(move.planRow))
            && Platform::removeSecondName(folder, newName, oldName) == 0) {
            record.takenBack(move.planRow);
            nowThere = atOld;
            return RowMark::Renamed;
        }
    }
    if (result.error) {
        // Where the file system left it, if not in its folder, or where it still is.
        if (!result.placedAt.isEmpty())
            placedAt = std::move(result.placedAt);
        return failureOf(result.error);
    }
    record.takenBack(move.planRow);
    if (result.mayRenumber(journal.folders[move.folder].identity.fat))
        nowThere = Platform::entryIdentity(folder, oldName);
    return RowMark::Renamed;
}

// Tells the executes before `journal` which file each name its undo took a file back to now names:
// the newest of them that gave that name, in that folder, to this file holds the file as it now is,
// since on FAT and exFAT the program's own renames may have moved its entry, and its number with it.
// That execute's file is this one only where it is the very file, entry included, that this
// execute found under the name just before moving it: the same check as a direct undo's, so that
// another file of the same size and time given the name meanwhile is never taken for it. Where the
// newest to give the name gave it to another file, that execute keeps what it holds, and the older
// ones are not asked.
void carryAlong(
    const RenameJournal& journal, std::span<RenameJournal> earlier, const std::vector<MovedBack>& movedBack)
{
    std::vector<const MovedBack*> pending;
    for (const MovedBack& back : movedBack)
        pending.push_back(&back);
    for (auto before = earlier.rbegin(); before != earlier.rend() && !pending.empty(); ++before) {
        QHash<QByteArray, size_t> named;
        for (size_t index = 0; index < before->moves.size(); ++index) {
            const RenameJournal::Move& move = before->moves[index];
            named.insert(before->folders[move.folder].text + before->newName(move), index);
        }
        std::erase_if(pending, [&](const MovedBack* back) {
            const auto found
                = named.constFind(journal.folders[back->move->folder].text + journal.oldName(*back->move));
            if (found == named.cend())
                return false;
            RenameJournal::Move& move = before->moves[*found];
            if (Platform::stillSameFile(before->fileOf(move), journal.fileBefore(*back->move))) {
                before->setFile(move, back->now);
                before->record.moved(move.planRow, back->now);
            }
            return true;
        });
    }
}

} // namespace

PassResult undoRenames(RenameJournal& journal, std::span<RenameJournal> earlier, Platform::FileMover& mover,
    Runner& runner, const FailureReport& report)
{
    Platform::FolderHandle searched;
    const int total = static_cast<int>(journal.moves.size());
    const auto moveOf = [&journal, total](int index) -> const RenameJournal::Move& {
        return journal.moves[total - 1 - index];
    };
    FolderCache folders;
    std::mutex movingBack; // for movedBack
    std::vector<MovedBack> movedBack;
    // The moves not reached, and those under way when the volume went: they stay to be taken back.
    std::vector<bool> stay(static_cast<size_t>(total), true);
    PassResult result;
    // The threads open the folders and move; the journal stays as it is until the pass has ended.
    const int reached = runner.runEach<MoveOutcome>(
        total, RenameProgress::Work::Moving,
        [&](int index) {
            if (index == 0)
                searched = openSearchedFolder(journal.searchedFolder, journal.searchedIdentity);
            const RenameJournal::Move& move = moveOf(index);
            const RenameJournal::Folder& recorded = journal.folders[move.folder];
            const std::shared_ptr<const Platform::FolderHandle> folder = folders.get(move.folder, [&] {
                return openRecordedFolder(searched, journal.searchedFolder, recorded.text, recorded.identity);
            });
            QByteArray placedAt;
            std::optional<Platform::FileIdentity> nowThere;
            MoveOutcome outcome
                = outcomeInSearchedFolder(moveBack(journal, move, *folder, mover, nowThere, placedAt),
                    journal.searchedFolder, journal.searchedIdentity);
            outcome.placedAt = std::move(placedAt);
            if (nowThere) {
                const std::lock_guard lock(movingBack);
                movedBack.push_back({ &move, *nowThere });
            }
            return outcome;
        },
        [&](int index, const MoveOutcome& outcome, bool afterStop) {
            stay[static_cast<size_t>(index)] = outcome.endsPass();
            if (!outcome.failed()) {
                ++result.renamed;
                return;
            }
            journal.undoFailed = true;
            const RenameJournal::Move& move = moveOf(index);
            result.failures.push_back(
                { outcome.placedAt.isEmpty() ? journal.folders[move.folder].text + journal.newName(move)
                                             : outcome.placedAt,
                    outcome.mark });
            // Once the volume is gone, the moves that were under way fail with it: the one box said
            // it. Those under way when the user stopped the pass are told by the count alone.
            if (result.end != PassEnd::CutShort && !afterStop)
                report(result.failures.back());
            if (outcome.endsPass())
                result.end = PassEnd::CutShort;
        },
        [](const MoveOutcome& outcome) { return outcome.failed(); },
        [](const MoveOutcome& outcome) { return outcome.endsPass(); },
        Overlap { movesAtOnce,
            // Only moves of one folder are given to it.
            [&](int earlier, int later) {
                const RenameJournal::Move& first = moveOf(earlier);
                const RenameJournal::Move& second = moveOf(later);
                return namesMeet({ journal.oldName(first), journal.newName(first) },
                    { journal.oldName(second), journal.newName(second) });
            },
            [&](int index) { return moveOf(index).folder; }, movesAhead });
    if (result.end != PassEnd::CutShort && reached < total)
        result.end = PassEnd::Stopped;
    carryAlong(journal, earlier, movedBack);
    // What was not reached stays to be taken back, folders and names with it; so do the moves that
    // found the volume gone, for when it is back. Both keep their order.
    size_t left = 0;
    for (int index = total - 1; index >= 0; --index) {
        if (stay[static_cast<size_t>(index)])
            journal.moves[left++] = moveOf(index); // never ahead of where it is
    }
    journal.moves.resize(left);
    return result;
}
