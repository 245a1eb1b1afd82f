#pragma once

#include "platform/file_mover.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class FileListModel;
class MessageBoxes;
class RenameProgress;

// The operations on the file list: filling it from a search, and previewing and renaming.
namespace F1MDE {

// Empties the list, scans `path` for names containing `filter`, then checks every row.
void SearchFiles(FileListModel& list, const QByteArray& path, const QString& filter, MessageBoxes& messages);

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
        Platform::FileIdentity file;
        quint64 nameOffset = 0; // the old name, base followed by extension, in `names`
        quint32 folder = 0;
        quint16 baseLength = 0;
        quint16 extLength = 0;
    };

    QByteArray searchedFolder;
    Platform::FolderIdentity searchedIdentity;
    QByteArray value;
    bool extensionMode = false;
    std::vector<Folder> folders;
    std::vector<Move> moves;
    std::vector<char> names;

    QByteArray oldName(const Move& move) const;
    QByteArray newName(const Move& move) const;
    // The memory the journal holds, for measuring it.
    size_t bytesHeld() const;
};

struct RenameFeedback
{
    MessageBoxes& messages;
    std::function<void(const QString&)> showCompletion;
    RenameProgress* progress = nullptr; // none: nothing shows the progress and nothing stops the pass
    RenameJournal* journal = nullptr; // none: the moves are not kept
    std::optional<Platform::MoveSteps> moveSteps = {}; // none: the system's own ways of moving
};

// Gives every checked row the preview value & ext (name mode) or base & value (extension mode) and
// marks each row whose move would fail, and why: its target exists, an earlier row of its folder
// gets the same name (as the volume compares names), or the name cannot be made. Unchecked rows
// lose their marks. With `sMode` also moves each checked file to its preview name in its own
// folder, marks each row reached with what its move did (the rows a stopped pass does not reach
// as a preview marks them), reports every failed move and shows how many files were renamed; each
// move made goes into the feedback's journal. An existing file is never replaced. The comparing of
// the new names (with a preview's look-ups of them) and then an execute's moves run one after
// another on a thread of their own, while the calling thread lets pending events through and shows
// the progress. Either stops after the row in progress when the progress asks it to: a stopped
// preview leaves the rows it did not reach unmarked, an execute stopped before its first move moves
// nothing, and the count shown is that of the files renamed so far.
void ApplyNewNames(
    FileListModel& list, const QByteArray& value, bool sMode, bool extensionMode, RenameFeedback& feedback);

// Takes back the moves of `journal`, newest first, each with the same safe move as an execute,
// and only where the searched folder and the file's folder are still the ones the execute found
// and the new name still names the file it gave that name to. Every move that cannot be taken
// back is reported with the file's present path; the count of files that went back is shown.
// Stopped by the progress, the journal keeps the moves not yet reached.
void UndoRenames(RenameJournal& journal, RenameFeedback& feedback);

} // namespace F1MDE
