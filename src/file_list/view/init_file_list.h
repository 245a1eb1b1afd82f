#pragma once

#include <QStringList>

class FileListModel;
class QComboBox;
class QTreeView;

namespace F1MDE {

// Prepares the window's list and pattern box once, while the window loads: empties the list, shows
// it in `view` with its four columns at their widths, appends the rule's patterns to `patterns`,
// each with its words for a screen reader, and selects the first one, which runs the box's reaction
// before this returns.
void InitFileList(FileListModel& list, QTreeView& view, QComboBox& patterns, const QStringList& patternTexts,
    const QStringList& spokenPatterns);

} // namespace F1MDE
