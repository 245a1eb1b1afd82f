#include "dialog/qt_folder_chooser.h"
#include "dialog/qt_message_boxes.h"
#include "window/form1.h"

#include <QApplication>
#include <QIcon>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"batch-renamer"_s);
    QApplication::setDesktopFileName(u"org.example.BatchRenamer"_s);
    QApplication::setWindowIcon(QIcon(u":/icons/org.example.BatchRenamer.png"_s));

    QtMessageBoxes messages;
    QtFolderChooser folderChooser;
    Form1 window(messages, folderChooser);
    messages.setOwner(&window);
    window.show();
    return QApplication::exec();
}
