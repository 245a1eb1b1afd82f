#pragma once

#include <QString>

class FolderChooser;
class QWidget;

namespace Dialog {

// Shows `chooser` modal to `owner` under `title`; the chosen folder's path, or an empty text when
// the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& title, FolderChooser& chooser);

} // namespace Dialog
