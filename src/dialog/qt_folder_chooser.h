#pragma once

#include "folder_chooser.h"

// The platform's folder dialog, offering folders only.
class QtFolderChooser final : public FolderChooser
{
public:
    QString chooseFolder(QWidget* owner, const QString& title) override;
};
