#include "browse_for_folder.h"

#include "folder_chooser.h"

#include <QDir>

namespace Dialog {

QString BrowseForFolder(QWidget* owner, const QString& title, FolderChooser& chooser)
{
    // The path box shows paths the way the platform writes them.
    return QDir::toNativeSeparators(chooser.chooseFolder(owner, title));
}

} // namespace Dialog
