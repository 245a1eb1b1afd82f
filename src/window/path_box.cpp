#include "path_box.h"

#include "command_line/command_line.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

// The local path of the first entry a file manager drags, or nothing when the drag carries no
// local file or folder, or cannot be taken as a copy.
QString draggedLocalPath(const QDropEvent& event)
{
    if (!(event.possibleActions() & Qt::CopyAction))
        return {};
    const QList<QUrl> urls = event.mimeData()->urls();
    if (urls.isEmpty() || !urls.constFirst().isLocalFile())
        return {};
    return urls.constFirst().toLocalFile();
}

// A copy, never a move: only the path is taken, so the file manager must leave the folder where it
// is.
void acceptAsCopy(QDropEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace

PathBox::PathBox(QWidget* parent)
    : QLineEdit(parent)
{
}

void PathBox::dragEnterEvent(QDragEnterEvent* event)
{
    if (draggedLocalPath(*event).isEmpty())
        QLineEdit::dragEnterEvent(event);
    else
        acceptAsCopy(event);
}

void PathBox::dragMoveEvent(QDragMoveEvent* event)
{
    if (draggedLocalPath(*event).isEmpty())
        QLineEdit::dragMoveEvent(event);
    else
        acceptAsCopy(event);
}

void PathBox::dropEvent(QDropEvent* event)
{
    const QString path = draggedLocalPath(*event);
    if (path.isEmpty()) {
        QLineEdit::dropEvent(event);
        return;
    }
    // The whole text is replaced as one edit, so Undo brings the previous path back.
    selectAll();
    insert(CommandLine::folderPath(path, QString()));
    acceptAsCopy(event);
}
