#include "mark_look.h"

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

QVariant markColour(MarkKind kind)
{
    return kind == MarkKind::None ? QVariant() : QVariant(colourOf(kind));
}

QVariant markIcon(MarkKind kind)
{
    // Pixmaps need a GUI application; without one nothing draws the list.
    if (kind == MarkKind::None || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    static const QIcon icons[]
        = { iconOf(MarkKind::Foreseen), iconOf(MarkKind::Done), iconOf(MarkKind::Failed) };
    return icons[static_cast<int>(kind) - 1];
}
