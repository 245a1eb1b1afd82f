#include "qt_folder_chooser.h"

#include <QFileDialog>

QString QtFolderChooser::chooseFolder(QWidget* owner, const QString& title)
{
    return QFileDialog::getExistingDirectory(owner, title, {}, QFileDialog::ShowDirsOnly);
}
