#include "file_list_ops.h"

#include "dialog/message_boxes.h"
#include "file_list_model.h"
#include "folder_scan/folder_scan.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>

namespace F1MDE {

namespace {

// Views relayout every row when told about new ones, so during a long search they are told at
// most this often rather than at every yield.
constexpr qint64 publishIntervalMs = 200;

// Whether `name` can only name an entry of the folder it is resolved in.
bool isPlainFileName(QByteArrayView name)
{
    return !name.isEmpty() && name != QByteArrayView(".") && name != QByteArrayView("..")
        && !name.contains(Platform::Separator) && !name.contains('\0');
}

// 0 when `row` now carries its preview name, else the errno of the failed move.
int moveToPreview(const FileListModel& list, int row, const QByteArray& target)
{
    if (!isPlainFileName(target))
        return EINVAL;
    if (target == list.name(row))
        return Platform::entryExists(list.fullPath(row)) ? 0 : ENOENT;
    return Platform::moveFileNoReplace(list.fullPath(row), list.folder(row) + target);
}

} // namespace

void SearchFiles(FileListModel& list, const QByteArray& path, const QString& filter, MessageBoxes& messages)
{
    list.clear();
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
    FolderAllList::ScanFolder(path, filter, context);
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
    for (int row = 0; row < rowCount; ++row) {
        if (!list.isChecked(row))
            continue;
        list.setPreviewPass(row, pass);
        firstChanged = std::min(firstChanged, row);
        lastChanged = row;
        if (!sMode)
            continue;
        ++completed;
        if (moveToPreview(list, row, list.preview(row)) != 0) {
            feedback.messages.show(QStringLiteral("ERROR"),
                QStringLiteral(" 修改失败！项目地址: ") + QString::fromUtf8(list.fullPath(row)));
            --completed;
        }
    }
    list.notifyPreviewsChanged(firstChanged, lastChanged);
    if (sMode)
        feedback.showCompletion(QStringLiteral("已完成 %1 个文件修改!").arg(completed));
}

} // namespace F1MDE
