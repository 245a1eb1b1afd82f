#pragma once

#include <QString>

class QWidget;

// A modal folder chooser. The program shows the platform's dialog; tests give the answer.
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;
    // The chosen folder's path, or an empty text when the user cancels.
    virtual QString chooseFolder(QWidget* owner, const QString& title) = 0;
};
