#include "row_mark.h"

MarkKind kindOf(RowMark mark)
{
    if (mark == RowMark::None)
        return MarkKind::None;
    if (mark == RowMark::Renamed)
        return MarkKind::Done;
    return mark < RowMark::Renamed ? MarkKind::Foreseen : MarkKind::Failed;
}

QString reasonOf(RowMark mark)
{
    switch (mark) {
    case RowMark::None:
        return {};
    case RowMark::TargetExists:
        return QStringLiteral("目标已存在");
    case RowMark::SameNameAsRow:
        return QStringLiteral("与前面的行同名");
    case RowMark::NameUnusable:
        return QStringLiteral("名称不可用");
    case RowMark::NameTooLong:
        return QStringLiteral("名称过长");
    case RowMark::FolderReplaced:
        return QStringLiteral("文件夹已被替换");
    case RowMark::VolumeReadOnly:
        return QStringLiteral("卷为只读");
    case RowMark::NoPermission:
        return QStringLiteral("没有权限");
    case RowMark::NotReachedVolumeLost:
        return QStringLiteral("未修改：卷已断开");
    case RowMark::NotReachedFolderReplaced:
        return QStringLiteral("未修改：文件夹已被替换");
    case RowMark::Renamed:
        return QStringLiteral("已修改");
    case RowMark::FailedTargetExists:
        return QStringLiteral("修改失败：目标已存在");
    case RowMark::FailedSourceMissing:
        return QStringLiteral("修改失败：源文件不存在");
    case RowMark::FailedSourceModified:
        return QStringLiteral("修改失败：文件已被修改");
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
    case RowMark::FailedVolumeLost:
        return QStringLiteral("修改失败：卷已断开");
    case RowMark::FailedKeptBothNames:
        return QStringLiteral("修改失败：旧名称无法删除，文件同时有了新名称");
    case RowMark::FailedCloudProviderNotRunning:
        return QStringLiteral("修改失败：云存储程序未运行");
    case RowMark::FailedDeletePending:
        return QStringLiteral("修改失败：文件正被另一程序删除");
    case RowMark::FailedMovedElsewhere:
        return QStringLiteral("修改失败：文件被文件系统放到了别处");
    case RowMark::Failed:
        return QStringLiteral("修改失败");
    }
    return {};
}
