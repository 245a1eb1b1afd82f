#include "row_mark.h"

#include <QColor>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QColor colourOf(MarkKind kind)
{
    switch (kind) {
    case MarkKind::Foreseen:
        return QColor(176, 96, 0);
    case MarkKind::Done:
        return QColor(0, 128, 0);
    case MarkKind::Failed:
        return QColor(192, 0, 0);
    case MarkKind::None:
        break;
    }
    return {};
}

// A disc in the mark's colour with a white sign on it: "!" for a rename foreseen to fail, a tick
// for one done, a cross for one that failed. Drawn rather than taken from a theme, which Windows
// and a bare desktop lack; the sign tells the kinds apart without their colours.
QIcon iconOf(MarkKind kind)
{
    constexpr int size = 16;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colourOf(kind));
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath sign;
    if (kind == MarkKind::Foreseen) {
        sign.moveTo(8, 4);
        sign.lineTo(8, 9);
        sign.moveTo(8, 12);
        sign.lineTo(8, 12.2);
    } else if (kind == MarkKind::Done) {
        sign.moveTo(4.5, 8.5);
        sign.lineTo(7, 11);
        sign.lineTo(11.5, 5.5);
    } else {
        sign.moveTo(5, 5);
        sign.lineTo(11, 11);
        sign.moveTo(11, 5);
        sign.lineTo(5, 11);
    }
    painter.drawPath(sign);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

MarkKind kindOf(RowMark mark)
{
    if (mark == RowMark::None)
        return MarkKind::None;
    if (mark == RowMark::Renamed)
        return MarkKind::Done;
    return mark < RowMark::Renamed ? MarkKind::Foreseen : MarkKind::Failed;
}

QVariant markColour(MarkKind kind)
{
    return kind == MarkKind::None ? QVariant() : QVariant(colourOf(kind));
}

QVariant markIcon(MarkKind kind)
{
    // Pixmaps need a GUI application; without one nothing draws the list.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    static const QIcon icons[]
        = { iconOf(MarkKind::Foreseen), iconOf(MarkKind::Done), iconOf(MarkKind::Failed) };
    return icons[static_cast<int>(kind) - 1];
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
    case RowMark::Failed:
        return QStringLiteral("修改失败");
    }
    return {};
}
