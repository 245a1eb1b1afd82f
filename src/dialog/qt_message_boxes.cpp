#include "qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>

void QtMessageBoxes::show(const QString& title, const QString& text)
{
    // Over a dialog that is up, the progress of a long rename, the box belongs to that dialog, so
    // that it shows on top of it and blocks it too.
    QWidget* over = QApplication::activeModalWidget();
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, over ? over : m_owner.data());
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}
