#include "qt_message_boxes.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

void QtMessageBoxes::show(const QString& title, const QString& text)
{
    QWidget* over = QApplication::activeModalWidget();
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, over ? over : m_owner.data());
    if (!over) {
        box.setWindowModality(Qt::WindowModal);
        box.exec();
        return;
    }
    // Over a dialog that is up, the progress of a long rename, the box belongs to that dialog, so
    // that it shows on top of it, but blocks nothing of it: while failures come one box after
    // another, the dialog's cancel stays within reach and stops the rename after the box in front.
    box.setWindowModality(Qt::NonModal);
    QEventLoop answered;
    QObject::connect(&box, &QDialog::finished, &answered, &QEventLoop::quit);
    box.show();
    answered.exec();
}
