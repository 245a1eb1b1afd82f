#include "file_list_ops.h"

#include "dialog/message_boxes.h"
#include "dialog/rename_progress.h"
#include "file_list_model.h"
#include "folder_scan/folder_scan.h"
#include "move_thread.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace F1MDE {

namespace {

// Views relayout every row when told about new ones, so during a long search they are told at
// most this often rather than at every yield.
constexpr qint64 publishIntervalMs = 200;

// How often a rename pass lets pending events through, also while one move takes long: often enough
// that the window repaints smoothly and a screen reader's question waits no longer than a blink,
// seldom enough that it costs the pass nothing measurable.
constexpr qint64 eventIntervalMs = 25;

// Whether `name` can only name an entry of the folder it is resolved in.
bool isPlainFileName(QByteArrayView name)
{
    return !name.isEmpty() && name != QByteArrayView(".") && name != QByteArrayView("..")
        && std::none_of(name.begin(), name.end(), Platform::isSeparator) && !name.contains('\0');
}

// Each row's folder, opened beneath the searched folder without following a symbolic link, so that
// a folder swapped for a link meanwhile cannot lead a move outside the searched tree. Consecutive
// rows of one folder share the handle.
class RowFolders final
{
public:
    explicit RowFolders(const FileListModel& list)
        : m_list(list)
        , m_searched(openSearchedFolder(list))
    {
    }

    // Not open when the row's folder can no longer be reached that way.
    const Platform::FolderHandle& of(int row)
    {
        const quint32 id = m_list.folderId(row);
        if (!m_current || *m_current != id) {
            m_current = id;
            const QByteArray folder = m_list.folder(row);
            const QByteArray& searched = m_list.searchedFolder();
            m_folder = folder.startsWith(searched)
                ? Platform::openFolderBeneath(m_searched, QByteArrayView(folder).sliced(searched.size()))
                : Platform::FolderHandle();
        }
        return m_folder;
    }

private:
    // The searched path, as typed, must still lead to the folder the search listed: whoever can
    // write the folder above it may have put another folder, or a link to one, in its place. No
    // row can be reached otherwise.
    static Platform::FolderHandle openSearchedFolder(const FileListModel& list)
    {
        Platform::FolderHandle searched = Platform::openFolder(list.searchedFolder());
        if (searched.identity() != list.searchedIdentity())
            return {};
        return searched;
    }

    const FileListModel& m_list;
    Platform::FolderHandle m_searched;
    std::optional<quint32> m_current;
    Platform::FolderHandle m_folder;
};

// 0 when `row` now carries its preview name, else the errno of the failed move.
int moveToPreview(const FileListModel& list, int row, RowFolders& folders, Platform::FileMover& mover)
{
    const QByteArray target = list.preview(row);
    if (!isPlainFileName(target))
        return EINVAL;
    const Platform::FolderHandle& folder = folders.of(row);
    if (!folder.isOpen())
        return ENOENT;
    const QByteArray name = list.name(row);
    if (target == name)
        return Platform::entryExists(folder, name) ? 0 : ENOENT;
    return mover.move(folder, name, target).error;
}

int checkedRowCount(const FileListModel& list)
{
    int checked = 0;
    for (int row = 0; row < list.rowCount(); ++row)
        checked += list.isChecked(row) ? 1 : 0;
    return checked;
}

} // namespace

void SearchFiles(FileListModel& list, const QByteArray& path, const QString& filter, MessageBoxes& messages)
{
    list.clear(FolderAllList::folderText(path));
    QElapsedTimer sincePublish;
    sincePublish.start();
    FolderAllList::ScanContext context {
        [&list](const QByteArray& folder, QByteArrayView base, QByteArrayView ext) {
            FolderAllList::AddFileRow(list, folder, base, ext);
        },
        messages,
        [&list, &sincePublish] {
            if (sincePublish.hasExpired(publishIntervalMs)) {
                list.publishPendingRows();
                sincePublish.restart();
            }
            QCoreApplication::processEvents();
        },
    };
    list.setSearchedIdentity(FolderAllList::ScanFolder(path, filter, context));
    list.publishPendingRows();
    list.checkAllRows();
}

void ApplyNewNames(
    FileListModel& list, const QByteArray& value, bool sMode, bool extensionMode, RenameFeedback& feedback)
{
    const int rowCount = list.rowCount();
    qint32 completed = 0;
    const quint32 pass = list.beginPreviewPass(value, extensionMode);
    int firstChanged = rowCount;
    int lastChanged = -1;
    std::optional<RowFolders> folders;
    Platform::FileMover mover = feedback.moveSteps ? Platform::FileMover(*feedback.moveSteps) : Platform::FileMover();
    std::optional<MoveThread> moveThread;
    int moves = 0;
    int checkedRows = 0;
    if (sMode) {
        checkedRows = checkedRowCount(list);
        // Every file operation of the pass, opening the folders included, runs on the thread; it
        // only reads the rows, which nothing changes while a move runs.
        moveThread.emplace([&list, &folders, &mover](int row) {
            if (!folders)
                folders.emplace(list);
            return moveToPreview(list, row, *folders, mover);
        });
    }
    const auto showProgress = [&] {
        if (feedback.progress)
            feedback.progress->show(moves, checkedRows);
    };
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    const auto letEventsThrough = [&] {
        showProgress();
        QCoreApplication::processEvents();
        sinceEvents.restart();
    };
    for (int row = 0; row < rowCount; ++row) {
        if (!list.isChecked(row))
            continue;
        list.setPreviewPass(row, pass);
        firstChanged = std::min(firstChanged, row);
        lastChanged = row;
        if (!sMode)
            continue;
        ++completed;
        ++moves;
        moveThread->start(row);
        while (!moveThread->waitFor(std::chrono::milliseconds(
            std::max<qint64>(0, eventIntervalMs - sinceEvents.elapsed())))) {
            letEventsThrough();
        }
        if (moveThread->result() != 0) {
            showProgress();
            feedback.messages.show(QStringLiteral("ERROR"),
                QStringLiteral(" 修改失败！项目地址: ") + QString::fromUtf8(list.fullPath(row)));
            --completed;
        }
        // Only between moves: a change of letter case through a temporary name is one move, done
        // or undone by the time it returns.
        if (sinceEvents.hasExpired(eventIntervalMs))
            letEventsThrough();
        if (feedback.progress && feedback.progress->stopRequested())
            break;
    }
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    if (sMode)
        feedback.showCompletion(QStringLiteral("已完成 %1 个文件修改!").arg(completed));
}

} // namespace F1MDE
