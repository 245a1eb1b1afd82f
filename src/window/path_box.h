#pragma once

#include <QLineEdit>

// The path box: a folder dragged from a file manager lands in it as the folder's local path, a
// dragged file as the path of its folder. Every other drop works as in any line edit.
class PathBox final : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PathBox)

public:
    explicit PathBox(QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
