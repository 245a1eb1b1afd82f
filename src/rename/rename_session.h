#pragma once

#include "file_list/file_list_model.h"
#include "folder_scan/folder_scan.h"
#include "new_name_rule.h"
#include "pass_result.h"
#include "records_left.h"
#include "rename_journal.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class Runner;

// Which of the window's two filter texts a search applies.
enum class FilterKind { Suffix, Keyword };

// A search as the window's settings ask for it.
struct SearchSettings
{
    QString path; // as typed
    FilterKind filterBy = FilterKind::Suffix;
    QString suffix;
    QString keyword;
};

struct SearchResult
{
    enum class Outcome {
        Searched,
        Stopped, // by the user closing the window
        PathRefused, // the path leads to no visible entry: nothing was searched
    };
    Outcome outcome = Outcome::Searched;
    int rows = 0;
};

// Told of each folder a search failed in, before the search goes on.
using FolderFailureReport = std::function<void(const FolderAllList::FolderFailure&)>;

// What the records left by earlier windows held, as the window tells it.
struct RecordsFound
{
    std::vector<CutOffExecute> cutOff;
    int unreadable = 0;
};

// One window's work on files, without a widget: the file list a search fills, the commands that
// search, preview, rename and take back, and the executes that can still be taken back, kept on
// record in the state folder so that they outlive the window. Each
// command runs through the runner it is given, which does the work away from the caller's thread,
// lets events through while it waits and carries the user's stop; failures come back typed, as they
// happen, and the caller turns them and the results into texts.
class RenameSession final
{
public:
    // Executes are recorded in `recordFolder`, or in memory only when it is empty.
    explicit RenameSession(QByteArray recordFolder = {});
    Q_DISABLE_COPY_MOVE(RenameSession)

    // The most executes kept to be taken back; beyond it the oldest, and its record, are dropped.
    static constexpr size_t executesKept = 20;

    FileListModel& list() { return m_list; }
    const FileListModel& list() const { return m_list; }

    // Whether a search takes `path`: it must designate a visible existing entry, or be "/". Asks
    // the disk on the caller's thread.
    static bool acceptsSearchPath(const QString& path);

    // The search command: checks the path on the runner's thread, then searches it with the filter
    // the settings choose. A refused path leaves the list as it was.
    SearchResult search(
        const SearchSettings& settings, Runner& runner, const FolderFailureReport& folderFailed);
    // Empties the list, searches `path` for names containing `filter` and checks every row.
    // Returns whether the runner stopped it.
    bool SearchFiles(const QByteArray& path, const QString& filter, Runner& runner,
        const FolderFailureReport& folderFailed);

    // The preview or execute command: a pass for each value the rule gives (rule mode first), the
    // next only once the one before has reached its last row. The last pass's result, or none when
    // no pass ran.
    std::optional<PassResult> applyRule(
        const NewNameRule::Settings& settings, PassKind kind, Runner& runner, const FailureReport& report);
    // One pass of the checked rows under `value` (see applyNewNames()); an execute that moved files
    // can be taken back.
    PassResult ApplyNewNames(
        const QByteArray& value, PassKind kind, NameMode mode, Runner& runner, const FailureReport& report);

    // Takes back the records that no running window holds, as executes made before this session's
    // own, asking the disk on the runner's thread: what the cut-off ones moved, and how many of them
    // could not be read.
    RecordsFound takeRecordsLeft(Runner& runner);

    bool canUndo() const { return !m_executes.empty(); }
    // The undo command: takes back the most recent execute not yet taken back, as far as its files
    // are still where it left them; a stopped undo keeps the rest of that execute for the next. The
    // rows' marks, which told of files that have gone back, are cleared.
    PassResult undo(Runner& runner, const FailureReport& report);

    // What the executes to take back hold in memory, for measuring it.
    size_t undoBytesHeld() const;

private:
    void dropExecutesBeyondKept();

    FileListModel m_list;
    QByteArray m_recordFolder;
    std::vector<RenameJournal> m_executes; // oldest first, each with what is left to take back
};
