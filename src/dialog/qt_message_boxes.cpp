#include "qt_message_boxes.h"

#include <QMessageBox>

void QtMessageBoxes::show(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_owner);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}
