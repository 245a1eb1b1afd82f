#pragma once

// What the tests of the rename passes, the journal, the session and the runner share: a session
// over a real tree, as the window runs it, and progress that stops or acts where a test chooses.

#include "file_list/file_list_model.h"
#include "mounted_volume.h"
#include "rename/move_overlap.h"
#include "rename/rename_session.h"
#include "runner/runner.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>

#ifndef _WIN32
#include "sshfs_share.h"

#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

using Tree = QMap<QByteArray, QByteArray>;
using Marks = QMap<QByteArray, QString>; // file -> the mark of its row

// One search and rename session over a real tree, as the window would run it, keeping what each
// execute and undo did as data, and each execute on record in a state folder of its own.
struct Session
{
    explicit Session(const QByteArray& base = {})
        : tree(base)
    {
    }

    TestTree tree;
    QTemporaryDir state;
    QByteArray stateFolder = QFile::encodeName(state.path());
    RenameSession core { stateFolder };
    FileListModel& list = core.list();
    QByteArrayList folderFailures; // the search's
    RenameProgress* progress = nullptr;
    QList<int> renamed; // for each execute and undo, the files it renamed or took back
    QList<FileFailure> failures; // every execute's and undo's, in order
    PassEnd lastEnd = PassEnd::Completed; // of the last pass
    int recordError = 0; // of the last execute

    void search(const QString& filter = u".txt"_s) { searchIn(tree.root(), filter); }
    void searchIn(const QByteArray& path, const QString& filter)
    {
        Runner runner;
        core.SearchFiles(path, filter, runner,
            [this](const FolderAllList::FolderFailure& failure) { folderFailures.append(failure.folder); });
    }
    void apply(const QByteArray& value, PassKind kind, NameMode mode)
    {
        Runner runner(progress);
        const PassResult result = core.ApplyNewNames(value, kind, mode, runner, report());
        lastEnd = result.end;
        if (kind == PassKind::Execute) {
            renamed.append(result.renamed);
            recordError = result.recordError;
        }
    }
    // Takes back the most recent execute, as the window's undo does.
    void undo()
    {
        QVERIFY(core.canUndo());
        Runner runner(progress);
        const PassResult result = core.undo(runner, report());
        lastEnd = result.end;
        renamed.append(result.renamed);
    }
    FailureReport report()
    {
        return [this](const FileFailure& failure) { failures.append(failure); };
    }
    // The session ends, as its window closes or its program is killed, and another starts over the
    // same state folder, taking over the records the first left; the list is then empty.
    RecordsFound reopen()
    {
        std::destroy_at(&core);
        std::construct_at(&core, stateFolder);
        Runner runner;
        return core.takeRecordsLeft(runner);
    }
    // The records in the state folder whose names end with `suffix`.
    QStringList records(const QString& suffix = u".record"_s) const
    {
        return QDir(state.path()).entryList({ u"*"_s + suffix }, QDir::Files);
    }
    // No file failed to move and no folder failed to be searched.
    bool nothingFailed() const { return failures.isEmpty() && folderFailures.isEmpty(); }
    // What the preview cell gives as its tooltip and a screen reader as its description, when the
    // two agree; "" for no mark.
    QString markOf(int row) const
    {
        const QModelIndex cell = list.index(row, FileListModel::PreviewColumn);
        const QString description = cell.data(Qt::AccessibleDescriptionRole).toString();
        const bool marked = kindOf(list.mark(row)) != MarkKind::None;
        if (description.isEmpty())
            return marked ? u"mark without a reason"_s : QString();
        if (!marked || cell.data(Qt::ToolTipRole).toString() != description)
            return u"tooltip or mark missing for "_s + description;
        return description;
    }
    int rowNamed(const QByteArray& name) const { return rowOf(name); }
    int rowOf(const QByteArray& relative) const
    {
        for (int row = 0; row < list.rowCount(); ++row) {
            if (list.fullPath(row) == tree.path(relative))
                return row;
        }
        return -1;
    }
    QStringList failedPaths() const
    {
        QStringList paths;
        for (const FileFailure& failure : failures)
            paths.append(QString::fromUtf8(failure.path));
        return paths;
    }
};

// Stops the pass after a chosen number of moves (or look-ups), as the user's cancel does, and records
// the progress shown of them and when it stopped the pass.
class StoppingProgress final : public RenameProgress
{
public:
    explicit StoppingProgress(int stopAfter, Work counted = Work::Moving)
        : m_stopAfter(stopAfter)
        , m_counted(counted)
    {
    }
    void show(Work work, int done, int total, Showing) override
    {
        if (work == m_counted)
            shown.append({ done, total });
    }
    bool stopRequested(Work work) override
    {
        if (work != m_counted || ++moves < m_stopAfter)
            return false;
        if (moves == m_stopAfter)
            sinceStop.start();
        return true;
    }

    std::atomic<int> moves = 0; // or look-ups; overlapped moves ask from their own threads
    QList<std::pair<int, int>> shown;
    QElapsedTimer sinceStop;

private:
    int m_stopAfter;
    Work m_counted;
};

// Does something to the volume after a chosen number of moves, on the thread that moves, while the
// pass is in full swing.
class ActingProgress final : public RenameProgress
{
public:
    ActingProgress(int actAfter, std::function<void()> act)
        : m_actAfter(actAfter)
        , m_act(std::move(act))
    {
    }
    void show(Work, int, int, Showing) override { }
    bool stopRequested(Work work) override
    {
        if (work == Work::Moving && ++m_moves == m_actAfter)
            m_act();
        return false;
    }

private:
    int m_actAfter;
    std::atomic<int> m_moves = 0; // overlapped moves ask from their own threads
    std::function<void()> m_act;
};

#ifndef _WIN32
// The names of the files in `folder`, sorted.
inline QByteArrayList namesIn(const QByteArray& folder)
{
    QByteArrayList names;
    for (const QString& name : QDir(QFile::decodeName(folder)).entryList(QDir::Files))
        names.append(QFile::encodeName(name));
    std::sort(names.begin(), names.end());
    return names;
}

// Whether a thread of this process sleeps in a call that moves a file, as one does while a FUSE
// driver has yet to answer it; a move begins by reading which file it is about to move.
inline bool aThreadWaitsInAMove()
{
    const QStringList threads = QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return std::any_of(threads.begin(), threads.end(), [](const QString& thread) {
        const QString task = u"/proc/self/task/"_s + thread;
        QFile call(task + u"/syscall"_s);
        const QList<QByteArray> status = statFields(task + u"/stat"_s);
        if (!call.open(QIODevice::ReadOnly) || status.isEmpty() || (status[0] != "S" && status[0] != "D"))
            return false;
        const long number = call.readAll().split(' ').value(0).toLong();
        return number == SYS_statx || number == SYS_linkat || number == SYS_unlinkat || number == SYS_renameat
            || number == SYS_renameat2;
    });
}

// Whether every thread of `process` has stopped, as SIGSTOP leaves them some time after it is sent
// ("t" where a debugger traces them).
inline bool hasStopped(pid_t process)
{
    const QString tasks = u"/proc/"_s + QString::number(process) + u"/task/"_s;
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return !threads.isEmpty() && std::all_of(threads.begin(), threads.end(), [&](const QString& thread) {
        const QByteArray state = statFields(tasks + thread + u"/stat"_s).value(0);
        return state == "T" || state == "t";
    });
}
#endif

inline void addVolumeRows()
{
    QTest::addColumn<QString>("volume");
    QTest::newRow("local") << u"local"_s;
    for (const QString& kind : MountedVolume::kinds())
        QTest::newRow(qPrintable(kind)) << kind;
}
