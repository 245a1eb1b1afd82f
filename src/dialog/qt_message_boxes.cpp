#include "qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>

void QtMessageBoxes::open(const QString& title, const QString& text, std::function<void()> closed)
{
    QWidget* over = QApplication::activeModalWidget();
    auto* box
        = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, over ? over : m_owner.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Over a dialog that is up, the progress of a long rename, the box belongs to that dialog, so
    // that it shows on top of it, but blocks nothing of it: while failures come one box after
    // another, the dialog's cancel stays within reach and stops the rename after the box in front.
    box->setWindowModality(over ? Qt::NonModal : Qt::WindowModal);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] { closed(); });
    box->show();
}
