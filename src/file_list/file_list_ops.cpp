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
#include <vector>

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

// 0 when `row` now carries the name the preview `pass` gives it, else the errno of the failed move.
int moveToPreview(const FileListModel& list, int row, quint32 pass, RowFolders& folders, Platform::FileMover& mover)
{
    const QByteArray target = list.preview(row, pass);
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
    const quint32 pass = list.beginPreviewPass(value, extensionMode);
    int firstChanged = rowCount;
    int lastChanged = -1;
    const auto setPreview = [&](int row) {
        list.setPreviewPass(row, pass);
        firstChanged = std::min(firstChanged, row);
        lastChanged = row;
    };
    if (!sMode) {
        for (int row = 0; row < rowCount; ++row) {
            if (list.isChecked(row))
                setPreview(row);
        }
        list.notifyPreviewsChanged(firstChanged, lastChanged);
        return;
    }

    std::vector<int> checkedRows;
    for (int row = 0; row < rowCount; ++row) {
        if (list.isChecked(row))
            checkedRows.push_back(row);
    }
    const int total = static_cast<int>(checkedRows.size());
    // Every file operation runs on the thread, opening the folders included. It only reads the rows,
    // and nothing changes what it reads while the pass runs.
    std::optional<RowFolders> folders;
    Platform::FileMover mover = feedback.moveSteps ? Platform::FileMover(*feedback.moveSteps) : Platform::FileMover();
    RenameProgress* const progress = feedback.progress;
    std::optional<MoveThread> moveThread;
    moveThread.emplace(
        total,
        [&](int index) {
            if (!folders)
                folders.emplace(list);
            return moveToPreview(list, checkedRows[index], pass, *folders, mover);
        },
        [progress] { return progress && progress->stopRequested(); });

    qint32 completed = 0;
    int moves = 0;
    const auto showProgress = [&] {
        if (progress)
            progress->show(moves, total);
    };
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    std::vector<MoveThread::Outcome> outcomes;
    for (;;) {
        const auto untilEvents = std::chrono::milliseconds(std::max<qint64>(0, eventIntervalMs - sinceEvents.elapsed()));
        if (!moveThread->takeOutcomes(outcomes, untilEvents))
            break;
        for (const MoveThread::Outcome& outcome : outcomes) {
            const int row = checkedRows[outcome.index];
            setPreview(row);
            ++moves;
            ++completed;
            if (outcome.error != 0) {
                showProgress();
                feedback.messages.show(QStringLiteral("ERROR"),
                    QStringLiteral(" 修改失败！项目地址: ") + QString::fromUtf8(list.fullPath(row)));
                --completed;
                moveThread->failureReported();
            }
        }
        outcomes.clear();
        if (sinceEvents.hasExpired(eventIntervalMs)) {
            showProgress();
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    }
    moveThread.reset();
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    feedback.showCompletion(QStringLiteral("已完成 %1 个文件修改!").arg(completed));
}

} // namespace F1MDE
