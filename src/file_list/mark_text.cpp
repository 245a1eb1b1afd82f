// What each row's mark says, in the words the window shows it with.
#include "file_list_model.h"

#include <algorithm>

QString FileListModel::markText(int row) const
{
    switch (mark(row)) {
    case RowMark::None:
        return {};
    case RowMark::TargetExists:
        return QStringLiteral("目标已存在");
    case RowMark::SameNameAsRow: {
        const auto found = std::lower_bound(m_sameNameAs.begin(), m_sameNameAs.end(), std::pair(row, 0));
        const int first = found != m_sameNameAs.end() && found->first == row ? found->second : row;
        // Rows are numbered from 1, as the user counts them.
        return QStringLiteral("与第 %1 行同名").arg(first + 1);
    }
    case RowMark::NameUnusable:
        return QStringLiteral("名称不可用");
    case RowMark::NameTooLong:
        return QStringLiteral("名称过长");
    case RowMark::FolderReplaced:
        return QStringLiteral("文件夹已被替换");
    case RowMark::Renamed:
        return QStringLiteral("已修改");
    case RowMark::FailedTargetExists:
        return QStringLiteral("修改失败：目标已存在");
    case RowMark::FailedSourceMissing:
        return QStringLiteral("修改失败：源文件不存在");
    case RowMark::FailedNoPermission:
        return QStringLiteral("修改失败：没有权限");
    case RowMark::FailedInUse:
        return QStringLiteral("修改失败：文件正在使用");
    case RowMark::FailedNameUnusable:
        return QStringLiteral("修改失败：名称不可用");
    case RowMark::FailedNameTooLong:
        return QStringLiteral("修改失败：名称过长");
    case RowMark::FailedReadOnlyVolume:
        return QStringLiteral("修改失败：卷为只读");
    case RowMark::FailedFolderReplaced:
        return QStringLiteral("修改失败：文件夹已被替换");
    case RowMark::FailedKeptBothNames:
        return QStringLiteral("修改失败：旧名称无法删除，文件同时有了新名称 %1，可删除其一")
            .arg(QString::fromUtf8(preview(row)));
    case RowMark::Failed:
        return QStringLiteral("修改失败");
    }
    return {};
}
