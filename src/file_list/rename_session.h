#pragma once

#include "file_list_model.h"
#include "pass_result.h"
#include "rename_journal.h"

#include <QByteArray>
#include <QString>

#include <vector>

class MessageBoxes;
class Runner;

// One window's work on files, without a widget: the file list a search fills, the executes that can
// still be taken back, and how files are moved. Each command runs through the runner it is given,
// which lets events through while it waits and carries the user's stop; the caller turns the
// results into texts.
class RenameSession final
{
public:
    RenameSession() = default;
    Q_DISABLE_COPY_MOVE(RenameSession)

    FileListModel& list() { return m_list; }
    const FileListModel& list() const { return m_list; }

    // Empties the list, searches `path` for names containing `filter` and checks every row; a folder
    // that fails midway is shown in `messages`. Returns whether the runner stopped it.
    bool search(const QByteArray& path, const QString& filter, Runner& runner, MessageBoxes& messages);

    // A preview or an execute of the checked rows (see applyNewNames()); an execute that moved files
    // can be taken back.
    PassResult apply(
        const QByteArray& value, PassKind kind, NameMode mode, Runner& runner, const FailureReport& report);

    bool canUndo() const { return !m_executes.empty(); }
    // Takes back the most recent execute not yet taken back, as far as its files are still where it
    // left them; a stopped undo keeps the rest of that execute for the next. The rows' marks, which
    // told of files that have gone back, are cleared.
    PassResult undo(Runner& runner, const FailureReport& report);

    // What the executes to take back hold in memory, for measuring it.
    size_t undoBytesHeld() const;

private:
    FileListModel m_list;
    std::vector<RenameJournal> m_executes; // oldest first, each with what is left to take back
};
