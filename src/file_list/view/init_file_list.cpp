#include "init_file_list.h"

#include "file_list/file_list_model.h"
#include "list_speech.h"
#include "rename/new_name_rule.h"
#include "shown_file_list.h"
#include "twips.h"

#include <QComboBox>
#include <QHeaderView>
#include <QTreeView>

namespace F1MDE {

void InitFileList(FileListModel& list, QTreeView& view, QComboBox& patterns, const QStringList& patternTexts,
    const QStringList& spokenPatterns)
{
    list.clear();
    view.hide();
    view.setModel(new ShownFileList(list, &view));
    // Columns keep the widths they are given; the last one does not stretch to fill the view.
    view.header()->setStretchLastSection(false);
    for (int column = 0; column < FileListModel::ColumnCount; ++column)
        view.setColumnWidth(column, Twips::toPixels(ShownFileList::columnWidthTwips(column)));
    view.show();
    ReportListChanges(view);
    patterns.addItems(patternTexts);
    for (int i = 0; i < spokenPatterns.size(); ++i)
        patterns.setItemData(i, spokenPatterns[i], Qt::AccessibleTextRole);
    patterns.setCurrentIndex(0);
}

} // namespace F1MDE
